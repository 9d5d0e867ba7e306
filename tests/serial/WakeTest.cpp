// The worker threads wake only for work: an idle port sleeps, a modem-line
// pulse of any length is seen where the device reports line changes, and a
// block queued on an idle line goes to the device from the caller at once.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "ComDir.h"
#include "FakeDevice.h"
#include "GuiThread.h"
#include "PollWait.h"
#include "PtyMaster.h"
#include "SerDevice.h"
#include "TtyDevice.h"

namespace {

using serialtest::TFakeDispatcher;
using corvane::testsupport::ComDir;
using corvane::testsupport::PollUntil;
using corvane::testsupport::PtyMaster;
using namespace std::chrono_literals;

// ---- the fake device ------------------------------------------------------

class WakeFake : public testing::Test {
 protected:
  int32_t Open() { return fake_.OpenChannel("COM1", 115200, 0, 8, 1, 4096, 4096, true, false); }
  TFakeDispatcher fake_;
};

TEST_F(WakeFake, IdlePortWithoutLinesToWatchNeverWakesItsDispatchThread) {
  ASSERT_EQ(Open(), 0);
  fake_.SetNoticeThreshold(1);
  const int before = fake_.InputWaits();
  std::this_thread::sleep_for(400ms);
  // A timed pass would have woken it eight times.
  EXPECT_EQ(fake_.InputWaits(), before);
  // Still awake for input.
  fake_.Inject("OK\r\n");
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 4; }));
}

TEST_F(WakeFake, BytesAHandlerLeftUnreadWaitForAReadNotForPasses) {
  std::atomic<int> notices{0};
  serialtest::GuiThread gui([&](serial::TNoticeTicket& t) {
    uint8_t c;
    fake_.TakeChar(c);  // one of the offered bytes; the rest stay
    (void)t;
    ++notices;
  });
  ASSERT_EQ(Open(), 0);
  fake_.AddWindowHandler(gui.ReceiverPtr());
  fake_.UpdateNoticeNeed(1);
  fake_.SetNoticeThreshold(1);
  const std::string line = "+CMTI: \"SM\",3\r\n";
  fake_.Inject(line);
  ASSERT_TRUE(PollUntil([&] { return notices.load() == 1 && !fake_.NoticeRunning(); }));
  const int before = fake_.InputWaits();
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(fake_.InputWaits() - before, 1);
  EXPECT_EQ(notices.load(), 1);
  EXPECT_EQ(fake_.UnreadCount(), line.size() - 1);
  // New bytes bring a notice for all that is unread.
  fake_.Inject("OK");
  ASSERT_TRUE(PollUntil([&] { return notices.load() == 2; }));
}

TEST_F(WakeFake, LinesThatMustBeComparedKeepTheTimedPass) {
  fake_.SetModemLines(true, 0);  // lines, but no report of their changes
  ASSERT_EQ(Open(), 0);
  const int before = fake_.InputWaits();
  std::this_thread::sleep_for(400ms);
  EXPECT_GE(fake_.InputWaits() - before, 2);
}

struct PulseCase {
  const char* name;
  uint32_t line;        // kMs*On raised and dropped at once
  uint32_t statusBit;   // what ReadModemStatus must show afterwards
};

class LinePulse : public WakeFake, public testing::WithParamInterface<PulseCase> {};

TEST_P(LinePulse, ShorterThanAPassIsStillSeen) {
  const PulseCase& tc = GetParam();
  fake_.SetModemLines(true, 0);
  fake_.SetLineEventsSupported(true);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(fake_.ReadModemStatus(0xF0) & 0x0F, 0u);
  fake_.ChangeLines(tc.line);
  fake_.ChangeLines(0);
  ASSERT_TRUE(PollUntil([&] { return (fake_.ReadModemStatus(0xF0) & tc.statusBit) != 0; }, 2s));
  EXPECT_EQ(fake_.ReadModemStatus(0xF0) & 0xFF, 0u);  // masked off by the read; line is off again
}

INSTANTIATE_TEST_SUITE_P(Lines, LinePulse,
                         testing::Values(PulseCase{"Ring", serial::kMsRingOn, serial::kMsRingEnded},
                                         PulseCase{"Dcd", serial::kMsRlsdOn, serial::kMsDcdChanged},
                                         PulseCase{"Cts", serial::kMsCtsOn, serial::kMsCtsChanged},
                                         PulseCase{"Dsr", serial::kMsDsrOn, serial::kMsDsrChanged}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WakeFake, ReportedCtsReleasesHeldOutput) {
  fake_.SetModemLines(true, 0);
  fake_.SetLineEventsSupported(true);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.SetHandshake(serial::hwfRequireCTS, 3072, 1024), 0);
  ASSERT_EQ(fake_.QueueBlock("AT\r", 3), 0);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(fake_.Output(), "");
  fake_.ChangeLines(serial::kMsCtsOn);
  ASSERT_TRUE(PollUntil([&] { return fake_.Output() == "AT\r"; }));
}

