// The card reports ("+WIND: 0" card out, "+WIND: 1" card in) against the
// modem simulator: acted on in every reply state and however the bytes are
// split, both of two in one chunk, and what a card leaving the line stops.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "ScenarioSupport.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kWait = 10000;

// The bring-up and the menu request that follows the IMSI.
const std::vector<std::string> kBringUp = {"AT+CSQ", "AT+STSF=1", "AT+CFUN=1", "AT+CIMI", "AT+STGI=0"};

std::vector<std::string> BringUpSent(const modemsim::Modem& m, std::size_t from = 0) {
  return FirstCommands(m, from, kBringUp.size());
}

bool AllStatusNotDone(TConsoleLine& l) {
  for (QLabel* s : {l.lRegistrasi, l.lCall, l.lCall2, l.lSMS1, l.lSMS2, l.lCekPulsa})
    if (StaticTextColor(s) != clFuchsia) return false;
  return true;
}

bool CardGone(TConsoleLine& l) {
  return l.Data.Job == ljIdle && l.Reply() == rtIdle && l.Data.RxBuffer.empty() && l.Data.StkArmed &&
         l.Data.FirstCall && AllStatusNotDone(l) && !l.tWatchDog->Enabled() && !l.tMatikan->Enabled();
}

bool NewCardStarted(TConsoleLine& l) { return l.Data.Job == ljStart && l.tOn->Enabled() && l.Data.StkArmed; }

// The IMSI read, and the card's menu answered (no keyword matches: idle).
bool ImsiAsked(TConsoleLine& l) {
  return Logged(l, "F003 : AT+CIMI") && Logged(l, "F019-1 IMSI : ") && l.Reply() == rtIdle;
}

// A line switched on whose start timer is held, so that each case sets the
// reply state it needs.
struct THeldLine {
  TScenarioRig rig{2};
  TConsoleLine& l = rig.Line(2);
  std::size_t received = 0;
  THeldLine() {
    l.ckOn->setChecked(true);
    l.tOn->SetEnabled(false);
    // Until the modem has seen its port opened, what it sends goes unheard.
    rig.Modem(2).WaitFor([](const modemsim::ModemStatus& s) { return s.hostPresent; }, std::chrono::seconds(5));
    l.OnDispatch = [this](const char*, const std::string& chunk) { received += chunk.size(); };
  }
  // Sends `bytes` cut at `cut`; the second part leaves only once the line
  // has taken the first.
  bool SendSplit(const std::string& bytes, std::size_t cut) {
    const std::size_t start = received;
    if (cut > 0) {
      rig.Modem(2).SendRaw(bytes.substr(0, cut));
      if (!WaitUntil([&] { return received >= start + cut; }, kWait)) return false;
    }
    if (cut < bytes.size()) rig.Modem(2).SendRaw(bytes.substr(cut));
    return true;
  }
};

struct TReportCase {
  const char* name;
  std::int32_t job;
  TReplyType reply;
  bool resetAnswered;  // the reset's "OK" has come: the line waits for its card
  const char* report;
  bool (*outcome)(TConsoleLine&);
};

const TReportCase kReportCases[] = {
    {"IdleAfterTheChain", ljIdle, rtIdle, false, "+WIND: 1", NewCardStarted},
    {"IdleAtJobStart", ljStart, rtIdle, false, "+WIND: 1", NewCardStarted},
    {"WaitingForTheCardAfterTheReset", ljStart, rtReset, true, "+WIND: 1", ImsiAsked},
    {"BeforeTheResetsOk", ljStart, rtReset, false, "+WIND: 0", CardGone},
    {"BeforeTheFirstCommand", ljStart, rtNone, false, "+WIND: 0", CardGone},
    {"SignalReplyPending", ljStart, rtSignal, false, "+WIND: 0", CardGone},
    {"ImsiReplyPending", ljStart, rtImsi, false, "+WIND: 0", CardGone},
    {"ToolkitReplyPending", ljStart, rtStkGetInfo, false, "+WIND: 0", CardGone},
    {"DialReplyPending", ljDialling, rtDial, false, "+WIND: 0", CardGone},
    {"SmsPromptPending", ljSms1, rtSmsPrompt, false, "+WIND: 0", CardGone},
};

void PrintTo(const TReportCase& c, std::ostream* os) { *os << c.name; }

class ReportInState : public ::testing::TestWithParam<TReportCase> {};

}  // namespace

