// The shared utilities: clock calibration, tick timers, bit test, version.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "SerMisc.h"

namespace {

TEST(CountsPerMs, RoundsUpFromARemainderAboveHalf) {
  struct Row {
    uint64_t frequency;
    uint32_t counts;
  };
  const Row rows[] = {
      {3579545, 3580},          // remainder 545 rounds up
      {1193182, 1193},          // remainder 182 does not
      {1000500, 1000},          // exactly 500 does not
      {1000501, 1001},
      {0, 0},                   // no counter
      {0x100000000ull, 0},      // wider than 32 bits: not used
      {1000000000, 1000000},
  };
  for (const Row& r : rows) EXPECT_EQ(serial::CountsPerMsFor(r.frequency), r.counts) << r.frequency;
}

TEST(ClockMs, AdvancesInMilliseconds) {
  const uint32_t a = serial::ClockMs();
  ::usleep(20000);
  const uint32_t b = serial::ClockMs();
  EXPECT_GE(b - a, 19u);
  EXPECT_LT(b - a, 2000u);
}

TEST(TickTimer, ExpiresAfterItsLastTickAndAcrossTheWrap) {
  struct Row {
    int32_t start, expire;
    uint32_t now;
    bool expired;
  };
  const Row rows[] = {
      {100, 118, 118, false},
      {100, 118, 119, true},
      {100, 118, 100, false},
      // armed just before the clock wrapped
      {78090300, 78090320, 5, false},
      {78090300, 78090320, 39045200, true},
  };
  for (const Row& r : rows) {
    serial::TickTimer t{r.start, r.expire};
    EXPECT_EQ(serial::TickTimerExpiredAt(t, r.now), r.expired) << r.start << ".." << r.expire << " at " << r.now;
  }
}

TEST(HasAnyBit, TestsTheMask) {
  EXPECT_TRUE(serial::HasAnyBit(0x12, 0x02));
  EXPECT_FALSE(serial::HasAnyBit(0x12, 0x05));
}

TEST(BaseComponent, VersionIgnoresWrites) {
  serial::TBaseComponent c;
  c.SetVersion("v9.99");
  EXPECT_EQ(c.Version(), "v3.00");
}

TEST(PumpOneMessage, WithoutAQueueServesNothing) { EXPECT_EQ(serial::PumpOneMessage(), 0u); }

TEST(PathExists, FilesOnly) {
  const std::string file = std::filesystem::temp_directory_path() / "corvane-pathexists-test";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(serial::PathExists(file.c_str()));
  std::remove(file.c_str());
  EXPECT_FALSE(serial::PathExists(file.c_str()));
  EXPECT_FALSE(serial::PathExists(std::filesystem::temp_directory_path().c_str()));
}

}  // namespace
