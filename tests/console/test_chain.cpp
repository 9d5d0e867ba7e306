// A line's task chain: the start timer's order of tasks, and the recovery
// timers that reset a stalled modem.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>

#include "ScenarioSupport.h"

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kWait = 10000;

// A switched-on line 2 whose start timer is held; the card's numbers are
// told apart.
struct TChainLine {
  TScenarioRig rig{2};
  TConsoleLine& l = rig.Line(2);
  TChainLine() {
    TCardSettings& c = rig.Window().Card;
    c.no2dial = "111";
    c.no2dial2 = "222";
    c.phpenerimasms = "333";
    c.phpenerimasms2 = "444";
    c.cekpulsa = "*888#";
    l.ckOn->setChecked(true);
    l.tOn->SetEnabled(false);
  }
};

struct TOrderCase {
  const char* name;
  std::int32_t job;
  bool registrasi, call, call2, sms1, sms2, cekPulsa;
  const char* command;  // the first command the tick sends; "" none
  std::int32_t jobAfter;
  bool timerStaysOn;
};

const TOrderCase kOrderCases[] = {
    {"StartNothingTicked", ljStart, false, false, false, false, false, false, "", ljStart, false},
    {"StartRegistration", ljStart, true, true, true, true, true, true, "AT+CSQ", ljStart, false},
    // A card's first SMS switches the modem to text mode first.
    {"StartCall2AndSms1SkipsTheSecondCall", ljStart, false, false, true, true, false, false, "AT+CMGF=1",
     ljSms1, false},
    {"StartCallDialsTheFirstNumber", ljStart, false, true, true, false, false, false, "ATD111;", ljDialling, false},
    {"StartSms2Only", ljStart, false, false, false, false, true, false, "AT+CMGF=1", ljSms2, false},
    {"StartBalanceOnly", ljStart, false, false, false, false, false, true, "AT+CUSD=1,\"*888#\"", ljCekPulsa,
     false},
    {"RegisteredCall2AndSms1DialsTheSecondNumber", ljRegistered, true, false, true, true, false, false, "ATD222;",
     ljDialling, true},
    {"RegisteredEverythingDialsTheFirstNumber", ljRegistered, true, true, true, true, true, true, "ATD111;",
     ljDialling, true},
    {"RegisteredSmsAndBalance", ljRegistered, true, false, false, true, false, true, "AT+CMGF=1", ljSms1,
     true},
    {"RegisteredBalanceOnly", ljRegistered, true, false, false, false, false, true, "AT+CUSD=1,\"*888#\"",
     ljCekPulsa, true},
    {"RegisteredNothingTicked", ljRegistered, true, false, false, false, false, false, "", ljStart, false},
};

void PrintTo(const TOrderCase& c, std::ostream* os) { *os << c.name; }

class TaskOrder : public ::testing::TestWithParam<TOrderCase> {};

}  // namespace

TEST_P(TaskOrder, StartsTheFirstTickedTaskInTheFixedOrder) {
  const TOrderCase& c = GetParam();
  TChainLine h;
  TConsoleLine& l = h.l;
  const std::pair<QCheckBox*, bool> boxes[] = {{l.ckRegistrasi, c.registrasi}, {l.ckCall, c.call},
                                               {l.ckCall2, c.call2},          {l.ckSMS1, c.sms1},
                                               {l.ckSMS2, c.sms2},            {l.ckCekPulsa, c.cekPulsa}};
  for (const auto& [box, ticked] : boxes) box->setChecked(ticked);
  l.Data.Job = c.job;
  l.Data.RxBuffer = "left over";
  l.tOn->SetEnabled(true);
  l.tOnTimer();
  EXPECT_EQ(l.Data.Job, c.jobAfter);
  EXPECT_EQ(l.tOn->Enabled(), c.timerStaysOn);
  if (std::string(c.command).empty()) {
    Pump(300);
    EXPECT_TRUE(HostCommands(h.rig.Modem(2)).empty());
    EXPECT_EQ(l.Reply(), rtIdle);
    EXPECT_TRUE(l.Data.RxBuffer.empty());
  } else {
    ASSERT_TRUE(WaitUntil([&] { return !HostCommands(h.rig.Modem(2)).empty(); }, kWait));
    EXPECT_EQ(HostCommands(h.rig.Modem(2)).front(), c.command);
  }
  if (c.jobAfter == ljDialling) {
    EXPECT_TRUE(l.tDial->Enabled());
    EXPECT_EQ(l.Data.FirstCall, std::string(c.command) == "ATD111;");
  }
}

