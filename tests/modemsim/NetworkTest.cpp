// What the network answers through the modem: voice calls, SMS in text and
// PDU mode, and USSD, as the scenario says.
#include "FaultRule.h"
#include "SimFixture.h"
#include "TestNames.h"

namespace modemsim_test {
namespace {

const char* const kNetwork =
    "card = A\n"
    "[card A]\n"
    "[call 0811]\ndelay_ms = 20\n"
    "[call 0812]\nresult = BUSY\n"
    "[call 0813]\nresult = NO ANSWER\ndelay_ms = 30\n"
    "[call 0814]\nresult = NO CARRIER\n"
    "[call 0815]\nresult = ERROR\n"
    "[call 0816]\ndrop_ms = 60\n"
    "[call *]\nresult = NO CARRIER\ndelay_ms = 10\n"
    "[sms *]\ndelay_ms = 20\n"
    "[sms 0899]\nresult = CMS 500\n"
    "[sms 0898]\nresult = ERROR\n"
    "[ussd *888#]\ntext = Sisa pulsa Rp 5.000, aktif s/d 31-12-2025\\nInfo *888*1#\ndelay_ms = 30\n"
    "[ussd *9#]\ntext = Hi\ndelay_ms = 10\n"
    "[ussd *100#]\nstatus = 2\ndelay_ms = 10\n"
    "[ussd *101#]\nstatus = none\n"
    "[ussd *]\ndelay_ms = 10\n";

class Network : public SimFixture {
 protected:
  void SetUp() override {
    Start(kNetwork);
    ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  }
};

struct DialCase {
  const char* command;
  const char* reply;
  bool upAfterwards;
};
MODEMSIM_ROW_NAME(DialCase, command)


class Dialling : public Network, public ::testing::WithParamInterface<DialCase> {};

TEST_P(Dialling, EndsAsTheScenarioSays) {
  EXPECT_EQ(host->Command(GetParam().command), GetParam().reply);
  const bool up = GetParam().upAfterwards;
  EXPECT_TRUE(modem->WaitFor([up](const modemsim::ModemStatus& s) { return s.inCall == up; }, 1s));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dialling,
    ::testing::Values(DialCase{"ATD0811;\r", "\r\nOK\r\n", true},
                      DialCase{"ATD0812;\r", "\r\nBUSY\r\n", false},
                      DialCase{"ATD0813;\r", "\r\nNO ANSWER\r\n", false},
                      DialCase{"ATD0814;\r", "\r\nNO CARRIER\r\n", false},
                      DialCase{"ATD0815;\r", "\r\nERROR\r\n", false},
                      DialCase{"ATD0700;\r", "\r\nNO CARRIER\r\n", false},
                      DialCase{"ATD0811\r", "\r\nNO CARRIER\r\n", false},  // data call
                      DialCase{"ATD;\r", "\r\nERROR\r\n", false}));

TEST_F(Network, ACallStaysUpUntilHangUp) {
  EXPECT_EQ(host->Command("ATD0811;\r"), "\r\nOK\r\n");
  ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.inCall; }, 1s));
  EXPECT_EQ(host->ReadFor(100ms), "");
  EXPECT_EQ(host->Command("AT+CMEE=1;D0812;\r"), "\r\n+CME ERROR: 3\r\n");  // one call at a time
  EXPECT_EQ(host->Command("ATH\r"), "\r\nOK\r\n");
  EXPECT_FALSE(modem->Status().inCall);
}

