#pragma once
// What the soak saw and what it holds against it. A TLineWatch records, with
// the time it happened, every entry of a line's log and every moment one of
// its status labels turned lime or red. The judge then reads those records
// against the simulator's own transcript of the modem and against the plan:
// a lime label needs the modem's record of the step, a card the plan leaves
// able to succeed must end with its lime steps, a red step must have been
// tried and say why in the log, a card's resets stay within their budget
// and their pace, a long silence of the line needs a card it waits for, and
// a run in which nothing succeeded fails whatever else it shows.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "ModemBank.h"
#include "SoakPlan.h"
#include "uCardSettings.h"

namespace corvane {
class TConsoleLine;
}

namespace corvane::test {

using TSoakClock = std::chrono::steady_clock;
using TSoakTime = TSoakClock::time_point;
using TSoakEntries = std::vector<modemsim::TranscriptEntry>;

// One line of text that crossed a modem's line, with the moment its end did.
struct TSoakLine {
  TSoakTime at;
  std::string text;
};
// The host's command lines, as the modem read them.
std::vector<TSoakLine> HostCommands(const TSoakEntries& t);
// The modem's lines, CR and LF taken off, empty ones left out.
std::vector<TSoakLine> ModemLines(const TSoakEntries& t);

// Everything a line showed, with times: its log and its labels' turns.
struct TLineRecord {
  struct TLogEntry {
    TSoakTime at;
    std::string text;
  };
  struct TTurn {
    TSoakStep step;
    TSoakTime at;
  };
  std::vector<TLogEntry> log;
  std::vector<TTurn> limes;  // a label turned lime
  std::vector<TTurn> reds;   // a label turned red
};

class TLineWatch {
 public:
  explicit TLineWatch(TConsoleLine& line);
  // Samples the status labels; a label found lime (red) that was not at the
  // last sample is recorded as turning lime (red) now.
  void Poll(TSoakTime now);
  bool Lime(TSoakStep s) const;
  bool Red(TSoakStep s) const;  // the console's colour of a step given up
  std::string Labels() const;   // as TSoakSession::labels

  TLineRecord record;
  TConsoleLine& line;

 private:
  bool wasLime_[kSoakStepCount] = {};
  bool wasRed_[kSoakStepCount] = {};
};

// One card's stay in a line, from its insertion (or the line's switch-on)
// to the moment the soak took it out.
struct TSoakSession {
  enum class TEnd { Running, Finished, Swapped, Unplugged, NeverFinished, CutShort };
  int line = 0;
  int index = 0;  // card number within the line's plan, from 1
  TSoakCard card;
  TSoakTime begin;
  TSoakTime end;
  TEnd how = TEnd::Running;
  std::string labels;  // at the end: per step '+' lime, 'x' red, '-' neither
  bool Lime(TSoakStep s) const { return labels.size() == kSoakStepCount && labels[static_cast<std::size_t>(s)] == '+'; }
  bool Red(TSoakStep s) const { return labels.size() == kSoakStepCount && labels[static_cast<std::size_t>(s)] == 'x'; }
  std::string Name() const;
  std::string Summary() const;
};

// A finding: its class (what kind of broken promise) and what was seen.
struct TSoakFinding {
  std::string kind;
  int line = 0;
  std::string what;
};

// The promises on a card's resets: at most this many in one card's stay,
// whatever caused them, and no two closer than a reboot.
inline constexpr int kSoakResetBudget = 6;
inline constexpr long long kSoakResetPaceMs = 5000;
// A refused command is sent again only after its pause.
inline constexpr long long kSoakRetryPaceMs = 1000;

class TSoakJudge {
 public:
  TSoakJudge(const TCardSettings& card, TSoakTime origin) : card_(card), origin_(origin) {}

  // Every check of one card's stay, whatever ended it: its lime labels
  // backed by the modem's record, nothing carried over from the card
  // before, the plan's lime steps there and its impossible ones not, each
  // step it reached ended lime or red with a log line, no red step untried,
  // its resets within the budget and the pace.
  void CheckSession(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t);
  // Over a line's whole run: no refused command sent again before its pause.
  void CheckPacing(int line, const TSoakEntries& t);
  // The run as a whole: some card registered and some step after a
  // registration succeeded.
  void CheckRun(const std::vector<TSoakSession>& sessions);
  // Between `from` and `to` the line never goes longer than `limitMs`
  // without a command, outside the times it waits for a card.
  void CheckGaps(int line, const TSoakEntries& t, TSoakTime from, TSoakTime to,
                 const std::vector<std::pair<TSoakTime, TSoakTime>>& cardWaits, long long limitMs);
  void Add(std::string kind, int line, std::string what);

  long long Ms(TSoakTime t) const;  // on the simulator's transcript clock
  // A broken mechanism repeats its finding hundreds of times: the first few
  // of a kind on a line say what it is, one more says how many followed.
  std::vector<TSoakFinding> Findings() const;
  static constexpr int ListedPerKind = 5;

 private:
  void CheckLimes(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t);
  void CheckCarried(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t);
  void CheckPlan(const TSoakSession& s, const TLineRecord& r);
  void CheckOutcome(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t);
  void CheckResets(const TSoakSession& s, const TSoakEntries& t);
  bool Evidence(TSoakStep step, const TSoakSession& s, TSoakTime limeAt, const TSoakEntries& t,
                std::string& why) const;
  bool Tried(TSoakStep step, const TSoakSession& s, const TSoakEntries& t) const;
  bool LoggedWhy(TSoakStep step, const TSoakSession& s, const TLineRecord& r) const;

  const TCardSettings& card_;
  TSoakTime origin_;
  std::vector<TSoakFinding> findings_;
  std::map<std::pair<std::string, int>, int> counts_;  // findings by kind and line
};

}  // namespace corvane::test
