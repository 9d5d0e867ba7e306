// The modem bring-up of the console lines against the modem simulator:
// echo off, signal, SIM Toolkit on, reset, the card's report and the IMSI,
// and how the lines meet refusals, silence and stray lines on the way.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "ScenarioSupport.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kWait = 10000;  // ms; generous for the sanitizer builds

// A test name for a command parameter: "AT+CFUN=1" becomes "AT_CFUN_1".
std::string CommandTestName(const ::testing::TestParamInfo<const char*>& info) {
  std::string n = info.param;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

// Every line of a four-line rig shows its card A's IMSI.
bool AllFourImsisRead(TScenarioRig& rig) {
  for (int n = 1; n <= 4; ++n)
    if (!ImsiRead(rig.Line(n), TScenarioRig::Imsi("A", n))) return false;
  return true;
}

// The bring-up and the menu request that follows the IMSI.
const std::vector<std::string> kBringUp = {"AT+CSQ", "AT+STSF=1", "AT+CFUN=1", "AT+CIMI", "AT+STGI=0"};

std::vector<std::string> BringUpOf(int line) {
  std::vector<std::string> c = kBringUp;
  if (line == 1) c.insert(c.begin(), "ATE0");
  return c;
}

std::vector<std::string> BringUpSent(const modemsim::Modem& m, std::size_t from = 0) {
  return FirstCommands(m, from, kBringUp.size());
}

modemsim::FaultRule Fault(const std::string& command, const std::string& key, const std::string& value,
                          int times = 0) {
  modemsim::FaultRule r;
  r.Set("command", command);
  r.Set(key, value);
  r.times = times;
  return r;
}

}  // namespace

TEST(BringUp, SwitchOnReadsTheImsiOnAllFourLinesAtOnce) {
  TScenarioRig rig(4);
  rig.Window().Form().ckOn_All->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return AllFourImsisRead(rig); }, kWait));
  for (int n = 1; n <= 4; ++n) {
    TConsoleLine& l = rig.Line(n);
    EXPECT_EQ(FirstCommands(rig.Modem(n), 0, BringUpOf(n).size()), BringUpOf(n)) << "line " << n;
    EXPECT_EQ(l.lSignal->text(), "21") << n;
    EXPECT_EQ(l.pbSignal->value(), 21) << n;
    EXPECT_EQ(l.Data.Job, ljStart) << n;
    // The log tags of the steps, in order.
    int at = 0;
    for (const char* tag : {"Signal", "F001: AT+STSF=1", "STK : ON", "F017 :", "STK ON", "Reset modem",
                            "F002 : AT+CFUN=1", "F018 : ", "Reset OK", "F032-1 :Card Exists", "F003 : AT+CIMI",
                            "Request IMSI", "F019 : ", "F019-1 IMSI : "}) {
      at = LogIndex(l, tag, at);
      ASSERT_GE(at, 0) << "line " << n << " lacks " << tag << " in order";
    }
  }
  EXPECT_TRUE(rig.central.messages.empty());
}

// What `make demo` shows: the demo bank's four modems, with their slow
// reboots, brought up and their IMSIs read.
TEST(BringUp, TheDemoModemsBringAllFourLinesUp) {
  TScenarioRig rig(4, modemsim::Scenario::Load(CORVANE_DEMO_SCENARIO));
  rig.Window().Form().ckOn_All->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return AllFourImsisRead(rig); }, 3 * kWait));
  for (int n = 1; n <= 4; ++n)
    EXPECT_EQ(FirstCommands(rig.Modem(n), 0, BringUpOf(n).size()), BringUpOf(n)) << "line " << n;
}

// "ERROR" to "ATE0", "AT+CFUN=1" and "AT+CIMI": sent again after a pause,
// and the bring-up goes on once the modem takes it.
class ErrorRetry : public ::testing::TestWithParam<const char*> {};

