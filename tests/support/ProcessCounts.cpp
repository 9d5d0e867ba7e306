#include "ProcessCounts.h"

#include <filesystem>

namespace corvane::testsupport {

namespace {
std::size_t CountEntries(const char* dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}
}  // namespace

std::size_t OpenDescriptorCount() { return CountEntries("/proc/self/fd"); }
std::size_t ThreadCount() { return CountEntries("/proc/self/task"); }

}  // namespace corvane::testsupport
