// Line control on the recording fake: what is written to the device's
// control block, and the DTR/RTS escapes in their order.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "PollWait.h"

namespace {

using serial::TDCB;
using serialtest::TFakeDispatcher;
using corvane::testsupport::PollUntil;

TEST(NormaliseLine, KeepCodesAndStopBits) {
  TDCB cur;
  cur.BaudRate = 9600;
  cur.Parity = 2;
  cur.ByteSize = 7;
  cur.StopBits = serial::kTwoStopBits;
  struct Row {
    int32_t baud;
    int parity, databits, stopbits;
    serial::TLineValues want;
  };
  const Row rows[] = {
      {0, 5, 9, 3, {9600, 2, 7, serial::kTwoStopBits}},  // every value kept
      {115200, 0, 8, 1, {115200, 0, 8, serial::kOneStopBit}},
      {115200, 0, 8, 2, {115200, 0, 8, serial::kTwoStopBits}},
      {115200, 0, 8, 0, {115200, 0, 8, serial::kOneStopBit}},   // 0 counts as 1
      {115200, 0, 8, 7, {115200, 0, 8, serial::kTwoStopBits}},  // above 3 as 2
      {115200, 0, 5, 2, {115200, 0, 5, serial::kOne5StopBits}}, // 5 bits, "two": 1.5
      {115200, 0, 5, 1, {115200, 0, 5, serial::kOneStopBit}},   // 5 bits, one: one
      {115200, 0, 5, 3, {115200, 0, 5, serial::kOne5StopBits}}, // kept "two" on 5 bits
      {0, 1, 9, 1, {9600, 1, 7, serial::kOneStopBit}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.baud << " " << r.parity << " " << r.databits << " " << r.stopbits);
    EXPECT_EQ(serial::NormaliseLine(cur, r.baud, r.parity, r.databits, r.stopbits), r.want);
  }
}

TEST(DrainWait, EighteenCharacterTimes) {
  struct Row {
    uint32_t rate;
    uint8_t bytes, parity, stop;
    uint32_t ms;
  };
  const Row rows[] = {
      {115200, 8, 0, serial::kOneStopBit, 2},   // 86 x 10 x 18 = 15480: 2 ms
      {0xFEFF, 8, 0, serial::kOneStopBit, 2},   // the old code for 115200
      {9600, 8, 0, serial::kOneStopBit, 19},
      {0xFF16, 8, 0, serial::kOneStopBit, 19},  // the old code for 9600
      {110, 8, 2, serial::kTwoStopBits, 1964},
      {921600, 8, 0, serial::kOneStopBit, 1},   // 10 x 10 x 18 = 1800, doubled: 1 ms
      {20000000, 8, 0, serial::kOneStopBit, 0},
      {0, 8, 0, serial::kOneStopBit, 0},        // no rate: no division by zero
  };
  for (const Row& r : rows) EXPECT_EQ(serial::DrainWaitMs(r.rate, r.bytes, r.parity, r.stop), r.ms) << r.rate;
}

TEST(DeviceDrainBound, TheQueuedBytesWireTimePlusTheMargin) {
  struct Row {
    uint32_t bytes, rate;
    uint8_t byteSize, parity, stop;
    uint32_t ms;
  };
  const Row rows[] = {
      {960, 9600, 8, 0, serial::kOneStopBit, 1000 + serial::kDeviceDrainMarginMs},
      {960, 0xFF16, 8, 0, serial::kOneStopBit, 1000 + serial::kDeviceDrainMarginMs},  // old code
      {1, 115200, 8, 0, serial::kOneStopBit, 1 + serial::kDeviceDrainMarginMs},      // rounded up
      {4096, 9600, 7, 2, serial::kTwoStopBits, 4694 + serial::kDeviceDrainMarginMs}, // 11 bits a byte
      {0, 9600, 8, 0, serial::kOneStopBit, serial::kDeviceDrainMarginMs},
      {500, 0, 8, 0, serial::kOneStopBit, serial::kDeviceDrainMarginMs},  // no rate: no division
      {0xFFFFFFFF, 50, 8, 2, serial::kTwoStopBits, 0xFFFFFFFF},           // no overflow
  };
  for (const Row& r : rows)
    EXPECT_EQ(serial::DeviceDrainBoundMs(r.bytes, r.rate, r.byteSize, r.parity, r.stop), r.ms)
        << r.bytes << " " << r.rate;
}

class LineFake : public testing::Test {
 protected:
  int32_t Open(bool dtr = true, bool rts = false) {
    return fake_.OpenChannel("COM1", 115200, 0, 8, 1, 4096, 4096, dtr, rts);
  }
  TFakeDispatcher fake_;
};

TEST_F(LineFake, OpenSetsLinesThenTheFrameThenHandsThemToTheHandshake) {
  ASSERT_EQ(Open(true, false), 0);
  // As both programs open their ports: 8N1 at 115200, DTR up, RTS down by
  // escapes, then DTR/RTS flow control with marks 3072 and 1024.
  ASSERT_EQ(fake_.SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS, 3072, 1024), 0);
  const std::vector<std::string> want = {
      "OPEN dtr=1 rts=0",
      "ESC 5",
      "ESC 4",
      "LINE 115200 8N0 flags=0081 lim=0/0 chars=17/19",
      "ESC 5",
      "ESC 4",
      "LINE 115200 8N0 flags=20a1 lim=1024/1024 chars=17/19",
      "ESC 5",
      "ESC 3",
  };
  EXPECT_EQ(fake_.Calls(), want);
  // Both lines are now under handshake: level changes do nothing.
  fake_.ClearCalls();
  EXPECT_EQ(fake_.SetDTRLevel(false), 1);
  EXPECT_EQ(fake_.SetRTSLevel(true), 1);
  EXPECT_TRUE(fake_.DTRLevel());
  EXPECT_FALSE(fake_.RTSLevel());
  EXPECT_TRUE(fake_.Calls().empty());
}