TEST_P(ReportInState, CountsWhereverTheBytesAreSplit) {
  const TReportCase& c = GetParam();
  THeldLine h;
  TConsoleLine& l = h.l;
  const std::string report = std::string("\r\n") + c.report + "\r\n";
  for (std::size_t cut = 0; cut <= report.size(); ++cut) {
    l.lstFunc->clear();
    l.tOn->SetEnabled(false);
    l.tWatchDog->SetInterval(60000);
    l.tWatchDog->SetEnabled(c.reply == rtStkGetInfo);
    for (QLabel* s : {l.lRegistrasi, l.lCall}) SetStaticTextColor(s, clLime);
    l.Data.Job = c.job;
    l.Data.StkArmed = false;
    l.Reply() = c.reply;
    l.BringUp = TConsoleLine::TBringUpState{};
    l.BringUp.resetOkSeen = c.resetAnswered;
    l.Data.RxBuffer = c.resetAnswered ? "\r\nOK\r\n" : "";
    ASSERT_TRUE(h.SendSplit(report, cut));
    ASSERT_TRUE(WaitUntil([&] { return c.outcome(l); }, kWait))
        << c.name << ", cut at " << cut << ": job " << l.Data.Job << ", reply " << int(l.Reply()) << ", buffer \""
        << l.Data.RxBuffer << "\", log " << ::testing::PrintToString(LogEntries(l));
    EXPECT_EQ(LogCount(l, "F032-"), 1) << "acted on once, cut at " << cut;
  }
  EXPECT_TRUE(h.rig.central.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(CardReports, ReportInState, ::testing::ValuesIn(kReportCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The card's report after "AT+CFUN=1" is "\r\n+WIND: 1\r\n" (12 bytes).
class RebootReportCut : public ::testing::TestWithParam<int> {};

TEST_P(RebootReportCut, StillLeadsToTheImsi) {
  const int cut = GetParam();
  TScenarioRig rig(2);
  modemsim::FaultRule split;
  split.Set("command", "AT+CFUN=1");
  split.Set("applies", "urc");
  split.Set("split", "at " + std::to_string(cut));
  split.Set("pause_ms", "60");
  split.times = 1;
  rig.Modem(2).AddFault(split);
  TConsoleLine& l = rig.Line(2);
  l.tOn->SetInterval(50);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2)), kBringUp);
}

INSTANTIATE_TEST_SUITE_P(CardReports, RebootReportCut, ::testing::Range(1, 12));

TEST(CardReports, TwoReportsInOneChunkAreBothSeenInOrder) {
  THeldLine h;
  TConsoleLine& l = h.l;
  // The card was just registered: its switch-off delay runs.
  auto registered = [&] {
    l.lstFunc->clear();
    SetStaticTextColor(l.lRegistrasi, clLime);
    l.Data.Job = ljRegistered;
    l.Data.StkArmed = false;
    l.Reply() = rtIdle;
    l.tOn->SetEnabled(false);
    l.tMatikan->SetEnabled(true);
  };
  auto swapped = [&] {
    const int out = LogIndex(l, "F032-2 :Card NOT Exists");
    return out >= 0 && LogIndex(l, "F032-1 :Card Exists", out) > out && NewCardStarted(l) &&
           !l.tMatikan->Enabled() && AllStatusNotDone(l);
  };
  const std::string both = "\r\n+WIND: 0\r\n\r\n+WIND: 1\r\n";
  // One chunk exactly as the port hands it over ...
  registered();
  l.DispatchChunk(both);
  EXPECT_TRUE(swapped());
  // ... and the same from the modem.
  registered();
  h.rig.Modem(2).SendRaw(both);
  ASSERT_TRUE(WaitUntil(swapped, kWait));
}

TEST(CardReports, ACardTakenOutWhileItsSignalIsAskedIsNoLongerBroughtUp) {
  TScenarioRig rig(2);
  modemsim::FaultRule late;
  late.Set("command", "AT+CSQ");
  late.Set("delay_ms", "800");
  late.times = 1;
  rig.Modem(2).AddFault(late);
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return rig.Modem(2).Transcript().HostText().find("AT+CSQ\r") != std::string::npos; },
                        kWait));
  rig.Modem(2).RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return CardGone(l); }, kWait));
  ASSERT_TRUE(WaitUntil([&] { return rig.Modem(2).Transcript().ModemText().find("+CSQ: 21,0") != std::string::npos; },
                        kWait));
  Pump(200);
  EXPECT_EQ(HostCommands(rig.Modem(2)), std::vector<std::string>{"AT+CSQ"}) << "the late answer leads nowhere";
  rig.Modem(2).InsertCard("B");
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("B", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2), 1), kBringUp);
}

TEST(CardReports, CardOutAndInWhileIdleBringsTheNewCardUp) {
  TScenarioRig rig(3);
  TConsoleLine& l = rig.Line(3);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 3)); }, kWait));
  Pump(200);
  SetStaticTextColor(l.lCall, clLime);
  const std::size_t before = HostCommands(rig.Modem(3)).size();
  rig.Modem(3).RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return CardGone(l); }, kWait));
  EXPECT_EQ(l.eISTM->text().toStdString(), TScenarioRig::Imsi("A", 3)) << "the old card's IMSI stays shown";
  rig.Modem(3).InsertCard("B");
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("B", 3)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(3), before), kBringUp);
  EXPECT_TRUE(rig.central.messages.empty());
}

