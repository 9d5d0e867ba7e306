// A line's idle receiver: unsolicited lines while nothing is outstanding.
#include "uConsoleLine.h"

namespace corvane {

void TConsoleLine::HandleIdle(const std::string&) {}

}  // namespace corvane