TEST_P(ErrorRetry, IsRetriedAfterAPauseAndTheBringUpGoesOn) {
  const std::string command = GetParam();
  TScenarioRig rig(1);
  rig.Modem(1).AddFault(Fault(command, "reply", "error", 1));
  rig.Line(1).ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(rig.Line(1), TScenarioRig::Imsi("A", 1)); }, kWait));
  const std::vector<long long> sent = CommandTimes(rig.Modem(1), command);
  ASSERT_EQ(sent.size(), 2u) << command;
  EXPECT_GE(sent[1] - sent[0], 900) << "not at once";
  EXPECT_TRUE(rig.central.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(BringUp, ErrorRetry, ::testing::Values("ATE0", "AT+CFUN=1", "AT+CIMI"),
                         CommandTestName);

// Past maxgagal refusals in a row the line says it gives up and resets.
class ErrorGiveUp : public ::testing::TestWithParam<const char*> {};

TEST_P(ErrorGiveUp, LogsAGiveUpAndResetsTheModemOnceMore) {
  const std::string command = GetParam();
  TScenarioRig rig(1);
  rig.Window().Card.maxgagal = 1;
  rig.Modem(1).AddFault(Fault(command, "reply", "error"));
  TConsoleLine& l = rig.Line(1);
  l.ckOn->setChecked(true);
  const std::string giveUp = "F035 : " + command + " refused 2 times, giving up; resetting the modem";
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, giveUp); }, kWait));
  // One retry, then the reset that follows the give-up.
  auto resetAfterSecond = [&] {
    const std::vector<std::string> sent = HostCommands(rig.Modem(1));
    const auto first = std::find(sent.begin(), sent.end(), command);
    if (first == sent.end()) return false;
    const auto second = std::find(first + 1, sent.end(), command);
    return second != sent.end() && second + 1 != sent.end() && *(second + 1) == "AT+CFUN=1";
  };
  ASSERT_TRUE(WaitUntil(resetAfterSecond, kWait));
}

INSTANTIATE_TEST_SUITE_P(BringUp, ErrorGiveUp, ::testing::Values("ATE0", "AT+CFUN=1", "AT+CIMI"),
                         CommandTestName);

TEST(BringUp, RefusedSignalAndToolkitSwitchDoNotStopTheBringUp) {
  TScenarioRig rig(2);
  for (const char* c : {"AT+CSQ", "AT+STSF=1"}) rig.Modem(2).AddFault(Fault(c, "reply", "error"));
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2)), kBringUp) << "each sent once";
  EXPECT_EQ(l.lSignal->text(), "0") << "the label keeps what it showed";
  EXPECT_TRUE(Logged(l, "STK On : error"));
}

// A bring-up command that gets no answer at all resets the modem.
class SilentModem : public ::testing::TestWithParam<const char*> {};

TEST_P(SilentModem, ResetsTheModemInsteadOfWaitingForEver) {
  const std::string command = GetParam();
  const int line = command == "ATE0" ? 1 : 2;
  TScenarioRig rig(2);
  rig.Modem(line).AddFault(Fault(command, "reply", "silent", 1));
  TConsoleLine& l = rig.Line(line);
  l.tAnswerGuard->SetInterval(400);
  l.ResetPaceMs = 200;
  l.ckOn->setChecked(true);
  const std::string noAnswer = "F034 : no answer to " + command + " in 400 ms; resetting the modem";
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, noAnswer); }, kWait));
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", line)); }, kWait));
  const std::vector<std::string> sent = HostCommands(rig.Modem(line));
  const auto silent = std::find(sent.begin(), sent.end(), command);
  ASSERT_NE(silent, sent.end());
  ASSERT_GE(sent.end() - silent, 3);
  // The sync first: a late answer to the silent command must not be read
  // as the reset's.
  EXPECT_EQ(*(silent + 1), "AT+CMEE?");
  EXPECT_EQ(*(silent + 2), "AT+CFUN=1") << "the reset follows the unanswered command";
}

INSTANTIATE_TEST_SUITE_P(BringUp, SilentModem,
                         ::testing::Values("ATE0", "AT+CSQ", "AT+STSF=1", "AT+CFUN=1", "AT+CIMI"),
                         CommandTestName);

TEST(BringUp, AnEmptyModemWaitsForItsCardWithoutTimingOut) {
  TScenarioRig rig(2);
  rig.Modem(2).RemoveCard();
  TConsoleLine& l = rig.Line(2);
  l.tAnswerGuard->SetInterval(300);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "F032-2 :Card NOT Exists"); }, kWait));
  Pump(1000);
  EXPECT_EQ(HostCommands(rig.Modem(2)), (std::vector<std::string>{"AT+CSQ", "AT+STSF=1", "AT+CFUN=1"}));
  EXPECT_EQ(l.Data.Job, ljIdle);
  EXPECT_FALSE(Logged(l, "F034"));
  rig.Modem(2).InsertCard("C");
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("C", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2), 3), kBringUp) << "the new card gets the whole bring-up";
}

