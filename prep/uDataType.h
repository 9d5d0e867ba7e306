#pragma once
// The preparation tool's program-wide variables. GUI thread only; nothing is
// locked.
//   maxlistline  limit of the log list lstFunc (100 once the window exists).
//   ReplyType    the reply the tool's one port waits for (TReplyType values).
#include <cstdint>

namespace corvane::prep {

// Which modem reply the port waits for. Every sender sets it, the port's
// OnTrigger dispatch reads it, a handler that is done sets rtIdle. The
// numbers 4, 5, 32 and 33 mean what they mean on a console line.
enum TReplyType : std::uint8_t {
  rtNone = 0,     // start value: received bytes are dropped
  rtAt = 1,       // "AT"
  rtIdle = 4,     // nothing pending: unsolicited lines collect in RxBuffer
  rtEchoOff = 5,  // "ATE0"
  rtStkOn = 32,   // one of the "AT+STSF" set-up commands
  rtReset = 33,   // "AT+CFUN=1"
  rtWindOn = 35,  // "AT+WIND=1"
};

extern int maxlistline;
extern std::uint8_t ReplyType;

// Back to the values the program starts with (tests make several windows in
// one process).
void ResetProgramVariables();

}  // namespace corvane::prep
