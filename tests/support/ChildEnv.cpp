#include "ChildEnv.h"

extern char** environ;

namespace corvane::testsupport {

std::vector<std::string> CopyEnvironment(const std::string& runtimeDir) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string s = *e;
    if (s.rfind("XDG_RUNTIME_DIR=", 0) != 0 && s.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(s);
  }
  env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
  env.push_back("QT_QPA_PLATFORM=offscreen");
  return env;
}

std::vector<char*> NullTerminated(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace corvane::testsupport