TEST_F(Network, TheNetworkCanDropACall) {
  EXPECT_EQ(host->Command("ATD0816;\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(modem->Status().inCall);
}

TEST_F(Network, TextModeSmsPromptsAndReturnsTheMessageReference) {
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n> ");
  host->Send("Halo, apa kabar?\x1a");
  EXPECT_EQ(host->ReadFinal(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\",129\r"), "\r\n> ");
  host->Send("baris satu\rbaris dua\x1a");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\n> \r\n+CMGS: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(modem->Status().smsSent, 2);
  EXPECT_NE(modem->Transcript().HostText().find("AT+CMGS=\"0811\"\rHalo, apa kabar?\x1a"),
            std::string::npos);
}

TEST_F(Network, TextModeEchoesTheMessageWhenEchoIsOn) {
  host->Command("ATE1\r");
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "AT+CMGS=\"0811\"\r\r\n> ");
  host->Send("Hai\x1a");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "Hai\r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST_F(Network, EscapeAbortsAnSms) {
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n> ");
  host->Send("batal\x1b");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(modem->Status().smsSent, 0);
}

struct SmsFailure {
  const char* number;
  const char* reply;
};
MODEMSIM_ROW_NAME(SmsFailure, number)


class SmsFailures : public Network, public ::testing::WithParamInterface<SmsFailure> {};

TEST_P(SmsFailures, ComeAfterTheText) {
  EXPECT_EQ(host->Command(std::string("AT+CMGS=\"") + GetParam().number + "\"\r"), "\r\n> ");
  host->Send("x\x1a");
  EXPECT_EQ(host->ReadFinal(), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Table, SmsFailures,
                         ::testing::Values(SmsFailure{"0899", "\r\n+CMS ERROR: 500\r\n"},
                                           SmsFailure{"0898", "\r\nERROR\r\n"}));

TEST_F(Network, PduModeRefusesTheTextFormAndTakesAPdu) {
  EXPECT_EQ(host->Command("AT+CMGF=0\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n+CMS ERROR: 304\r\n");
  // SMS-SUBMIT to 0811, 7-bit "Hi": 11 octets after the empty SMSC part.
  EXPECT_EQ(host->Command("AT+CMGS=11\r"), "\r\n> ");
  host->Send("00010004818011000002C834\x1a");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CMGS=12\r"), "\r\n> ");
  host->Send("00010004818011000002C834\x1a");
  EXPECT_EQ(host->ReadFinal(), "\r\n+CMS ERROR: 304\r\n");
}

// The SMS mode lives in the modem's memory: a modem another program left in
// PDU mode comes back in PDU mode after every reset, until a host stores
// another mode with AT+CSAS. Each modem of a bank keeps its own.
struct ResetKind {
  const char* command;
  bool reboots;
};
MODEMSIM_ROW_NAME(ResetKind, command)

class StoredSmsMode : public SimFixture, public ::testing::WithParamInterface<ResetKind> {
 protected:
  void Reset() {
    EXPECT_EQ(host->Command(std::string(GetParam().command) + "\r"), "\r\nOK\r\n");
    if (GetParam().reboots) WaitRestarts(++restarts_);
    ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");  // a reset brings echo back
  }
  std::string Mode() { return host->Command("AT+CMGF?\r"); }
  int restarts_ = 1;
};

TEST_P(StoredSmsMode, ComesBackWithEveryResetAndCsasStoresIt) {
  Start("cmgf = 0\ncard = A\n[card A]\n[sms *]\ndelay_ms = 20\n[modem 2]\ncmgf = 1\n", 2);
  ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  const std::string pdu = "\r\n+CMGF: 0\r\n\r\nOK\r\n";
  const std::string text = "\r\n+CMGF: 1\r\n\r\nOK\r\n";
  EXPECT_EQ(Mode(), pdu);
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(host->Command("AT+CMGF=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n> ");
  host->Send("Hai\x1a");
  EXPECT_EQ(host->ReadFinal(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");

  Reset();  // the stored mode is back
  EXPECT_EQ(Mode(), pdu);
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n+CMS ERROR: 304\r\n");

  EXPECT_EQ(host->Command("AT+CMGF=1;+CSAS\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CMGF=0\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CRES\r"), "\r\nOK\r\n");  // back to what was stored
  EXPECT_EQ(Mode(), text);
  EXPECT_EQ(host->Command("AT+CMGF=0\r"), "\r\nOK\r\n");
  Reset();
  EXPECT_EQ(Mode(), text);
  EXPECT_EQ(modem->Status().cmgf, 1);

  // The other modem of the bank keeps its own mode.
  modemsim::Modem& other = bank->At(1);
  ASSERT_TRUE(other.WaitFor([](const modemsim::ModemStatus& s) { return s.settled; }, 2s));
  HostPort otherHost(other.DevicePath());
  EXPECT_EQ(otherHost.Command("AT+CMGF?\r"), "AT+CMGF?\r" + text);
}

INSTANTIATE_TEST_SUITE_P(Table, StoredSmsMode,
                         ::testing::Values(ResetKind{"AT+CFUN=1", true}, ResetKind{"ATZ", false}));

TEST_F(Network, SmsWithoutACardIsRefused) {
  modem->RemoveCard();
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n+CMS ERROR: 310\r\n");
}

TEST_F(Network, UssdAnswerFollowsTheOkWithCommasAndALineBreak) {
  EXPECT_EQ(host->Command("AT+CUSD=1,\"*888#\",15\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadLine("+CUSD:"),
            "\r\n+CUSD: 0,\"Sisa pulsa Rp 5.000, aktif s/d 31-12-2025\nInfo *888*1#\",15\r\n");
}

struct UssdCase {
  const char* command;
  const char* unsolicited;  // "" when nothing may come
};
MODEMSIM_ROW_NAME(UssdCase, command)


class UssdAnswers : public Network, public ::testing::WithParamInterface<UssdCase> {};

TEST_P(UssdAnswers, AreWhatTheNetworkSends) {
  EXPECT_EQ(host->Command(GetParam().command), "\r\nOK\r\n");
  const std::string expected = GetParam().unsolicited;
  if (expected.empty()) EXPECT_EQ(host->ReadFor(150ms), "");
  else EXPECT_EQ(host->ReadUntil(expected), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UssdAnswers,
    ::testing::Values(UssdCase{"AT+CUSD=1,\"*100#\"\r", "\r\n+CUSD: 2\r\n"},
                      UssdCase{"AT+CUSD=1,\"*555#\",15\r", "\r\n+CUSD: 4\r\n"},
                      UssdCase{"AT+CUSD=1,\"*101#\"\r", ""},
                      UssdCase{"AT+CUSD=0,\"*888#\"\r", ""},  // result codes disabled
                      UssdCase{"AT+CUSD=2\r", ""}));

// A fault rule plays the network's side for one card or one moment: the
// call it bites on is dropped, the USSD request it bites on refused (with
// or without a text of the network's own), the SMS it bites on refused once
// its text is in; the rule's last bite lets the scenario answer again.
TEST_F(Network, AFaultRulePlaysTheNetworkForTheCommandsItBitesOn) {
  modemsim::FaultRule drop;
  for (const auto& [k, v] : {std::pair{"command", "ATD0811"}, {"drop_ms", "40"}, {"times", "1"}}) drop.Set(k, v);
  modemsim::FaultRule refuse;
  for (const auto& [k, v] : {std::pair{"command", "AT+CUSD"}, {"ussd_status", "4"}, {"times", "2"}}) refuse.Set(k, v);
  modem->AddFault(drop);
  modem->AddFault(refuse);
  EXPECT_EQ(host->Command("ATD0811;\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(modem->Status().inCall);
  EXPECT_EQ(host->Command("ATD0811;\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadFor(150ms), "");  // the scenario's call stays up
  EXPECT_EQ(host->Command("ATH\r"), "\r\nOK\r\n");

  EXPECT_EQ(host->Command("AT+CUSD=1,\"*888#\"\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadLine("+CUSD:"),
            "\r\n+CUSD: 4,\"Sisa pulsa Rp 5.000, aktif s/d 31-12-2025\nInfo *888*1#\",15\r\n");
  modem->ClearFaults();
  refuse.Set("ussd_text", "Layanan tidak tersedia");
  modem->AddFault(refuse);
  EXPECT_EQ(host->Command("AT+CUSD=1,\"*888#\"\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadLine("+CUSD:"), "\r\n+CUSD: 4,\"Layanan tidak tersedia\",15\r\n");
  EXPECT_EQ(host->Command("AT+CUSD=1,\"*9#\"\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadLine("+CUSD:"), "\r\n+CUSD: 4,\"Layanan tidak tersedia\",15\r\n");
  EXPECT_EQ(host->Command("AT+CUSD=1,\"*9#\"\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadLine("+CUSD:"), "\r\n+CUSD: 0,\"Hi\",15\r\n");
  modemsim::FaultRule barred;
  for (const auto& [k, v] : {std::pair{"command", "AT+CMGS=\"0811\""}, {"sms_result", "cms 21"}}) barred.Set(k, v);
  modem->AddFault(barred);
  EXPECT_EQ(host->Command("AT+CMGS=\"0811\"\r"), "\r\n> ");
  host->Send("Halo\x1a");
  EXPECT_EQ(host->ReadFinal(), "\r\n+CMS ERROR: 21\r\n");
  EXPECT_EQ(host->Command("AT+CMGS=\"0812\"\r"), "\r\n> ");
  host->Send("Halo\x1a");
  EXPECT_EQ(host->ReadFinal(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST_F(Network, HexCharsetCarriesUssdAsPackedSeptets) {
  EXPECT_EQ(host->Command("AT+CSCS=\"HEX\"\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+CUSD=1,\"2A3923\",15\r"), "\r\nOK\r\n");  // "*9#"
  EXPECT_EQ(host->ReadLine("+CUSD:"), "\r\n+CUSD: 0,\"C834\",15\r\n");
}

}  // namespace
}  // namespace modemsim_test

namespace modemsim_test {
namespace {

TEST_F(SimFixture, FirmwareThatWaitsForTheNetworkAnswersUssdBeforeItsOk) {
  Start(std::string("ussd_ok = last\n") + kNetwork);
  host->Command("ATE0\r");
  EXPECT_EQ(host->Command("AT+CUSD=1,\"*9#\"\r"), "\r\n+CUSD: 0,\"Hi\",15\r\n\r\nOK\r\n");
}

TEST_F(SimFixture, CallsShowTheirIdentifierWhenTheWindMaskAsks) {
  Start(std::string("wind = 48\n") + kNetwork);  // bits 4 and 5
  host->Command("ATE0\r");
  host->Send("ATD0811;\r");
  EXPECT_EQ(host->ReadLine("+WIND:"), "\r\nOK\r\n\r\n+WIND: 5,1\r\n");
  host->Send("ATH\r");
  EXPECT_EQ(host->ReadLine("+WIND:"), "\r\nOK\r\n\r\n+WIND: 6,1\r\n");
}

}  // namespace
}  // namespace modemsim_test
