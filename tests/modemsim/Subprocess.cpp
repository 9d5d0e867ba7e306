#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace modemsim_test {

RunResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                     const std::function<bool(const std::string&)>& stopWhen,
                     std::atomic<int>* childPid) {
  RunResult r;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    r.output = "cannot start " + argv[0];
    return r;
  }
  if (childPid) childPid->store(pid);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool open = true;
  while (open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      r.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd p{pipeFds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100))) > 0) {
      char buf[4096];
      const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
      if (n > 0) r.output.append(buf, static_cast<size_t>(n));
      else if (n == 0 || errno != EINTR) open = false;
    }
    if (stopWhen && !r.interrupted && stopWhen(r.output)) {
      r.interrupted = true;
      ::kill(pid, SIGINT);
    }
  }
  // Whatever is left in the pipe after the child ended.
  for (;;) {
    pollfd p{pipeFds[0], POLLIN, 0};
    if (::poll(&p, 1, r.timedOut ? 0 : 2000) <= 0) break;
    char buf[4096];
    const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
    if (n <= 0) break;
    r.output.append(buf, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!r.timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  return r;
}

std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

}  // namespace modemsim_test
