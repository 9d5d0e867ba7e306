// The calls of a line: dial, redial, hang-up.
#include "uConsoleLine.h"

namespace corvane {

void TConsoleLine::HandleDialReply(const std::string&) {}
void TConsoleLine::HandleHangupReply(const std::string&) {}
void TConsoleLine::tDialTimer() {}
void TConsoleLine::tHangupTimer() {}

}  // namespace corvane
