// A line's sequencer: switching on and off, the start timer that runs the
// card's task chain, the next-step rule of the tasks, and the recovery timers
// that reset a modem whose card has stalled.
#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>

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
    StopOldCardWork();
    Reply() = rtIdle;
    Data.RxBuffer.clear();
    ResetReceiver();
  }
}

// The old card's work, stopped when it leaves the line: its SIM Toolkit
// watchdog, confirmation time-out, switch-off delay and queued answer would
// otherwise act on whatever card comes next (a switch-off delay running out
// after a swap marks the new card as registered and refuses its menu).
void TConsoleLine::StopOldCardWork() {
  DropPendingStk({});
  for (TTimer* t : {tWatchDog, tTimeOut, tMatikan, tDelay, tBringUpRetry, tAnswerGuard, tSmsRetry_}) t->SetEnabled(false);
  // A call of the old card must not be hung up or redialled on the next.
  StopCallTimers();
  PendingAnswer.clear();
  Data.UssdPending = false;
  BringUp = TBringUpState{};
  cardImsi_.clear();
  answerText_.clear();
  stkAnswer_.clear();
  stkAnswerErrors_ = 0;
  menuWalks_ = 0;
  walkProgressed_ = false;
  stkWalking_ = false;
}

void TConsoleLine::ResetReceiver() { CardReports.Clear(); }

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
      if (BringUp.cardCheckDue) {
        SendCardCheck();
        break;
      }
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
