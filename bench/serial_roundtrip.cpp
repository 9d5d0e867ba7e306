// serial_roundtrip [--echo PATH] [--trips N] [--mib M] [--idle-ports P]
//
// Measures, on pseudo-terminal pairs, (a) a plain termios/poll echo and
// (b) serial_echo (TComPort): N round trips of a 24-byte AT-style line
// (median, p99) and the throughput of M MiB through each, then the CPU the
// idle echo uses, then the CPU and wake-ups of each echo holding P ports
// open with nothing arriving, and prints the ratios of (b) to (a).
#include "SchedStat.h"
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kLine = "AT+CMGS=\"+62812345678\"\r\n";  // 24 bytes

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "serial_roundtrip: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// ---- (a) the plain echo, run as a child process of this program ----------

// Echoes every device given; ends when all have hung up.
int PlainEcho(int count, char** paths) {
  std::vector<pollfd> fds;
  for (int i = 0; i < count; ++i) {
    int fd = ::open(paths[i], O_RDWR | O_NOCTTY);
    if (fd < 0) Fail(paths[i]);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    fds.push_back({fd, POLLIN, 0});
  }
  std::printf("READY\n");
  std::fflush(stdout);
  char buf[4096];
  size_t open = fds.size();
  while (open > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    for (pollfd& p : fds) {
      if (p.fd < 0 || p.revents == 0) continue;
      ssize_t n = (p.revents & (POLLHUP | POLLERR)) ? 0 : ::read(p.fd, buf, sizeof buf);
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = ::write(p.fd, buf + done, static_cast<size_t>(n - done));
        if (w < 0) n = 0;
        else done += w;
      }
      if (n <= 0) {
        ::close(p.fd);
        p.fd = -1;
        --open;
      }
    }
  }
  return 0;
}

// ---- the measuring side -----------------------------------------------------

struct Pty {
  int master = -1;
  std::string slave;
};

Pty MakePty() {
  Pty p;
  p.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (p.master < 0 || grantpt(p.master) || unlockpt(p.master)) Fail("posix_openpt");
  char name[128];
  if (ptsname_r(p.master, name, sizeof name)) Fail("ptsname");
  p.slave = name;
  return p;
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // its stdout
};

Child Spawn(const std::vector<std::string>& argv) {
  int pipefd[2];
  if (pipe(pipefd)) Fail("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_addclose(&fa, pipefd[0]);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  Child c;
  if (posix_spawn(&c.pid, args[0], &fa, nullptr, args.data(), environ) != 0) Fail("spawn " + argv[0]);
  posix_spawn_file_actions_destroy(&fa);
  close(pipefd[1]);
  c.out = pipefd[0];
  // Wait for its READY line.
  std::string seen;
  char ch;
  while (seen.find("READY\n") == std::string::npos) {
    if (read(c.out, &ch, 1) != 1) Fail("echo did not get ready");
    seen.push_back(ch);
  }
  return c;
}

void WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write");
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
}

void ReadExactly(int fd, char* into, size_t len) {
  while (len > 0) {
    ssize_t n = ::read(fd, into, len);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      Fail("read");
    }
    into += n;
    len -= static_cast<size_t>(n);
  }
}

double CpuSeconds(pid_t pid) { return bench::ReadSchedUse(pid).cpuMs / 1000.0; }

