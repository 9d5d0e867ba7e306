// A line's sequencer: switching on and off, the start timer that runs the
// card's task chain, and the recovery timers.
#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>

#include "SerPort.h"
#include "uConsoleLine.h"
#include "uConstType.h"

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
    if (variant_.EchoOffStep) SendEchoOff();
    tOn->SetEnabled(true);
    Data.StkArmed = true;
  } else {
    tOn->SetEnabled(false);
    comVorel->SetOpen(false);
    Data.Job = ljIdle;
  }
}

void TConsoleLine::tOnTimer() {}
void TConsoleLine::tWatchDogTimer() {}
void TConsoleLine::tTimeOutTimer() {}
void TConsoleLine::tMatikanTimer() {}

}  // namespace corvane
