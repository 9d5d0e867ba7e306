// Modem bring-up of a line: echo off (line 1), signal, SIM Toolkit on,
// reset, the IMSI.
#include "uConsoleLine.h"

namespace corvane {

void TConsoleLine::SendEchoOff() {}
void TConsoleLine::HandleEchoOffReply(const std::string&) {}
void TConsoleLine::HandleSignalReply(const std::string&) {}
void TConsoleLine::HandleStkOnReply(const std::string&) {}
void TConsoleLine::HandleResetReply(const std::string&) {}
void TConsoleLine::HandleImsiReply(const std::string&) {}

}  // namespace corvane