void AwaitExit(const Child& child, const std::string& name) {
  int status = 0;
  for (int i = 0; i < 300 && waitpid(child.pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(child.pid, &status, WNOHANG) == 0) {
    std::fprintf(stderr, "serial_roundtrip: %s did not exit on hang-up\n", name.c_str());
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
  }
  close(child.out);
}

struct IdleResult {
  double cpuMsPerS = 0, wakeupsPerS = 0;
};

// Many open ports with nothing arriving: what the echo costs while it waits.
IdleResult MeasureIdle(const std::vector<std::string>& echoArgvHead, int ports) {
  std::vector<Pty> ptys;
  std::vector<std::string> argv = echoArgvHead;
  for (int i = 0; i < ports; ++i) {
    ptys.push_back(MakePty());
    argv.push_back(ptys.back().slave);
  }
  Child child = Spawn(argv);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const bench::SchedUse u0 = bench::ReadSchedUse(child.pid);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const bench::SchedUse u1 = bench::ReadSchedUse(child.pid);
  for (const Pty& p : ptys) close(p.master);
  AwaitExit(child, argv[0]);
  return {(u1.cpuMs - u0.cpuMs) / 3.0, (u1.wakeUps - u0.wakeUps) / 3.0};
}

struct Result {
  double medianUs = 0, p99Us = 0, mibPerS = 0, idleCpuMsPerS = 0;
  size_t corrupt = 0;
};

Result Measure(const std::vector<std::string>& echoArgvHead, int trips, int mib) {
  Pty pty = MakePty();
  std::vector<std::string> argv = echoArgvHead;
  argv.push_back(pty.slave);
  Child child = Spawn(argv);

  Result r;
  // Round trips.
  std::vector<double> us;
  us.reserve(static_cast<size_t>(trips));
  char back[64];
  for (int i = -200; i < trips; ++i) {  // 200 warm-up trips
    auto t0 = Clock::now();
    WriteAll(pty.master, kLine.data(), kLine.size());
    ReadExactly(pty.master, back, kLine.size());
    auto t1 = Clock::now();
    if (std::memcmp(back, kLine.data(), kLine.size()) != 0) ++r.corrupt;
    if (i >= 0) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  std::sort(us.begin(), us.end());
  r.medianUs = us[us.size() / 2];
  r.p99Us = us[std::min(us.size() - 1, us.size() * 99 / 100)];

  // Throughput: one thread writes, this one reads back and checks.
  const size_t total = static_cast<size_t>(mib) << 20;
  auto pattern = [](size_t i) { return static_cast<char>((i * 7 + i / 251) & 0xFF); };
  auto t0 = Clock::now();
  std::thread writer([&] {
    std::vector<char> block(4096);
    for (size_t sent = 0; sent < total;) {
      const size_t n = std::min(block.size(), total - sent);
      for (size_t i = 0; i < n; ++i) block[i] = pattern(sent + i);
      WriteAll(pty.master, block.data(), n);
      sent += n;
    }
  });
  std::vector<char> in(65536);
  for (size_t got = 0; got < total;) {
    ssize_t n = ::read(pty.master, in.data(), std::min(in.size(), total - got));
    if (n <= 0) Fail("read back");
    for (ssize_t i = 0; i < n; ++i)
      if (in[static_cast<size_t>(i)] != pattern(got + static_cast<size_t>(i))) ++r.corrupt;
    got += static_cast<size_t>(n);
  }
  auto t1 = Clock::now();
  writer.join();
  r.mibPerS = mib / std::chrono::duration<double>(t1 - t0).count();

  // The idle echo: whatever CPU it uses while nothing arrives.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double c0 = CpuSeconds(child.pid);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double c1 = CpuSeconds(child.pid);
  r.idleCpuMsPerS = (c1 - c0) * 1000.0 / 3.0;

  // Hang up: the echo exits by itself.
  close(pty.master);
  AwaitExit(child, argv[0]);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--plain-echo") return PlainEcho(argc - 2, argv + 2);
  std::string echo = SERIAL_ECHO_DEFAULT;
  int trips = 5000, mib = 32, idlePorts = 64;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--echo") echo = argv[i + 1];
    else if (a == "--trips") trips = std::atoi(argv[i + 1]);
    else if (a == "--mib") mib = std::atoi(argv[i + 1]);
    else if (a == "--idle-ports") idlePorts = std::atoi(argv[i + 1]);
  }
  if (trips < 1 || mib < 1 || idlePorts < 1) return 2;
  signal(SIGPIPE, SIG_IGN);

  const Result plain = Measure({"/proc/self/exe", "--plain-echo"}, trips, mib);
  const Result comp = Measure({echo}, trips, mib);
  const IdleResult plainIdle = MeasureIdle({"/proc/self/exe", "--plain-echo"}, idlePorts);
  const IdleResult compIdle = MeasureIdle({echo}, idlePorts);

  std::printf("%d round trips of a %zu-byte line, %d MiB through each echo\n", trips, kLine.size(), mib);
  std::printf("%-22s %12s %12s %10s %14s %8s\n", "", "median us", "p99 us", "MiB/s", "idle CPU ms/s", "corrupt");
  auto row = [](const char* name, const Result& r) {
    std::printf("%-22s %12.1f %12.1f %10.1f %14.3f %8zu\n", name, r.medianUs, r.p99Us, r.mibPerS, r.idleCpuMsPerS,
                r.corrupt);
  };
  row("(a) plain termios echo", plain);
  row("(b) serial_echo", comp);
  std::printf("ratio (b)/(a): round trip median %.2f, p99 %.2f, throughput %.2f\n", comp.medianUs / plain.medianUs,
              comp.p99Us / plain.p99Us, comp.mibPerS / plain.mibPerS);
  std::printf("%d ports open, idle: %-10s %12s %12s %16s\n", idlePorts, "", "CPU ms/s", "wake-ups/s",
              "wake-ups/port/s");
  auto idleRow = [&](const char* name, const IdleResult& r) {
    std::printf("%-22s %12.2f %12.1f %16.2f\n", name, r.cpuMsPerS, r.wakeupsPerS, r.wakeupsPerS / idlePorts);
  };
  idleRow("(a) plain termios echo", plainIdle);
  idleRow("(b) serial_echo", compIdle);
  return plain.corrupt + comp.corrupt == 0 ? 0 : 1;
}
