// One card, one session: what the modem did not confirm for the card in it
// now never shows lime, and nothing of a card outlives it (its question, its
// call, its counts).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>

#include "calls/CallsBench.h"
#include "ScenarioSupport.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;

namespace {

TColor Colour(QLabel* l) { return StaticTextColor(l); }

}  // namespace

// The network ends the call before the line hangs up: no lime, it is dialled
// again.
TEST(Session, ACallTheNetworkDropsIsNoCallPutThrough) {
  TCallsBench b("", "[call 0811]\ndrop_ms = 50\ndelay_ms = 10\n");
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->mnCALL->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("F022-11 : 1st call ended by the network"); }, 5000)) << b.Log();
  ASSERT_TRUE(b.WaitHost("ATD0811;\r", 2, 15000)) << b.Log();
  EXPECT_NE(Colour(b.line->lCall), clLime) << b.Log();
}

// A balance refused with status 4 is red, its text logged, its session closed.
TEST(Session, ABalanceRefusedWithStatusFourIsRed) {
  TCallsBench b("", "[ussd *777#]\nstatus = 4\ntext = Layanan tidak tersedia\ndelay_ms = 20\n");
  b.window->Card.cekpulsa = "*777#";
  b.Tick(false, false, false, false, true);
  b.SwitchOn();
  b.line->mnCekPulsa->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lCekPulsa) == clRed; }, 5000)) << b.Log();
  EXPECT_TRUE(b.Logged("F031-2: balance refused by the network (status 4)")) << b.Log();
  EXPECT_TRUE(b.WaitHost("AT+CUSD=2\r")) << b.Log();
}

// A No to the first call's question ends the first call only: a ticked
// second call is still dialled.
TEST(Session, ANoToTheFirstCallsQuestionStillDialsTheSecond) {
  TCallsBench b("", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  b.window->Card.maxgagal = 0;
  b.line->tDial->SetInterval(100);
  b.dialogs.answers.push_back(TModalResult::No);
  b.Tick(true, true, false, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(b.WaitHost("ATD0812;\r", 1, 15000)) << b.Log();
  EXPECT_EQ(Colour(b.line->lCall), clRed);
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lCall2) == clLime; }, 5000)) << b.Log();
}

// A number that may not be sent shows its step red, and the second call
// still follows.
TEST(Session, ARefusedNumberShowsItsCallRed) {
  TCallsBench b;
  b.window->Card.no2dial = "0811;+CFUN=0";
  b.Tick(true, true, false, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(b.WaitHost("ATD0812;\r")) << b.Log();
  EXPECT_EQ(Colour(b.line->lCall), clRed);
}

// A hang-up refused past its bound: the modem is reset, which ends the call,
// before anything else is sent; no number is dialled into the call.
TEST(Session, ACallWhoseHangUpIsRefusedIsEndedByAReset) {
  TCallsBench b("", "[fault ath]\ncommand = ATH\nreply = error\n");
  b.Tick(true, true, false, false, false);
  b.SwitchOn();
  b.line->mnCALL->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("F023-4: hang-up refused 4 times"); }, 10000)) << b.Log();
  ASSERT_TRUE(b.WaitHost("ATD0812;\r", 1, 10000)) << b.Log();
  const std::string host = b.Host();
  const std::size_t lastAth = host.rfind("ATH\r", host.find("ATD0812;"));
  const std::size_t reset = host.find("AT+CFUN=1\r", lastAth);
  EXPECT_LT(reset, host.find("ATD0812;")) << "the reset comes between the refused hang-up and the next dial";
  EXPECT_EQ(Colour(b.line->lCall), clRed);
}

// The question belongs to its card: taken out, the card takes its question
// with it, and the box names its line and port.
TEST(Session, TheCallQuestionClosesWithItsCard) {
  TCallsBench b("wind = 1\n", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  SetDialogHook({});
  b.window->Card.maxgagal = 0;
  b.line->tDial->SetInterval(100);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  QMessageBox* box = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (QMessageBox* m : b.window->findChildren<QMessageBox*>())
          if (m->isVisible()) box = m;
        return box != nullptr;
      },
      8000))
      << b.Log();
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Corvane: line 2, COM2"));
  b.modem->RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return !b.line->CallQuestionOpen(); }, 5000)) << b.Log();
  Pump(100);
  for (QMessageBox* m : b.window->findChildren<QMessageBox*>()) EXPECT_FALSE(m->isVisible());
  EXPECT_TRUE(b.Logged("F022-10 : call question withdrawn")) << b.Log();
  EXPECT_NE(Colour(b.line->lCall), clRed) << "the next card's call is not decided by the old question";
}

// A card swapped while the modem reboots after failed dials is told apart
// by its IMSI before any more dialling.
TEST(Session, ACardSwappedDuringAResetAfterFailedDialsIsANewCard) {
  TCallsBench b("restart_ms = 400\n", "[card B]\nimsi = 510109911111111\n[call 0811]\nresult = BUSY\ndelay_ms = 5\n");
  b.window->Card.maxgagal = 0;
  b.line->tDial->SetInterval(100);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->Session.imsi = "510109900000001";  // card A, as its bring-up read it
  b.line->StartCall(true);
  ASSERT_TRUE(WaitUntil([&] { return b.modem->Status().booting; }, 5000)) << b.Log();
  b.modem->RemoveCard();
  b.modem->InsertCard("B");
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("F019-4 : IMSI 510109911111111 is not the card's"); }, 8000))
      << b.Log();
  EXPECT_NE(Colour(b.line->lCall), clLime);
}

// The late "OK" of the first SMS does not end the second one's wait: it is
// logged as late behind the sync, and each SMS shows its own outcome.
TEST(Session, ALateSmsAnswerIsNeverTheNextCommandsAnswer) {
  TCallsBench b("", "[sms 0821]\ndelay_ms = 700\n[sms 0822]\nresult = CMS 500\ndelay_ms = 5\n");
  b.window->Card.maxgagal = 0;
  b.line->tAnswerGuard->SetInterval(500);
  b.Tick(false, false, true, true, false);
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("F037-1 : late answer to the SMS text ignored"); }, 8000))
      << b.Log();
  EXPECT_EQ(Colour(b.line->lSMS1), clRed) << b.Log();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS2) == clRed; }, 15000)) << b.Log();
  EXPECT_NE(b.line->Reply(), rtSmsPrompt) << "never left waiting on the header";
}

// A Yes to the question after ten redials resets the modem; the redial waits
// for the reset and the card check, so a reset "OK" that comes at the end of
// the reboot is never read as the dial's.
TEST(Session, AfterAYesTheResetsOkIsNoDialsOk) {
  TCallsBench b("cfun_ok = after\nrestart_ms = 600\n", "[call 0811]\nresult = BUSY\ndelay_ms = 5\n");
  b.line->tDial->SetInterval(100);
  b.dialogs.answers.push_back(TModalResult::Yes);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(b.WaitHost("AT+CFUN=1\r", 1, 10000)) << b.Log();
  ASSERT_TRUE(b.WaitHost("ATD0811;\r", 13, 10000)) << b.Log();
  const std::string host = b.Host();
  EXPECT_LT(host.find("AT+CIMI"), host.find("ATD0811;", host.find("AT+CFUN=1"))) << "the card check comes first";
  EXPECT_FALSE(b.Logged("F022-1 dial 1st ok")) << b.Log();
  EXPECT_NE(Colour(b.line->lCall), clLime);
}
