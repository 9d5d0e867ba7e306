// The device layer on real pseudo-terminals: the master side checks what the
// slave got.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "ComDir.h"
#include "PollWait.h"
#include "ProcessCounts.h"
#include "PtyMaster.h"
#include "SerCodes.h"
#include "SerDevice.h"
#include "TtyDevice.h"

namespace {

using serial::TWin32Dispatcher;
using corvane::testsupport::ComDir;
using corvane::testsupport::PtyMaster;
using corvane::testsupport::PollUntil;

int32_t OpenPort(TWin32Dispatcher& d, const std::string& name) {
  return serial::OpenResultCode(d.OpenChannel(name, 115200, 0, 8, 1, 4096, 4096, true, false));
}

std::string Take(TWin32Dispatcher& d, size_t n) {
  std::string s;
  uint8_t c;
  while (s.size() < n && d.TakeChar(c) == 0) s.push_back(static_cast<char>(c));
  return s;
}

class PtyPort : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    dir_.Link(7, pty_.SlaveName());
  }
  PtyMaster pty_;
  ComDir dir_;
};

TEST_F(PtyPort, OpensAt115200EightNOneInRawMode) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "\\\\.\\COM7"), 0);
  const termios t = pty_.SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_EQ(cfgetispeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & HUPCL);  // a program that dies still drops the modem's lines
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  // Bytes pass unchanged both ways: CR and LF are not mapped.
  ASSERT_EQ(d.QueueBlock("AT\r\n", 4), 0);
  const auto sent = pty_.ReadAtLeast(4);
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "AT\r\n");
  ASSERT_TRUE(pty_.WriteAll("\r\nOK\r\n"));
  ASSERT_TRUE(PollUntil([&] { return d.UnreadCount() == 6; }));
  EXPECT_EQ(Take(d, 6), "\r\nOK\r\n");
}

TEST_F(PtyPort, FrameCombinationsArriveOrAreRefusedNeverSilentlyChanged) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  // A pseudo-terminal keeps stop bits and the parity kind but always
  // stores CS8 without PARENB; whatever it does not keep must be refused.
  for (int parity = 0; parity <= 4; ++parity)
    for (int databits = 5; databits <= 8; ++databits)
      for (int stopbits = 1; stopbits <= 2; ++stopbits) {
        SCOPED_TRACE(testing::Message() << parity << " " << databits << " " << stopbits);
        const int32_t r = d.ApplyLine(57600, parity, databits, stopbits);
        const termios t = pty_.SlaveTermios();
        platform::TtyLine want;
        want.rate = 57600;
        want.dataBits = static_cast<uint8_t>(databits);
        want.parity = static_cast<uint8_t>(parity);
        want.extraStopBit = stopbits == 2;
        const tcflag_t frame = platform::TtyFrameFlags(want);
        const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
        if (r == 0) {
          EXPECT_EQ(t.c_cflag & mask, frame);
          EXPECT_EQ(cfgetospeed(&t), B57600);
        } else {
          EXPECT_EQ(r, serial::ecBadParameter);
          EXPECT_NE(t.c_cflag & mask, frame);
        }
        if (databits == 8 && parity == 0) {
          EXPECT_EQ(r, 0);
        }
      }
}

bool SameLine(const termios& a, const termios& b) {
  return a.c_cflag == b.c_cflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b) &&
         cfgetispeed(&a) == cfgetispeed(&b);
}

TEST_F(PtyPort, ARefusedSettingLeavesTheLineExactlyAsItWas) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  const termios before = pty_.SlaveTermios();
  // A pseudo-terminal takes the rate and the stop bits but not 7E.
  EXPECT_EQ(d.ApplyLine(300, 2, 7, 2), serial::ecBadParameter);
  const termios after = pty_.SlaveTermios();
  EXPECT_EQ(cfgetospeed(&after), B115200);
  EXPECT_EQ(after.c_cflag & CSTOPB, 0u);
  EXPECT_TRUE(SameLine(before, after));
  // The line still carries the modem dialogue at its old settings.
  ASSERT_EQ(d.QueueBlock("AT\r", 3), 0);
  EXPECT_EQ(pty_.ReadAtLeast(3), "AT\r");
}

