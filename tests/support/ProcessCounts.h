#pragma once
// What this process holds right now, for tests that check a component gives
// back every descriptor and thread it took. Read from /proc; any thread.
#include <cstddef>

namespace corvane::testsupport {

std::size_t OpenDescriptorCount();
std::size_t ThreadCount();

}  // namespace corvane::testsupport
