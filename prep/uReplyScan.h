#pragma once
// Which command a modem's answer belongs to. Pure functions and plain data,
// any thread.
//
// A line is the text between line ends (CR or LF); it counts once its line
// end has come, so the outcome never depends on how the modem's output was
// cut into notices. A final result is a whole line "OK", "ERROR",
// "+CME ERROR: <n>" or "+CMS ERROR: <n>" (case matters); "OK" inside
// another line is no answer.
#include <string>
#include <string_view>
#include <vector>

#include "uModemLine.h"

namespace corvane::prep {

using TFinalResult = modemline::TFinal;

// The final result a whole line (without its line end) stands for.
TFinalResult FinalResultOf(std::string_view line);

// The tool's record of what it sent and what is still owed. The modem
// answers in order and its answers carry no name, so an answer is known by
// its place: a command that timed out still owes its final result, and that
// result comes before the answer of any later command, however late it is.
// A final result while nothing is owed or in flight (a second answer) is
// nobody's. When the modem echoes, a command's answer stands behind its
// echo: a final result ahead of the echo belongs to the modem's past.
//
// A modem that never answers a command would shift every later answer by
// one. Two things end that. A modem that echoes echoes every command it
// reads, in order: when a later command's echo comes and a command that
// timed out never showed its echo, the modem never read it, and it owes
// nothing (unless a restart is owed too: a restart may switch the echo on).
// Without echoes, a command whose one final result paid an earlier debt and
// which then times out adds no debt of its own (one of the two was lost), so
// the shift ends with that command.
class TAnswerLedger {
 public:
  enum class TOwner {
    Command,  // the command in flight: its answer
    Late,     // a command that timed out
    Extra,    // no command: a second answer, or one nobody asked for
  };
  struct TAnswer {
    TFinalResult result;
    TOwner owner;
  };

  // Longest unfinished line kept; the rest of a longer one is no answer.
  static constexpr std::size_t MaxLine = 4096;

  void Sent(std::string_view command);  // the command (without its line end) went out
  void TimedOut();                      // the command in flight gets no more time
  void Forget();                        // another modem: nothing in flight, nothing owed

  bool InFlight() const { return inFlight_; }
  int Owed() const { return static_cast<int>(owed_.size()); }

  // The final results these bytes complete, in stream order.
  std::vector<TAnswer> Take(std::string_view chunk);

 private:
  TOwner Attribute();
  void Answered(TFinalResult result);
  void EchoCame();

  // A command that timed out and owes its final result.
  struct TDebt {
    bool echoSeen;  // the modem read it
    bool restart;   // it restarts the modem
  };

  std::string partial_;        // the unfinished line
  bool discarding_ = false;    // inside a line longer than MaxLine
  std::string command_;        // the command in flight
  bool inFlight_ = false;
  bool echoSeen_ = false;      // its echo has come
  bool paidDebt_ = false;      // a final result in its flight went to an earlier command
  bool echoing_ = false;       // the modem echoed the last command answered
  std::vector<TDebt> owed_;  // oldest first
};

}  // namespace corvane::prep
