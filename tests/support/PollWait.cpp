#include "PollWait.h"

#include <thread>

namespace corvane::testsupport {

bool PollUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace corvane::testsupport