TEST_F(LineFake, EveryFrameCombinationReachesTheDevice) {
  ASSERT_EQ(Open(), 0);
  for (int parity = 0; parity <= 4; ++parity)
    for (int databits = 5; databits <= 8; ++databits)
      for (int stopbits = 1; stopbits <= 2; ++stopbits) {
        SCOPED_TRACE(testing::Message() << parity << " " << databits << " " << stopbits);
        ASSERT_EQ(fake_.ApplyLine(57600, parity, databits, stopbits), 0);
        const TDCB d = fake_.DeviceLine();
        EXPECT_EQ(d.BaudRate, 57600u);
        EXPECT_EQ(d.Parity, parity);
        EXPECT_EQ(d.ByteSize, databits);
        const uint8_t stop = stopbits == 1 ? serial::kOneStopBit
                             : databits == 5 ? serial::kOne5StopBits
                                             : serial::kTwoStopBits;
        EXPECT_EQ(d.StopBits, stop);
        EXPECT_EQ(d.Flags & (serial::kDcbBinary | serial::kDcbParity | serial::kDcbNull),
                  serial::kDcbBinary);
      }
}

TEST_F(LineFake, UnchangedValuesWriteNothing) {
  ASSERT_EQ(Open(), 0);
  const int writes = fake_.LineWrites();
  EXPECT_EQ(fake_.ApplyLine(115200, 0, 8, 1), 0);
  EXPECT_EQ(fake_.ApplyLine(0, 5, 9, 3), 0);
  EXPECT_EQ(fake_.LineWrites(), writes);
  EXPECT_EQ(fake_.ApplyLine(9600, 0, 8, 1), 0);
  EXPECT_EQ(fake_.LineWrites(), writes + 1);
  EXPECT_EQ(fake_.CurrentBaud(), 9600u);
}

TEST_F(LineFake, RefusedLineIsReportedAndTheTriedValuesKept) {
  ASSERT_EQ(Open(), 0);
  fake_.SetLineRefused(true);
  EXPECT_EQ(fake_.ApplyLine(9600, 2, 7, 1), serial::ecBadParameter);
  EXPECT_EQ(fake_.CurrentLine().BaudRate, 9600u);
  EXPECT_EQ(fake_.CurrentLine().Parity, 2);
}

TEST_F(LineFake, EveryRateOrFrameChangeWaitsUntilTheDeviceHasSentWhatItHolds) {
  ASSERT_EQ(Open(), 0);
  struct Row {
    int32_t baud;
    int parity, databits, stopbits;
  };
  // From 115200 8N1: the rate, then the parity, the data bits, the stop bits.
  const Row rows[] = {{9600, 0, 8, 1}, {9600, 2, 8, 1}, {9600, 2, 7, 1}, {9600, 2, 7, 2}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.baud << " " << r.parity << " " << r.databits << " " << r.stopbits);
    fake_.SetDeviceQueue(300, 100);
    fake_.ClearCalls();
    ASSERT_EQ(fake_.ApplyLine(r.baud, r.parity, r.databits, r.stopbits), 0);
    const std::vector<std::string> calls = fake_.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"OUTQ 300", "OUTQ 200", "OUTQ 100", "OUTQ 0"}));
    EXPECT_EQ(calls[4].rfind("LINE ", 0), 0u) << calls[4];
  }
  // Nothing to change: the queue is not even looked at.
  fake_.SetDeviceQueue(300, 100);
  fake_.ClearCalls();
  EXPECT_EQ(fake_.ApplyLine(9600, 2, 7, 2), 0);
  EXPECT_TRUE(fake_.Calls().empty());
}

