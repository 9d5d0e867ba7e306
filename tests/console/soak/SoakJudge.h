#pragma once
// What the soak saw and what it holds against it. A TLineWatch records, with
// the time it happened, every entry of a line's log and every moment one of
// its status labels turned lime. The judge then reads those records against
// the simulator's own transcript of the modem: a lime label needs the modem's
// record of the step, a long silence of the line needs a card it waits for,
// and a card the line is done with needs a result or a failure shown.
#include <chrono>
#include <string>
#include <vector>

#include "ModemBank.h"
#include "SoakPlan.h"
#include "uCardSettings.h"
#include "uConsoleLine.h"

namespace corvane::test {

using TSoakClock = std::chrono::steady_clock;
using TSoakTime = TSoakClock::time_point;

// The six steps of a card, in chain order, with their status labels.
enum class TSoakStep { Reg, Call, Call2, Sms1, Sms2, CekPulsa };
inline constexpr TSoakStep kSoakSteps[] = {TSoakStep::Reg,  TSoakStep::Call, TSoakStep::Call2,
                                           TSoakStep::Sms1, TSoakStep::Sms2, TSoakStep::CekPulsa};
const char* StepName(TSoakStep s);

class TLineWatch {
 public:
  explicit TLineWatch(TConsoleLine& line);
  // Samples the status labels; a label found lime that was not at the last
  // sample is recorded as turning lime now.
  void Poll(TSoakTime now);
  bool Lime(TSoakStep s) const;
  bool Red(TSoakStep s) const;  // the console's colour of a step given up
  std::string Labels() const;   // as TSoakSession::labels

  struct TLogEntry {
    TSoakTime at;
    std::string text;
  };
  struct TLimeEntry {
    TSoakStep step;
    TSoakTime at;
  };
  std::vector<TLogEntry> log;
  std::vector<TLimeEntry> limes;

  TConsoleLine& line;

 private:
  bool wasLime_[6] = {};
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
  std::string Name() const;
  std::string Summary() const;
};

// A finding: its class (what kind of broken promise) and what was seen.
struct TSoakFinding {
  std::string kind;
  int line = 0;
  std::string what;
};

class TSoakJudge {
 public:
  TSoakJudge(const TCardSettings& card, TSoakTime origin) : card_(card), origin_(origin) {}

  // Every lime label of the session is backed by the modem's record of that
  // step for that card, made before the label turned.
  void CheckLimes(const TSoakSession& s, const TLineWatch& w, const modemsim::Transcript& t);
  // A card the line is done with ends registered with every later step done
  // or shown failed, or with its registration shown failed.
  void CheckOutcome(const TSoakSession& s, const TLineWatch& w, TSoakTime now);
  // Between `from` and `to` the line never goes longer than `limitMs`
  // without a command, outside the times it waits for a card.
  void CheckGaps(int line, const modemsim::Transcript& t, TSoakTime from, TSoakTime to,
                 const std::vector<std::pair<TSoakTime, TSoakTime>>& cardWaits, long long limitMs);
  void Add(std::string kind, int line, std::string what);

  long long Ms(TSoakTime t) const;  // on the simulator's transcript clock
  const std::vector<TSoakFinding>& Findings() const { return findings_; }

 private:
  bool Evidence(TSoakStep step, const TSoakSession& s, TSoakTime limeAt, const modemsim::Transcript& t,
                std::string& why) const;
  bool FailureShown(TSoakStep step, const TSoakSession& s, const TLineWatch& w) const;

  const TCardSettings& card_;
  TSoakTime origin_;
  std::vector<TSoakFinding> findings_;
};

}  // namespace corvane::test
