#pragma once
// Times the ticks of timers on a steady clock against the moment each was
// armed: tick k of a timer armed at t with interval i is due at t + k * i and
// must not come before. Nothing is said about how late a tick may be (a
// loaded machine makes every tick late); that belongs to the benchmarks.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class TickClock {
 public:
  // Call right before arming the timer; call the result at every tick.
  std::function<void()> Armed(std::string name, int intervalMs);
  // Every timer armed here has ticked at least `ticks` times.
  bool AllTicked(int ticks) const;
  // "tOn_1 tick 1 after 1901.2 ms of 2000" for every tick that came early.
  std::vector<std::string> EarlyTicks() const;
  int Timers() const { return static_cast<int>(timers_.size()); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::string name;
    int intervalMs;
    Clock::time_point armed;
    std::vector<Clock::time_point> ticks;
  };
  std::vector<Timer> timers_;
};

}  // namespace testsupport
