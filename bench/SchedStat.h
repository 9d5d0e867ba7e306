#pragma once
// CPU time and wake-ups of a process, from the scheduler's statistics of each
// of its threads (/proc/<pid>/task/*/schedstat: nanoseconds on a CPU, unlike
// the clock ticks of /proc/<pid>/stat, and the times a thread was put on a
// CPU, which is what an idle thread's wake-ups cost). Threads that ended
// between the listing and the read are skipped.
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace bench {

struct SchedUse {
  double cpuMs = 0;
  double wakeUps = 0;
};

inline SchedUse ReadSchedUse(pid_t pid) {
  SchedUse use;
  std::error_code ec;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream f(task.path() / "schedstat");
    unsigned long long ns = 0, waitNs = 0, slices = 0;
    if (f >> ns >> waitNs >> slices) {
      use.cpuMs += static_cast<double>(ns) / 1e6;
      use.wakeUps += static_cast<double>(slices);
    }
  }
  return use;
}

}  // namespace bench
