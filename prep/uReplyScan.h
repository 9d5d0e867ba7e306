#pragma once
// How the tool judges what a modem has answered so far. Pure functions and
// plain data, any thread.
//
// The whole receive buffer is searched, case-sensitively: "OK" anywhere
// wins, and only a buffer without "OK" is searched for "ERROR" (which also
// finds "+CME ERROR: <n>"). A buffer with neither is not answered yet. The
// outcome depends only on the bytes gathered, never on how the modem's
// output was cut into notices.
#include <string>
#include <string_view>

namespace corvane::prep {

enum class TFinalResult { None, Ok, Error };

TFinalResult ScanFinalResult(std::string_view buffer);

// The final result that a command which timed out still owes: the modem
// answers in order, so its late "OK" or "ERROR" comes before any answer to a
// later command. Fed the bytes as they arrive, it says when that final
// result is complete (judged as ScanFinalResult judges, whatever the cuts);
// after that nothing is owed.
class TLateAnswer {
 public:
  void Expect();  // a command timed out: one final result is owed
  void Forget();  // nothing is owed (another modem, or it is taken as lost)
  bool Owed() const { return owed_; }
  // True when these bytes complete the owed final result.
  bool Take(std::string_view chunk);

 private:
  bool owed_ = false;
  std::string tail_;  // the end of what came, where a final result may have begun
};

}  // namespace corvane::prep