INSTANTIATE_TEST_SUITE_P(Chain, TaskOrder, ::testing::ValuesIn(kOrderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Chain, ALineWithNothingTickedStopsItsStartTimerAfterTheEchoOff) {
  TScenarioRig rig(1);
  TConsoleLine& l = rig.Line(1);
  l.ckRegistrasi->setChecked(false);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(WaitUntil([&] { return !l.tOn->Enabled(); }, kWait));
  Pump(200);
  EXPECT_EQ(l.Data.Job, ljStart);
  EXPECT_EQ(l.Reply(), rtIdle);
  EXPECT_EQ(HostCommands(rig.Modem(1)), std::vector<std::string>{"ATE0"});
}

TEST(Chain, OtherJobsLeaveTheStartTimerIdle) {
  TChainLine h;
  for (const std::int32_t job : {ljIdle, ljDialling, ljInCall, ljHangingUp, ljSms1, ljSms2, ljCekPulsa}) {
    h.l.Data.Job = job;
    h.l.tOn->SetEnabled(true);
    h.l.tOnTimer();
    EXPECT_EQ(h.l.Data.Job, job);
    EXPECT_TRUE(h.l.tOn->Enabled()) << job;
  }
  Pump(200);
  EXPECT_TRUE(HostCommands(h.rig.Modem(2)).empty());
}

TEST(Chain, TheWatchdogResetsAtThe21stTickAndStopsForTheReboot) {
  TChainLine h;
  TConsoleLine& l = h.l;
  h.rig.Modem(2).SetSilent(true);
  l.Data.Job = ljStart;
  l.Reply() = rtStkGetInfo;  // the card's menu was asked for and never came
  l.Data.WatchdogTicks = 0;
  for (int tick = 1; tick <= WatchdogLimitSeconds; ++tick) l.tWatchDogTimer();
  EXPECT_FALSE(Logged(l, "Reset modem"));
  EXPECT_EQ(l.Data.WatchdogTicks, WatchdogLimitSeconds);
  l.tWatchDogTimer();
  EXPECT_EQ(LogCount(l, "F002 : AT+CFUN=1"), 1);
  // The reset says why it came, ahead of the reset's own lines.
  const int why = LogIndex(l, "F016-29: no SIM Toolkit step in 20 s since the last Get Info; resetting the modem");
  ASSERT_GE(why, 0);
  EXPECT_LT(why, LogIndex(l, "F002 : AT+CFUN=1"));
  EXPECT_EQ(l.Data.WatchdogTicks, 0);
  // The reboot is no toolkit step the card owes: the watchdog waits for the
  // next Get Info, which follows the card check after the reset.
  EXPECT_FALSE(l.tWatchDog->Enabled());
}

TEST(Chain, TheConfirmationTimeOutResetsAtTheTickAfterItsLimitAndStops) {
  TChainLine h;
  TConsoleLine& l = h.l;
  h.rig.Modem(2).SetSilent(true);
  h.rig.Window().Card.timeout = 3;
  l.ResetPaceMs = 300;
  l.Data.Job = ljStart;
  l.Data.ConfirmTicks = 0;
  l.tTimeOut->SetInterval(30);
  l.tTimeOut->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return !l.tTimeOut->Enabled(); }, kWait));
  EXPECT_EQ(LogCount(l, "F002 : AT+CFUN=1"), 1);
  EXPECT_EQ(l.Data.ConfirmTicks, 0);
  // Counted one by one: three ticks count, the fourth resets.
  l.tTimeOut->SetEnabled(true);
  for (int tick = 1; tick <= 3; ++tick) {
    l.tTimeOutTimer();
    EXPECT_EQ(l.Data.ConfirmTicks, tick);
  }
  l.tTimeOutTimer();
  EXPECT_EQ(LogCount(l, "F016-30: no registration confirmation in 3 s; resetting the modem"), 2);
  EXPECT_FALSE(l.tTimeOut->Enabled());
  // A second reset so soon after the first waits out the pace.
  EXPECT_EQ(LogCount(l, "F002 : AT+CFUN=1"), 1);
  EXPECT_TRUE(l.tResetPace->Enabled());
  ASSERT_TRUE(WaitUntil([&] { return LogCount(l, "F002 : AT+CFUN=1") == 2; }, kWait));
  EXPECT_EQ(l.Session.resets, 2);
}

namespace {

// Brings line 2 up to its card's menu, then leaves it as the SIM Toolkit step
// leaves a confirmed registration: "Reg" green, the card disarmed, the
// switch-off delay running.
void RegisterCard(TScenarioRig& rig) {
  TConsoleLine& l = rig.Line(2);
  l.tOn->SetInterval(100);
  l.ResetPaceMs = 300;
  l.ckOn->setChecked(true);
  // The card's menu read (no keyword matches it); its walk's reset is taken
  // back, as the registration would have made it.
  ASSERT_TRUE(WaitUntil(
      [&] { return ImsiRead(l, TScenarioRig::Imsi("A", 2)) && Logged(l, "F016-32: no menu keyword matches"); },
      kWait));
  l.StopCardWork();
  l.Reply() = rtIdle;
  l.lastReset.reset();
  SetStaticTextColor(l.lRegistrasi, clLime);
  l.Data.Job = ljRegistered;
  l.Data.StkArmed = false;
  l.tMatikan->SetInterval(200);
  l.tMatikan->SetEnabled(true);
}

}  // namespace

