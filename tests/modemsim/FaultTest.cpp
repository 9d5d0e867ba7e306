// Injected faults: wrong results the first k times or always, silence, late
// answers, replies cut into chunks (each border visible in the transcript as
// a write of its own), unsolicited lines before, inside or after a reply,
// noise, and hang-ups.
#include "TestNames.h"
#include "SimFixture.h"

#include "FaultRule.h"

namespace modemsim_test {
namespace {

const char* const kPlain = "csq = 17,3\nwind = 1\ncard = A\n[card A]\n";

modemsim::FaultRule Rule(std::initializer_list<std::pair<const char*, const char*>> keys) {
  modemsim::FaultRule r;
  for (const auto& [k, v] : keys) r.Set(k, v);
  return r;
}

// The modem's writes from transcript entry `from` on.
std::vector<std::string> WritesSince(const modemsim::Transcript& t, size_t from) {
  std::vector<std::string> out;
  const auto entries = t.Entries();
  for (size_t i = from; i < entries.size(); ++i)
    if (entries[i].direction == modemsim::Direction::FromModem) out.push_back(entries[i].bytes);
  return out;
}

class Faults : public SimFixture {
 protected:
  void SetUp() override {
    Start(kPlain);
    ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  }
};

TEST_F(Faults, ErrorTheFirstTimesThenTheRealAnswer) {
  modem->AddFault(Rule({{"command", "AT+CSQ"}, {"times", "2"}, {"reply", "error"}}));
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\nERROR\r\n");
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\nERROR\r\n");
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\n+CSQ: 17,3\r\n\r\nOK\r\n");
}

TEST_F(Faults, CmeErrorAlwaysAndOnlyOnTheMatchingCommand) {
  modem->AddFault(Rule({{"command", "at+cimi"}, {"reply", "cme 515"}}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\n+CME ERROR: 515\r\n");
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\n+CSQ: 17,3\r\n\r\nOK\r\n");
  modem->ClearFaults();
  EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\n510109900000001\r\n\r\nOK\r\n");
}

TEST_F(Faults, SilentCommandIsNotExecutedNorAnswered) {
  modem->AddFault(Rule({{"command", "ATE1"}, {"times", "1"}, {"reply", "silent"}}));
  host->Send("ATE1\r");
  EXPECT_EQ(host->ReadFor(120ms), "");
  EXPECT_EQ(host->Command("AT\r"), "\r\nOK\r\n");  // still no echo
}

TEST_F(Faults, LateAnswerComesAfterTheDelay) {
  modem->AddFault(Rule({{"command", "AT+CSQ"}, {"delay_ms", "150"}}));
  host->Send("AT+CSQ\r");
  EXPECT_EQ(host->ReadFor(60ms), "");
  EXPECT_EQ(host->ReadFinal(), "\r\n+CSQ: 17,3\r\n\r\nOK\r\n");
  const auto entries = modem->Transcript().Entries();
  long long sent = -1, answered = -1;
  for (const auto& e : entries) {
    if (e.direction == modemsim::Direction::ToModem && e.bytes == "AT+CSQ\r") sent = e.ms;
    if (e.direction == modemsim::Direction::FromModem && e.bytes.find("+CSQ") != std::string::npos)
      answered = e.ms;
  }
  ASSERT_GE(sent, 0);
  EXPECT_GE(answered - sent, 140);
}

struct SplitCase {
  const char* split;
  std::vector<std::string> writes;
};
MODEMSIM_ROW_NAME(SplitCase, split)


class Splits : public Faults, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(Splits, PutEachChunkBorderWhereAsked) {
  modem->AddFault(Rule({{"command", "AT+CSQ"}, {"split", GetParam().split}, {"pause_ms", "3"}}));
  const size_t mark = modem->Transcript().Entries().size();
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\n+CSQ: 17,3\r\n\r\nOK\r\n");
  EXPECT_EQ(WritesSince(modem->Transcript(), mark), GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Splits,
    ::testing::Values(
        SplitCase{"whole", {"\r\n+CSQ: 17,3\r\n\r\nOK\r\n"}},
        SplitCase{"lines", {"\r\n", "+CSQ: 17,3\r\n", "\r\n", "OK\r\n"}},
        SplitCase{"at 3,9", {"\r\n+", "CSQ: 1", "7,3\r\n\r\nOK\r\n"}},
        SplitCase{"bytes", {"\r", "\n", "+", "C", "S", "Q", ":", " ", "1", "7", ",", "3", "\r",
                            "\n", "\r", "\n", "O", "K", "\r", "\n"}}));

struct UrcCase {
  const char* at;
  const char* reply;
};
MODEMSIM_ROW_NAME(UrcCase, at)


class UnsolicitedInReply : public Faults, public ::testing::WithParamInterface<UrcCase> {};

TEST_P(UnsolicitedInReply, StandsWhereAsked) {
  modem->AddFault(Rule({{"command", "AT+CSQ"}, {"unsolicited", "+CMTI: \"SM\",3"},
                        {"unsolicited_at", GetParam().at}}));
  host->Send("AT+CSQ\r");
  EXPECT_EQ(host->ReadUntil(GetParam().reply), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnsolicitedInReply,
    ::testing::Values(
        UrcCase{"before", "\r\n+CMTI: \"SM\",3\r\n\r\n+CSQ: 17,3\r\n\r\nOK\r\n"},
        UrcCase{"inside", "\r\n+CSQ: 17,3\r\n\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n"},
        UrcCase{"after", "\r\n+CSQ: 17,3\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n"}));

// A modem puts an unsolicited line between whole lines only: a reply that is
// a final result alone gets it after that result, never inside its word.
TEST_F(Faults, AnUnsolicitedLineInsideAOneLineReplyFollowsIt) {
  modem->AddFault(Rule({{"command", "AT+CMEE"}, {"unsolicited", "+CMTI: \"SM\",3"}, {"unsolicited_at", "inside"}}));
  const std::string expected = "\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n";
  host->Send("AT+CMEE=0\r");
  EXPECT_EQ(host->ReadUntil(expected), expected);
}

TEST_F(Faults, NoiseGoesAheadOfTheReply) {
  modemsim::FaultRule r = Rule({{"command", "AT"}, {"times", "1"}});
  r.noise = std::string("\0\xff~", 3);
  modem->AddFault(r);
  EXPECT_EQ(host->Command("AT\r"), std::string("\0\xff~\r\nOK\r\n", 9));
}

TEST_F(Faults, ControlNoiseAndUnsolicitedLinesGoOutAtOnce) {
  modem->SendRaw(std::string("\x13\x00", 2));
  modem->SendUnsolicited("+WIND: 10");
  EXPECT_EQ(host->ReadUntil("+WIND: 10\r\n"), std::string("\x13\0\r\n+WIND: 10\r\n", 15));
}

TEST_F(Faults, FaultsCanShapeTheUnsolicitedLinesACommandLeadsTo) {
  // The card report after a reset, cut after "+WIND:" so its line end comes late.
  modem->AddFault(Rule({{"command", "AT+CFUN=1"}, {"applies", "urc"}, {"split", "at 8"},
                        {"pause_ms", "40"}}));
  const size_t mark = modem->Transcript().Entries().size();
  EXPECT_EQ(host->Command("AT+CFUN=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("\r\n+WIND: 1\r\n"), "\r\n+WIND: 1\r\n");
  EXPECT_EQ(WritesSince(modem->Transcript(), mark),
            (std::vector<std::string>{"\r\nOK\r\n", "\r\n+WIND:", " 1\r\n"}));
}

TEST_F(Faults, HangUpBeforeTheReplyUnplugsTheModem) {
  modem->AddFault(Rule({{"command", "AT+CSQ"}, {"hangup", "before"}}));
  host->Send("AT+CSQ\r");
  EXPECT_TRUE(host->LineGone());
  EXPECT_EQ(host->ReadFor(0ms), "");
  EXPECT_FALSE(modem->Status().plugged);
  EXPECT_THROW(modem->HangUp(), std::invalid_argument);
  const std::string before = modem->DevicePath();
  modem->ClearFaults();
  modem->Reconnect();
  ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.restarts >= 2; }, 2s));
  host = std::make_unique<HostPort>(modem->DevicePath());
  EXPECT_EQ(host->Command("AT\r"), "AT\r\r\nOK\r\n");  // powered up afresh: echo on
  EXPECT_THROW(modem->Reconnect(), std::invalid_argument);
  (void)before;
}

TEST_F(Faults, HangUpAfterTheReplyAndComeBack) {
  modem->AddFault(
      Rule({{"command", "AT+CSQ"}, {"times", "1"}, {"hangup", "after"}, {"reconnect_ms", "50"}}));
  host->Send("AT+CSQ\r");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\n+CSQ: 17,3\r\n\r\nOK\r\n");
  EXPECT_TRUE(host->LineGone());
  ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.plugged && s.restarts >= 2; }, 2s));
  host = std::make_unique<HostPort>(modem->DevicePath());
  EXPECT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
}

TEST_F(Faults, AGoneSilentModemSendsNothingUntilItTalksAgain) {
  modem->SetSilent(true);
  host->Send("AT\r");
  EXPECT_EQ(host->ReadFor(100ms), "");
  EXPECT_TRUE(modem->Transcript().WaitHost("AT\r", 1s));
  modem->SetSilent(false);
  EXPECT_EQ(host->Command("AT\r"), "\r\nOK\r\n");
}

}  // namespace
}  // namespace modemsim_test
