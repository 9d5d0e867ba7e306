#pragma once
// The environment a test gives a program copy it starts: its own, with
// XDG_RUNTIME_DIR pointing at the test's private runtime folder (so that the
// copy's instance slots are the test's) and the offscreen Qt platform.
// Plain functions, any thread.
#include <string>
#include <vector>

namespace corvane::testsupport {

std::vector<std::string> CopyEnvironment(const std::string& runtimeDir);

// The argv/envp form of strings: pointers into them, ending in nullptr. Valid
// while strings lives unchanged.
std::vector<char*> NullTerminated(std::vector<std::string>& strings);

}  // namespace corvane::testsupport
