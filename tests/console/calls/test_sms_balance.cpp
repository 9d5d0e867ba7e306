// SMS and balance check of a line against the simulated modem.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>

#include "calls/CallsBench.h"
#include "FaultRule.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;

namespace {

TColor Colour(QLabel* l) { return StaticTextColor(l); }

modemsim::FaultRule TextReply(const std::string& command, const std::string& bytes) {
  modemsim::FaultRule r;
  r.name = "text reply";
  r.command = command;
  r.reply = modemsim::FaultRule::Reply::Text;
  r.text = bytes;
  r.times = 1;
  return r;
}

TEST(Sms, ARefusedTextIsSentAgainAndPastTheLimitWaitsOutTheModemReset) {
  TCallsBench b("", "[sms 0821]\nresult = ERROR\ndelay_ms = 5\n");
  b.window->Card.maxgagal = 2;
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(b.WaitHost("AT+CFUN=1\r")) << b.Log();
  const std::string header = "AT+CMGS=\"0821\"\r";
  EXPECT_EQ(b.Count(header), 3u) << b.Log();
  // The modem restarts: the SMS is not thrown at it meanwhile.
  Pump(1000);
  EXPECT_EQ(b.Count(header), 3u);
  EXPECT_TRUE(b.WaitHost(header, 4, 8000)) << b.Log();
  EXPECT_EQ(b.line->Data.Job, ljSms1);
  EXPECT_EQ(Colour(b.line->lSMS1), clFuchsia);
  EXPECT_TRUE(b.Logged("F025-2: Send SMS error"));
}

TEST(Sms, AHeaderRefusedWithoutPromptIsCountedAndSentAgain) {
  TCallsBench b("", "[fault cmgs]\ncommand = AT+CMGS\nreply = CMS 500\ntimes = 1\n");
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS1) == clLime; })) << b.Log();
  EXPECT_EQ(b.Count("AT+CMGS=\"0821\"\r"), 2u);
  EXPECT_EQ(b.Count("SMS1\x1A"), 1u);
  EXPECT_EQ(b.line->Data.SmsErrorCount, 1);
  EXPECT_EQ(b.line->Data.Job, ljIdle);
}

TEST(Sms, CtrlZAndEscInTheTextNeverEndTheMessageEarly) {
  TCallsBench b;
  b.window->Card.smstextsend = "A\x1A" "B\x1B" "C";
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS1) == clLime; })) << b.Log();
  EXPECT_NE(b.Host().find("AT+CMGS=\"0821\"\rABC\x1A"), std::string::npos) << at::Readable(b.Host());
  EXPECT_EQ(b.modem->Status().smsSent, 1);
  EXPECT_TRUE(b.Logged("F024-2"));
}

TEST(Sms, APromptCutIntoBytesIsAnsweredOnceItHasArrived) {
  TCallsBench b("", "[fault cut]\ncommand = AT+CMGS\nsplit = bytes\npause_ms = 15\n");
  b.Tick(false, false, true, true, false);
  b.SwitchOn();
  b.line->mnSMS1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lSMS2) == clLime; })) << b.Log();
  EXPECT_EQ(b.Count("SMS1\x1A"), 1u);
  EXPECT_EQ(b.Count("SMS2\x1A"), 1u);
  EXPECT_EQ(b.line->Data.Job, ljIdle);
  EXPECT_EQ(b.line->Reply(), rtIdle);
}

// The balance answer, whichever order the modem puts it and its "OK" in.
struct TBalanceCase {
  const char* name;
  std::string reply;  // the modem's whole answer to the request
  bool shown;
};

// The case's name stands for it in test names and failure messages.
void PrintTo(const TBalanceCase& c, std::ostream* os) { *os << c.name; }

class BalanceAnswer : public ::testing::TestWithParam<TBalanceCase> {};

