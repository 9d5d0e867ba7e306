// No timer of a console line ticks before its interval: a modem is given the
// whole answer delay, a call its whole length, a reset its whole grace.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ConsoleTestSupport.h"
#include "TickClock.h"
#include "uzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// Every line timer, armed with its laid-out interval or, where that is long,
// a shorter one that still lies in the range where a coarse timer may round
// early (5 % of the interval). A timer missing here is armed with 1000 ms.
const std::map<std::string, int> kArmedMs = {
    {"tOn", 2000},           {"tDial", 1500},     {"tHangup", 1300},     {"tWatchDog", 1000},
    {"tTimeOut", 1000},      {"tMatikan", 1700},  {"tDelay", 1000},      {"tBringUpRetry", 1000},
    {"tAnswerGuard", 1900}, {"tStkRetry", 1000}, {"tSmsRetry", 1200},
};

// The timers of the form's layout: seven on each line.
const char* const kLaidOut[] = {"tOn", "tDial", "tHangup", "tWatchDog", "tTimeOut", "tMatikan", "tDelay"};

std::string BaseName(const QString& objectName) {
  const std::string name = objectName.toStdString();
  return name.substr(0, name.rfind('_'));
}

}  // namespace

TEST(Timers, NoLineTimerTicksBeforeItsInterval) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TfzCorvaneV4 w(TFormOptions{folder.Dir(), false});
  const QList<TTimer*> timers = w.findChildren<TTimer*>();
  std::map<std::string, int> perName;
  for (TTimer* t : timers) ++perName[BaseName(t->objectName())];
  for (const char* name : kLaidOut) EXPECT_EQ(perName[name], LineCount) << name << " on every line";

  ::testsupport::TickClock ticks;
  for (TTimer* t : timers) {
    const auto row = kArmedMs.find(BaseName(t->objectName()));
    const int ms = row != kArmedMs.end() ? row->second : 1000;
    t->SetEnabled(false);
    t->SetInterval(ms);
    t->OnTimer = ticks.Armed(t->objectName().toStdString(), ms);
    t->SetEnabled(true);
  }
  // Two ticks of each: the second shows that a repeating timer does not
  // gain on its first tick either.
  ASSERT_TRUE(WaitUntil([&] { return ticks.AllTicked(2); }, 20000));
  for (TTimer* t : timers) t->SetEnabled(false);
  EXPECT_EQ(ticks.EarlyTicks(), std::vector<std::string>{});
}
