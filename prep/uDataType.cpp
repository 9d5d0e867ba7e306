#include "uDataType.h"

namespace corvane::prep {

int maxlistline = 0;
std::uint8_t ReplyType = rtNone;

void ResetProgramVariables() {
  maxlistline = 0;
  ReplyType = rtNone;
}

}  // namespace corvane::prep
