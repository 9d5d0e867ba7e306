// A card's resets are bounded and paced, whatever causes them: a modem that
// gets nowhere with a card ends with the step red and the line waiting for
// the next card, never in a reset loop that shows nothing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>

#include "FaultRule.h"
#include "ScenarioSupport.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kPaceMs = 300;

modemsim::FaultRule Rule(std::vector<std::pair<std::string, std::string>> keys) {
  modemsim::FaultRule r;
  for (const auto& [k, v] : keys) r.Set(k, v);
  return r;
}

struct TEndlessCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> fault;
  int maxgagal;
};

void PrintTo(const TEndlessCase& c, std::ostream* os) { *os << c.name; }

class EndlessResets : public ::testing::TestWithParam<TEndlessCase> {};

}  // namespace

TEST_P(EndlessResets, EndWithRegRedWithinTheBudgetAndPaced) {
  const TEndlessCase& c = GetParam();
  TScenarioRig rig(1);
  TConsoleLine& l = rig.Line(1);
  rig.Window().Card.maxgagal = c.maxgagal;
  l.tAnswerGuard->SetInterval(300);
  l.ResetPaceMs = kPaceMs;
  l.tOn->SetInterval(100);
  rig.Modem(1).AddFault(Rule(c.fault));
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return StaticTextColor(l.lRegistrasi) == clRed; }, 60000))
      << ::testing::PrintToString(LogEntries(l));
  EXPECT_TRUE(Logged(l, "F036 : 6 modem resets spent on this card; Reg failed, waiting for the next card"));
  const std::vector<long long> resets = CommandTimes(rig.Modem(1), "AT+CFUN=1");
  EXPECT_EQ(resets.size(), 6u);
  for (std::size_t i = 1; i < resets.size(); ++i) EXPECT_GE(resets[i] - resets[i - 1], kPaceMs - 5) << i;
  // Given up: nothing more goes to the modem until the next card.
  const std::size_t sent = HostCommands(rig.Modem(1)).size();
  Pump(1500);
  EXPECT_EQ(HostCommands(rig.Modem(1)).size(), sent);
  EXPECT_EQ(l.Data.Job, ljIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Budget, EndlessResets,
    ::testing::Values(
        TEndlessCase{"GetInfoNeverAnswered", {{"command", "AT+STGI"}, {"reply", "silent"}}, 3},
        TEndlessCase{"ImsiRefusedForGood", {{"command", "AT+CIMI"}, {"reply", "cme 10"}}, 1},
        TEndlessCase{"SilentFromTheSignalOn", {{"command", "AT"}, {"reply", "silent"}}, 3},
        // Noise behind every reset's answer: the reset is sent again, paced.
        TEndlessCase{"NoiseAfterEveryReset",
                     {{"command", "AT+CFUN=1"}, {"reply", "text"}, {"text", "\r\n#$%&#$%&#$%&#$%&#$%&#$%&#$%&#$%&\r\n"}},
                     3}),
    [](const auto& info) { return std::string(info.param.name); });

// Ordinary unsolicited lines in the middle of a reset are no unrecognised
// answer: the card goes through without another reset.
TEST(Budget, UnsolicitedLinesDuringAResetAreNoAnswer) {
  TScenarioRig rig(1);
  TConsoleLine& l = rig.Line(1);
  l.tOn->SetInterval(100);
  rig.Modem(1).AddFault(Rule({{"command", "AT+CFUN=1"}, {"unsolicited", "RING"}, {"unsolicited_at", "before"}}));
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 1)); }, 10000));
  for (const char* line : {"+CREG: 1", "+CMTI: \"SM\",3", "RING"}) rig.Modem(1).SendUnsolicited(line);
  Pump(500);
  EXPECT_FALSE(Logged(l, "F018-2"));
  EXPECT_EQ(CommandTimes(rig.Modem(1), "AT+CFUN=1").size(), 1u);
  EXPECT_TRUE(Logged(l, "F028-5 : unsolicited RING"));
}

// A card given up that the modem reports again, without having been taken
// out, is the same card: its IMSI says so, and its red stays.
TEST(Budget, TheSameCardReportedAgainStaysGivenUp) {
  TScenarioRig rig(1);
  TConsoleLine& l = rig.Line(1);
  l.tAnswerGuard->SetInterval(300);
  l.ResetPaceMs = kPaceMs;
  l.tOn->SetInterval(100);
  rig.Modem(1).AddFault(Rule({{"command", "AT+STGI"}, {"reply", "silent"}}));
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return StaticTextColor(l.lRegistrasi) == clRed; }, 60000));
  const std::size_t before = HostCommands(rig.Modem(1)).size();
  rig.Modem(1).SendUnsolicited("+WIND: 1");
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "F019-3 : same card"); }, 5000))
      << ::testing::PrintToString(LogEntries(l));
  Pump(500);
  EXPECT_EQ(HostCommandsFrom(rig.Modem(1), before), std::vector<std::string>{"AT+CIMI"});
  EXPECT_EQ(StaticTextColor(l.lRegistrasi), clRed);
}