TEST_F(LineFake, AQueueThatNeverEmptiesHoldsTheChangeOnlyForTheTimeItsBytesNeed) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.ApplyLine(9600, 0, 8, 1), 0);
  // 96 bytes that flow control keeps in the device: 100 ms at 9600 8N1.
  fake_.SetDeviceQueue(96, 0);
  const uint32_t bound = serial::DeviceDrainBoundMs(96, 9600, 8, 0, serial::kOneStopBit);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(fake_.ApplyLine(19200, 0, 8, 1), 0);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_GE(took.count(), bound);
  EXPECT_LT(took.count(), 10000);  // bounded: a stuck queue does not hang the port's thread
  EXPECT_EQ(fake_.DeviceLine().BaudRate, 19200u);
  EXPECT_GT(fake_.QueueLooks(), 1);
}

TEST_F(LineFake, ANegativeRateIsRefusedBeforeItReachesTheDevice) {
  ASSERT_EQ(Open(), 0);
  const TDCB before = fake_.DeviceLine();
  const int writes = fake_.LineWrites();
  EXPECT_EQ(fake_.ApplyLine(-5, 0, 8, 1), serial::ecBadArgument);
  EXPECT_EQ(fake_.ApplyLine(-115200, 0, 8, 1), serial::ecBadArgument);
  EXPECT_EQ(fake_.LineWrites(), writes);
  EXPECT_EQ(fake_.DeviceLine(), before);
  fake_.CloseChannel();
  EXPECT_EQ(fake_.OpenChannel("COM1", -5, 0, 8, 1, 4096, 4096, true, false), serial::ecBadArgument);
  EXPECT_FALSE(fake_.DeviceOpen());
}

TEST_F(LineFake, ASettingTheDeviceTookHalfOfAndRefusedIsPutBack) {
  ASSERT_EQ(Open(), 0);
  const TDCB before = fake_.DeviceLine();
  fake_.SetRateHalfTaken(300);
  fake_.ClearCalls();
  EXPECT_EQ(fake_.ApplyLine(300, 2, 7, 2), serial::ecBadParameter);
  EXPECT_EQ(fake_.DeviceLine(), before);
  const std::vector<std::string> calls = fake_.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "LINE 300 7E2 flags=0081 lim=0/0 chars=17/19");
  EXPECT_EQ(calls[1], TFakeDispatcher::Describe(before));
  EXPECT_EQ(calls[2], "ESC 5");
  EXPECT_EQ(calls[3], "ESC 4");
  EXPECT_EQ(fake_.CurrentBaud(), 115200u);  // the drain before the next change counts at 115200
  // A refused handshake leaves the lines as the layer drove them before.
  fake_.SetLineRefused(true);
  EXPECT_EQ(fake_.SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS, 3072, 1024), serial::ecBadParameter);
  fake_.SetLineRefused(false);
  fake_.ClearCalls();
  EXPECT_EQ(fake_.SetDTRLevel(false), 0);  // not under handshake
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 6"}));
  fake_.Inject(std::string(4000, 'a'));
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 4000; }));
  ::usleep(100000);
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 6"}));  // no emulated flow control either
}

TEST_F(LineFake, OpenAsksForTheLevelsFirstAndCloseLeavesBothLinesDropped) {
  ASSERT_EQ(Open(true, false), 0);
  ASSERT_EQ(fake_.Calls().front(), "OPEN dtr=1 rts=0");
  fake_.ClearCalls();
  fake_.CloseChannel();
  EXPECT_EQ(fake_.Calls(),
            (std::vector<std::string>{"PURGE out", "PURGE in", "ESC 6", "ESC 4", "CLOSE"}));
  fake_.ClearCalls();
  ASSERT_EQ(Open(false, true), 0);
  EXPECT_EQ(fake_.Calls().front(), "OPEN dtr=0 rts=1");
  // Under handshake too: the emulation cannot raise them once the threads
  // have ended.
  ASSERT_EQ(fake_.SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS, 3072, 1024), 0);
  fake_.ClearCalls();
  fake_.CloseChannel();
  const std::vector<std::string> calls = fake_.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"ESC 6", "ESC 4", "CLOSE"}));
}

