// The calls of a line: dial, redial, hang-up, and the operator's question
// when a number cannot be reached.
#include <QCheckBox>
#include <QLabel>
#include <QWidget>

#include <cstdint>
#include <string>

#include "SerPort.h"
#include "uAtLines.h"
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

namespace corvane {

namespace {

// Redial ticks allowed per call before the operator is asked.
constexpr std::int32_t kRedialTicksBeforeQuestion = 10;
// "ERROR" answers allowed per call beyond the card's failure limit.
constexpr std::int32_t kDialErrorsBeyondLimit = 10;

const QString kRetryQuestion = QStringLiteral("Call gagal 10X. Coba Call Lagi?");

// Characters a dialled number, an SMS recipient or a USSD code may hold.
constexpr std::string_view kNumberChars = "0123456789+*#";

}  // namespace

bool TConsoleLine::NumberUsable(const std::string& number, const char* tag) {
  if (!number.empty() && number.find_first_not_of(kNumberChars) == std::string::npos) return true;
  // Anything else would end up inside the AT command line (a quote, a ';',
  // a CR starting a command of its own).
  AddFuncLog(std::string(tag) + "refused \"" + at::Readable(number) +
             "\": only digits, +, * and # may be sent; step skipped");
  return false;
}

// ---------------------------------------------------------------------------
// Senders

void TConsoleLine::StartCall(bool firstCall) {
  // The chain may start the call again once the reset its own failures
  // caused is over; counted afresh each time, a number that never answers
  // would be dialled and the modem reset for ever (the first call that goes
  // through in between does not end the count of the second). Behind such a
  // reset the start is one more redial of the same call.
  const TCallId call = firstCall ? TCallId::First : TCallId::Second;
  Data.FirstCall = firstCall;
  tDial->SetEnabled(true);
  if (Session.callResetFor == call) {
    Session.callResetFor = TCallId::None;
    Data.DialErrorCount = Session.resetDialErrors;
    Data.NoCarrierCount = 0;
    AddFuncLog("F022-9 : call started again after its own reset; " + std::to_string(Data.DialErrorCount) +
               " redial(s) so far");
    Redial();
    return;
  }
  Data.DialErrorCount = 0;
  Data.NoCarrierCount = 0;
  SendDial(firstCall ? Form.Card.no2dial : Form.Card.no2dial2);
}

void TConsoleLine::SendDial(const std::string& number) {
  if (!comVorel->Open()) return;
  if (!NumberUsable(number, "F005 : ")) {
    SetStaticTextColor(Data.FirstCall ? lCall : lCall2, clRed);
    GiveUpCall();
    return;
  }
  Data.Job = ljDialling;
  const std::string command = "ATD" + number + ";\r";
  Data.RxBuffer.clear();
  comVorel->SendString(command);
  Reply() = rtDial;
  AddFuncLog((Data.FirstCall ? "Dial 1st: " : "Dial 2nd: ") + number);
  AddFuncLog("F005 : " + command);
  CommandSent(rtDial);
}

void TConsoleLine::SendHangup() {
  if (!comVorel->Open()) return;
  const std::string command = "ATH\r";
  Data.RxBuffer.clear();
  comVorel->SendString(command);
  Reply() = rtHangup;
  AddFuncLog(Data.FirstCall ? "Hangup 1st" : "Hangup 2nd");
  AddFuncLog("F006 : " + command);
  CommandSent(rtHangup);
}

// The call is given up: the chain goes on with the SMS and balance steps and,
// with none ticked, ends as a chain that did not run to its end.
void TConsoleLine::GiveUpCall() {
  tDial->SetEnabled(false);
  Session.callResetFor = TCallId::None;
  // The first call given up ends its own attempts only: a ticked second
  // call is still tried.
  if (Data.FirstCall && ckCall2->isChecked()) {
    StartCall(false);
    return;
  }
  StartNextStep(TNextStep::Sms1, ljStart);
}

// ---------------------------------------------------------------------------
// Timers

void TConsoleLine::tHangupTimer() {
  // The hang-up belongs to the call it was armed for; a card taken out, a
  // line switched off or a command that took the line over ended that call.
  if (Data.Job != ljInCall) {
    tHangup->SetEnabled(false);
    return;
  }
  Data.Job = ljHangingUp;
  SendHangup();
  tHangup->SetEnabled(false);
}

void TConsoleLine::tDialTimer() {
  // Nothing is dialled while the modem resets: its "OK" is no dial's.
  if (callQuestionOpen_ || Reply() == rtReset) return;
  if (Data.Job != ljDialling) {
    tDial->SetEnabled(false);
    return;
  }
  // The call under way is redialled whichever box started it: the second
  // call alone, or a call given by hand with its box unticked, would
  // otherwise wait on its failed dial until the operator acts.
  tWatchDog->SetEnabled(false);
  Data.WatchdogTicks = 0;
  Redial();
}

void TConsoleLine::Redial() {
  ++Data.DialErrorCount;
  if (Data.DialErrorCount <= kRedialTicksBeforeQuestion) {
    SendDial(Data.FirstCall ? Form.Card.no2dial : Form.Card.no2dial2);
    return;
  }
  tDial->SetEnabled(false);
  AskCallRetry(TQuestionFrom::RedialTick);
}

// ---------------------------------------------------------------------------
// Replies

void TConsoleLine::HandleDialReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  // The answer is decided once the operator has been asked; what comes
  // meanwhile is only gathered.
  if (callQuestionOpen_) return;
  const std::string& number = Data.FirstCall ? Form.Card.no2dial : Form.Card.no2dial2;
  const char* which = Data.FirstCall ? "1st" : "2nd";
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);

  if (final.kind == at::TFinal::Ok) {
    AddFuncLog("F022 : " + Data.RxBuffer);
    Data.Job = ljInCall;
    tOn->SetEnabled(false);
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    AddFuncLog(std::string("F022-1 dial ") + which + " ok : " + number);
    tDial->SetEnabled(false);
    if (Session.callResetFor == (Data.FirstCall ? TCallId::First : TCallId::Second)) Session.callResetFor = TCallId::None;
    Session.hangupErrors = 0;
    Session.callUp = true;
    tHangup->SetEnabled(true);
    return;
  }

  if (final.kind == at::TFinal::Error) {
    AddFuncLog(std::string("F022-2 Dial ") + which + " error : " + number);
    // One answer counts once, whatever arrives behind it before the redial.
    Data.RxBuffer.clear();
    ++Data.DialErrorCount;
    if (static_cast<std::int64_t>(Data.DialErrorCount) <=
        static_cast<std::int64_t>(Form.Card.maxgagal) + kDialErrorsBeyondLimit) {
      tDial->SetEnabled(true);
      return;
    }
    tDial->SetEnabled(false);
    AskCallRetry(TQuestionFrom::DialError);
    return;
  }

  const std::string failure = at::CallSetupFailure(Data.RxBuffer);
  if (!failure.empty()) {
    Data.RxBuffer.clear();
    ++Data.NoCarrierCount;
    const bool reset = Data.NoCarrierCount > Form.Card.maxgagal;
    if (reset) {
      Data.NoCarrierCount = 0;
      SendModemReset();
      Session.callResetFor = Data.FirstCall ? TCallId::First : TCallId::Second;
      Session.resetDialErrors = Data.DialErrorCount;
    }
    AddFuncLog(Data.FirstCall ? "F022-3 1st call " + failure + " : " + number
                              : "F022-4 2nd call " + failure + " : " + number);
    // A call set up by hand has no redial running yet; without one the line
    // would wait on this answer for good. Behind a reset the redial waits
    // for the reset's answer.
    if (!reset) tDial->SetEnabled(true);
  }
}

