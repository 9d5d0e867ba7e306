// A line keeps moving and shows only what the modem confirmed: SMS on a
// modem in PDU mode, refused and unanswered steps given up and shown, a
// reset's "OK" or an echo never read as a step's own answer, timers of a
// card or a modem that is gone stopped.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <chrono>

#include "calls/CallsBench.h"
#include "FaultRule.h"
#include "Sanitizers.h"
#include "SerPort.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;

namespace {

TColor Colour(QLabel* l) { return StaticTextColor(l); }

modemsim::FaultRule Silent(const std::string& command) {
  modemsim::FaultRule r;
  r.Set("command", command);
  r.Set("reply", "silent");
  return r;
}

}  // namespace

// A modem whose stored message format is PDU (and that a reset puts back
// there) takes an SMS once the line has switched it to text mode, after
// every reset.
TEST(Promises, SmsOnAModemInPduModeIsSentInTextModeAfterEveryReset) {
  TCallsBench b("cmgf = 0\n");
  b.Tick(false, false, true, true, false);
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS2) == clLime; }, 5000)) << b.Log();
  EXPECT_EQ(Colour(b.line->lSMS1), clLime);
  EXPECT_EQ(b.Count("AT+CMGF=1\r"), 1u) << "once per reset, not per SMS";
  EXPECT_LT(b.Host().find("AT+CMGF=1\r"), b.Host().find("AT+CMGS=\"0821\"\r"));
  EXPECT_EQ(b.modem->Status().smsSent, 2);

  b.line->SendModemReset();
  ASSERT_TRUE(WaitUntil([&] { return b.line->Reply() == rtIdle; })) << b.Log();
  Pump(200);
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(b.WaitHost("AT+CMGF=1\r", 2)) << b.Log();
  ASSERT_TRUE(WaitUntil([&] { return b.modem->Status().smsSent == 4; }, 5000)) << b.Log();
  EXPECT_FALSE(b.Logged("+CMS ERROR: 304")) << b.Log();
}

// An SMS the modem keeps refusing is not sent for ever: past the failure
// limit and one modem reset the step is shown failed and the chain goes on.
TEST(Promises, ARefusedSmsIsShownFailedAndTheChainGoesOn) {
  TCallsBench b("", "[sms 0821]\nresult = ERROR\ndelay_ms = 5\n");
  b.window->Card.maxgagal = 1;
  b.Tick(false, false, true, false, true);
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  // Each refusal is answered after a pause, not at once.
  ASSERT_TRUE(b.WaitHost("AT+CMGS=\"0821\"\r", 1)) << b.Log();
  QElapsedTimer sinceFirst;
  sinceFirst.start();
  ASSERT_TRUE(b.WaitHost("AT+CMGS=\"0821\"\r", 2)) << b.Log();
  EXPECT_GE(sinceFirst.elapsed(), 800);
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lCekPulsa) == clLime; }, 20000)) << b.Log();
  EXPECT_EQ(Colour(b.line->lSMS1), clRed);
  EXPECT_TRUE(b.Logged("F025-4: SMS refused after 1 modem reset(s); SMS failed")) << b.Log();
  // Two tries before the reset, two after it.
  EXPECT_EQ(b.Count("AT+CMGS=\"0821\"\r"), 4u) << b.Log();
  EXPECT_EQ(b.Count("AT+CFUN=1\r"), 1u);
  EXPECT_EQ(b.line->Data.Job, ljIdle);
}

// A modem with echo on sends the typed text back before its answer: a text
// "OK" is no confirmation of the SMS.
TEST(Promises, AnEchoedSmsTextOkIsNotTheModemsConfirmation) {
  TCallsBench b("echo = 1\n", "[sms 0821]\nresult = CMS 500\ndelay_ms = 5\n");
  b.window->Card.smstextsend = "OK";
  b.window->Card.maxgagal = 1;
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("F025-2: Send SMS error"); })) << b.Log();
  Pump(200);
  EXPECT_FALSE(b.Logged("F025-1: SMS SENT")) << b.Log();
  EXPECT_NE(Colour(b.line->lSMS1), clLime);
}

// Commands the modem never answers: each gives up after its deadline with a
// log line naming the command, shows the step failed and lets the chain go
// on to its end.
struct TSilenceCase {
  const char* name;
  const char* command;  // the command the modem swallows
  bool sms1, cekPulsa;  // boxes ticked; the manual step is the first of them
  const char* logged;
  QLabel* TConsoleLine::*failed;
};

