// Modem bring-up of a line: echo off (line 1), signal, SIM Toolkit on, the
// reset and the wait for the card, the IMSI. The same reset is the line's
// general recovery step.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <algorithm>

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
  if (!comVorel->Open()) return;
  comVorel->SendString(std::string(kResetCommand));
  Reply() = rtReset;
  Data.RxBuffer.clear();
  AddFuncLog("Reset modem");
  AddFuncLog("F002 : " + std::string(kResetCommand));
  Data.StkErrorCount = 0;
  stkAnswerErrors_ = 0;
  // A redial or an SMS resend that fires during the reboot would take the
  // reset's "OK" for its own answer; they resume once the reset is answered.
  tDial->SetEnabled(false);
  tSmsRetry_->SetEnabled(false);
  // A reset restores the modem's stored message format.
  smsTextMode_ = false;
  // A walk of the card's menu that ends in a reset counts as a walk.
  if (stkWalking_) walkProgressed_ = true;
  BringUp.resetOkSeen = false;
  BringUp.cardReportedInReset = false;
  BringUp.awaitingBootReport = true;
  CommandSent(rtReset);
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
  if (Retrying(rtReset)) return;
  Data.RxBuffer += Chunk;
  AddFuncLog("F018 : " + at::Readable(Data.RxBuffer));
  const at::TFinal final = at::FindFinalResult(Data.RxBuffer).kind;
  if (BringUp.resetOkSeen || final == at::TFinal::Ok) {
    if (!BringUp.resetOkSeen) {
      BringUp.resetOkSeen = true;
      CommandAnswered(rtReset);
    }
    AddFuncLog("Reset OK");
    switch (Data.Job) {
      case ljStart:
        // The reboot reports the card with "+WIND: 1" (AfterReplyHandler);
        // a report that came before this "OK" was kept for it.
        if (BringUp.cardReportedInReset) SendImsiQuery();
        break;
      case ljRegistered:
        // The calls, SMS and balance check wait for the reboot's card report
        // too: a command sent while the modem still reboots is lost on
        // firmware that goes deaf meanwhile. The card may have been swapped
        // while the modem rebooted: the start timer checks it first.
        BringUp.cardCheckDue = true;
        if (BringUp.cardReportedInReset) tOn->SetEnabled(true);
        break;
      default:
        // A reset after failed calls or SMS: the line waits idle, where it
        // sees the card reports, instead of in a reply nobody will end, and
        // the call or SMS it interrupted goes on once the modem is back.
        Data.RxBuffer.clear();
        Reply() = rtIdle;
        if (Data.Job == ljDialling) tDial->SetEnabled(true);
        // A balance check the reset cut short lost its network session.
        if (Data.Job == ljSms1 || Data.Job == ljSms2 || Data.Job == ljCekPulsa) {
          Data.UssdPending = false;
          tSmsRetry_->SetInterval(SmsAfterResetMs);
          tSmsRetry_->SetEnabled(true);
        }
        break;
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
    cardImsi_ = imsi;
    stkWalking_ = Data.StkArmed;
    SendStkGetInfo("0");
  } else if (final.kind == at::TFinal::Error) {
    AddFuncLog("F019-2 :IMSI req. error");
    RetryAfterError(rtImsi);
  }
}

// ---------------------------------------------------------------------------
// The registered card after a reset.

void TConsoleLine::SendCardCheck() {
  // The start timer runs the calls once the card is known to be the same.
  tOn->SetEnabled(false);
  BringUp.checkingCard = true;
  SendImsiQuery();
}

void TConsoleLine::CardCheckAnswered(const std::string& imsi) {
  BringUp.checkingCard = false;
  BringUp.cardCheckDue = false;
  if (imsi.empty() || imsi != cardImsi_) {
    CardCheckFailed(imsi.empty() ? "no IMSI in the answer"
                                 : "IMSI " + imsi + " is not the registered card's (" + cardImsi_ + ")");
    return;
  }
  AddFuncLog("F019-3 : same card after the reset");
  // On, as the registered card's start timer runs: its later ticks find the
  // step under way.
  tOn->SetEnabled(true);
  tOnTimer();
}

void TConsoleLine::CardCheckFailed(const std::string& why) {
  AddFuncLog("F019-4 : " + why + "; another card, brought up as a new one");
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  StartNewCard();
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