TEST_F(LineFake, OnlyTheRtsCtsPairGoesToTheDriver) {
  ASSERT_EQ(Open(), 0);
  for (uint32_t options = 0; options < 16; ++options) {
    ASSERT_EQ(fake_.SetHandshake(options, 3072, 1024), 0) << options;
    const bool pair = (options & serial::hwfUseRTS) && (options & serial::hwfRequireCTS);
    EXPECT_EQ((fake_.DeviceLine().Flags & serial::kDcbDriverRtsCts) != 0, pair) << options;
  }
  // With RS485 the driver toggles RTS for sending instead.
  fake_.ApplyRS485(true);
  ASSERT_EQ(fake_.SetHandshake(serial::hwfUseRTS | serial::hwfRequireCTS, 3072, 1024), 0);
  EXPECT_EQ(fake_.DeviceLine().Flags & serial::kDcbDriverRtsCts, 0u);
}

TEST_F(LineFake, WithTheDriversRtsCtsTheLayerDrivesOnlyDtrAndHoldsNothingForCts) {
  fake_.SetModemLines(true, 0);  // CTS off
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS | serial::hwfRequireCTS, 3072, 1024), 0);
  // The driver holds what it is given while CTS is off; the ring hands it over.
  ASSERT_EQ(fake_.QueueBlock("AT\r", 3), 0);
  ASSERT_TRUE(PollUntil([&] { return fake_.Output() == "AT\r"; }));
  fake_.ClearCalls();
  fake_.Inject(std::string(3100, 'a'));
  ASSERT_TRUE(PollUntil([&] { return fake_.Calls().size() == 1; }));
  ::usleep(100000);
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 6"}));  // DTR only: RTS is the driver's
  uint8_t c;
  for (int i = 0; i < 2077; ++i) ASSERT_EQ(fake_.TakeChar(c), 0);
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 6", "ESC 5"}));
}

TEST_F(LineFake, ADriverWithoutHardwareFlowLeavesThePairToTheLayer) {
  fake_.SetModemLines(true, 0);
  fake_.SetNoDriverFlow(true);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.SetHandshake(serial::hwfUseRTS | serial::hwfRequireCTS, 3072, 1024), 0);
  ASSERT_EQ(fake_.QueueBlock("AT\r", 3), 0);
  ::usleep(150000);
  EXPECT_EQ(fake_.Output(), "");  // held in the ring for CTS
  fake_.SetModemLines(true, serial::kMsCtsOn);
  ASSERT_TRUE(PollUntil([&] { return fake_.Output() == "AT\r"; }));
  fake_.ClearCalls();
  fake_.Inject(std::string(3100, 'a'));
  ASSERT_TRUE(PollUntil([&] { return fake_.Calls().size() == 1; }));
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 4"}));  // RTS dropped by the layer
}

TEST_F(LineFake, ARateOfZeroDoesNotBreakTheDrainWait) {
  ASSERT_EQ(Open(), 0);
  TDCB zero = fake_.DeviceLine();
  zero.BaudRate = 0;
  fake_.SetDeviceLineState(zero);
  EXPECT_EQ(fake_.ApplyLine(0, 2, 8, 1), 0);  // keeps the device's rate 0
  EXPECT_EQ(fake_.CurrentBaud(), 0u);
  EXPECT_EQ(fake_.ApplyLine(0, 0, 8, 1), 0);  // drains with rate 0
}

TEST_F(LineFake, HandshakeLimitsApplyOnlyWithFlowControl) {
  ASSERT_EQ(Open(), 0);
  struct Row {
    uint32_t options, full, resume;
    int32_t result;
  };
  const Row rows[] = {
      {3, 3072, 1024, 0},
      {3, 5000, 1024, serial::ecBadArgument},  // above the input queue of 4096
      {3, 100, 200, serial::ecBadArgument},    // full below resume
      {0, 100, 200, 0},                        // no flow control: the marks do not matter
      {0, 5000, 0, 0},
      {serial::hwfRequireCTS, 4096, 0, 0},
  };
  for (const Row& r : rows)
    EXPECT_EQ(fake_.SetHandshake(r.options, r.full, r.resume), r.result)
        << r.options << " " << r.full << " " << r.resume;
  ASSERT_EQ(fake_.SetHandshake(3, 3072, 1024), 0);
  EXPECT_EQ(fake_.CurrentLine().XoffLim, 1024);
  EXPECT_EQ(fake_.CurrentLine().XonLim, 1024);
}