TEST(CardReports, ACardSwappedRightAfterItsRegistrationIsBroughtUpAndArmed) {
  TScenarioRig rig(2);
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait));
  Pump(200);
  // What the SIM Toolkit step leaves when the card's registration is confirmed:
  // "Reg" green, the confirmation still queued, the switch-off delay running.
  SetStaticTextColor(l.lRegistrasi, clLime);
  l.Data.Job = ljRegistered;
  l.Data.StkArmed = false;
  l.tMatikan->SetInterval(300);
  l.tMatikan->SetEnabled(true);
  l.PendingAnswer = "AT+STGR=1,1,0\r";
  l.tDelay->SetInterval(200);
  l.tDelay->SetEnabled(true);
  const std::size_t before = HostCommands(rig.Modem(2)).size();
  rig.Modem(2).RemoveCard();
  rig.Modem(2).InsertCard("B");
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("B", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2), before), kBringUp) << "no switch-off reset, no stale answer";
  EXPECT_EQ(rig.Modem(2).Transcript().HostText().find("AT+STGR"), std::string::npos);
  EXPECT_TRUE(l.Data.StkArmed) << "the new card's menu will be walked";
  EXPECT_FALSE(l.tMatikan->Enabled());
  EXPECT_FALSE(l.tDelay->Enabled());
  EXPECT_TRUE(l.PendingAnswer.empty());
  EXPECT_EQ(StaticTextColor(l.lRegistrasi), clFuchsia);
}

// A new card at a line that finished its chain without registering goes
// through the start timer, never straight to the IMSI.
class UnregisteredNewCard : public ::testing::TestWithParam<bool> {};

TEST_P(UnregisteredNewCard, StartsTheChainAgainAndNeverAsksTheImsi) {
  const bool callTicked = GetParam();
  TScenarioRig rig(2);
  TConsoleLine& l = rig.Line(2);
  l.ckRegistrasi->setChecked(false);
  l.ckCall->setChecked(callTicked);
  l.tOn->SetInterval(100);
  l.tHangup->SetInterval(100);
  l.ckOn->setChecked(true);
  // A call ends its chain idle; an empty chain stays at its start.
  const std::int32_t endJob = callTicked ? ljIdle : ljStart;
  auto chainOver = [&] { return !l.tOn->Enabled() && l.Data.Job == endJob && l.Reply() == rtIdle; };
  ASSERT_TRUE(WaitUntil(chainOver, kWait));
  rig.Modem(2).RemoveCard();
  rig.Modem(2).InsertCard("B");
  ASSERT_TRUE(WaitUntil([&] { return LogCount(l, "F032-1 :Card Exists") == 1; }, kWait));
  ASSERT_TRUE(WaitUntil(chainOver, kWait));
  // A card report alone, without the card going out first.
  rig.Modem(2).SendUnsolicited("+WIND: 1");
  ASSERT_TRUE(WaitUntil([&] { return LogCount(l, "F032-1 :Card Exists") == 2; }, kWait));
  ASSERT_TRUE(WaitUntil(chainOver, kWait));
  Pump(200);
  std::vector<std::string> expected;
  for (int card = 0; card < 3 && callTicked; ++card)
    for (const char* c : {"ATD08123456789;", "ATH"}) expected.push_back(c);
  EXPECT_EQ(HostCommands(rig.Modem(2)), expected) << "the chain ran for each card, and only it";
}

INSTANTIATE_TEST_SUITE_P(CardReports, UnregisteredNewCard, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "CallTicked" : "NothingTicked"; });

TEST(CardReports, SwitchingOffStopsTheOldCardsWorkAndEmptiesTheReply) {
  TScenarioRig rig(2);
  TConsoleLine& l = rig.Line(2);
  l.ckOn->setChecked(true);
  for (TTimer* t : {l.tWatchDog, l.tTimeOut, l.tMatikan, l.tDelay}) {
    t->SetInterval(100);
    t->SetEnabled(true);
  }
  l.PendingAnswer = "AT+STGR=0,1,1\r";
  l.Reply() = rtStkGetInfo;
  l.Data.RxBuffer = "\r\n+STGI: \"half";
  l.ckOn->setChecked(false);
  for (TTimer* t : {l.tOn, l.tWatchDog, l.tTimeOut, l.tMatikan, l.tDelay, l.tAnswerGuard, l.tBringUpRetry})
    EXPECT_FALSE(t->Enabled()) << t->objectName().toStdString();
  EXPECT_TRUE(l.PendingAnswer.empty());
  EXPECT_EQ(l.Reply(), rtIdle);
  EXPECT_TRUE(l.Data.RxBuffer.empty());
  EXPECT_EQ(l.Data.Job, ljIdle);
  // On again, the line starts from nothing.
  l.tOn->SetInterval(100);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)); }, kWait));
  EXPECT_EQ(BringUpSent(rig.Modem(2)), kBringUp);
}

TEST(CardReports, AResetAnsweredInAnotherJobLeavesTheLineIdleWhereItSeesCards) {
  THeldLine h;
  TConsoleLine& l = h.l;
  l.Data.Job = ljDialling;  // a reset after too many failed calls
  l.SendModemReset();
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "Reset OK") && l.Reply() == rtIdle; }, kWait));
  EXPECT_EQ(l.Data.Job, ljDialling);
  h.rig.Modem(2).RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return CardGone(l); }, kWait));
}
