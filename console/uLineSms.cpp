// SMS and balance check of a line.
#include "uConsoleLine.h"

namespace corvane {

void TConsoleLine::HandleSmsPrompt(const std::string&) {}
void TConsoleLine::HandleSmsSentReply(const std::string&) {}
void TConsoleLine::HandleUssdReply(const std::string&) {}

}  // namespace corvane
