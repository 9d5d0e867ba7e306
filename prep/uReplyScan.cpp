#include "uReplyScan.h"

namespace corvane::prep {

TFinalResult ScanFinalResult(std::string_view buffer) {
  if (buffer.find("OK") != std::string_view::npos) return TFinalResult::Ok;
  if (buffer.find("ERROR") != std::string_view::npos) return TFinalResult::Error;
  return TFinalResult::None;
}

}  // namespace corvane::prep
