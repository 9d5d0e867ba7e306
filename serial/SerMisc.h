#pragma once
// What the whole serial layer shares: the components' base class with its
// version text, a millisecond clock with the 55 ms tick timers built on it,
// the hook that serves one GUI message while the GUI thread waits for a
// worker, and three small helpers. Everything here except PumpOneMessage is
// pure and may run on any thread.
#include <cstddef>
#include <cstdint>
#include <string>

namespace serial {

// Base of the port component. Its Version reads "v3.00" whatever is written,
// so that a version stored with a form loads without effect.
class TBaseComponent {
 public:
  virtual ~TBaseComponent() = default;
  std::string Version() const { return "v3.00"; }
  void SetVersion(const std::string&) {}
};

// Counts of the high-resolution counter per millisecond for a counter of the
// given frequency (counts per second): frequency / 1000 rounded up from a
// remainder above 500; 0 when there is no usable counter (0, or wider than
// 32 bits).
uint32_t CountsPerMsFor(uint64_t frequency);

// Counts per millisecond of this process's high-resolution counter, computed
// once before any thread of the layer starts.
uint32_t CountsPerMs();

// Milliseconds of a steady clock, wrapping at 2^32.
uint32_t ClockMs();

// A timer in 55 ms ticks of ClockMs; whoever arms it fills both values.
struct TickTimer {
  int32_t StartTicks = 0;
  int32_t ExpireTicks = 0;
};

// Whole 55 ms ticks in 2^31 ms: how far a wrapped clock can be behind.
constexpr uint32_t kTicksPerHalfWrap = 39045157;

bool TickTimerExpired(const TickTimer& timer);
// The same test at a given clock reading in ticks (ClockMs() / 55).
bool TickTimerExpiredAt(const TickTimer& timer, uint32_t nowTicks);

// Serves one pending message of the calling thread's GUI queue. Returns 0
// when there was none, else the message number in the low 16 bits and the
// low 16 bits of its window's handle in the high 16 bits. The Qt-free layer
// has no queue of its own: the GUI layer installs its pump at start-up;
// without one this returns 0. The layer calls it while a port thread waits
// for a worker to end; an installed pump must serve nothing (return 0) when
// called on any thread but the GUI thread.
using MessagePumpFn = uint32_t (*)();
void InstallMessagePump(MessagePumpFn pump);
uint32_t PumpOneMessage();

// True when any bit of mask is set in flags.
constexpr bool HasAnyBit(uint32_t flags, uint32_t mask) { return (flags & mask) != 0; }

inline const void* OffsetPointer(const void* address, size_t count) {
  return static_cast<const unsigned char*>(address) + count;
}
inline void* OffsetPointer(void* address, size_t count) {
  return static_cast<unsigned char*>(address) + count;
}

// True when path names an existing file (not a directory).
bool PathExists(const char* path);

}  // namespace serial