void PrintTo(const TSilenceCase& c, std::ostream* os) { *os << c.name; }

class Unanswered : public ::testing::TestWithParam<TSilenceCase> {};

TEST_P(Unanswered, IsGivenUpAfterItsDeadlineAndShownFailed) {
  const TSilenceCase& c = GetParam();
  // The network takes longer over the SMS than the deadline allows.
  TCallsBench b("", "[ussd *555#]\nstatus = none\n[sms *]\ndelay_ms = 3000\n");
  b.window->Card.cekpulsa = "*555#";
  if (*c.command) b.modem->AddFault(Silent(c.command));
  b.line->tAnswerGuard->SetInterval(500);
  b.Tick(false, false, c.sms1, false, c.cekPulsa);
  b.SwitchOn();
  (c.sms1 ? b.line->mnSMS1 : b.line->mnCekPulsa)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged(c.logged); }, 5000)) << b.Log();
  // The step is shown failed once the sync has outwaited a late answer.
  EXPECT_TRUE(b.WaitHost("AT+CMEE?\r")) << at::Readable(b.Host());
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->*(c.failed)) == clRed; }, 5000)) << b.Log();
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljIdle; }, 5000)) << b.Log();
  EXPECT_EQ(b.line->Reply(), rtIdle);
  EXPECT_FALSE(b.line->Data.UssdPending);
  // A modem left inside an SMS entry is taken out of it: the ESC is on its
  // way once the line is idle, and the modem reads it a moment later.
  if (std::string(c.name) == "SmsText") {
    EXPECT_TRUE(b.WaitHost("\x1B")) << at::Readable(b.Host());
    Pump(200);
    EXPECT_EQ(b.Count("\x1B"), 1u) << at::Readable(b.Host());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Unanswered,
    ::testing::Values(
        TSilenceCase{"SmsHeader", "AT+CMGS", true, false, "F024-3: no answer to AT+CMGS in 500 ms; SMS failed",
                     &TConsoleLine::lSMS1},
        TSilenceCase{"SmsFormat", "AT+CMGF", true, false, "F026-3: no answer to AT+CMGF=1 in 500 ms; SMS failed",
                     &TConsoleLine::lSMS1},
        TSilenceCase{"SmsText", "", true, false, "F025-3: no answer to the SMS text in 500 ms; SMS failed",
                     &TConsoleLine::lSMS1},
        // The modem takes the request ("OK") but the network never answers.
        TSilenceCase{"BalanceReport", "", false, true,
                     "F030-1 : no answer to AT+CUSD in 500 ms; balance check failed", &TConsoleLine::lCekPulsa}),
    [](const auto& info) { return std::string(info.param.name); });

// The second call alone (CALL unticked) is redialled after a failed dial,
// as the first call is.
TEST(Promises, OnlyTheSecondCallTickedIsRedialled) {
  TCallsBench b;
  modemsim::FaultRule noCarrier;
  noCarrier.command = "ATD0812";
  noCarrier.reply = modemsim::FaultRule::Reply::Text;
  noCarrier.text = "\r\nNO CARRIER\r\n";
  noCarrier.times = 1;
  b.modem->AddFault(noCarrier);
  b.line->tDial->SetInterval(150);
  b.Tick(false, true, false, false, false);
  b.SwitchOn();
  b.line->mnCALL2->trigger();
  ASSERT_TRUE(b.WaitHost("ATD0812;\r", 2)) << b.Log();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lCall2) == clLime; }, 5000)) << b.Log();
}

// A failed dial past the limit resets the modem; a modem that answers the
// reset at the end of its reboot would have a redial tick meanwhile take the
// reset's "OK" for the dial's.
TEST(Promises, TheResetsOkAfterAFailedDialIsNoDialSuccess) {
  TCallsBench b("cfun_ok = after\nrestart_ms = 600\n", "[call 0811]\nresult = NO CARRIER\ndelay_ms = 10\n");
  b.window->Card.maxgagal = 1;
  b.line->tDial->SetInterval(150);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->mnCALL->trigger();
  ASSERT_TRUE(b.WaitHost("AT+CFUN=1\r")) << b.Log();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("Reset OK"); }, 5000)) << b.Log();
  Pump(1500);
  EXPECT_FALSE(b.Logged("F022-1 dial 1st ok")) << b.Log();
  EXPECT_NE(Colour(b.line->lCall), clLime);
  // The call goes on being tried once the modem is back.
  EXPECT_TRUE(b.WaitHost("ATD0811;\r", 3, 3000)) << b.Log();
}

