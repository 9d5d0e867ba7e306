// The SIM Toolkit side of a line: the menu automaton, its commands and the
// card's notifications.
#include "uConsoleLine.h"

namespace corvane {

void TConsoleLine::HandleStkInfo(const std::string&) {}
void TConsoleLine::HandleStkResponseReply(const std::string&) {}
void TConsoleLine::tDelayTimer() {}

}  // namespace corvane
