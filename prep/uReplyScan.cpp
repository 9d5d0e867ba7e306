#include "uReplyScan.h"

namespace corvane::prep {

namespace {

using modemline::IsLineEnd;
using modemline::StartsWith;
using modemline::Trim;

bool IsRestart(std::string_view command) { return StartsWith(command, "AT+CFUN"); }

}  // namespace

TFinalResult FinalResultOf(std::string_view line) { return modemline::FinalOf(line); }

void TAnswerLedger::Sent(std::string_view command) {
  command_ = std::string(Trim(command));
  inFlight_ = true;
  echoSeen_ = false;
  paidDebt_ = false;
}

void TAnswerLedger::TimedOut() {
  if (!inFlight_) return;
  inFlight_ = false;
  if (!paidDebt_) owed_.push_back({echoSeen_, IsRestart(command_)});
}

void TAnswerLedger::Forget() {
  partial_.clear();
  discarding_ = false;
  command_.clear();
  inFlight_ = false;
  echoSeen_ = false;
  paidDebt_ = false;
  echoing_ = false;
  owed_.clear();
}

TAnswerLedger::TOwner TAnswerLedger::Attribute() {
  if (!owed_.empty()) {
    owed_.erase(owed_.begin());
    if (inFlight_) paidDebt_ = true;
    return TOwner::Late;
  }
  // A modem that echoes has not read the command before its echo: what
  // stands ahead of it answers something earlier.
  if (inFlight_ && (echoSeen_ || !echoing_)) return TOwner::Command;
  return TOwner::Extra;
}

// What the modem will do with the echo from now on: as it did for this
// command, unless the command changed it ("ATE" alone is "ATE0"). A restart
// brings back the modem's stored setting, which the tool does not know.
void TAnswerLedger::Answered(TFinalResult result) {
  inFlight_ = false;
  echoing_ = echoSeen_;
  if (result != TFinalResult::Ok) return;
  if (StartsWith(command_, "ATE")) echoing_ = command_ == "ATE1";
  if (IsRestart(command_)) echoing_ = false;
}

void TAnswerLedger::EchoCame() {
  echoSeen_ = true;
  for (const TDebt& d : owed_)
    if (d.restart) return;
  std::erase_if(owed_, [](const TDebt& d) { return !d.echoSeen; });
}

std::vector<TAnswerLedger::TAnswer> TAnswerLedger::Take(std::string_view chunk) {
  std::vector<TAnswer> answers;
  for (char c : chunk) {
    if (!IsLineEnd(c)) {
      if (discarding_) continue;
      if (partial_.size() < MaxLine) partial_ += c;
      else discarding_ = true;
      continue;
    }
    const bool wasDiscarding = discarding_;
    discarding_ = false;
    const std::string line = std::move(partial_);
    partial_.clear();
    if (wasDiscarding || Trim(line).empty()) continue;
    if (inFlight_ && !echoSeen_ && Trim(line) == command_) {
      EchoCame();
      continue;
    }
    const TFinalResult result = FinalResultOf(line);
    if (result == TFinalResult::None) continue;
    const TOwner owner = Attribute();
    if (owner == TOwner::Command) Answered(result);
    answers.push_back({result, owner});
  }
  return answers;
}

}  // namespace corvane::prep
