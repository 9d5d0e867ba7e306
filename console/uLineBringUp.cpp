// Modem bring-up of a line: echo off (line 1), signal, SIM Toolkit on, the
// reset and the wait for the card, the IMSI. The same reset is the line's
// general recovery step.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <algorithm>
#include <chrono>

#include "SerPort.h"
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

namespace corvane {

namespace {

constexpr std::string_view kSignalCommand = "AT+CSQ\r";
constexpr std::string_view kStkOnCommand = "AT+STSF=1\r";
constexpr std::string_view kResetCommand = "AT+CFUN=1\r";
constexpr std::string_view kImsiCommand = "AT+CIMI\r";

// The signal gauge's range; the modem's 99 means "not known".
constexpr int kGaugeMax = 35;
constexpr int kSignalUnknown = 99;

// An answer to the reset longer than this, with neither "OK" nor "ERROR" in
// it, is taken for something the modem did not mean as an answer.
constexpr std::size_t kResetAnswerLimit = 15;

// The bring-up commands whose "ERROR" is retried, by the reply they wait
// for; the others go on as their handlers say.
struct TBringUpCommand {
  TReplyType reply;
  void (TConsoleLine::*retry)();
};
constexpr TBringUpCommand kBringUpCommands[] = {
    {rtEchoOff, &TConsoleLine::SendEchoOff},
    {rtReset, &TConsoleLine::SendModemReset},
    {rtImsi, &TConsoleLine::SendImsiQuery},
};

const TBringUpCommand* BringUpCommand(std::uint8_t reply) {
  for (const TBringUpCommand& c : kBringUpCommands)
    if (c.reply == reply) return &c;
  return nullptr;
}

int GaugePosition(int level) {
  if (level == kSignalUnknown) return 0;
  return std::clamp(level, 0, kGaugeMax);
}

}  // namespace

// ---------------------------------------------------------------------------
// Senders. Each does nothing at all while the line's port is closed.

void TConsoleLine::SendEchoOff() {
  if (!comVorel->Open()) return;
  const std::string command = std::string(CmdEchoOff) + "\r\n";
  Data.RxBuffer.clear();
  comVorel->SendString(command);
  Reply() = rtEchoOff;
  AddFuncLog(command);
  CommandSent(rtEchoOff);
}

void TConsoleLine::SendSignalQuery() {
  if (!comVorel->Open()) return;
  comVorel->SendString(std::string(kSignalCommand));
  Data.RxBuffer.clear();
  Reply() = rtSignal;
  AddFuncLog("Signal");
  CommandSent(rtSignal);
}

void TConsoleLine::SendStkOn() {
  if (!comVorel->Open()) return;
  comVorel->SendString(std::string(kStkOnCommand));
  Reply() = rtStkOn;
  Data.RxBuffer.clear();
  AddFuncLog("F001: " + std::string(kStkOnCommand));
  AddFuncLog("STK : ON");
  CommandSent(rtStkOn);
}

void TConsoleLine::SendModemReset() {
  if (!comVorel->Open() || Session.over) return;
  if (!Session.ResetsLeft()) {
    ResetBudgetSpent();
    return;
  }
  // Whatever was under way stops here: a redial, an SMS resend, a queued or
  // paused toolkit step or a watchdog left running would act during the
  // reboot, and take the reset's "OK" for its own answer. The card check
  // after the reset resumes the step.
  StopCardWork();
  Reply() = rtReset;
  Data.RxBuffer.clear();
  Data.StkErrorCount = 0;
  Data.WatchdogTicks = 0;
  Session.stkAnswerErrors = 0;
  // The reboot ends a call, and restores the modem's stored message format.
  Session.callUp = false;
  smsTextMode_ = false;
  BringUp.resetOkSeen = false;
  BringUp.cardReportedInReset = false;
  BringUp.awaitingBootReport = true;
  BringUp.checkingCard = false;
  if (lastReset) {
    const auto due = *lastReset + std::chrono::milliseconds(ResetPaceMs);
    const auto now = std::chrono::steady_clock::now();
    if (now < due) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
      tResetPace->SetInterval(static_cast<int>(std::max<long long>(wait, 1)));
      tResetPace->SetEnabled(true);
      AddFuncLog("F002-1 : the modem was reset " + std::to_string(ResetPaceMs - wait) + " ms ago; reset again in " +
                 std::to_string(wait) + " ms");
      return;
    }
  }
  WriteReset();
}

