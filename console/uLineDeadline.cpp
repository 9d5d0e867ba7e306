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

// The network's answer to a balance request is its "+CUSD:" report; the
// modem's "OK" only says the request went out, and the line waits on idle.
bool UssdOutcome(std::string_view text) {
  return at::FindUssdReport(text).complete || at::FindFinalResult(text).kind == at::TFinal::Error;
}

// The sync's own answer: a "+CMEE:" line and the final line behind it.
// Everything before that line is what the modem still had to say to the
// command whose deadline passed.
constexpr std::string_view kSyncCommand = "AT+CMEE?\r";
std::size_t SyncAnswerAt(std::string_view text) {
  for (std::size_t p = text.find("+CMEE:"); p != std::string_view::npos; p = text.find("+CMEE:", p + 1))
    if (p == 0 || text[p - 1] == '\r' || text[p - 1] == '\n') return p;
  return std::string_view::npos;
}

// Every command a line sends, by the reply it waits for: what a log line
// calls it, the tag of the step that gives up on it, when its answer is
// complete, and the way out when it never is.
// A wait ends when the reply handler takes the line elsewhere (a command
// of its own, idle, a retry pause), not when some final line goes by: an
// answer the handler cannot use leaves the deadline running.
struct TLineCommand {
  TReplyType reply;
  std::string_view text;
  const char* tag;
  void (L::*giveUp)();
  const char* giveUpText;
  int periods = 1;  // guard intervals the wait may take
  bool textEntry = false;  // the modem may still be taking text: ESC leaves it
};
constexpr TLineCommand kLineCommands[] = {
    {rtEchoOff, "ATE0", "F034 : ", &L::SendModemReset, "resetting the modem"},
    {rtSignal, "AT+CSQ", "F034 : ", &L::SendModemReset, "resetting the modem"},
    {rtStkOn, "AT+STSF=1", "F034 : ", &L::SendModemReset, "resetting the modem"},
    {rtReset, "AT+CFUN=1", "F034 : ", &L::SendModemReset, "resetting the modem"},
    {rtImsi, "AT+CIMI", "F034 : ", &L::SendModemReset, "resetting the modem"},
    {rtStkGetInfo, "Get Info", "F016-24: ", &L::SendModemReset, "resetting the modem"},
    {rtStkResponse, "AT+STGR", "F021-8: ", &L::SendModemReset, "resetting the modem", 1, true},
    {rtSmsFormat, "AT+CMGF=1", "F026-3: ", &L::GiveUpSms, "SMS failed"},
    {rtSmsPrompt, "AT+CMGS", "F024-3: ", &L::GiveUpSms, "SMS failed", 1, true},
    {rtSmsSent, "the SMS text", "F025-3: ", &L::GiveUpSms, "SMS failed", 1, true},
    {rtUssd, "AT+CUSD", "F030-1 : ", &L::GiveUpUssd, "balance check failed"},
    {rtDial, "ATD", "F022-6 : ", &L::RedialAfterSilence, "dialling again"},
    {rtHangup, "ATH", "F023-3: ", &L::RetryHangup, "back to the call"},
    {rtSync, "AT+CMEE?", "F037 : ", &L::EndSync, "going on"},
    // The card may wait on the network (an SMS it sent) before its next step.
    {rtIdle, "the card's next SIM Toolkit step", "F015-4 : ", &L::SendModemReset, "resetting the modem", 2},
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
  if (guardedReply_ != rtUssd) return;
  answerText_ += Chunk;
  // A babbling modem must not grow the text without end; the report that
  // matters is at its end.
  if (answerText_.size() > RxBufferLimit) answerText_.erase(0, answerText_.size() - RxBufferLimit);
}

void TConsoleLine::GuardFollowsReply() {
  if (guardedReply_ == rtNone || guardedReply_ == Reply()) return;
  if (guardedReply_ == rtUssd && Data.UssdPending && !UssdOutcome(answerText_)) return;
  StopAnswerGuard();
}

// ---------------------------------------------------------------------------
// The sync after a passed deadline.

void TConsoleLine::BeginSync(TReplyType late, void (TConsoleLine::*then)()) {
  lateReply_ = late;
  afterSync_ = then;
  Data.RxBuffer.clear();
  comVorel->SendString(std::string(kSyncCommand));
  Reply() = rtSync;
  AddFuncLog("F037 : " + std::string(CommandName(rtSync)) + ", so that a late answer to " +
             std::string(CommandName(late)) + " is not taken for the next command's");
  CommandSent(rtSync);
}

void TConsoleLine::HandleSyncReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  const std::string_view text(Data.RxBuffer);
  const std::size_t at = SyncAnswerAt(text);
  if (at == std::string_view::npos) return;
  if (at::FindFinalResult(text.substr(at)).kind == at::TFinal::None) return;
  if (at::SignificantLength(text.substr(0, at), kSyncCommand) > 0)
    AddFuncLog("F037-1 : late answer to " + std::string(CommandName(lateReply_)) + " ignored: " +
               at::Readable(text.substr(0, at)));
  EndSync();
}

void TConsoleLine::EndSync() {
  void (TConsoleLine::*then)() = afterSync_;
  afterSync_ = nullptr;
  lateReply_ = rtNone;
  StopAnswerGuard();
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  if (then) (this->*then)();
}

void TConsoleLine::TimeCardStep() {
  if (!Session.walking || Reply() != rtIdle || Data.Job != ljStart || !Data.StkArmed) return;
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
  if (reply == rtIdle && !Session.walking) return;
  const TLineCommand* c = LineCommand(reply);
  if (!c) return;
  const int ms = tAnswerGuard->Interval() * c->periods;
  const std::string waited = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
  AddFuncLog(std::string(c->tag) + "no answer to " + std::string(c->text) + " in " + waited + "; " + c->giveUpText);
  // Nothing was asked of the modem while the card was quiet, and a sync
  // that went unanswered has nothing left to outwait.
  if (reply == rtIdle || reply == rtSync) {
    (this->*(c->giveUp))();
    return;
  }
  if (c->textEntry) comVorel->SendString(std::string(1, '\x1B'));
  BeginSync(reply, c->giveUp);
}

}  // namespace corvane
