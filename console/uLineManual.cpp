// Manual commands from the popup menus of a line's status labels.
#include "uConsoleLine.h"

namespace corvane {

void TConsoleLine::mnCALLClick() {}
void TConsoleLine::mnCALL2Click() {}
void TConsoleLine::mnSMS1Click() {}
void TConsoleLine::mnSMS2Click() {}
void TConsoleLine::mnCekPulsaClick() {}

}  // namespace corvane