void TConsoleLine::WriteReset() {
  tResetPace->SetEnabled(false);
  ++Session.resets;
  lastReset = std::chrono::steady_clock::now();
  Data.RxBuffer.clear();
  comVorel->SendString(std::string(kResetCommand));
  AddFuncLog("Reset modem");
  AddFuncLog("F002 : " + std::string(kResetCommand));
  CommandSent(rtReset);
}

void TConsoleLine::tResetPaceTimer() {
  tResetPace->SetEnabled(false);
  // Only a line still waiting to reset: a card taken out or a line switched
  // off has stopped this timer, anything else has sent its own command.
  if (!comVorel->Open() || Reply() != rtReset || BringUp.resetOkSeen) return;
  WriteReset();
}

void TConsoleLine::ResetBudgetSpent() {
  QLabel* step = StepUnderWay();
  const std::string name = step == lRegistrasi ? "Reg"
                           : step == lCall     ? "CALL"
                           : step == lCall2    ? "CALL 2"
                           : step == lSMS1     ? "SMS 1"
                           : step == lSMS2     ? "SMS 2"
                           : step == lCekPulsa ? "Cek Pulsa"
                                               : "the card";
  GiveUpCard(step, "F036 : " + std::to_string(TCardSession::ResetBudget) +
                       " modem resets spent on this card; " + name + " failed, waiting for the next card");
}

void TConsoleLine::SendImsiQuery() {
  if (!comVorel->Open()) return;
  comVorel->SendString(std::string(kImsiCommand));
  Reply() = rtImsi;
  Data.RxBuffer.clear();
  AddFuncLog("F003 : " + std::string(kImsiCommand));
  AddFuncLog("Request IMSI");
  CommandSent(rtImsi);
}

// ---------------------------------------------------------------------------
// Reply handlers.

void TConsoleLine::HandleEchoOffReply(const std::string& Chunk) {
  if (Retrying(rtEchoOff)) return;
  Data.RxBuffer += Chunk;
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);
  if (final.kind == at::TFinal::Ok) {
    // Nothing more: the start timer's first step sends the next command.
    AddFuncLog(at::Readable(Data.RxBuffer));
    CommandAnswered(rtEchoOff);
  } else if (final.kind == at::TFinal::Error) {
    AddFuncLog(at::Readable(Data.RxBuffer));
    RetryAfterError(rtEchoOff);
  }
}

void TConsoleLine::HandleSignalReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);
  if (final.kind == at::TFinal::Ok) {
    CommandAnswered(rtSignal);
    const std::string level = at::SignalLevel(final.head);
    lSignal->setText(FromAnsi(level));
    SendStkOn();
    if (const auto value = TryStrToInt(level)) pbSignal->setValue(GaugePosition(*value));
  } else if (final.kind == at::TFinal::Error) {
    // A modem that cannot tell its signal is brought up all the same.
    CommandAnswered(rtSignal);
    SendStkOn();
  }
}

void TConsoleLine::HandleStkOnReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F017 :" + at::Readable(Data.RxBuffer));
  const at::TFinal final = at::FindFinalResult(Data.RxBuffer).kind;
  if (final == at::TFinal::None) return;
  // A modem that refuses the SIM Toolkit switch is reset all the same.
  AddFuncLog(final == at::TFinal::Ok ? "STK ON" : "STK On : error");
  CommandAnswered(rtStkOn);
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  SendModemReset();
}

