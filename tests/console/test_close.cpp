// The console window's confirmed close: what stops at the Yes, and what a
// main file that could not be read leads to.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>

#include <memory>
#include <string>

#include "ConsoleTestSupport.h"
#include "SerPort.h"
#include "ui_TfzCorvaneV4.h"
#include "uzCorvaneV4.h"

namespace corvane::test {
namespace {

std::string MainFileForComs1To4() {
  std::string ini = "[Corvane_V4]\r\n";
  for (int n = 1; n <= 4; ++n) ini += "comport_" + std::to_string(n) + "=" + std::to_string(n) + "\r\n";
  return ini;
}

int RunningTimers(TfzCorvaneV4& w) {
  int running = 0;
  for (TTimer* t : w.findChildren<TTimer*>()) running += t->Running() ? 1 : 0;
  return running;
}

int OpenPorts(TfzCorvaneV4& w) {
  int open = 0;
  for (int n = 1; n <= LineCount; ++n) open += w.Line(n).comVorel->Open() ? 1 : 0;
  return open;
}

TEST(Close, TheYesStopsEveryTimerAndClosesEveryPortAndALaterCloseAsksNothing) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", MainFileForComs1To4());
  for (int n = 1; n <= 4; ++n) folder.AddModem(n);
  auto w = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
  w->show();
  w->Form().ckOn_All->setChecked(true);
  ASSERT_EQ(OpenPorts(*w), 4);
  ASSERT_GE(RunningTimers(*w), 4) << "each line's start timer runs";

  dialogs.answers = {TModalResult::No};
  EXPECT_FALSE(w->close());
  EXPECT_EQ(OpenPorts(*w), 4) << "No keeps every line running";
  EXPECT_GE(RunningTimers(*w), 4);

  dialogs.answers = {TModalResult::Yes};
  EXPECT_TRUE(w->close());
  EXPECT_EQ(RunningTimers(*w), 0);
  EXPECT_EQ(OpenPorts(*w), 0);
  Pump(300);
  EXPECT_EQ(RunningTimers(*w), 0) << "nothing starts a timer again after the Yes";
  EXPECT_TRUE(folder.ReadFile("Corvane_v4.ini").find("maxlistline=1000") != std::string::npos);

  // A close after the confirmed one neither asks nor saves.
  ASSERT_EQ(std::remove((folder.Dir() + "Corvane_v4.ini").c_str()), 0);
  const std::size_t asked = dialogs.asked.size();
  EXPECT_TRUE(w->close());
  EXPECT_EQ(dialogs.asked.size(), asked);
  EXPECT_FALSE(folder.Exists("Corvane_v4.ini"));
}

// A main file far larger than any real one is not read, so its ports are not
// known: the operator is told once, and the save at close must not replace
// the file with the few keys it writes.
TEST(Close, AMainFileTooLargeToReadIsReportedOnceAndNeverOverwritten) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  const std::string big = MainFileForComs1To4() + std::string(5u << 20, ';') + "\r\n";
  folder.WriteFile("Corvane_v4.ini", big);
  auto w = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
  w->show();
  Pump(50);
  EXPECT_EQ(w->LineRecord(1).ComPort, 8) << "every value takes its default";
  ASSERT_EQ(central.messages.size(), 1u);
  EXPECT_TRUE(central.messages[0].contains("larger than 4 MiB")) << central.messages[0].toStdString();

  dialogs.answers = {TModalResult::Yes, TModalResult::Yes};  // close; close without saving
  EXPECT_TRUE(w->close());
  ASSERT_EQ(dialogs.asked.size(), 2u);
  EXPECT_TRUE(dialogs.asked[1].text.startsWith(QString::fromStdString("Unable to write to " + w->MainIniPath())))
      << dialogs.asked[1].text.toStdString();
  EXPECT_TRUE(folder.ReadFile("Corvane_v4.ini") == big) << "the file is left as it was";
  Pump(50);
  EXPECT_EQ(central.messages.size(), 1u) << "reading it again to save gives no second warning";
}

}  // namespace
}  // namespace corvane::test
