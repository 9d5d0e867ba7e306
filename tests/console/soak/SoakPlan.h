#pragma once
// What the soak does to its four lines, drawn once from a seed before the run:
// which cards each line gets in which order, the faults its modem shows while
// each card is in, and the moments a card is swapped, the modem goes silent or
// is unplugged. The same seed gives the same plan, so a failing run can be
// replayed (the timing of the console itself still varies a little).
#include <random>
#include <string>
#include <vector>

#include "FaultRule.h"

namespace corvane::test {

// One fault rule as "key=value" pairs in the simulator's scenario keys, so
// that the plan prints as the rules it applies.
struct TSoakFault {
  std::vector<std::pair<std::string, std::string>> keys;
  modemsim::FaultRule Rule() const;
  std::string Text() const;
};

enum class TSoakCardKind {
  Fresh,       // registers once through its menu
  Refuses,     // refuses the configured NIK
  Registered,  // registered already
};

struct TSoakCard {
  std::string id;  // card section of the scenario
  TSoakCardKind kind = TSoakCardKind::Fresh;
  std::vector<TSoakFault> faults;  // in effect from the card's insertion on
  int swapAfterMs = -1;     // >= 0: taken out that long after it went in
  // Taken out, and the next card put in, while the modem reboots from the
  // reset that follows the card's registration.
  bool swapInReboot = false;
  int unplugAfterMs = -1;   // >= 0: the modem is unplugged that long after
  int silentAfterMs = -1;   // >= 0: the modem goes silent that long after ...
  int silentForMs = 0;      // ... for this long
};

struct TSoakLinePlan {
  bool pduMode = false;  // the modem's stored message format is PDU
  bool okAfterReboot = false;  // "AT+CFUN=1" answered at the end of the reboot
  std::vector<TSoakCard> cards;
};

struct TSoakPlan {
  unsigned seed = 0;
  std::vector<TSoakLinePlan> lines;  // lines 1..4

  // [modem N] sections for the plan: power-up card, message format, reset style.
  std::string ModemSections() const;
  std::string Describe() const;
};

inline constexpr int kSoakLines = 4;
inline constexpr int kSoakCardsPerLine = 6;
// Longer than the deadline of any command (30 s), so that the line must give
// up on its own.
inline constexpr int kSoakSilenceMs = 32000;

TSoakPlan DrawSoakPlan(unsigned seed);

// CORVANE_SOAK_SEED when set (a replay; "random" draws a fresh one), else a fixed seed.
unsigned SoakSeed();

}  // namespace corvane::test
