// Scenario files and fault rules as data: what parses, what is refused with
// the line named, and how a rule cuts a reply into chunks.
#include "TestNames.h"
#include <gtest/gtest.h>

#include <filesystem>

#include "FaultRule.h"
#include "Scenario.h"
#include "SimText.h"

namespace modemsim {
namespace {

TEST(Scenario, ShippedScenariosParse) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(MODEMSIM_SCENARIOS)) {
    if (entry.path().extension() != ".ini") continue;
    SCOPED_TRACE(entry.path().string());
    EXPECT_NO_THROW(Scenario::Load(entry.path().string()));
    ++files;
  }
  EXPECT_GE(files, 2);
}

TEST(Scenario, BuiltinIsTheDemoWithATwoLevelMenuThatRegisters) {
  const Scenario s = Scenario::Builtin();
  const CardSpec* a = s.Card("A");
  ASSERT_NE(a, nullptr);
  const StkNode* root = s.Node(a->menu);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->kind, StkKind::SetupMenu);
  const StkNode* sub = s.Node(root->items.at(0).next);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->kind, StkKind::SelectItem);
  EXPECT_EQ(s.ProfileFor(1).windMask, 1);
  EXPECT_EQ(s.ProfileFor(1).stsfMode, 1);
}

TEST(Scenario, ValuesKeepCommasQuotesAndEscapes) {
  const Scenario s = Scenario::Parse(
      "[card A]\nmenu = m\n"
      "[node m]\ntype = menu\ntitle = \"  Menu, utama  \"\n"
      "item.128 = Cek pulsa, paket -> t\n"
      "[node t]\ntype = display\ntext = Baris satu\\nbaris dua; #3\n");
  EXPECT_EQ(s.Node("m")->text, "  Menu, utama  ");
  EXPECT_EQ(s.Node("m")->items.at(0).id, 128);
  EXPECT_EQ(s.Node("m")->items.at(0).label, "Cek pulsa, paket");
  EXPECT_EQ(s.Node("t")->text, "Baris satu\nbaris dua; #3");
}

TEST(Scenario, ModemOverridesAndNumberPlaceholders) {
  const Scenario s = Scenario::Parse(
      "[modem]\nimei = 35000000000{nnn}1\ncsq = 10,1\n"
      "[modem 2]\ncsq = 99,99\n"
      "[card A]\nimsi = 5101000000{nn}999\n");
  EXPECT_EQ(s.ProfileFor(1).imei, "350000000000011");
  EXPECT_EQ(s.ProfileFor(1).rssi, 10);
  EXPECT_EQ(s.ProfileFor(2).rssi, 99);
  EXPECT_EQ(s.ProfileFor(2).ber, 99);
  EXPECT_EQ(ExpandModemNumber(s.Card("A")->imsi, 7), "510100000007999");
}

struct BadScenario {
  const char* text;
  const char* message;  // part of the error
};
MODEMSIM_ROW_NAME(BadScenario, message)


class ScenarioErrors : public ::testing::TestWithParam<BadScenario> {};

TEST_P(ScenarioErrors, AreRefusedWithTheLine) {
  try {
    Scenario::Parse(GetParam().text);
    FAIL() << "parsed";
  } catch (const ScenarioError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScenarioErrors,
    ::testing::Values(
        BadScenario{"[modem]\nechoo = 1\n", "line 2: unknown modem key 'echoo'"},
        BadScenario{"[modem]\nwind = lots\n", "line 2: key 'wind'"},
        BadScenario{"[modem]\nrestart_ms = 30-10\n", "range"},
        BadScenario{"[card A]\nmenu = nowhere\n", "'nowhere', which is not defined"},
        BadScenario{"[node m]\ntype = menu\n", "menu without items"},
        BadScenario{"[node m]\ntype = menu\nitem.1 = A -> x\n", "refers to node 'x'"},
        BadScenario{"[node m]\ntype = menu\nitem.1 = A\n", "expected '<label> -> <next node>'"},
        BadScenario{"[node m]\ntext = t\n", "has no type"},
        BadScenario{"[node m]\ntype = dance\n", "expected menu, select"},
        BadScenario{"[fault f]\nreply = error\n", "has no command"},
        BadScenario{"[fault f]\ncommand = AT\nsplit = halves\n", "bad value 'halves'"},
        BadScenario{"[call 0811]\nresult = maybe\n", "expected OK, NO CARRIER"},
        BadScenario{"[modem]\ncard = Z\n", "card 'Z', which is not defined"},
        BadScenario{"key = 1\n", "before the first [section]"},
        BadScenario{"[weird]\n", "unknown section kind 'weird'"}));

struct CutCase {
  const char* split;
  const char* bytes;
  std::vector<size_t> cuts;
};
MODEMSIM_ROW_NAME(CutCase, split)


class FaultCuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(FaultCuts, FallWhereTheRuleSays) {
  FaultRule r;
  r.Set("command", "AT");
  r.Set("split", GetParam().split);
  EXPECT_EQ(CutPositions(GetParam().bytes, r), GetParam().cuts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FaultCuts,
    ::testing::Values(CutCase{"whole", "\r\n+CSQ: 9,0\r\n\r\nOK\r\n", {}},
                      CutCase{"lines", "\r\n+CSQ: 9,0\r\n\r\nOK\r\n", {2, 13, 15}},
                      CutCase{"bytes", "\r\nOK", {1, 2, 3}},
                      CutCase{"at 9, 3, 3, 0, 99", "\r\n+WIND: 1\r\n", {3, 9}}));

TEST(FaultRule, ShapesNoiseAndAnUnsolicitedLineIntoTheReply) {
  FaultRule r;
  r.Set("command", "AT+CSQ");
  r.noise = std::string("\0~", 2);
  r.Set("unsolicited", "+WIND: 1");
  r.Set("unsolicited_at", "inside");
  r.Set("delay_ms", "40");
  r.Set("split", "at 3");
  r.Set("pause_ms", "5");
  const std::vector<TimedChunk> chunks = ShapeOutput("\r\n+CSQ: 9,0\r\n\r\nOK\r\n", &r);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].after.count(), 40);
  EXPECT_EQ(chunks[1].after.count(), 5);
  EXPECT_EQ(chunks[0].bytes + chunks[1].bytes,
            std::string("\0~\r\n+CSQ: 9,0\r\n\r\n+WIND: 1\r\n\r\nOK\r\n", 33));
  EXPECT_EQ(chunks[0].bytes.size(), 3u);
}

TEST(FaultRule, CountsSkipAndTimes) {
  FaultRule r;
  r.Set("command", "at+cimi");
  r.Set("skip", "1");
  r.Set("times", "2");
  EXPECT_TRUE(r.Matches("AT+CIMI"));
  EXPECT_FALSE(r.Matches("AT+CSQ"));
  std::vector<bool> bites;
  for (int i = 0; i < 5; ++i) bites.push_back(r.Consume());
  EXPECT_EQ(bites, (std::vector<bool>{false, true, true, false, false}));
}

TEST(SimText, EscapeRoundTrips) {
  const std::string bytes("AT\r\n\x1a\x1b\"\\\x7f", 9);
  EXPECT_EQ(Escape(bytes), "AT\\r\\n\\x1a\\x1b\\\"\\\\\\x7f");
  EXPECT_EQ(Unescape(Escape(bytes)), bytes);
  EXPECT_EQ(Unescape("\\z\\e\\q"), "\x1a\x1b\\q");
}

}  // namespace
}  // namespace modemsim