void TConsoleLine::HandleResetReply(const std::string& Chunk) {
  // While the reset waits out its pace or its retry, what comes is the
  // previous reset's reboot, not an answer to this one.
  if (Retrying(rtReset) || tResetPace->Enabled()) return;
  if (BringUp.resetOkSeen) {
    // The reboot's lines before its card report: the report itself is read
    // by AfterReplyHandler, wherever it falls.
    Data.RxBuffer.clear();
    return;
  }
  Data.RxBuffer += Chunk;
  AddFuncLog("F018 : " + at::Readable(Data.RxBuffer));
  const at::TFinal final = at::FindFinalResult(Data.RxBuffer).kind;
  if (final == at::TFinal::Ok) {
    BringUp.resetOkSeen = true;
    CommandAnswered(rtReset);
    AddFuncLog("Reset OK");
    Data.RxBuffer.clear();
    // The reboot reports the card with "+WIND: 1"; a report that came
    // before this "OK" was kept for it. Nothing is sent before it: a command
    // sent while the modem still reboots is lost on firmware that goes deaf
    // meanwhile.
    if (BringUp.cardReportedInReset) {
      AfterResetCardReported();
    } else {
      tBootReport->SetInterval(BootReportWaitMs);
      tBootReport->SetEnabled(true);
    }
    return;
  }
  if (final == at::TFinal::Error) {
    AddFuncLog("F018-1 : reset error");
    RetryAfterError(rtReset);
    return;
  }
  if (at::SignificantLength(Data.RxBuffer, kResetCommand) > kResetAnswerLimit) {
    AddFuncLog("F018-2 : Unrecognized answer");
    AddFuncLog("recall CFUN");
    SendModemReset();
  }
}

// The reset is over and the modem holds a card: before anything else goes
// on, its IMSI tells whether it is the card the line was working for.
void TConsoleLine::tBootReportTimer() {
  tBootReport->SetEnabled(false);
  if (!comVorel->Open() || Reply() != rtReset || !BringUp.resetOkSeen || !BringUp.awaitingBootReport) return;
  AddFuncLog("F018-3 : no card report " + std::to_string(BootReportWaitMs) +
             " ms after the reset; asking the card itself");
  AfterResetCardReported();
}

void TConsoleLine::AfterResetCardReported() {
  tBootReport->SetEnabled(false);
  BringUp.awaitingBootReport = false;
  BringUp.cardReportedInReset = false;
  if (Session.imsi.empty() && Data.Job == ljStart) {
    SendImsiQuery();  // the card's bring-up: its IMSI is read the first time
    return;
  }
  SendCardCheck();
}

void TConsoleLine::HandleImsiReply(const std::string& Chunk) {
  if (Retrying(rtImsi)) return;
  Data.RxBuffer += Chunk;
  AddFuncLog("F019 : " + at::Readable(Data.RxBuffer));
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);
  if (final.kind == at::TFinal::Ok) {
    CommandAnswered(rtImsi);
    const std::string imsi = at::ImsiIn(final.head);
    eISTM->setText(FromAnsi(imsi));
    AddFuncLog("F019-1 IMSI : " + imsi);
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    if (BringUp.checkingCard) {
      CardCheckAnswered(imsi);
      return;
    }
    Session.imsi = imsi;
    Session.walking = Data.StkArmed;
    SendStkGetInfo("0");
  } else if (final.kind == at::TFinal::Error) {
    AddFuncLog("F019-2 :IMSI req. error");
    RetryAfterError(rtImsi);
  }
}

// ---------------------------------------------------------------------------
// The card after a reset.

void TConsoleLine::SendCardCheck() {
  tOn->SetEnabled(false);
  BringUp.checkingCard = true;
  SendImsiQuery();
}

