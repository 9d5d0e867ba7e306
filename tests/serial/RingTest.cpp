// Ring arithmetic, and the two rings of a running dispatcher on the fake
// device: wrap, exactly full, empty.
#include <gtest/gtest.h>

#include <string>

#include "FakeDevice.h"
#include "PollWait.h"

namespace {

using serial::RingCount;
using serial::RingFreeRuns;
using serial::RingPendingRuns;
using serialtest::TFakeDispatcher;
using corvane::testsupport::PollUntil;

struct RingRow {
  uint32_t head, tail;
  bool full;
  uint32_t count;
  uint32_t pendingFirst, pendingSecond;
  uint32_t freeFirst, freeSecond;
};

TEST(RingArithmetic, CountsAndRuns) {
  // size 8 throughout
  const RingRow rows[] = {
      {0, 0, false, 0, 0, 0, 8, 0},  // empty
      {0, 0, true, 8, 8, 0, 0, 0},   // exactly full at the start
      {3, 3, true, 8, 5, 3, 0, 0},   // full with head = tail inside: wrapped pending
      {5, 2, false, 3, 3, 0, 3, 2},  // pending in one run, free room wraps
      {2, 5, false, 5, 3, 2, 3, 0},  // pending wraps
      {7, 0, false, 7, 7, 0, 1, 0},
      {0, 7, false, 1, 1, 0, 7, 0},
  };
  for (const RingRow& r : rows) {
    SCOPED_TRACE(testing::Message() << "head " << r.head << " tail " << r.tail << " full " << r.full);
    EXPECT_EQ(RingCount(r.head, r.tail, 8, r.full), r.count);
    const auto p = RingPendingRuns(r.head, r.tail, 8, r.full);
    EXPECT_EQ(p.first, r.pendingFirst);
    EXPECT_EQ(p.second, r.pendingSecond);
    const auto f = RingFreeRuns(r.head, r.tail, 8, r.full);
    EXPECT_EQ(f.first, r.freeFirst);
    EXPECT_EQ(f.second, r.freeSecond);
  }
  EXPECT_EQ(serial::RingAdvance(8191, 1, 8192), 0u);
  EXPECT_EQ(serial::RingAdvance(8000, 500, 8192), 308u);
}

class OpenFake : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(fake_.OpenChannel("COM1", 115200, 0, 8, 1, 4096, outSize_, true, false), 0);
  }
  std::string TakeAll(uint32_t n) {
    std::string s;
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t c;
      if (fake_.TakeChar(c) != 0) break;
      s.push_back(static_cast<char>(c));
    }
    return s;
  }
  uint32_t outSize_ = 4096;
  TFakeDispatcher fake_;
};

std::string Pattern(size_t n, char salt = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + static_cast<size_t>(salt)) & 0xFF);
  return s;
}

TEST_F(OpenFake, InputRingWrapsAtItsEnd) {
  fake_.Inject(Pattern(8191));
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 8191; }));
  EXPECT_EQ(TakeAll(8191), Pattern(8191));
  // The next byte lands at index 8191, the one after at 0.
  fake_.Inject("XY");
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 2; }));
  uint8_t c;
  EXPECT_EQ(fake_.PeekAhead(c, 2), 0);
  EXPECT_EQ(c, 'Y');
  EXPECT_EQ(TakeAll(2), "XY");
  EXPECT_EQ(fake_.TakeChar(c), serial::ecBufferIsEmpty);
}

TEST_F(OpenFake, FullInputRingLeavesTheRestInTheDeviceUntilRoomIsMade) {
  const std::string data = Pattern(8192 + 10, 3);
  fake_.Inject(data);
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 8192; }));
  ::usleep(120000);  // a few passes: nothing more is read while full
  EXPECT_EQ(fake_.InputLeft(), 10u);
  EXPECT_EQ(fake_.UnreadCount(), 8192u);
  std::string got = TakeAll(10);
  ASSERT_TRUE(PollUntil([&] { return fake_.InputLeft() == 0 && fake_.UnreadCount() == 8192; }));
  got += TakeAll(8192);
  EXPECT_EQ(got, data);
}

