#pragma once
// How a program's process ends: never without a word, and never later than
// asked once its end has begun.
//
// What a caller may rely on:
// - InstallEndLog(name), once at program start (main thread): every signal
//   below whose disposition is still the default writes one line
//   "<name>[<pid>]: ended by signal <n> (<NAME>)" to stderr, then ends the
//   process by that same signal (same exit status, same core dump as before).
//   The handler is async-signal-safe (write(2) only) and runs on its own
//   stack, so a stack overflow is reported too. Signals someone else already
//   handles or ignores (nohup's SIGHUP, a sanitizer's SIGSEGV) are left alone.
//   Signals: SIGHUP SIGINT SIGQUIT SIGILL SIGTRAP SIGABRT SIGBUS SIGFPE
//   SIGSEGV SIGUSR1 SIGUSR2 SIGALRM SIGTERM SIGXCPU SIGXFSZ SIGSYS.
//   SIGPIPE is ignored instead: a write to a closed pipe or socket fails with
//   EPIPE rather than ending the program silently.
//   An exit() or quick_exit() before MarkOrderlyEnd writes
//   "<name>[<pid>]: exit called before the program's window was closed".
//   (An exception that escapes a thread ends in std::terminate: the runtime
//   prints the exception, then SIGABRT is reported as above.)
// - MarkOrderlyEnd(): the program leaves main on purpose; the exit is
//   expected from now on.
// - ArmEndDeadline(within, exitCode): the process ends within `within` from
//   now. When the orderly end (destructors, the toolkit's own teardown, which
//   waits for pooled threads) has not finished by then, one line
//   "<name>[<pid>]: shut-down did not finish within <ms> ms; ending now" goes
//   to stderr and the process ends with exitCode. Later calls do nothing.
// Any thread may call MarkOrderlyEnd and ArmEndDeadline.
#include <chrono>

namespace platform {

void InstallEndLog(const char* programName) noexcept;
void MarkOrderlyEnd() noexcept;
void ArmEndDeadline(std::chrono::milliseconds within, int exitCode) noexcept;

// The line prefix "<name>[<pid>]: " as InstallEndLog set it up.
const char* EndLogPrefix() noexcept;

}  // namespace platform
