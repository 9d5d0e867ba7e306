#pragma once
// The hand-shake signals of one dispatcher's threads, as one set of bits
// under one lock: each bit is an event that is auto-reset (taken by the one
// wait that sees it) or manual-reset (stays set until Reset). A wait may watch
// several bits at once, as a wait on a set of events would. A Set wakes only
// the waits that watch one of its bits: the threads of a port each wait for
// their own bits, and waking the others for nothing cost a switch each.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace serial {

class TSignalSet {
 public:
  explicit TSignalSet(uint32_t manualBits) : manual_(manualBits) {}

  void Set(uint32_t bits);
  void Reset(uint32_t bits);
  void Clear();
  // Waits until any bit of mask is set, at most timeoutMs (< 0: no limit).
  // Returns the lowest set bit of mask, clearing it when it is auto-reset, or
  // 0 when the time passed.
  uint32_t Wait(uint32_t mask, int timeoutMs);

 private:
  // One per waiting thread, on its stack, linked while it waits.
  struct TWaiter {
    uint32_t mask;
    std::condition_variable changed;
    TWaiter* next;
  };

  std::mutex mutex_;
  TWaiter* waiters_ = nullptr;
  uint32_t bits_ = 0;
  const uint32_t manual_;
};

}  // namespace serial
