// The deadline of every command a line sends. A modem that swallows a
// command (firmware busy, a network that never answers, a port gone quiet)
// would otherwise hold the line in its reply for good: each sender arms one
// guard, every chunk the line takes is read against the command it answers,
// and a guard that runs out logs which command went unanswered and takes
// that step's way out.
#include <QLabel>

#include "SerPort.h"
#include "uAtLines.h"
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

namespace corvane {

namespace {

using L = TConsoleLine;

// Whether the text gathered since a command went out holds its answer.
bool FinalLine(std::string_view text) { return at::FindFinalResult(text).kind != at::TFinal::None; }
bool PromptOrFinal(std::string_view text) { return at::HasInputPrompt(text) || FinalLine(text); }
bool DialOutcome(std::string_view text) { return FinalLine(text) || !at::CallSetupFailure(text).empty(); }
// An idle line's wait ends with a command of its own, which re-arms the guard.
bool NeverAnswered(std::string_view) { return false; }
// The network's answer to a balance request is its "+CUSD:" report; the
// modem's "OK" only says the request went out.
bool UssdOutcome(std::string_view text) {
  return at::FindUssdReport(text).complete || at::FindFinalResult(text).kind == at::TFinal::Error;
}

// Every command a line sends, by the reply it waits for: what a log line
// calls it, the tag of the step that gives up on it, when its answer is
// complete, and the way out when it never is.
struct TLineCommand {
  TReplyType reply;
  std::string_view text;
  const char* tag;
  bool (*answered)(std::string_view);
  void (L::*giveUp)();
  const char* giveUpText;
  int periods = 1;  // guard intervals the wait may take
};
constexpr TLineCommand kLineCommands[] = {
    {rtEchoOff, "ATE0", "F034 : ", FinalLine, &L::SendModemReset, "resetting the modem"},
    {rtSignal, "AT+CSQ", "F034 : ", FinalLine, &L::SendModemReset, "resetting the modem"},
    {rtStkOn, "AT+STSF=1", "F034 : ", FinalLine, &L::SendModemReset, "resetting the modem"},
    {rtReset, "AT+CFUN=1", "F034 : ", FinalLine, &L::SendModemReset, "resetting the modem"},
    {rtImsi, "AT+CIMI", "F034 : ", FinalLine, &L::SendModemReset, "resetting the modem"},
    {rtStkGetInfo, "Get Info", "F016-24: ", FinalLine, &L::SendModemReset, "resetting the modem"},
    {rtStkResponse, "AT+STGR", "F021-8: ", PromptOrFinal, &L::SendModemReset, "resetting the modem"},
    {rtSmsFormat, "AT+CMGF=1", "F026-3: ", FinalLine, &L::GiveUpSms, "SMS failed"},
    {rtSmsPrompt, "AT+CMGS", "F024-3: ", PromptOrFinal, &L::GiveUpSms, "SMS failed"},
    {rtSmsSent, "the SMS text", "F025-3: ", FinalLine, &L::GiveUpSms, "SMS failed"},
    {rtUssd, "AT+CUSD", "F030-1 : ", UssdOutcome, &L::GiveUpUssd, "balance check failed"},
    {rtDial, "ATD", "F022-6 : ", DialOutcome, &L::RedialAfterSilence, "dialling again"},
    {rtHangup, "ATH", "F023-3: ", FinalLine, &L::RetryHangup, "back to the call"},
    // The card may wait on the network (an SMS it sent) before its next step.
    {rtIdle, "the card's next SIM Toolkit step", "F015-4 : ", NeverAnswered, &L::SendModemReset,
     "resetting the modem", 2},
};

const TLineCommand* LineCommand(std::uint8_t reply) {
  for (const TLineCommand& c : kLineCommands)
    if (c.reply == reply) return &c;
  return nullptr;
}

}  // namespace

std::string_view TConsoleLine::CommandName(TReplyType reply) {
  const TLineCommand* c = LineCommand(reply);
  return c ? c->text : std::string_view("the command");
}

void TConsoleLine::CommandSent(TReplyType reply) {
  // The command just sent supersedes a retry still waiting out its pause.
  tBringUpRetry->SetEnabled(false);
  BringUp.retryReply = rtNone;
  ArmAnswerGuard(reply);
}

void TConsoleLine::ArmAnswerGuard(TReplyType reply) {
  guardedReply_ = reply;
  const TLineCommand* c = LineCommand(reply);
  guardPeriodsLeft_ = c ? c->periods : 1;
  answerText_.clear();
  tAnswerGuard->SetEnabled(false);
  tAnswerGuard->SetEnabled(true);
}

void TConsoleLine::StopAnswerGuard() {
  tAnswerGuard->SetEnabled(false);
  guardedReply_ = rtNone;
  answerText_.clear();
}

void TConsoleLine::WatchAnswer(const std::string& Chunk) {
  if (guardedReply_ == rtNone) return;
  const TLineCommand* c = LineCommand(guardedReply_);
  if (!c) return;
  answerText_ += Chunk;
  // A babbling modem must not grow the text without end; the final line
  // that matters is at its end.
  if (answerText_.size() > RxBufferLimit) answerText_.erase(0, answerText_.size() - RxBufferLimit);
  if (c->answered(answerText_)) StopAnswerGuard();
}

void TConsoleLine::TimeCardStep() {
  if (!stkWalking_ || Reply() != rtIdle || Data.Job != ljStart || !Data.StkArmed) return;
  if (guardedReply_ != rtNone || !comVorel->Open()) return;
  // Timers that end this wait themselves: a paced retry, the confirmation
  // time-out, the start timer.
  if (tStkRetry->Enabled() || tTimeOut->Enabled() || tOn->Enabled()) return;
  ArmAnswerGuard(rtIdle);
}

void TConsoleLine::tAnswerGuardTimer() {
  if (--guardPeriodsLeft_ > 0) return;  // the timer runs on for the next period
  tAnswerGuard->SetEnabled(false);
  const TReplyType reply = guardedReply_;
  guardedReply_ = rtNone;
  answerText_.clear();
  // A balance request the modem took waits for the network's report in the
  // idle receiver; anything else has moved on when the line waits elsewhere.
  const bool stillWaiting = Reply() == reply || (reply == rtUssd && Data.UssdPending);
  if (!stillWaiting || !comVorel->Open()) return;
  if (reply == rtReset && BringUp.resetOkSeen) return;
  if (callQuestionOpen_) return;
  if (reply == rtIdle && !stkWalking_) return;
  const TLineCommand* c = LineCommand(reply);
  if (!c) return;
  const int ms = tAnswerGuard->Interval() * c->periods;
  const std::string waited = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  AddFuncLog(std::string(c->tag) + "no answer to " + std::string(c->text) + " in " + waited + "; " + c->giveUpText);
  (this->*(c->giveUp))();
}

}  // namespace corvane
