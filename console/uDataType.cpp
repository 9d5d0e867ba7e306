#include "uDataType.h"

namespace corvane {

int maxlistline = 0;
std::array<std::uint8_t, LineCount> ReplyType{};
std::string CardIniName;
int kartuaktif = 0;

void ResetProgramVariables() {
  maxlistline = 0;
  ReplyType.fill(rtNone);
  CardIniName.clear();
  kartuaktif = 0;
}

}  // namespace corvane
