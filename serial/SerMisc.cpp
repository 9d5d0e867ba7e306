#include "SerMisc.h"

#include <sys/stat.h>

#include <atomic>
#include <ctime>

namespace serial {
namespace {

// CLOCK_MONOTONIC in nanoseconds stands in for the performance counter.
constexpr uint64_t kCounterFrequency = 1000000000ull;

uint64_t CounterNow() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * kCounterFrequency + static_cast<uint64_t>(ts.tv_nsec);
}

// The multimedia clock: whole milliseconds since boot.
uint32_t SystemMs() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

// Computed during static initialisation, before any thread of the layer.
const uint32_t gCountsPerMs = CountsPerMsFor(kCounterFrequency);

std::atomic<MessagePumpFn> gPump{nullptr};

}  // namespace

uint32_t CountsPerMsFor(uint64_t frequency) {
  if ((frequency >> 32) != 0 || frequency == 0) return 0;
  uint32_t counts = static_cast<uint32_t>(frequency / 1000);
  if (frequency % 1000 > 500) ++counts;
  return counts;
}

uint32_t CountsPerMs() { return gCountsPerMs; }

uint32_t ClockMs() {
  if (gCountsPerMs != 0) return static_cast<uint32_t>(CounterNow() / gCountsPerMs);
  return SystemMs();
}

bool TickTimerExpiredAt(const TickTimer& timer, uint32_t nowTicks) {
  const int32_t now = static_cast<int32_t>(nowTicks);
  if (now > timer.ExpireTicks) return true;
  if (now >= timer.StartTicks) return false;
  // The clock wrapped after the timer was armed.
  return static_cast<int64_t>(nowTicks) + kTicksPerHalfWrap > timer.ExpireTicks;
}

bool TickTimerExpired(const TickTimer& timer) { return TickTimerExpiredAt(timer, ClockMs() / 55); }

void InstallMessagePump(MessagePumpFn pump) { gPump.store(pump); }

uint32_t PumpOneMessage() {
  const MessagePumpFn pump = gPump.load();
  return pump ? pump() : 0;
}

bool PathExists(const char* path) {
  struct stat st;
  return path && ::stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace serial