TEST_F(OpenFake, PeekAheadOfNothingReadsNothing) {
  fake_.Inject("AB");
  ASSERT_TRUE(PollUntil([&] { return fake_.UnreadCount() == 2; }));
  uint8_t c = '?';
  EXPECT_EQ(fake_.PeekAhead(c, 0), serial::ecBadArgument);
  EXPECT_EQ(c, '?');
  EXPECT_EQ(fake_.PeekAhead(c, 3), serial::ecBufferIsEmpty);
  EXPECT_EQ(fake_.PeekAhead(c, 1), 0);
  EXPECT_EQ(c, 'A');
  EXPECT_EQ(fake_.UnreadCount(), 2u);
}

TEST_F(OpenFake, OutputRingTakesExactlyItsFreeRoom) {
  fake_.SetWriteBudget(0);  // the device takes nothing yet
  EXPECT_EQ(fake_.QueueBlock("", 0), 0);
  EXPECT_EQ(fake_.OutputPending(), 0u);
  const std::string block = Pattern(4096, 5);
  EXPECT_EQ(fake_.QueueBlock(block.data(), 4096), 0);
  EXPECT_EQ(fake_.OutputPending(), 4096u);
  EXPECT_EQ(fake_.OutputFree(), 0u);
  EXPECT_EQ(fake_.QueueBlock("x", 1), serial::ecOutputBufferTooSmall);
  fake_.SetWriteBudget(SIZE_MAX);
  ASSERT_TRUE(PollUntil([&] { return fake_.OutputPending() == 0; }));
  EXPECT_EQ(fake_.Output(), block);
}

TEST_F(OpenFake, QueuesSizedAgainWhileOpenLeaveTheRingsAsOpened) {
  using Sizes = std::vector<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(fake_.SizeDeviceQueues(2048, 1024), 0);
  fake_.SetQueuesRefused(true);
  EXPECT_EQ(fake_.SizeDeviceQueues(8192, 8192), serial::ecBadParameter);
  EXPECT_EQ(fake_.QueueSizes(), (Sizes{{4096, 4096}, {2048, 1024}, {8192, 8192}}));
  EXPECT_EQ(fake_.OutputFree(), 4096u);
  fake_.CloseChannel();
  EXPECT_EQ(fake_.SizeDeviceQueues(2048, 1024), serial::ecCommNotOpen);
  EXPECT_EQ(fake_.QueueSizes().size(), 3u);
}

class SmallOutputRing : public OpenFake {
 protected:
  SmallOutputRing() { outSize_ = 16; }
};

TEST_F(SmallOutputRing, FullRingWithHeadOnAnInnerTailIsSentOnce) {
  fake_.SetWriteBudget(0);  // the whole block to the ring, none straight through
  ASSERT_EQ(fake_.QueueBlock("0123456789", 10), 0);
  fake_.SetWriteBudget(4);
  ASSERT_TRUE(PollUntil([&] { return fake_.Output() == "0123" && fake_.OutputPending() == 6; }));
  // tail 4, head 10; ten more fill the ring exactly and put head on tail.
  ASSERT_EQ(fake_.QueueBlock("abcdefghij", 10), 0);
  EXPECT_EQ(fake_.OutputPending(), 16u);
  EXPECT_EQ(fake_.QueueBlock("!", 1), serial::ecOutputBufferTooSmall);
  fake_.SetWriteBudget(SIZE_MAX);
  ASSERT_TRUE(PollUntil([&] { return fake_.OutputPending() == 0; }));
  ::usleep(100000);
  EXPECT_EQ(fake_.Output(), "0123456789abcdefghij");
}

TEST_F(SmallOutputRing, WrappedRunGoesOutAsOneWriteOfTwoPieces) {
  // A device that takes nothing yet: the whole block goes to the ring.
  fake_.SetWriteBudget(0);
  ASSERT_EQ(fake_.QueueBlock("ABCDEFGHIJKL", 12), 0);
  fake_.SetWriteBudget(10);
  ASSERT_TRUE(PollUntil([&] { return fake_.Output() == "ABCDEFGHIJ" && fake_.OutputPending() == 2; }));
  // tail 10, head 12: eight more wrap to head 4.
  ASSERT_EQ(fake_.QueueBlock("mnopqrst", 8), 0);
  fake_.SetWriteBudget(SIZE_MAX);
  ASSERT_TRUE(PollUntil([&] { return fake_.OutputPending() == 0; }));
  EXPECT_EQ(fake_.Output(), "ABCDEFGHIJKLmnopqrst");
  const auto writes = fake_.Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back(), (std::pair<uint32_t, uint32_t>{6, 4}));
}

}  // namespace