void TConsoleLine::HandleHangupReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F023 : " + Data.RxBuffer);
  if (!at::CallSetupFailure(Data.RxBuffer).empty()) {
    // The network ended the call before the hang-up reached it.
    CallDropped();
    return;
  }
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);
  if (final.kind == at::TFinal::Ok) {
    Session.callUp = false;
    if (Data.FirstCall) {
      AddFuncLog("F023-1: Hangup 1st OK");
      SetStaticTextColor(lCall, clLime);
      if (ckCall2->isChecked()) {
        StartCall(false);
        return;
      }
    } else {
      AddFuncLog("F023-1: Hangup 2nd OK");
      SetStaticTextColor(lCall2, clLime);
    }
    StartNextStep(TNextStep::Sms1, ljIdle);
    return;
  }
  if (final.kind == at::TFinal::Error) {
    AddFuncLog("F023-2: Hangup error");
    RetryHangup();
  }
}

// Back to the call: the line listens as it did during the call and the
// hang-up timer tries again after the call length, rather than waiting on
// this answer for good. A modem that keeps refusing is not asked for ever:
// the call is shown failed and the chain goes on.
void TConsoleLine::RetryHangup() {
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  if (++Session.hangupErrors > HangupRetryLimit) {
    AddFuncLog("F023-4: hang-up refused " + std::to_string(Session.hangupErrors) +
               " times; call failed, resetting the modem to end it");
    tHangup->SetEnabled(false);
    SetStaticTextColor(Data.FirstCall ? lCall : lCall2, clRed);
    // A call left up would run on, and the next dial would go into it: the
    // reset ends it, and the chain goes on behind the reset.
    Session.afterCallReset = true;
    SendModemReset();
    return;
  }
  Data.Job = ljInCall;
  tHangup->SetEnabled(true);
}