TEST_P(BalanceAnswer, IsTakenOrReported) {
  const TBalanceCase& c = GetParam();
  TCallsBench b("", "[ussd *555#]\nstatus = none\n");
  b.window->Card.cekpulsa = "*555#";
  b.modem->AddFault(TextReply("AT+CUSD", c.reply));
  b.SwitchOn();
  b.line->mnCekPulsa->trigger();
  ASSERT_TRUE(b.WaitHost("AT+CUSD=1,\"*555#\"\r\n"));
  if (c.shown) {
    ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljIdle; })) << b.Log();
    EXPECT_EQ(ToAnsi(b.line->eCekPulsa->text()), "\"abc\",15\r\n");
    EXPECT_EQ(Colour(b.line->lCekPulsa), clLime);
    EXPECT_FALSE(b.line->Data.UssdPending);
  } else {
    ASSERT_TRUE(WaitUntil([&] { return b.Logged("Cek Pulsa Error"); })) << b.Log();
    // Shown failed, and the line is idle after its chain for the next card.
    EXPECT_EQ(b.line->Data.Job, ljIdle);
    EXPECT_EQ(Colour(b.line->lCekPulsa), clRed);
    EXPECT_EQ(b.Count("AT+CUSD"), 1u);
  }
  EXPECT_EQ(b.line->Reply(), rtIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, BalanceAnswer,
    ::testing::Values(TBalanceCase{"AfterOk", "\r\nOK\r\n\r\n+CUSD: 0,\"abc\",15\r\n", true},
                      TBalanceCase{"BeforeOk", "\r\n+CUSD: 0,\"abc\",15\r\n\r\nOK\r\n", true},
                      TBalanceCase{"Refused", "\r\n+CME ERROR: 3\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Balance, AMessageWithLineBreaksArrivingInPiecesIsShownWhole) {
  TCallsBench b("", "[ussd *555#]\nstatus = none\n");
  b.window->Card.cekpulsa = "*555#";
  b.SwitchOn();
  b.line->mnCekPulsa->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.UssdPending; })) << b.Log();
  b.modem->SendRaw("\r\n+CUSD: 0,\"Sisa, pulsa Rp 5.000\r\n");
  Pump(150);
  EXPECT_EQ(b.line->Data.Job, ljCekPulsa);
  b.modem->SendRaw("Info *888*1#\",15\r\n");
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljIdle; })) << b.Log();
  EXPECT_EQ(ToAnsi(b.line->eCekPulsa->text()), "\"Sisa, pulsa Rp 5.000\r\nInfo *888*1#\",15\r\n");
  EXPECT_FALSE(b.line->tOn->Enabled());
}

TEST(Balance, AnswersWithoutMessageAreAskedAgainUpToTheFailureLimit) {
  TCallsBench b("", "[ussd *100#]\nstatus = 2\ndelay_ms = 10\n");
  b.window->Card.cekpulsa = "*100#";
  b.window->Card.maxgagal = 2;
  b.SwitchOn();
  b.line->mnCekPulsa->trigger();
  ASSERT_TRUE(WaitUntil([&] { return b.Logged("Cek Pulsa Error"); })) << b.Log();
  Pump(200);
  EXPECT_EQ(b.Count("AT+CUSD=1,\"*100#\"\r\n"), 3u);
  EXPECT_FALSE(b.line->Data.UssdPending);
  EXPECT_EQ(b.line->Data.Job, ljIdle);
  EXPECT_EQ(b.line->Reply(), rtIdle);
  EXPECT_EQ(Colour(b.line->lCekPulsa), clRed);
  // Paced: a network that has just ended the session is not asked at once.
  std::vector<long long> sent;
  for (const modemsim::TranscriptEntry& e : b.modem->Transcript().Entries())
    if (e.direction == modemsim::Direction::ToModem && e.bytes.find("AT+CUSD=1") != std::string::npos)
      sent.push_back(e.ms);
  ASSERT_EQ(sent.size(), 3u);
  for (std::size_t i = 1; i < sent.size(); ++i)
    EXPECT_GE(sent[i] - sent[i - 1], TConsoleLine::UssdRetryPauseMs - 50) << "asked again " << i;
  EXPECT_TRUE(b.Logged("F031-1: no balance in the answer, asking again in 1000 ms"));
}

}  // namespace