void TConsoleLine::CardCheckAnswered(const std::string& imsi) {
  BringUp.checkingCard = false;
  if (!imsi.empty() && Session.imsi.empty()) {
    // A step given by hand, before any bring-up read the card: this is its
    // IMSI from now on.
    Session.imsi = imsi;
    ResumeAfterCardCheck();
    return;
  }
  if (imsi.empty() || imsi != Session.imsi) {
    CardCheckFailed(imsi.empty() ? "no IMSI in the answer"
                                 : "IMSI " + imsi + " is not the card's (" + Session.imsi + ")");
    return;
  }
  AddFuncLog("F019-3 : same card after the reset");
  ResumeAfterCardCheck();
}

void TConsoleLine::CardCheckFailed(const std::string& why) {
  AddFuncLog("F019-4 : " + why + "; another card, brought up as a new one");
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  StartNewCard();
}

// The same card after the reset: the step the reset interrupted goes on.
void TConsoleLine::ResumeAfterCardCheck() {
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  switch (Data.Job) {
    case ljStart:
      Session.walking = Data.StkArmed;
      SendStkGetInfo("0");
      break;
    case ljRegistered:
      // On, as the registered card's start timer runs: its later ticks find
      // the step under way.
      tOn->SetEnabled(true);
      tOnTimer();
      break;
    case ljDialling:
    case ljInCall:
    case ljHangingUp:
      if (Session.afterCallReset) {
        ChainAfterCall();
        break;
      }
      // The reboot ended the call: it is dialled again.
      Data.Job = ljDialling;
      tDial->SetEnabled(true);
      break;
    case ljSms1:
    case ljSms2:
    case ljCekPulsa:
      // A balance check the reset cut short lost its network session.
      Data.UssdPending = false;
      tSmsRetry_->SetInterval(SmsRetryPauseMs);
      tSmsRetry_->SetEnabled(true);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Retries.

bool TConsoleLine::Retrying(TReplyType reply) const {
  return tBringUpRetry->Enabled() && BringUp.retryReply == reply && Reply() == reply;
}

void TConsoleLine::CommandAnswered(TReplyType reply) {
  StopAnswerGuard();
  if (BringUp.errorReply == reply) {
    BringUp.errorReply = rtNone;
    BringUp.errorCount = 0;
  }
}

void TConsoleLine::RetryAfterError(TReplyType reply) {
  StopAnswerGuard();
  Data.RxBuffer.clear();
  if (BringUp.errorReply != reply) {
    BringUp.errorReply = reply;
    BringUp.errorCount = 0;
  }
  ++BringUp.errorCount;
  // A card that will not tell its IMSI after a reset is taken for a new
  // one soon: a new card's bring-up is what it needs, not more resets.
  const bool cardCheck = reply == rtImsi && BringUp.checkingCard;
  const int limit = cardCheck ? std::min<int>(Form.Card.maxgagal, CardCheckRetryLimit) : Form.Card.maxgagal;
  if (BringUp.errorCount > limit) {
    const std::string refused =
        std::string(CommandName(reply)) + " refused " + std::to_string(BringUp.errorCount) + " times";
    BringUp.errorReply = rtNone;
    BringUp.errorCount = 0;
    if (cardCheck) {
      CardCheckFailed(refused);
      return;
    }
    AddFuncLog("F035 : " + refused + ", giving up; resetting the modem");
    SendModemReset();
    return;
  }
  // A modem that has just refused a command refuses it again when asked at
  // once; the pause gives it time to recover.
  BringUp.retryReply = reply;
  tBringUpRetry->SetEnabled(false);
  tBringUpRetry->SetEnabled(true);
}

void TConsoleLine::tBringUpRetryTimer() {
  tBringUpRetry->SetEnabled(false);
  const TReplyType reply = BringUp.retryReply;
  BringUp.retryReply = rtNone;
  // Another step has sent its own command meanwhile: that one leads on.
  if (Reply() != reply) return;
  if (const TBringUpCommand* c = BringUpCommand(reply); c && c->retry) (this->*(c->retry))();
}

}  // namespace corvane
