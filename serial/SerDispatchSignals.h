#pragma once
// The hand-shake signals of one dispatcher's threads, as one set of bits
// under one lock: each bit is an event that is auto-reset (taken by the one
// wait that sees it) or manual-reset (stays set until Reset). A wait may watch
// several bits at once, as a wait on a set of events would.
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
  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t bits_ = 0;
  const uint32_t manual_;
};

}  // namespace serial
