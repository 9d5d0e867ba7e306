// A line's sequencer: switching on and off, the start timer that runs the
// card's task chain, the next-step rule of the tasks, and the recovery timers
// that reset a modem whose card has stalled.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>

#include <utility>

#include "SerPort.h"
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

namespace corvane {

void TConsoleLine::SetStatusNotDone() {
  for (QLabel* status : {lRegistrasi, lCall, lCall2, lSMS1, lCekPulsa, lSMS2}) SetStaticTextColor(status, clFuchsia);
}

void TConsoleLine::RefuseSwitchOn(const std::string& why) {
  // The box goes back without running the switch-off steps: nothing was
  // started, and the operator sees why in the line's log.
  {
    const QSignalBlocker quiet(ckOn);
    ckOn->setChecked(false);
  }
  Data.Job = ljIdle;
  AddFuncLog("F000 : " + why);
}

void TConsoleLine::ckOnClick() {
  SetStatusNotDone();
  if (ckOn->isChecked()) {
    Data.Job = ljStart;
    if (!ComPortUsable()) {
      RefuseSwitchOn("COM" + std::to_string(Data.ComPort) + " is not a port number (1 to 255); line stays off");
      return;
    }
    try {
      comVorel->SetOpen(true);
    } catch (const std::exception& e) {
      RefuseSwitchOn("COM" + std::to_string(Data.ComPort) + " cannot be opened: " + e.what());
      return;
    }
    // Whatever the modem still had half-sent before the line was off is
    // no part of this session.
    ResetReceiver();
    smsTextMode_ = false;
    if (variant_.EchoOffStep) SendEchoOff();
    tOn->SetEnabled(true);
    Data.StkArmed = true;
  } else {
    tOn->SetEnabled(false);
    comVorel->SetOpen(false);
    Data.Job = ljIdle;
    // A line switched on again starts from nothing: no timer of the old
    // card may reset the next one's modem, and no half answer may be taken
    // for the next one's reply.
    EndSession();
    Reply() = rtIdle;
    Data.RxBuffer.clear();
    ResetReceiver();
  }
}

// The timers and queued steps of the card's work: stopped when the card
// leaves the line or is given up. A watchdog, confirmation time-out,
// switch-off delay or queued answer left running would act on whatever card
// comes next (a switch-off delay running out after a swap marks the new card
// as registered and refuses its menu).
void TConsoleLine::StopCardWork() {
  DropPendingStk({});
  for (TTimer* t : {tWatchDog, tTimeOut, tMatikan, tDelay, tBringUpRetry, tSmsRetry_, tResetPace, tBootReport, tDial,
                    tHangup})
    t->SetEnabled(false);
  StopAnswerGuard();
  afterSync_ = nullptr;
  lateReply_ = rtNone;
  PendingAnswer.clear();
  Data.UssdPending = false;
}

// Everything of the card goes with it: its timers, its open question, its
// call, and every count and outcome it had (the session), so the next card
// starts from nothing whatever step this one was in.
void TConsoleLine::EndSession() {
  StopCardWork();
  CloseCallQuestion();
  if (Session.callUp && comVorel->Open()) {
    // Left up, the call would run on a modem nobody watches. Its answer
    // comes to an idle line, which takes it for no step.
    comVorel->SendString("ATH\r");
    AddFuncLog("F023-5 : the card's call hung up as its session ends");
  }
  Session = TCardSession{};
  BringUp = TBringUpState{};
  Data.DialErrorCount = 0;
  Data.NoCarrierCount = 0;
  Data.SmsErrorCount = 0;
  Data.StkErrorCount = 0;
  Data.ConfirmTicks = 0;
  Data.WatchdogTicks = 0;
}

// The card is given up: the step it failed shows red, the log says why in one
// line, and the line waits for the next card, doing nothing more with this
// one. Its session stays until the card goes, so that a report of the same
// card again is known for what it is.
void TConsoleLine::GiveUpCard(QLabel* failed, const std::string& why) {
  AddFuncLog(why);
  if (failed) SetStaticTextColor(failed, clRed);
  StopCardWork();
  CloseCallQuestion();
  Session.over = true;
  Session.walking = false;
  Data.StkArmed = false;
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  Data.Job = ljIdle;
  tOn->SetEnabled(false);
  lstDisplay->clear();
}

// The ticked step the card has reached and not finished: the first ticked
// one, in chain order, that shows neither done nor failed.
QLabel* TConsoleLine::StepUnderWay() const {
  const std::pair<QCheckBox*, QLabel*> steps[] = {{ckRegistrasi, lRegistrasi}, {ckCall, lCall}, {ckCall2, lCall2},
                                                  {ckSMS1, lSMS1},             {ckSMS2, lSMS2}, {ckCekPulsa, lCekPulsa}};
  for (const auto& [box, label] : steps) {
    if (!box->isChecked()) continue;
    const TColor c = StaticTextColor(label);
    if (c != clLime && c != clRed) return label;
  }
  return nullptr;
}

void TConsoleLine::ResetReceiver() {
  CardReports.Clear();
  Unsolicited.Clear();
}

bool TConsoleLine::PortLost() {
  if (!comVorel->Open()) return false;
  serial::TBaseDispatcher* d = comVorel->Dispatcher();
  if (!d || !d->DeviceLost()) return false;
  AddFuncLog("F000 : COM" + std::to_string(Data.ComPort) +
             " is gone (modem unplugged?); line switched off, tick On to open it again");
  // Unticking runs the switch-off: port closed, every timer of the card
  // stopped, nothing more written into the dead port.
  ckOn->setChecked(false);
  return true;
}

void TConsoleLine::tOnTimer() {
  switch (Data.Job) {
    case ljStart:
      tOn->SetEnabled(false);
      if (ckRegistrasi->isChecked()) {
        SendSignalQuery();
      } else if (ckCall->isChecked()) {
        // Without registration the second call runs only behind the first.
        StartCall(true);
      } else {
        StartNextStep(TNextStep::Sms1, ljStart);
      }
      break;
    case ljRegistered:
      // The timer stays on; the later ticks find the job of the task under
      // way and leave it alone until its handler stops the timer.
      if (ckCall->isChecked() || ckCall2->isChecked()) {
        StartCall(ckCall->isChecked());
      } else {
        StartNextStep(TNextStep::Sms1, ljStart);
      }
      break;
    default:
      break;
  }
}

void TConsoleLine::StartNextStep(TNextStep first, LineJob endJob) {
  if (first == TNextStep::Sms1 && ckSMS1->isChecked()) {
    StartSms(ljSms1);
  } else if (first != TNextStep::CekPulsa && ckSMS2->isChecked()) {
    StartSms(ljSms2);
  } else if (ckCekPulsa->isChecked()) {
    Data.Job = ljCekPulsa;
    SendUssd(Form.Card.cekpulsa);
  } else {
    Data.Job = endJob;
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    tOn->SetEnabled(false);
  }
}

void TConsoleLine::tWatchDogTimer() {
  // Not stopped here: a modem that stays silent is reset again every
  // limit + 1 seconds until the SIM Toolkit dialogue moves on.
  ++Data.WatchdogTicks;
  if (Data.WatchdogTicks > WatchdogLimitSeconds) {
    Data.WatchdogTicks = 0;
    // The operator reads why the modem restarts in the middle of a card.
    AddFuncLog("F016-29: no SIM Toolkit step in " + std::to_string(WatchdogLimitSeconds) +
               " s since the last Get Info; resetting the modem");
    SendModemReset();
  }
}

void TConsoleLine::tTimeOutTimer() {
  if (Data.ConfirmTicks < Form.Card.timeout) {
    ++Data.ConfirmTicks;
    return;
  }
  Data.ConfirmTicks = 0;
  tTimeOut->SetEnabled(false);
  AddFuncLog("F016-30: no registration confirmation in " + std::to_string(Form.Card.timeout) +
             " s; resetting the modem");
  SendModemReset();
}

void TConsoleLine::tMatikanTimer() {
  tMatikan->SetEnabled(false);
  // The card is registered: its menu is not walked again until it is
  // replaced. The reset's "OK" starts the calls, SMS and balance check.
  Data.StkArmed = false;
  SendModemReset();
}

}  // namespace corvane
