// Manual commands from the popup menus of a line's status labels. Each puts
// the line at the start of one step, whatever it was doing; the step's reply
// handlers then carry on with the later ticked steps as the chain does.
// None of them starts the redial timer or touches the start timer.
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

namespace corvane {

void TConsoleLine::mnCALLClick() {
  tWatchDog->SetEnabled(false);
  Data.WatchdogTicks = 0;
  Data.Job = ljRegistered;
  Data.FirstCall = true;
  SendDial(Form.Card.no2dial);
}

void TConsoleLine::mnCALL2Click() {
  tWatchDog->SetEnabled(false);
  Data.WatchdogTicks = 0;
  Data.Job = ljRegistered;
  Data.FirstCall = false;
  SendDial(Form.Card.no2dial2);
}

void TConsoleLine::mnSMS1Click() {
  tWatchDog->SetEnabled(false);
  Data.WatchdogTicks = 0;
  StartSms(ljSms1);
}

void TConsoleLine::mnSMS2Click() {
  tWatchDog->SetEnabled(false);
  Data.WatchdogTicks = 0;
  StartSms(ljSms2);
}

void TConsoleLine::mnCekPulsaClick() {
  Data.Job = ljCekPulsa;
  SendUssd(Form.Card.cekpulsa);
}

}  // namespace corvane
