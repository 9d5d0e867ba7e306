#include "TickClock.h"

#include <algorithm>
#include <cstdio>

namespace testsupport {

std::function<void()> TickClock::Armed(std::string name, int intervalMs) {
  timers_.push_back(Timer{std::move(name), intervalMs, Clock::now(), {}});
  const std::size_t index = timers_.size() - 1;
  return [this, index] { timers_[index].ticks.push_back(Clock::now()); };
}

bool TickClock::AllTicked(int ticks) const {
  return std::all_of(timers_.begin(), timers_.end(),
                     [ticks](const Timer& t) { return static_cast<int>(t.ticks.size()) >= ticks; });
}

std::vector<std::string> TickClock::EarlyTicks() const {
  std::vector<std::string> early;
  for (const Timer& t : timers_) {
    for (std::size_t k = 0; k < t.ticks.size(); ++k) {
      const auto due = std::chrono::milliseconds(static_cast<long long>(t.intervalMs) * (k + 1));
      const auto after = t.ticks[k] - t.armed;
      if (after >= due) continue;
      char text[160];
      std::snprintf(text, sizeof text, "%s tick %zu after %.1f ms of %lld", t.name.c_str(), k + 1,
                    std::chrono::duration<double, std::milli>(after).count(),
                    static_cast<long long>(due.count()));
      early.emplace_back(text);
    }
  }
  return early;
}

}  // namespace testsupport