TEST_F(LineFake, SoftwareFlowSetsAndClearsEachSideWithThePortsCharacters) {
  ASSERT_EQ(Open(), 0);
  struct Row {
    uint32_t sides;
    bool inX, outX;
  };
  const Row rows[] = {{3, true, true}, {1, false, true}, {2, true, false}, {3, true, true}, {0, false, false}};
  for (const Row& r : rows) {
    ASSERT_EQ(fake_.SetSoftwareFlow(r.sides, 3072, 1024, 'Q', 'S'), 0) << r.sides;
    const TDCB d = fake_.DeviceLine();
    EXPECT_EQ((d.Flags & serial::kDcbInX) != 0, r.inX) << r.sides;
    EXPECT_EQ((d.Flags & serial::kDcbOutX) != 0, r.outX) << r.sides;
    EXPECT_EQ(d.XonChar, 'Q');
    EXPECT_EQ(d.XoffChar, 'S');
  }
  EXPECT_EQ(fake_.SetSoftwareFlow(2, 1000, 2000, 17, 19), serial::ecBadArgument);
  ASSERT_EQ(fake_.SetSoftwareFlow(3, 3072, 1024, 17, 19), 0);
  ASSERT_EQ(fake_.ClearSoftwareFlow(), 0);
  EXPECT_EQ(fake_.DeviceLine().Flags & (serial::kDcbInX | serial::kDcbOutX), 0u);
  ASSERT_EQ(fake_.SetFlowChars('a', 'b'), 0);
  EXPECT_EQ(fake_.DeviceLine().XonChar, 'a');
}

TEST_F(LineFake, ReceiveHandshakeDropsBothLinesPastFullAndRaisesThemBelowResume) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.SetHandshake(serial::hwfUseDTR | serial::hwfUseRTS, 3072, 1024), 0);
  fake_.ClearCalls();
  fake_.Inject(std::string(3000, 'a'));
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 3000; }));
  EXPECT_TRUE(fake_.Calls().empty());  // below the full mark
  fake_.Inject(std::string(100, 'b'));
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 3100; }));
  ASSERT_TRUE(PollUntil([&] { return fake_.Calls().size() == 2; }));
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 6", "ESC 4"}));
  uint8_t c;
  for (int i = 0; i < 2076; ++i) ASSERT_EQ(fake_.TakeChar(c), 0);  // 1024 left: not below
  EXPECT_EQ(fake_.Calls().size(), 2u);
  ASSERT_EQ(fake_.TakeChar(c), 0);  // 1023
  EXPECT_EQ(fake_.Calls(), (std::vector<std::string>{"ESC 6", "ESC 4", "ESC 5", "ESC 3"}));
}

TEST_F(LineFake, ModemLineChangesGatherUntilAReaderMasksThemOff) {
  fake_.SetModemLines(true, 0);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(fake_.ReadModemStatus(0xF0), 0u);
  fake_.SetModemLines(true, serial::kMsCtsOn);
  ASSERT_TRUE(PollUntil([&] { return (fake_.ReadModemStatus(0xFF) & serial::kMsCtsChanged) != 0; }));
  fake_.SetModemLines(true, serial::kMsCtsOn | serial::kMsDsrOn);
  ASSERT_TRUE(PollUntil([&] { return (fake_.ReadModemStatus(0xFF) & serial::kMsDsrChanged) != 0; }));
  EXPECT_EQ(fake_.ReadModemStatus(0xF0),
            serial::kMsCtsOn | serial::kMsDsrOn | serial::kMsCtsChanged | serial::kMsDsrChanged);
  EXPECT_EQ(fake_.ReadModemStatus(0xF0), serial::kMsCtsOn | serial::kMsDsrOn);
}

TEST_F(LineFake, RequiredCtsHoldsOutputUntilTheLineComesOn) {
  fake_.SetModemLines(true, 0);
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(fake_.SetHandshake(serial::hwfRequireCTS, 3072, 1024), 0);
  ASSERT_EQ(fake_.QueueBlock("AT\r", 3), 0);
  ::usleep(150000);
  EXPECT_EQ(fake_.Output(), "");
  fake_.SetModemLines(true, serial::kMsCtsOn);
  ASSERT_TRUE(PollUntil([&] { return fake_.Output() == "AT\r"; }));
}

TEST_F(LineFake, AFailedCloseStillGivesTheDeviceUp) {
  ASSERT_EQ(Open(), 0);
  fake_.SetCloseFails(true);
  fake_.CloseChannel();
  EXPECT_FALSE(fake_.DeviceOpen());
  EXPECT_EQ(fake_.Closes(), 1);
  fake_.CloseChannel();
  EXPECT_EQ(fake_.Closes(), 1);  // never retried
}

}  // namespace