TEST(Chain, TheSwitchOffDelayDisarmsTheCardAndItsResetStartsTheCalls) {
  TScenarioRig rig(2);
  TConsoleLine& l = rig.Line(2);
  l.ckCall->setChecked(true);
  RegisterCard(rig);
  const std::size_t before = HostCommands(rig.Modem(2)).size();
  ASSERT_TRUE(WaitUntil([&] { return FirstCommands(rig.Modem(2), before, 2).size() == 2; }, kWait));
  ASSERT_TRUE(WaitUntil([&] { return FirstCommands(rig.Modem(2), before, 3).size() == 3; }, kWait));
  // The card is told apart from one swapped during the reboot first.
  EXPECT_EQ(FirstCommands(rig.Modem(2), before, 3),
            (std::vector<std::string>{"AT+CFUN=1", "AT+CIMI", "ATD" + rig.Window().Card.no2dial + ";"}));
  EXPECT_TRUE(Logged(l, "F019-3 : same card after the reset"));
  EXPECT_EQ(StaticTextColor(l.lRegistrasi), clLime);
  EXPECT_FALSE(l.tMatikan->Enabled());
  EXPECT_FALSE(l.Data.StkArmed);
}

TEST(Chain, TheRebootsReportOfTheRegisteredCardIsNoNewCard) {
  // Nothing to do after the registration: the chain is over before the
  // reboot reports the card it already registered.
  TScenarioRig rig(2, "[modem 2]\nrestart_ms = 700\n");
  TConsoleLine& l = rig.Line(2);
  RegisterCard(rig);
  const std::size_t before = HostCommands(rig.Modem(2)).size();
  const int reports = LogCount(l, "F032-1 :Card Exists");
  ASSERT_TRUE(WaitUntil([&] { return LogCount(l, "F032-1 :Card Exists") > reports; }, kWait));
  ASSERT_TRUE(WaitUntil([&] { return Logged(l, "F019-3 : same card after the reset"); }, kWait));
  Pump(400);
  EXPECT_EQ(HostCommandsFrom(rig.Modem(2), before), (std::vector<std::string>{"AT+CFUN=1", "AT+CIMI"}));
  EXPECT_EQ(l.Data.Job, ljStart);
  EXPECT_FALSE(l.tOn->Enabled());
  EXPECT_FALSE(l.Data.StkArmed);
  EXPECT_EQ(StaticTextColor(l.lRegistrasi), clLime) << "still the registered card";
}

TEST(Chain, ACardSwappedDuringTheSwitchOffResetIsBroughtUpAsANewCard) {
  // A booting modem reports the card it finds, not the one it lost: only
  // "+WIND: 1" tells the line of the swap.
  TScenarioRig rig(2, "[modem 2]\nrestart_ms = 700\n");
  TConsoleLine& l = rig.Line(2);
  l.ckCall->setChecked(true);
  RegisterCard(rig);
  const std::size_t before = HostCommands(rig.Modem(2)).size();
  ASSERT_TRUE(WaitUntil([&] { return rig.Modem(2).Status().booting; }, kWait));
  rig.Modem(2).RemoveCard();
  rig.Modem(2).InsertCard("B");
  ASSERT_TRUE(WaitUntil([&] { return ImsiRead(l, TScenarioRig::Imsi("B", 2)) && LogCount(l, "F019-1 IMSI") >= 3; },
                        kWait))
      << [&] {
           std::string all;
           for (const std::string& e : LogEntries(l)) all += e + "\n";
           return all;
         }();
  EXPECT_TRUE(Logged(l, "F019-4 : IMSI " + TScenarioRig::Imsi("B", 2) + " is not the card's (" +
                            TScenarioRig::Imsi("A", 2) + ")"));
  const std::vector<std::string> sent = HostCommandsFrom(rig.Modem(2), before);
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + std::min<std::size_t>(sent.size(), 7)),
            (std::vector<std::string>{"AT+CFUN=1", "AT+CIMI", "AT+CSQ", "AT+STSF=1", "AT+CFUN=1", "AT+CIMI",
                                      "AT+STGI=0"}));
  for (const std::string& c : sent) EXPECT_NE(c.rfind("ATD", 0), 0u) << "no call on a card not registered";
  EXPECT_EQ(StaticTextColor(l.lRegistrasi), clFuchsia);
  EXPECT_TRUE(l.Data.StkArmed) << "the new card's menu is walked";
  EXPECT_EQ(l.Data.Job, ljStart);
}