// A hang-up the modem keeps refusing is tried a few times, then the call is
// shown failed and the chain goes on.
TEST(Promises, AHangUpRefusedForGoodIsShownFailedAndTheChainGoesOn) {
  TCallsBench b("", "[fault ath]\ncommand = ATH\nreply = error\n");
  b.Tick(true, false, true, false, false);
  b.SwitchOn();
  b.line->mnCALL->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS1) == clLime; }, 10000)) << b.Log();
  EXPECT_EQ(Colour(b.line->lCall), clRed);
  EXPECT_EQ(b.Count("ATH\r"), static_cast<std::size_t>(TConsoleLine::HangupRetryLimit + 1));
  EXPECT_TRUE(b.Logged("F023-4: hang-up refused 4 times; call failed")) << b.Log();
}

// A card taken out during a call, or the line switched off: the old call's
// hang-up timer must not cut the next card's call short.
TEST(Promises, CardRemovalAndSwitchOffStopTheCallTimers) {
  for (const bool switchOff : {false, true}) {
    TCallsBench b("", "[call *]\ndelay_ms = 10\n");
    b.line->tHangup->SetInterval(5000);
    b.Tick(true, false, false, false, false);
    b.SwitchOn();
    b.line->mnCALL->trigger();
    ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljInCall; })) << b.Log();
    ASSERT_TRUE(b.line->tHangup->Enabled());
    if (switchOff) {
      b.line->ckOn->setChecked(false);
    } else {
      b.modem->SendRaw("\r\n+WIND: 0\r\n");
      ASSERT_TRUE(WaitUntil([&] { return b.Logged("F032-2 :Card NOT Exists"); })) << b.Log();
    }
    EXPECT_FALSE(b.line->tHangup->Enabled()) << switchOff;
    EXPECT_FALSE(b.line->tDial->Enabled()) << switchOff;
  }
}

// A modem unplugged while its line is on: said at once and once, the line
// switches itself off and writes nothing more; ticking On again reopens the
// port.
TEST(Promises, AnUnpluggedModemSwitchesItsLineOffOnceAndOnReopensIt) {
  TCallsBench b;
  b.SwitchOn();
  b.line->tWatchDog->SetEnabled(true);
  std::chrono::steady_clock::time_point switchedOff{};
  QObject::connect(b.line->ckOn, &QCheckBox::toggled, [&](bool on) {
    if (!on) switchedOff = std::chrono::steady_clock::now();
  });
  const auto unplugged = std::chrono::steady_clock::now();
  b.modem->HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !b.line->ckOn->isChecked(); }, 5000)) << b.Log();
  EXPECT_LT(switchedOff - unplugged, corvane::testsupport::kUnplugNoticeBound);
  EXPECT_TRUE(b.Logged("F000 : COM2 is gone (modem unplugged?); line switched off, tick On to open it again"))
      << b.Log();
  EXPECT_FALSE(b.line->comVorel->Open());
  EXPECT_FALSE(b.line->tWatchDog->Enabled());
  Pump(1500);
  int said = 0;
  for (const std::string& e : {b.Log()})
    for (std::size_t at = e.find("is gone"); at != std::string::npos; at = e.find("is gone", at + 1)) ++said;
  EXPECT_EQ(said, 1) << b.Log();
  b.modem->Reconnect();
  ASSERT_TRUE(WaitUntil([&] { return !b.modem->ComPath().empty(); }, 5000));
  b.line->ckOn->setChecked(true);
  EXPECT_TRUE(b.line->comVorel->Open());
  EXPECT_TRUE(b.line->ckOn->isChecked());
}

// A modem that refuses the switch to text mode may be in it already: the SMS
// is tried all the same.
TEST(Promises, AnSmsGoesOutWhenTheSwitchToTextModeIsRefused) {
  TCallsBench b("", "[fault cmgf]\ncommand = AT+CMGF\nreply = error\n");
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS1) == clLime; })) << b.Log();
  EXPECT_TRUE(b.Logged("F026-2: text mode refused, header sent as it is"));
  EXPECT_EQ(b.modem->Status().smsSent, 1);
}
