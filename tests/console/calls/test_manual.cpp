// The manual commands of a line's status-label menus.
#include <gtest/gtest.h>

#include <QAction>

#include "calls/CallsBench.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;

namespace {

struct TManualCase {
  const char* item;     // menu item, without the line suffix
  const char* command;  // what the modem receives
  std::int32_t jobSent;
  std::int32_t jobClosed;  // the job when the port is closed and nothing goes out
  TReplyType reply;
};

// The menu item stands for the case in test names and failure messages.
void PrintTo(const TManualCase& c, std::ostream* os) { *os << c.item; }

const TManualCase kManual[] = {
    {"mnCALL", "ATD0811;\r", ljDialling, ljRegistered, rtDial},
    {"mnCALL2", "ATD0812;\r", ljDialling, ljRegistered, rtDial},
    // The first SMS behind a reset switches the modem to text mode first.
    {"mnSMS1", "AT+CMGF=1\r", ljSms1, ljSms1, rtSmsFormat},
    {"mnSMS2", "AT+CMGF=1\r", ljSms2, ljSms2, rtSmsFormat},
    {"mnCekPulsa", "AT+CUSD=1,\"*888#\"\r\n", ljCekPulsa, ljCekPulsa, rtUssd},
};

class Manual : public ::testing::TestWithParam<TManualCase> {};

QAction* Item(TCallsBench& b, const char* name) {
  return b.window->findChild<QAction*>(QString::fromLatin1(name) + "_" + QString::number(b.line->Number()));
}

TEST_P(Manual, TakesTheLineOverWhateverItWasWaitingFor) {
  const TManualCase& c = GetParam();
  // A modem that keeps the answer back, so the state right after the send is seen.
  TCallsBench b("", "[call *]\ndelay_ms = 5000\n[fault quiet]\ncommand = AT+C\nreply = silent\n");
  b.SwitchOn();
  b.line->Reply() = rtStkGetInfo;
  b.line->Data.RxBuffer = "\r\n+STGI: stale";
  b.line->tWatchDog->SetEnabled(true);
  Item(b, c.item)->trigger();
  ASSERT_TRUE(b.WaitHost(c.command)) << b.Log();
  EXPECT_EQ(b.line->Data.Job, c.jobSent);
  EXPECT_EQ(b.line->Reply(), c.reply);
  EXPECT_EQ(b.line->Data.RxBuffer.find("stale"), std::string::npos);
  EXPECT_FALSE(b.line->tDial->Enabled());
  EXPECT_FALSE(b.line->tOn->Enabled());
  if (std::string(c.item) != "mnCekPulsa") {
    EXPECT_FALSE(b.line->tWatchDog->Enabled());
    EXPECT_EQ(b.line->Data.WatchdogTicks, 0);
  }
}

TEST_P(Manual, OnALineThatIsOffSendsNothingAndKeepsItsJob) {
  const TManualCase& c = GetParam();
  TCallsBench b;
  b.line->Data.SmsErrorCount = 7;
  Item(b, c.item)->trigger();
  Pump(100);
  EXPECT_EQ(b.Host(), "");
  EXPECT_EQ(b.line->Data.Job, c.jobClosed);
  const bool sms = c.jobClosed == ljSms1 || c.jobClosed == ljSms2;
  EXPECT_EQ(b.line->Data.SmsErrorCount, sms ? 0 : 7);
  EXPECT_TRUE(b.central.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Items, Manual, ::testing::ValuesIn(kManual),
                         [](const auto& info) { return std::string(info.param.item); });

}  // namespace