TEST_F(PtyPort, TheTtyCallPutsBackWhatTheDriverTookOfARefusedSetting) {
  int fd = -1;
  ASSERT_EQ(platform::TtyOpenExclusive(pty_.SlaveName().c_str(), fd), 0);
  const termios before = pty_.SlaveTermios();
  platform::TtyLine line;
  line.rate = 300;
  line.dataBits = 7;
  line.parity = 2;
  line.extraStopBit = true;
  EXPECT_EQ(platform::TtySetLine(fd, line), EINVAL);
  EXPECT_TRUE(SameLine(before, pty_.SlaveTermios()));
  platform::TtyClose(fd);
}

TEST_F(PtyPort, ANegativeRateIsRefused) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  const termios before = pty_.SlaveTermios();
  EXPECT_EQ(d.ApplyLine(-5, 0, 8, 1), serial::ecBadArgument);
  EXPECT_TRUE(SameLine(before, pty_.SlaveTermios()));
}

TEST_F(PtyPort, TheRtsCtsPairIsTheDriversCrtscts) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  for (uint32_t options = 0; options < 16; ++options) {
    ASSERT_EQ(d.SetHandshake(options, 3072, 1024), 0) << options;
    const bool pair = (options & serial::hwfUseRTS) && (options & serial::hwfRequireCTS);
    EXPECT_EQ((pty_.SlaveTermios().c_cflag & CRTSCTS) != 0, pair) << options;
    EXPECT_EQ((d.CurrentLine().Flags & serial::kDcbDriverRtsCts) != 0, pair) << options;
  }
  // The programs' own choice, DTR and RTS for receiving: the layer's, not the driver's.
  ASSERT_EQ(d.SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS, 3072, 1024), 0);
  EXPECT_EQ(pty_.SlaveTermios().c_cflag & CRTSCTS, 0u);
}

TEST_F(PtyPort, ALineChangeWaitsForWhatASlowReaderHasNotTakenYet) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  // More than the pseudo-terminal's own buffer holds, so that the rest waits
  // in the output ring while the modem side reads slowly.
  std::string sent;
  for (int block = 0; block < 8 && d.OutputPending() == 0; ++block) {
    const std::string text(4000, static_cast<char>('a' + block));
    ASSERT_EQ(d.QueueBlock(text.data(), static_cast<uint32_t>(text.size())), 0);
    sent += text;
    PollUntil([&] { return d.OutputPending() == 0; }, std::chrono::milliseconds(300));
  }
  ASSERT_GT(d.OutputPending(), 0u);
  std::atomic<bool> changedEarly{false};
  std::string got;
  std::thread reader([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
      const termios t = pty_.SlaveTermios();
      // Once the line has changed nothing may be left in the output ring.
      if (cfgetospeed(&t) == B9600 && d.OutputPending() != 0) changedEarly = true;
      got += pty_.ReadUpTo(512, std::chrono::milliseconds(20));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_EQ(d.ApplyLine(9600, 0, 8, 1), 0);
  EXPECT_EQ(d.OutputPending(), 0u);
  reader.join();
  EXPECT_FALSE(changedEarly.load());
  EXPECT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);  // every byte, in order
}

TEST_F(PtyPort, RateWithoutACodeGoesOutAsItIs) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  ASSERT_EQ(d.ApplyLine(123456, 0, 8, 1), 0);
  EXPECT_EQ(d.CurrentLine().BaudRate, 123456u);
  platform::TtyLine line;
  ASSERT_EQ(platform::TtyGetLine(pty_.Fd(), line), 0);
  EXPECT_EQ(line.rate, 123456u);
}

TEST_F(PtyPort, MissingDeviceAndNonTtyAreNoSuchPort) {
  TWin32Dispatcher d(nullptr);
  EXPECT_EQ(OpenPort(d, "COM8"), serial::ecBadId);  // no such link
  const std::string file = dir_.Path() + "/plain";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  dir_.Link(9, file);
  EXPECT_EQ(OpenPort(d, "COM9"), serial::ecBadId);  // exists, but not a tty
  dir_.Link(10, dir_.Path());
  EXPECT_EQ(OpenPort(d, "COM10"), serial::ecBadId);  // a folder
  EXPECT_EQ(OpenPort(d, "COM0"), serial::ecBadId);
  EXPECT_FALSE(d.DeviceOpen());
  // After failures the same dispatcher still opens a real port.
  EXPECT_EQ(OpenPort(d, "COM7"), 0);
}