// The IMSI is the digits line, whatever else the modem puts before "OK".
class ImsiAnswer : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ImsiAnswer, IsTheLineOfDigitsNeverAnUnsolicitedLine) {
  const auto [unsolicited, where] = GetParam();
  TScenarioRig rig(2);
  modemsim::FaultRule r = Fault("AT+CIMI", "unsolicited", unsolicited, 1);
  r.Set("unsolicited_at", where);
  rig.Modem(2).AddFault(r);
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait))
      << l.eISTM->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(BringUp, ImsiAnswer,
                         ::testing::Values(std::pair{"+STIN: 0", "before"}, std::pair{"+CMTI: \"SM\",3", "inside"},
                                           std::pair{"+WIND: 10", "before"}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(BringUp, AnOkWithoutAnImsiLeavesItEmptyAndGoesOn) {
  TScenarioRig rig(2);
  modemsim::FaultRule okOnly = Fault("AT+CIMI", "reply", "text", 1);
  okOnly.text = "\r\nOK\r\n";
  rig.Modem(2).AddFault(okOnly);
  TConsoleLine& l = rig.Line(2);
  l.eISTM->setText("old card");
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, ""); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2)), kBringUp);
}

class SignalGauge : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SignalGauge, ShowsTheLevelWithinItsRangeAndUnknownAsEmpty) {
  const auto [rssi, gauge] = GetParam();
  TScenarioRig rig(2);
  rig.Modem(2).SetSignal(rssi, 99);
  TConsoleLine& l = rig.Line(2);
  l.pbSignal->setValue(20);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "F001: AT+STSF=1"); }, kWait));
  EXPECT_EQ(l.lSignal->text(), QString::number(rssi));
  EXPECT_EQ(l.pbSignal->value(), gauge);
}

INSTANTIATE_TEST_SUITE_P(BringUp, SignalGauge,
                         ::testing::Values(std::pair{99, 0}, std::pair{31, 31}, std::pair{0, 0}, std::pair{40, 35}),
                         [](const auto& info) { return "rssi" + std::to_string(info.param.first); });

// Before the reset's "OK": unsolicited lines are no answer, other text is.
TEST(BringUp, OnlyUnsolicitedLinesBeforeTheResetsOkAreNoUnrecognisedAnswer) {
  TScenarioRig rig(2);
  modemsim::FaultRule r = Fault("AT+CFUN=1", "unsolicited", "+STIN: 0", 1);
  r.Set("unsolicited_at", "before");
  r.Set("split", "lines");
  r.Set("pause_ms", "80");
  rig.Modem(2).AddFault(r);
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2)), kBringUp);
  EXPECT_FALSE(Logged(l, "F018-2"));
}

TEST(BringUp, SixteenCharactersOfOtherTextBeforeTheResetsOkSendItAgain) {
  TScenarioRig rig(2);
  modemsim::FaultRule r = Fault("AT+CFUN=1", "reply", "text", 1);
  r.text = "garbage garbage!";
  rig.Modem(2).AddFault(r);
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait));
  EXPECT_EQ(FirstCommands(rig.Modem(2), 0, 5),
            (std::vector<std::string>{"AT+CSQ", "AT+STSF=1", "AT+CFUN=1", "AT+CFUN=1", "AT+CIMI"}));
  EXPECT_GE(LogIndex(l, "recall CFUN", LogIndex(l, "F018-2 : Unrecognized answer")), 0);
}

TEST(BringUp, TheReceiveBufferStaysBoundedAndItsLogLinesReadable) {
  TScenarioRig rig(2);
  TConsoleLine& l = rig.Line(2);
  l.ckRegistrasi->setChecked(false);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return !l.tOn->Enabled(); }, kWait));  // idle after an empty chain
  ASSERT_EQ(l.Reply(), rtIdle);
  for (int i = 0; i < 10; ++i) {
    rig.Modem(2).SendRaw(std::string(700, 'x'));
    Pump(30);
  }
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "F033 : receive buffer over 4096 bytes, cleared"); }, kWait));
  EXPECT_LE(l.Data.RxBuffer.size(), TConsoleLine::RxBufferLimit);
  for (const std::string& entry : LogEntries(l)) EXPECT_LT(entry.size(), 400u);
  // The card reports still count after the noise.
  rig.Modem(2).RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "F032-2 :Card NOT Exists"); }, kWait));
  EXPECT_EQ(l.Data.Job, ljIdle);
}
