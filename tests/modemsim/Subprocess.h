#pragma once
// Runs a program for a test with a time limit and gathers what it prints
// (stdout and stderr together). The child is killed when the limit passes;
// `stopWhen`, when given, is checked on the output so far and gets the
// child SIGINT once it holds (for programs that wait to be interrupted).
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Files.h"

namespace modemsim_test {

struct RunResult {
  int exitCode = -1;     // -1 when killed or not started
  bool timedOut = false;
  bool interrupted = false;
  std::string output;
};

// `pid`, when given, receives the child's process id once it runs.
RunResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                     const std::function<bool(const std::string&)>& stopWhen = nullptr,
                     std::atomic<int>* pid = nullptr);

// The first directory of $PATH that holds an executable `name`, or "".
std::string FindInPath(const std::string& name);

// A fresh directory modemsim-XXXXXX under the system's temporary directory;
// removed with its contents by the destructor.
class TempDir : public corvane::testsupport::TempDir {
 public:
  TempDir() : corvane::testsupport::TempDir("modemsim") {}
};

using corvane::testsupport::ReadFile;
using corvane::testsupport::WriteFile;

}  // namespace modemsim_test