TEST_F(WakeFake, BlockOnAnIdleLineIsWrittenByTheCaller) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.QueueBlock("AT+CSQ\r", 7), 0);
  // Written before QueueBlock returned, on this thread.
  EXPECT_EQ(fake_.Output(), "AT+CSQ\r");
  ASSERT_EQ(fake_.WriteThreads().size(), 1u);
  EXPECT_EQ(fake_.WriteThreads()[0], std::this_thread::get_id());
  EXPECT_EQ(fake_.OutputPending(), 0u);
}

TEST_F(WakeFake, WhatTheDeviceDoesNotTakeFollowsFromTheRingInOrder) {
  ASSERT_EQ(Open(), 0);
  fake_.SetWriteBudget(5);
  ASSERT_EQ(fake_.QueueBlock("ABCDEFGH", 8), 0);
  EXPECT_EQ(fake_.Output(), "ABCDE");
  EXPECT_EQ(fake_.OutputPending(), 3u);
  // Bytes are waiting: this block queues behind them, even with room at the device.
  ASSERT_EQ(fake_.QueueBlock("IJ", 2), 0);
  fake_.SetWriteBudget(SIZE_MAX);
  ASSERT_TRUE(PollUntil([&] { return fake_.OutputPending() == 0; }));
  EXPECT_EQ(fake_.Output(), "ABCDEFGHIJ");
  // The ring's limit holds for what did not go straight through.
  fake_.SetWriteBudget(0);
  std::string big(4096, 'x');
  ASSERT_EQ(fake_.QueueBlock(big.data(), 4096), 0);
  EXPECT_EQ(fake_.QueueBlock("y", 1), serial::ecOutputBufferTooSmall);
}

// ---- a pseudo-terminal --------------------------------------------------------

// Voluntary and forced switches of the threads not in before.
long SwitchesOfThreadsNotIn(const std::set<std::string>& before, std::set<std::string>* now = nullptr) {
  long total = 0;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = ::readdir(dir)) {
    const std::string tid = e->d_name;
    if (tid == "." || tid == "..") continue;
    if (now) now->insert(tid);
    if (before.count(tid)) continue;
    std::ifstream status("/proc/self/task/" + tid + "/status");
    std::string key;
    long value;
    while (status >> key) {
      if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
        if (status >> value) total += value;
      }
    }
  }
  ::closedir(dir);
  return total;
}

TEST(WakePty, PseudoTerminalRefusesTheLineWaitAtOnce) {
  // The event thread's fall-back rests on this: a driver without a line
  // wait says so instead of waiting.
  PtyMaster pty;
  ASSERT_TRUE(pty.Ok());
  int fd = -1;
  ASSERT_EQ(platform::TtyOpenExclusive(pty.SlaveName().c_str(), fd), 0);
  platform::TtyPrepareWakeSignal();
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = platform::TtyWaitModemChange(fd); });
  const unsigned long id = static_cast<unsigned long>(waiter.native_handle());
  const bool ended = PollUntil([&] { return result.load() != -1; }, 2s);
  // Should it wait after all, the signal ends it (repeated: it may come first).
  while (result.load() == -1) {
    platform::TtyWakeWaiter(id);
    std::this_thread::sleep_for(10ms);
  }
  waiter.join();
  EXPECT_TRUE(ended);
  EXPECT_NE(result.load(), 0);
  EXPECT_NE(result.load(), EINTR);
  platform::TtyClose(fd);
}

TEST(WakePty, IdleOpenPortSleeps) {
  PtyMaster pty;
  ASSERT_TRUE(pty.Ok());
  ComDir dir;
  dir.Link(4, pty.SlaveName());
  // A thread made and ended first: helpers a runtime starts with the first
  // thread of the process (a sanitizer's) are then counted out.
  std::thread([] {}).join();
  std::set<std::string> before;
  SwitchesOfThreadsNotIn({}, &before);
  serial::TWin32Dispatcher port(nullptr);
  ASSERT_EQ(port.OpenChannel("\\\\.\\COM4", 115200, 0, 8, 1, 4096, 4096, true, false), 0);
  port.SetNoticeThreshold(1);
  std::this_thread::sleep_for(200ms);
  const long start = SwitchesOfThreadsNotIn(before);
  std::this_thread::sleep_for(1s);
  const long used = SwitchesOfThreadsNotIn(before) - start;
  // Passes every 50 ms and the threads they woke came to some forty a second.
  EXPECT_LT(used, 8) << "wake-ups of the port's threads in 1 s";
  // And input still arrives.
  ASSERT_TRUE(pty.WriteAll("RING\r\n", 6));
  ASSERT_TRUE(PollUntil([&] { return port.UnreadCount() == 6; }));
  port.CloseChannel();
}

}  // namespace
