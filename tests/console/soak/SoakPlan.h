#pragma once
// What the soak does to its four lines, drawn once from a seed before the run:
// which cards each line gets in which order, the faults its modem shows while
// each card is in, and the moments a card is swapped, the modem goes silent or
// is unplugged. The same seed gives the same plan, so a failing run can be
// replayed (the timing of the console itself still varies a little).
//
// The plan also says, for every card, which of its steps can end lime: a
// card the faults leave able to succeed must end with those steps lime, and
// a step the faults make impossible must never be shown lime.
#include <array>
#include <random>
#include <string>
#include <vector>

#include "FaultRule.h"

namespace corvane::test {

// The six steps of a card, in chain order, with their status labels.
enum class TSoakStep { Reg, Call, Call2, Sms1, Sms2, CekPulsa };
inline constexpr TSoakStep kSoakSteps[] = {TSoakStep::Reg,  TSoakStep::Call, TSoakStep::Call2,
                                           TSoakStep::Sms1, TSoakStep::Sms2, TSoakStep::CekPulsa};
inline constexpr int kSoakStepCount = 6;
const char* StepName(TSoakStep s);

// One fault rule as "key=value" pairs in the simulator's scenario keys, so
// that the plan prints as the rules it applies.
struct TSoakFault {
  std::vector<std::pair<std::string, std::string>> keys;
  modemsim::FaultRule Rule() const;
  std::string Text() const;
  std::string Command() const;  // the "command" key
};

enum class TSoakCardKind {
  Fresh,       // registers once through its menu
  Refuses,     // refuses the configured NIK
  Registered,  // registered already
  NoMenu,      // a card without a SIM Toolkit menu
  Unmatched,   // a menu none of the configured keywords matches
};

// What a step of a card may end as, given the card and its faults.
enum class TSoakExpect {
  Lime,     // nothing planned stands in its way: it must end lime
  Either,   // a planned fault may or may not defeat it
  NotLime,  // the card or the network makes it impossible: never lime
};

// The faults drawn so that every seed plays each at least once, and the
// heavy events of the first soak; one per card at most.
enum class TSoakEvent {
  None,
  Unplug,              // the modem unplugged while the card is in
  Silent,              // the modem silent for longer than any deadline
  Unanswered,          // one command never answered
  SwapInReboot,        // swapped in the reboot after the registration
  NoMenu,              // a card without a toolkit menu
  Unmatched,           // a menu no keyword matches
  DroppedCall,         // the network drops a call
  UssdRefused,         // the balance request refused with status 4
  SwapInWalkReset,     // swapped in a reset during the menu walk
  SwapInCallReset,     // swapped in a reset its failed calls caused
  SwapInSmsReset,      // swapped in a reset its refused SMS caused
  QuestionAcrossSwap,  // swapped while the call question is open
  UrcInReset,          // "RING", "+CREG", "+CMTI" during every reset
  LateAnswer,          // an answer after its deadline
  RefusedHangup,       // a hang-up the modem keeps refusing
  RefusedNumber,       // an SMS recipient the network refuses
};
const char* EventName(TSoakEvent e);

struct TSoakCard {
  std::string id;  // card section of the scenario
  TSoakCardKind kind = TSoakCardKind::Fresh;
  TSoakEvent event = TSoakEvent::None;
  std::vector<TSoakFault> faults;  // in effect from the card's insertion on
  int swapAfterMs = -1;     // >= 0: taken out that long after it went in
  int unplugAfterMs = -1;   // >= 0: the modem is unplugged that long after
  int silentAfterMs = -1;   // >= 0: the modem goes silent that long after ...
  int silentForMs = 0;      // ... for this long
  std::array<TSoakExpect, kSoakStepCount> expect{};

  TSoakExpect Expect(TSoakStep s) const { return expect[static_cast<std::size_t>(s)]; }
  // The soak takes the card out (or the modem away) before the line is done.
  bool EndsEarly() const;
  // The line must finish it: nothing planned ends its stay early.
  bool CanSucceed() const;
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
  // Each drawn event that no card of the plan carries (empty: all are there).
  std::vector<TSoakEvent> Missing() const;
};

inline constexpr int kSoakLines = 4;
inline constexpr int kSoakCardsPerLine = 6;
// Longer than the deadline of any command (30 s), so that the line must give
// up on its own.
inline constexpr int kSoakSilenceMs = 32000;
// Past the deadline of any command by this much: the answer comes late.
inline constexpr int kSoakLateAnswerMs = 31500;

TSoakPlan DrawSoakPlan(unsigned seed);

// CORVANE_SOAK_SEED when set (a replay; "random" draws a fresh one), else a fixed seed.
unsigned SoakSeed();

}  // namespace corvane::test
