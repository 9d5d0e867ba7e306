#pragma once
// Recorders for what a program shows the operator: its message dialogs (the
// toolkit's dialog hook) and what reaches the application's central exception
// handler (its message hook). Each takes its hook for its lifetime and gives
// it back empty; one of each at a time. GUI thread only.
#include <QString>

#include <deque>
#include <vector>

#include "uToolkit.h"

namespace corvane::testsupport {

// Records every dialog and answers them from a script (default: Yes / OK).
class DialogRecorder {
 public:
  DialogRecorder();
  ~DialogRecorder();
  DialogRecorder(const DialogRecorder&) = delete;
  DialogRecorder& operator=(const DialogRecorder&) = delete;

  std::vector<TDialogRequest> asked;
  std::deque<TModalResult> answers;
  bool AnyContains(const QString& text) const;
};

// Records what reaches the application's central exception handler.
class CentralRecorder {
 public:
  CentralRecorder();
  ~CentralRecorder();
  CentralRecorder(const CentralRecorder&) = delete;
  CentralRecorder& operator=(const CentralRecorder&) = delete;

  std::vector<QString> messages;
};

}  // namespace corvane::testsupport
