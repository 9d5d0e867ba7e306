// Line control on the recording fake: what is written to the device's
// control block, and the DTR/RTS escapes in their order.
#include <gtest/gtest.h>

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
      "OPEN",
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
