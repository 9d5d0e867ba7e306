// The worker threads on pseudo-terminals: a stream arrives whole through
// notices, output larger than the ring goes out intact, purges do not tear
// the ring, threads start and stop without leaks, a lost device costs nothing.
#include <gtest/gtest.h>

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "GuiThread.h"
#include "ComDir.h"
#include "PollWait.h"
#include "ProcessCounts.h"
#include "PtyMaster.h"
#include "SerDevice.h"

namespace {

using serial::TNoticeTicket;
using serial::TWin32Dispatcher;
using corvane::testsupport::ComDir;
using serialtest::GuiThread;
using corvane::testsupport::PtyMaster;
using corvane::testsupport::PollUntil;
using namespace std::chrono_literals;

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

class PtyThreads : public testing::Test {
 protected:
  PtyThreads() : port_(std::make_unique<TWin32Dispatcher>(nullptr)) {}
  ~PtyThreads() override { port_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    dir_.Link(3, pty_.SlaveName());
    ASSERT_EQ(port_->OpenChannel("\\\\.\\COM3", 115200, 0, 8, 1, 4096, 4096, true, false), 0);
    // As both programs set their ports up.
    ASSERT_EQ(port_->SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS, 3072, 1024), 0);
  }
  PtyMaster pty_;
  ComDir dir_;
  std::unique_ptr<TWin32Dispatcher> port_;
};

TEST_F(PtyThreads, RandomStreamInRandomPiecesArrivesWholeAndInOrder) {
  std::mutex mutex;
  std::string received;
  GuiThread gui([&](TNoticeTicket& t) {
    std::lock_guard lock(mutex);
    uint8_t c;
    for (uint32_t i = 0; i < t.WParam() && port_->TakeChar(c) == 0; ++i)
      received.push_back(static_cast<char>(c));
  });
  port_->AddWindowHandler(gui.ReceiverPtr());
  port_->UpdateNoticeNeed(1);
  port_->SetNoticeThreshold(1);

  const std::string data = RandomBytes(100000, 1234);
  std::mt19937 rng(99);
  for (size_t pos = 0; pos < data.size();) {
    const size_t piece = std::min<size_t>(1 + rng() % 700, data.size() - pos);
    ASSERT_TRUE(pty_.WriteAll(data.data() + pos, piece));
    pos += piece;
    if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
  }
  ASSERT_TRUE(PollUntil(
      [&] {
        std::lock_guard lock(mutex);
        return received.size() >= data.size();
      },
      30s));
  std::lock_guard lock(mutex);
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data);
}

TEST_F(PtyThreads, OutputOfSeveralRingsInPiecesArrivesIntact) {
  const std::string data = RandomBytes(5 * 4096 + 123, 77);
  std::string got;
  std::thread reader([&] { got = pty_.ReadAtLeast(data.size(), 30s); });
  std::mt19937 rng(5);
  for (size_t pos = 0; pos < data.size();) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(1 + rng() % 1500, data.size() - pos));
    const int32_t r = port_->QueueBlock(data.data() + pos, piece);
    if (r == serial::ecOutputBufferTooSmall) {
      std::this_thread::sleep_for(1ms);  // the ring is full: nothing was queued
      continue;
    }
    ASSERT_EQ(r, 0);
    pos += piece;
  }
  reader.join();
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(std::string(got.begin(), got.end()) == data);
}

TEST_F(PtyThreads, PurgingWhileTheOutputThreadWritesKeepsTheRingWhole) {
  std::atomic<bool> stop{false};
  std::string got;
  std::thread reader([&] {
    uint8_t buf[512];
    while (!stop.load()) {
      pollfd fd{pty_.Fd(), POLLIN, 0};
      if (::poll(&fd, 1, 5) <= 0) continue;
      const ssize_t n = ::read(pty_.Fd(), buf, sizeof buf);
      if (n > 0) got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
      std::this_thread::sleep_for(std::chrono::microseconds(300));  // a slow modem
    }
  });
  std::string block(4000, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
  for (int i = 0; i < 200; ++i) {
    port_->QueueBlock(block.data(), static_cast<uint32_t>(1 + i * 19 % block.size()));
    if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(port_->DiscardOutput(), 0);
    EXPECT_EQ(port_->OutputPending(), 0u);
  }
  const std::string mark = "<<END>>";
  ASSERT_EQ(port_->QueueBlock(mark.data(), static_cast<uint32_t>(mark.size())), 0);
  ASSERT_TRUE(PollUntil([&] { return port_->OutputPending() == 0; }));
  std::this_thread::sleep_for(100ms);
  stop = true;
  reader.join();
  ASSERT_GE(got.size(), mark.size());
  EXPECT_EQ(got.substr(got.size() - mark.size()), mark);
  // Only whole bytes of what was queued ever left the ring.
  for (char c : got.substr(0, got.size() - mark.size())) ASSERT_TRUE(c >= 'a' && c <= 'z') << int(c);
}

TEST_F(PtyThreads, StartAndStopFiveHundredTimesLeaveNothingBehind) {
  const size_t fds = corvane::testsupport::OpenDescriptorCount();
  const size_t threads = corvane::testsupport::ThreadCount();
  for (int i = 0; i < 500; ++i) {
    port_->StopThreads();
    ASSERT_FALSE(port_->ThreadsRunning());
    port_->StopThreads();  // a second stop returns at once
    port_->StartThreads();
    ASSERT_TRUE(port_->ThreadsRunning());
  }
  EXPECT_THROW(port_->StartThreads(), std::runtime_error);
  EXPECT_EQ(corvane::testsupport::OpenDescriptorCount(), fds);
  EXPECT_EQ(corvane::testsupport::ThreadCount(), threads);
  // Still a working port.
  ASSERT_EQ(port_->QueueBlock("AT\r", 3), 0);
  const auto sent = pty_.ReadAtLeast(3);
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "AT\r");
  port_->CloseChannel();
  port_.reset();
  EXPECT_EQ(corvane::testsupport::ThreadCount(), threads - 3);
  EXPECT_EQ(corvane::testsupport::OpenDescriptorCount(), fds - 3);  // the tty and its two wake-ups
}

double ProcessCpuSeconds() {
  timespec ts;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST_F(PtyThreads, UnpluggedModemCostsNoCpuAndStillClosesCleanly) {
  GuiThread gui([&](TNoticeTicket& t) {
    uint8_t c;
    for (uint32_t i = 0; i < t.WParam(); ++i) port_->TakeChar(c);
  });
  port_->AddWindowHandler(gui.ReceiverPtr());
  port_->UpdateNoticeNeed(1);
  port_->SetNoticeThreshold(1);
  ASSERT_EQ(port_->QueueBlock("AT\r", 3), 0);
  pty_.Close();
  ASSERT_TRUE(PollUntil([&] { return port_->DeviceLost(); }));
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(3s);
  const double used = ProcessCpuSeconds() - before;
  EXPECT_LT(used, 0.15) << "seconds of CPU in 3 s";
  port_->CloseChannel();
  EXPECT_FALSE(port_->ThreadsRunning());
  EXPECT_FALSE(port_->DeviceOpen());
}

}  // namespace