// The chain after a call given up behind a reset (its hang-up refused).
void TConsoleLine::ChainAfterCall() {
  Session.afterCallReset = false;
  if (Data.FirstCall && ckCall2->isChecked()) {
    StartCall(false);
    return;
  }
  StartNextStep(TNextStep::Sms1, ljIdle);
}

// The network ended the call before the line hung up: it did not run its
// length, so it is no call put through. It is dialled again.
void TConsoleLine::CallDropped() {
  Session.callUp = false;
  tHangup->SetEnabled(false);
  AddFuncLog(std::string("F022-11 : ") + (Data.FirstCall ? "1st" : "2nd") +
             " call ended by the network before its hang-up; dialling again");
  Data.Job = ljDialling;
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  tDial->SetEnabled(true);
}

void TConsoleLine::RedialAfterSilence() {
  if (Data.Job == ljDialling) tDial->SetEnabled(true);
}

// ---------------------------------------------------------------------------
// The operator's question

void TConsoleLine::AskCallRetry(TQuestionFrom from) {
  // The line stays as it is now while the question is open; its dial
  // replies are only gathered and its redial waits. The box does not hold
  // the event loop: the other lines (and their own questions) go on, and
  // with nobody at the console the question takes its No after a while.
  callQuestionOpen_ = true;
  // The answer belongs to this card: the session's end withdraws it.
  auto* context = new QObject(this);
  questionContext_ = context;
  try {
    questionBox_ = AskWithin(&Form, TMsgDlgType::Confirmation, CallQuestionTitle(), kRetryQuestion,
                             CallQuestionDeadlineMs, TModalResult::No, context,
                             [this, from, context](TModalResult answer, bool answered) {
                               context->deleteLater();
                               RunGuarded([&] { CallRetryAnswered(from, answer, answered); });
                             });
  } catch (...) {
    callQuestionOpen_ = false;
    delete context;
    throw;
  }
}

// Four lines (and up to sixteen windows) ask the same question: the title
// says which modem it is about.
QString TConsoleLine::CallQuestionTitle() const {
  return QStringLiteral("Corvane: line %1, COM%2").arg(number_).arg(Data.ComPort);
}

void TConsoleLine::CloseCallQuestion() {
  if (!callQuestionOpen_) return;
  callQuestionOpen_ = false;
  delete questionContext_.data();
  if (questionBox_) questionBox_->close();
  AddFuncLog("F022-10 : call question withdrawn: its card is gone");
}

void TConsoleLine::CallRetryAnswered(TQuestionFrom from, TModalResult answer, bool answered) {
  callQuestionOpen_ = false;
  if (!answered)
    AddFuncLog("F022-7 : call question unanswered in " + std::to_string(CallQuestionDeadlineMs / 1000) +
               " s; taken as No");
  if (Data.Job != ljDialling) {
    // Switched off, card taken out or another command given meanwhile.
    AddFuncLog("F022-5 : line no longer dialling; answer to the call question ignored");
    return;
  }
  // What came in while the operator decided answers no dial of the next try.
  Data.RxBuffer.clear();
  if (answer == TModalResult::Yes) {
    Data.DialErrorCount = 0;
    Data.NoCarrierCount = 0;
    Session.callResetFor = TCallId::None;
    // Behind a reset the dial waits for the reset and the card check: a
    // redial meanwhile would take the reset's "OK" for its own.
    if (from == TQuestionFrom::RedialTick) {
      SendModemReset();
      return;
    }
    tDial->SetEnabled(true);
    return;
  }
  AddFuncLog(std::string("F022-8 : ") + (Data.FirstCall ? "1st" : "2nd") + " call failed");
  SetStaticTextColor(Data.FirstCall ? lCall : lCall2, clRed);
  GiveUpCall();
}

}  // namespace corvane
