#include "Recorders.h"

#include "TApplication.h"

namespace corvane::testsupport {

DialogRecorder::DialogRecorder() {
  SetDialogHook([this](const TDialogRequest& r) {
    asked.push_back(r);
    if (!answers.empty()) {
      const TModalResult a = answers.front();
      answers.pop_front();
      return a;
    }
    return r.yesNo ? TModalResult::Yes : TModalResult::Ok;
  });
}

DialogRecorder::~DialogRecorder() { SetDialogHook({}); }

bool DialogRecorder::AnyContains(const QString& text) const {
  for (const auto& r : asked)
    if (r.text.contains(text)) return true;
  return false;
}

CentralRecorder::CentralRecorder() {
  TApplication::SetMessageHook([this](const QString& m) { messages.push_back(m); });
}

CentralRecorder::~CentralRecorder() { TApplication::SetMessageHook({}); }

}  // namespace corvane::testsupport
