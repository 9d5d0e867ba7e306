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

// A fresh directory under the system's temporary directory; removed with
// its contents by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

}  // namespace modemsim_test