TEST_F(PtyPort, SecondOpenIsRefusedAndTheFirstKeepsWorking) {
  TWin32Dispatcher first(nullptr);
  ASSERT_EQ(OpenPort(first, "COM7"), 0);
  {
    TWin32Dispatcher second(nullptr);
    EXPECT_EQ(OpenPort(second, "COM7"), serial::ecAlreadyOpen);
    EXPECT_EQ(OpenPort(second, pty_.SlaveName()), serial::ecAlreadyOpen);
  }
  // Another process: the probe opens the same port.
  const std::string cmd = std::string(SERIAL_OPEN_PROBE) + " COM7";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  int code = 0;
  ASSERT_EQ(std::fscanf(p, "%d", &code), 1);
  ::pclose(p);
  EXPECT_EQ(code, serial::ecAlreadyOpen);

  ASSERT_EQ(first.QueueBlock("ATI\r", 4), 0);
  const auto sent = pty_.ReadAtLeast(4);
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "ATI\r");
  ASSERT_TRUE(pty_.WriteAll("OK"));
  ASSERT_TRUE(PollUntil([&] { return first.UnreadCount() == 2; }));
  EXPECT_EQ(Take(first, 2), "OK");

  // Once closed, the port is free for the other process.
  first.CloseChannel();
  p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(std::fscanf(p, "%d", &code), 1);
  ::pclose(p);
  EXPECT_EQ(code, 0);
}

TEST_F(PtyPort, TwoHundredOpenCloseCyclesLeakNoDescriptor) {
  {  // one cycle first, so that lazily made process state is not counted
    TWin32Dispatcher d(nullptr);
    ASSERT_EQ(OpenPort(d, "COM7"), 0);
  }
  const size_t fds = corvane::testsupport::OpenDescriptorCount();
  const size_t threads = corvane::testsupport::ThreadCount();
  for (int i = 0; i < 200; ++i) {
    auto d = std::make_unique<TWin32Dispatcher>(nullptr);
    ASSERT_EQ(OpenPort(*d, "COM7"), 0) << i;
    if (i % 2) d->CloseChannel();  // half closed first, half only freed
  }
  EXPECT_EQ(corvane::testsupport::OpenDescriptorCount(), fds);
  EXPECT_EQ(corvane::testsupport::ThreadCount(), threads);
}

TEST_F(PtyPort, ClosedMasterIsALostDeviceNotData) {
  TWin32Dispatcher d(nullptr);
  ASSERT_EQ(OpenPort(d, "COM7"), 0);
  ASSERT_TRUE(pty_.WriteAll("OK\r\n"));
  ASSERT_TRUE(PollUntil([&] { return d.UnreadCount() == 4; }));
  EXPECT_FALSE(d.DeviceLost());
  pty_.Close();  // the modem is unplugged
  ASSERT_TRUE(PollUntil([&] { return d.DeviceLost(); }));
  ::usleep(150000);
  EXPECT_EQ(d.UnreadCount(), 4u);  // what came before, and nothing more
  EXPECT_EQ(Take(d, 4), "OK\r\n");
  // Output to a lost device is dropped, not kept pending for ever.
  ASSERT_EQ(d.QueueBlock("AT\r", 3), 0);
  ASSERT_TRUE(PollUntil([&] { return d.OutputPending() == 0; }));
  d.CloseChannel();
  EXPECT_FALSE(d.DeviceOpen());
  EXPECT_FALSE(d.ThreadsRunning());
}

}  // namespace

namespace {

TEST(TapiDispatcher, OpenFailsWithItsCode) {
  serial::TTapiDispatcher d(nullptr, 0);
  EXPECT_EQ(d.OpenChannel("", 115200, 0, 8, 1, 4096, 4096, true, false), serial::ecNotOpenedByTapi);
  EXPECT_FALSE(d.DeviceOpen());
  EXPECT_FALSE(d.ThreadsRunning());
}

}  // namespace
