#include "ProcessEnd.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace platform {
namespace {

struct FatalSignal {
  int number;
  const char* name;
};
constexpr FatalSignal kFatalSignals[] = {
    {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGILL, "SIGILL"},
    {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},
    {SIGSEGV, "SIGSEGV"}, {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"},
    {SIGTERM, "SIGTERM"}, {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"}, {SIGSYS, "SIGSYS"},
};

// Filled once at installation; read by the signal handler, so plain bytes
// with static storage that no destructor touches.
char gPrefix[96] = "";
std::atomic<bool> gOrderly{false};
std::atomic<bool> gDeadlineArmed{false};
alignas(16) char gAltStack[64 * 1024];

// Async-signal-safe pieces: no allocation, no locks, no stdio.
struct LineBuffer {
  char text[256];
  std::size_t size = 0;
  void Add(const char* s) {
    while (*s && size < sizeof text - 1) text[size++] = *s++;
  }
  void AddNumber(long long v) {
    char digits[24];
    int n = 0;
    bool negative = v < 0;
    unsigned long long u = negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do digits[n++] = char('0' + u % 10);
    while ((u /= 10) != 0 && n < 23);
    if (negative && size < sizeof text - 1) text[size++] = '-';
    while (n > 0 && size < sizeof text - 1) text[size++] = digits[--n];
  }
  void Write() {
    text[size++] = '\n';
    std::size_t done = 0;
    while (done < size) {
      ssize_t w = ::write(STDERR_FILENO, text + done, size - done);
      if (w <= 0) {
        if (w < 0 && errno == EINTR) continue;
        return;
      }
      done += std::size_t(w);
    }
  }
};

void WriteEndLine(const char* what) {
  LineBuffer line;
  line.Add(gPrefix);
  line.Add(what);
  line.Write();
}

void OnFatalSignal(int sig) {
  const int savedErrno = errno;
  LineBuffer line;
  line.Add(gPrefix);
  line.Add("ended by signal ");
  line.AddNumber(sig);
  for (const FatalSignal& f : kFatalSignals)
    if (f.number == sig) {
      line.Add(" (");
      line.Add(f.name);
      line.Add(")");
    }
  line.Write();
  errno = savedErrno;
  // The disposition is the default again (SA_RESETHAND); the signal stays
  // blocked until the handler returns, then ends the process as it would
  // have without us. A fault re-raises itself on return as well.
  ::raise(sig);
}

void OnExit() {
  if (!gOrderly.load()) WriteEndLine("exit called before the program's window was closed");
}

}  // namespace

const char* EndLogPrefix() noexcept { return gPrefix; }

void InstallEndLog(const char* programName) noexcept {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  LineBuffer prefix;
  prefix.Add(programName ? programName : "");
  prefix.Add("[");
  prefix.AddNumber(::getpid());
  prefix.Add("]: ");
  std::memcpy(gPrefix, prefix.text, std::min(prefix.size, sizeof gPrefix - 1));
  gPrefix[std::min(prefix.size, sizeof gPrefix - 1)] = '\0';

  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
    stack_t alt{};
    alt.ss_sp = gAltStack;
    alt.ss_size = sizeof gAltStack;
    (void)::sigaltstack(&alt, nullptr);
  }
  for (const FatalSignal& f : kFatalSignals) {
    struct sigaction old{};
    if (::sigaction(f.number, nullptr, &old) != 0 || old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO))
      continue;
    struct sigaction sa{};
    sa.sa_handler = &OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_ONSTACK;
    (void)::sigaction(f.number, &sa, nullptr);
  }
  struct sigaction pipe{};
  if (::sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_DFL && !(pipe.sa_flags & SA_SIGINFO))
    (void)::signal(SIGPIPE, SIG_IGN);
  std::atexit(&OnExit);
  std::at_quick_exit(&OnExit);
}

void MarkOrderlyEnd() noexcept { gOrderly.store(true); }

void ArmEndDeadline(std::chrono::milliseconds within, int exitCode) noexcept {
  if (gDeadlineArmed.exchange(true)) return;
  try {
    std::thread([within, exitCode] {
      std::this_thread::sleep_for(within);
      LineBuffer line;
      line.Add(gPrefix);
      line.Add("shut-down did not finish within ");
      line.AddNumber(static_cast<long long>(within.count()));
      line.Add(" ms; ending now");
      line.Write();
      ::_exit(exitCode);
    }).detach();
  } catch (...) {
    // No thread to spare: the orderly end is all there is.
    gDeadlineArmed.store(false);
  }
}

}  // namespace platform
