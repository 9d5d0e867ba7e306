// The plain AT dialogue on a real pseudo-terminal: framing, echo, error
// reporting, identification, the reset's reboot with its "+WIND:" lines,
// and the SIM Toolkit facility's settings.
#include "TestNames.h"
#include "SimFixture.h"

namespace modemsim_test {
namespace {

const char* const kCardScenario =
    "csq = 17,3\n"
    "card = A\n"
    "[card A]\n"
    "imsi = 510101234567891\n";

struct Exchange {
  const char* command;
  const char* reply;
};
MODEMSIM_ROW_NAME(Exchange, command)


class PlainCommands : public SimFixture, public ::testing::WithParamInterface<Exchange> {};

TEST_P(PlainCommands, AnswerAsTheModemsDo) {
  Start(kCardScenario);
  ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(host->Command(GetParam().command), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlainCommands,
    ::testing::Values(
        Exchange{"AT\r", "\r\nOK\r\n"},
        Exchange{"at\r", "\r\nOK\r\n"},
        Exchange{"AT+CGMI\r", "\r\nWAVECOM MODEM\r\n\r\nOK\r\n"},
        Exchange{"AT+CGMM\r", "\r\nMULTIBAND  900E  1800\r\n\r\nOK\r\n"},
        Exchange{"AT+CGMR\r", "\r\n641b09gg.Q2403A 1320676 061804 14:38\r\n\r\nOK\r\n"},
        Exchange{"AT+CGSN\r", "\r\n352099000000001\r\n\r\nOK\r\n"},
        Exchange{"ATI\r", "\r\nWAVECOM MODEM\r\nMULTIBAND  900E  1800\r\n\r\nOK\r\n"},
        Exchange{"ATI0\r", "\r\nWAVECOM MODEM\r\nMULTIBAND  900E  1800\r\n\r\nOK\r\n"},
        Exchange{"ATI3\r", "\r\n641b09gg.Q2403A 1320676 061804 14:38\r\n\r\nOK\r\n"},
        Exchange{"ATI4\r", "\r\nQ:0 V:1 S0:000 S2:043 S3:013 S4:010 S5:008\r\n"
                            "+CR:0 +CRC:0 +CMEE:0 +CBST:0,0,1\r\n+SPEAKER:0 +ECHO:0,1 &C:1 &D:2 %C:0\r\n"
                            "+IPR:115200 +ICF:3,4 +IFC:2,2\r\n\r\nOK\r\n"},
        Exchange{"ATI6\r", "\r\nDATA RATES: AUTOBAUD,300,1200,1200/75,2400,4800,9600,14400\r\n"
                            "DATA MODES: T/NT,ASYNCHRONOUS\r\nFAX CLASS 1,2\r\n\r\nOK\r\n"},
        Exchange{"ATI7\r", "\r\nSPEECH CODINGS: FR,EFR,HR\r\n\r\nOK\r\n"},
        Exchange{"ATI9\r", "\r\nOK\r\n"},
        Exchange{"AT+CGMI=?\r", "\r\nOK\r\n"},
        Exchange{"AT+GMI\r", "\r\nWAVECOM MODEM\r\n\r\nOK\r\n"},
        Exchange{"AT+CSQ\r", "\r\n+CSQ: 17,3\r\n\r\nOK\r\n"},
        Exchange{"at+csq\r", "\r\n+CSQ: 17,3\r\n\r\nOK\r\n"},
        Exchange{"AT+CIMI\r", "\r\n510101234567891\r\n\r\nOK\r\n"},
        Exchange{"AT+CMEE?\r", "\r\n+CMEE: 0\r\n\r\nOK\r\n"},
        Exchange{"AT+CMGF?\r", "\r\n+CMGF: 1\r\n\r\nOK\r\n"},
        Exchange{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n"},
        Exchange{"AT+CSCS=?\r", "\r\n+CSCS: (\"GSM\",\"PCCP437\",\"CUSTOM\",\"HEX\")\r\n\r\nOK\r\n"},
        Exchange{"AT+CFUN?\r", "\r\n+CFUN: 1\r\n\r\nOK\r\n"},
        Exchange{"AT+WIND?\r", "\r\n+WIND: 0\r\n\r\nOK\r\n"},
        Exchange{"AT+STSF?\r", "\r\n+STSF: 0,\"1F6BFFFF1F\",3,1\r\n\r\nOK\r\n"},
        Exchange{"AT+STGI=0\r", "\r\nERROR\r\n"},
        Exchange{"AT+CMEE=1;+STGI=0\r", "\r\n+CME ERROR: 4\r\n"},
        Exchange{"AT+CMEE=1\r", "\r\nOK\r\n"},
        Exchange{"AT+CREG?\r", "\r\n+CREG: 0,1\r\n\r\nOK\r\n"},
        Exchange{"ATS3?\r", "\r\n013\r\n\r\nOK\r\n"},
        Exchange{"AT+NOSUCH\r", "\r\nERROR\r\n"},
        Exchange{"ATE0V1&C1&D2\r", "\r\nOK\r\n"}));

TEST_F(SimFixture, EchoIsOnByDefaultAndAResetRestoresIt) {
  Start(kCardScenario);
  EXPECT_EQ(host->Command("AT\r"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CFUN=1\r"), "\r\nOK\r\n");
  WaitRestarts(2);
  EXPECT_EQ(host->Command("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(SimFixture, AStrayLineFeedAfterTheCarriageReturnIsIgnored) {
  Start(kCardScenario);
  host->Send("ATE0\r\nAT\r\n");
  EXPECT_EQ(host->ReadUntil("OK\r\n\r\nOK\r\n"), "ATE0\r\n\r\nOK\r\n\r\nOK\r\n");
  EXPECT_EQ(host->Command("ATE1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT\r"), "AT\r\r\nOK\r\n");
  host->Send("\n");  // an LF of its own, after the answer: echoed, nothing else
  EXPECT_EQ(host->ReadUntil("\n"), "\n");
  EXPECT_EQ(host->ReadFor(50ms), "");
}

TEST_F(SimFixture, ErrorCodesShowOnlyAfterCmeeAndAResetHidesThemAgain) {
  Start("");  // no card in the holder
  ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\nERROR\r\n");
  EXPECT_EQ(host->Command("AT+CMEE=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\n+CME ERROR: 10\r\n");
  EXPECT_EQ(host->Command("AT+CMEE=2\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\n+CME ERROR: SIM not inserted\r\n");
  EXPECT_EQ(host->Command("AT+CFUN=1\r"), "\r\nOK\r\n");
  WaitRestarts(2);
  EXPECT_EQ(host->Command("ATE0;+CIMI\r"), "ATE0;+CIMI\r\r\nERROR\r\n");
}

TEST_F(SimFixture, CpinReplyCarriesNoFinalResultInThisFamily) {
  Start(kCardScenario);
  host->Command("ATE0\r");
  host->Send("AT+CPIN?\r");
  EXPECT_EQ(host->ReadUntil("READY\r\n"), "\r\n+CPIN: READY\r\n");
  EXPECT_EQ(host->ReadFor(150ms), "");
}

TEST_F(SimFixture, CpinOkCanBeAskedFor) {
  Start(std::string("cpin_ok = 1\n") + kCardScenario);
  host->Command("ATE0\r");
  EXPECT_EQ(host->Command("AT+CPIN?\r"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
}

TEST_F(SimFixture, ResetRebootsAndReportsWhatTheWindMaskEnables) {
  Start(kCardScenario);
  host->Command("ATE0\r");
  // bits 0, 2, 3, 6 and 14: presence, emergency-ready, ready, network, SMS.
  EXPECT_EQ(host->Command("AT+WIND=16461\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CFUN=1\r"), "\r\nOK\r\n");
  const std::string boot = host->ReadUntil("+WIND: 16\r\n");
  EXPECT_EQ(boot, "\r\n+WIND: 1\r\n\r\n+WIND: 3\r\n\r\n+WIND: 7\r\n\r\n+WIND: 4\r\n\r\n+WIND: 16\r\n");
  // Echo is back on after the reset; the mask survived it.
  EXPECT_EQ(host->Command("AT+WIND?\r"), "AT+WIND?\r\r\n+WIND: 16461\r\n\r\nOK\r\n");
}

TEST_F(SimFixture, ResetWithoutACardReportsItMissing) {
  Start("wind = 9\n");
  host->Command("ATE0\r");
  host->Command("AT+CFUN=1\r");
  EXPECT_EQ(host->ReadUntil("+WIND: 4\r\n"), "\r\n+WIND: 0\r\n\r\n+WIND: 4\r\n");
}

// Modems with hardware rack detection (AT+WIND bit 12) report the rack
// ahead of the SIM: closed with a card in it, open once it is taken out.
TEST_F(SimFixture, TheRackIsReportedAheadOfTheSimWhenTheMaskAsks) {
  Start(kCardScenario);
  host->Command("ATE0\r");
  EXPECT_EQ(host->Command("AT+WIND=4105\r"), "\r\nOK\r\n");  // bits 0, 3 and 12
  EXPECT_EQ(host->Command("AT+CFUN=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("+WIND: 4\r\n"), "\r\n+WIND: 13\r\n\r\n+WIND: 1\r\n\r\n+WIND: 4\r\n");
  modem->RemoveCard();
  EXPECT_EQ(host->ReadUntil("+WIND: 0\r\n"), "\r\n+WIND: 14\r\n\r\n+WIND: 0\r\n");
  modem->InsertCard("A");
  EXPECT_EQ(host->ReadUntil("+WIND: 4\r\n"), "\r\n+WIND: 13\r\n\r\n+WIND: 1\r\n\r\n+WIND: 4\r\n");
}

TEST_F(SimFixture, CommandsSentDuringTheRebootAreAnsweredAfterIt) {
  Start(std::string("restart_ms = 400\n") + kCardScenario);
  host->Command("ATE0\r");
  host->Send("AT+CFUN=1\r");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\nOK\r\n");
  host->Send("AT+CSQ\r");
  EXPECT_EQ(host->ReadFor(60ms), "");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "AT+CSQ\r\r\n+CSQ: 17,3\r\n\r\nOK\r\n");
}

TEST_F(SimFixture, ARebootCanLoseWhatIsSentMeanwhile) {
  Start(std::string("restart_ms = 400\nrestart_input = drop\n") + kCardScenario);
  host->Command("ATE0\r");
  host->Command("AT+CFUN=1\r");
  host->Send("AT+CSQ\r");
  WaitRestarts(2);
  EXPECT_EQ(host->ReadFor(100ms), "");
  EXPECT_EQ(host->Command("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(SimFixture, LateOkFirmwareSendsTheOkWithTheFirstWindLine) {
  Start(std::string("cfun_ok = after\nwind = 1\n") + kCardScenario);
  host->Command("ATE0\r");
  host->Send("AT+CFUN=1\r");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\n+WIND: 1\r\n\r\nOK\r\n");
  bool oneWrite = false;  // the OK stands in the same chunk as the line
  for (const auto& e : modem->Transcript().Entries())
    oneWrite = oneWrite || (e.direction == modemsim::Direction::FromModem &&
                            e.bytes == "\r\n+WIND: 1\r\n\r\nOK\r\n");
  EXPECT_TRUE(oneWrite);
}

// The reboot of AT+CFUN=1 as the field shows it: the OK before the reboot
// or at its end (after its first "+WIND:" line, ahead of its lines or
// behind them, in the same write or another), and what the host sends
// meanwhile held for after the reboot or lost. A held command is read
// before the reboot's lines, so its echo never stands behind lines that
// came after it.
struct RebootCase {
  std::string name;
  std::string keys;                 // [modem] keys, and a [fault] section
  std::vector<std::string> writes;  // the modem's writes from the restart on
};
inline void PrintTo(const RebootCase& row, std::ostream* os) { *os << row.name; }

class RebootVariants : public SimFixture, public ::testing::WithParamInterface<RebootCase> {};

TEST_P(RebootVariants, AnswerAroundTheRebootAsTheFieldDoes) {
  Start("restart_ms = 1000\nwind = 1\nstsf = 1\nsim_init_ms = 0\nmenu_ms = 0\n" + GetParam().keys +
        "\n" + kCardScenario + "menu = m\n[node m]\ntype = menu\ntitle = T\nitem.1 = X -> e\n" +
        "[node e]\ntype = end\n");
  ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  host->Send("AT+CFUN=1\r");
  ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.booting; }, 2s));
  host->Send("AT+CSQ\r");  // in the middle of the reboot
  WaitRestarts(2);
  std::string expected;
  for (const std::string& w : GetParam().writes) expected += w;
  EXPECT_EQ(host->ReadUntil(expected, 3s) + host->ReadFor(200ms), expected);
  std::vector<std::string> writes;
  bool restarted = false;
  for (const auto& e : modem->Transcript().Entries()) {
    if (e.direction == modemsim::Direction::Event && e.bytes == "restart") restarted = true;
    if (restarted && e.direction == modemsim::Direction::FromModem) writes.push_back(e.bytes);
  }
  EXPECT_EQ(writes, GetParam().writes);
}

const std::string kHeldEcho = "AT+CSQ\r";
const std::string kHeldAnswer = "\r\n+CSQ: 17,3\r\n\r\nOK\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, RebootVariants,
    ::testing::Values(
        RebootCase{"ok_before_input_held", "",
                   {"\r\nOK\r\n", kHeldEcho, kHeldAnswer, "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n"}},
        RebootCase{"ok_before_input_lost", "restart_input = drop",
                   {"\r\nOK\r\n", "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n"}},
        RebootCase{"ok_after_wind_input_held", "cfun_ok = after",
                   {kHeldEcho, kHeldAnswer, "\r\n+WIND: 1\r\n\r\nOK\r\n\r\n+STIN: 0\r\n"}},
        RebootCase{"ok_after_wind_input_lost", "cfun_ok = after\nrestart_input = drop",
                   {"\r\n+WIND: 1\r\n\r\nOK\r\n\r\n+STIN: 0\r\n"}},
        RebootCase{"ok_first_input_held", "cfun_ok = first",
                   {kHeldEcho, kHeldAnswer, "\r\nOK\r\n\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n"}},
        RebootCase{"ok_first_input_lost", "cfun_ok = first\nrestart_input = drop",
                   {"\r\nOK\r\n\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n"}},
        RebootCase{"ok_last_input_held", "cfun_ok = last",
                   {kHeldEcho, kHeldAnswer, "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n\r\nOK\r\n"}},
        RebootCase{"ok_last_input_lost", "cfun_ok = last\nrestart_input = drop",
                   {"\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n\r\nOK\r\n"}},
        // The late OK in a write of its own, after the card's first line.
        RebootCase{"ok_after_wind_in_another_write",
                   "cfun_ok = after\nrestart_input = drop\n"
                   "[fault apart]\ncommand = AT+CFUN=1\napplies = urc\nsplit = at 12\npause_ms = 100\n"
                   "[modem]",
                   {"\r\n+WIND: 1\r\n", "\r\nOK\r\n\r\n+STIN: 0\r\n"}}));

TEST_F(SimFixture, ToolkitActivationIsStoredAndTakesEffectAtTheNextReset) {
  Start(std::string(kCardScenario) +
        "menu = m\n[node m]\ntype = menu\ntitle = T\nitem.1 = X -> e\n[node e]\ntype = end\n");
  host->Command("ATE0\r");
  EXPECT_EQ(host->Command("AT+CMEE=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+STSF=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+STGI=0\r"), "\r\n+CME ERROR: 4\r\n");
  EXPECT_EQ(host->Command("AT+STSF=2,\"5FFFFFFF7F\",5,0\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+STSF?\r"), "\r\n+STSF: 1,\"5FFFFFFF7F\",5,0\r\n\r\nOK\r\n");
  host->Command("AT+CFUN=1\r");
  EXPECT_NE(host->ReadUntil("+STIN: 0\r\n").find("\r\n+STIN: 0\r\n"), std::string::npos);
  EXPECT_EQ(host->Command("AT+STSF?\r"), "AT+STSF?\r\r\n+STSF: 1,\"5FFFFFFF7F\",5,0\r\n\r\nOK\r\n");
  host->Command("ATE0\r");
  EXPECT_EQ(host->Command("AT+STSF=0\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+STGI=0\r"), "\r\n+STGI: \"T\"\r\n+STGI: 1,1,\"X\",0\r\n\r\nOK\r\n");
}

class BadStsf : public SimFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadStsf, IsRefusedAsAWrongParameter) {
  Start(kCardScenario);
  host->Command("ATE0\r");
  host->Command("AT+CMEE=1\r");
  EXPECT_EQ(host->Command(GetParam()), "\r\n+CME ERROR: 3\r\n");
  EXPECT_EQ(host->Command("AT+STSF?\r"), "\r\n+STSF: 0,\"1F6BFFFF1F\",3,1\r\n\r\nOK\r\n");
}

INSTANTIATE_TEST_SUITE_P(Table, BadStsf,
                         ::testing::Values("AT+STSF=3\r", "AT+STSF=2,\"FFFFFFFFFF\"\r",
                                           "AT+STSF=2,\"150060C01F\"\r", "AT+STSF=2,\"1F6B\"\r",
                                           "AT+STSF=2,,0\r", "AT+STSF=2,,256\r",
                                           "AT+STSF=1,,3,2\r", "AT+STSF=x\r"));

}  // namespace
}  // namespace modemsim_test
