#pragma once
// How the tool judges what a modem has answered so far. Pure function, any
// thread.
//
// The whole receive buffer is searched, case-sensitively: "OK" anywhere
// wins, and only a buffer without "OK" is searched for "ERROR" (which also
// finds "+CME ERROR: <n>"). A buffer with neither is not answered yet. The
// outcome depends only on the bytes gathered, never on how the modem's
// output was cut into notices.
#include <string_view>

namespace corvane::prep {

enum class TFinalResult { None, Ok, Error };

TFinalResult ScanFinalResult(std::string_view buffer);

}  // namespace corvane::prep
