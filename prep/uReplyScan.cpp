#include "uReplyScan.h"

namespace corvane::prep {

TFinalResult ScanFinalResult(std::string_view buffer) {
  if (buffer.find("OK") != std::string_view::npos) return TFinalResult::Ok;
  if (buffer.find("ERROR") != std::string_view::npos) return TFinalResult::Error;
  return TFinalResult::None;
}

namespace {
// One byte short of the longest token: all of a token that can still be
// completed by the next notice.
constexpr std::size_t kTailKeep = std::string_view("ERROR").size() - 1;
}  // namespace

void TLateAnswer::Expect() {
  owed_ = true;
  tail_.clear();
}

void TLateAnswer::Forget() {
  owed_ = false;
  tail_.clear();
}

bool TLateAnswer::Take(std::string_view chunk) {
  if (!owed_) return false;
  tail_ += chunk;
  if (ScanFinalResult(tail_) != TFinalResult::None) {
    Forget();
    return true;
  }
  // Unsolicited lines may keep coming while the answer is owed; only the
  // bytes that may start a token are kept.
  if (tail_.size() > kTailKeep) tail_.erase(0, tail_.size() - kTailKeep);
  return false;
}

}  // namespace corvane::prep
