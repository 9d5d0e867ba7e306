// corvane-modemsim: a bank of simulated GSM modems on pseudo-terminals,
// linked as COM<k> for the console and the preparation tool, driven by a
// scenario file and steered by a line protocol on stdin or a local socket.
// Runs until SIGINT/SIGTERM or "quit"; removes its links at exit.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "ControlChannel.h"
#include "ModemBank.h"
#include "SimText.h"

namespace {

const char* const kUsage =
    "usage: corvane-modemsim [--count N] [--first-com K] [--scenario FILE]\n"
    "                        [--com-dir DIR] [--control SOCKET] [--transcript FILE]\n"
    "                        [--seed N] [--check] [--quiet]\n"
    "  --count N         modems in the bank (default 4)\n"
    "  --first-com K     COM number of the first modem (default 1)\n"
    "  --scenario FILE   scenario file (default: the built-in demo card)\n"
    "  --com-dir DIR     where COM<k> links go (default $CORVANE_COM_DIR)\n"
    "  --control SOCKET  also take control commands on this local socket\n"
    "  --transcript FILE append every modem's traffic to FILE\n"
    "  --seed N          seed for the scenario's random delays (default 1)\n"
    "  --check           parse the scenario, report, and exit\n"
    "  --quiet           print nothing but errors and control replies\n"
    "Control commands (stdin or socket, one per line): type 'help'.\n";

struct Args {
  modemsim::BankOptions bank;
  std::string scenarioPath;
  std::string controlPath;
  bool check = false;
  bool quiet = false;
};

bool ParseArgs(int argc, char** argv, Args& a) {
  a.bank.count = 4;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::cerr << "corvane-modemsim: " << arg << " needs a value\n";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto number = [&](int& out, int low) {
      std::string v;
      if (!value(v)) return false;
      const auto n = modemsim::ParseIntIn(v, low, 100000);
      if (!n) {
        std::cerr << "corvane-modemsim: " << arg << " wants a number >= " << low << "\n";
        return false;
      }
      out = static_cast<int>(*n);
      return true;
    };
    int seed = 1;
    if (arg == "--count") { if (!number(a.bank.count, 1)) return false; }
    else if (arg == "--first-com") { if (!number(a.bank.firstCom, 1)) return false; }
    else if (arg == "--scenario") { if (!value(a.scenarioPath)) return false; }
    else if (arg == "--com-dir") { if (!value(a.bank.comDir)) return false; }
    else if (arg == "--control") { if (!value(a.controlPath)) return false; }
    else if (arg == "--transcript") { if (!value(a.bank.transcriptFile)) return false; }
    else if (arg == "--seed") { if (!number(seed, 0)) return false; a.bank.seed = static_cast<unsigned>(seed); }
    else if (arg == "--check") a.check = true;
    else if (arg == "--quiet") a.quiet = true;
    else if (arg == "--help" || arg == "-h") { std::cout << kUsage; std::exit(0); }
    else {
      std::cerr << "corvane-modemsim: unknown argument '" << arg << "'\n" << kUsage;
      return false;
    }
  }
  return true;
}

int ListenOn(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    std::cerr << "corvane-modemsim: socket path too long\n";
    return -1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    std::cerr << "corvane-modemsim: cannot listen on " << path << ": " << std::strerror(errno) << "\n";
    ::close(fd);
    return -1;
  }
  return fd;
}

void WriteAll(int fd, const std::string& text) {
  size_t off = 0;
  while (off < text.size()) {
    const ssize_t n = ::write(fd, text.data() + off, text.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

// Feeds complete lines of `pending` to the channel and writes the replies.
void RunLines(modemsim::ControlChannel& channel, std::string& pending, int replyFd) {
  for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
    const std::string line = pending.substr(0, nl);
    pending.erase(0, nl + 1);
    const std::string reply = channel.Run(line);
    if (!reply.empty()) WriteAll(replyFd, reply + "\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!ParseArgs(argc, argv, args)) return 2;
  args.bank.keepTranscripts = false;  // runs for hours: the file is the record
  try {
    args.bank.scenario = args.scenarioPath.empty() ? modemsim::Scenario::Builtin()
                                                   : modemsim::Scenario::Load(args.scenarioPath);
  } catch (const std::exception& e) {
    std::cerr << "corvane-modemsim: " << e.what() << "\n";
    return 2;
  }
  if (args.check) {
    std::cout << "scenario ok: cards";
    for (const std::string& id : args.bank.scenario.CardIds()) std::cout << " " << id;
    std::cout << "\n";
    return 0;
  }

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  // Blocked before the bank's thread starts, so only the signalfd sees them.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int sigFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);

  std::unique_ptr<modemsim::ModemBank> bank;
  try {
    bank = std::make_unique<modemsim::ModemBank>(args.bank);
  } catch (const std::exception& e) {
    std::cerr << "corvane-modemsim: " << e.what() << "\n";
    return 1;
  }
  if (!args.quiet) {
    for (int i = 0; i < bank->Count(); ++i) {
      modemsim::Modem& m = bank->At(i);
      std::cout << "COM" << m.ComNumber() << " " << m.DevicePath();
      if (!m.ComPath().empty()) std::cout << " (" << m.ComPath() << ")";
      std::cout << "\n";
    }
    if (bank->ComDir().empty())
      std::cout << "no COM links: set CORVANE_COM_DIR or --com-dir to make them\n";
    std::cout << "ready" << std::endl;
  }

  modemsim::ControlChannel channel(*bank);
  const int listenFd = args.controlPath.empty() ? -1 : ListenOn(args.controlPath);
  if (!args.controlPath.empty() && listenFd < 0) return 1;
  bool stdinOpen = true;
  std::string stdinPending;
  std::map<int, std::string> clients;

  while (!channel.QuitRequested()) {
    std::vector<pollfd> fds;
    fds.push_back({sigFd, POLLIN, 0});
    if (stdinOpen) fds.push_back({0, POLLIN, 0});
    if (listenFd >= 0) fds.push_back({listenFd, POLLIN, 0});
    for (const auto& [fd, pending] : clients) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;  // a stop signal
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const int fd = fds[i].fd;
      if (fd == listenFd) {
        const int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) clients[c];
        continue;
      }
      char buf[4096];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (fd == 0) {
        // Without a terminal (run in the background) stdin ends at once;
        // the bank keeps running until it is signalled.
        if (n <= 0) {
          stdinOpen = false;
          continue;
        }
        stdinPending.append(buf, static_cast<size_t>(n));
        RunLines(channel, stdinPending, 1);
      } else {
        if (n <= 0) {
          ::close(fd);
          clients.erase(fd);
          continue;
        }
        clients[fd].append(buf, static_cast<size_t>(n));
        RunLines(channel, clients[fd], fd);
      }
    }
  }
  for (const auto& [fd, pending] : clients) ::close(fd);
  if (listenFd >= 0) {
    ::close(listenFd);
    ::unlink(args.controlPath.c_str());
  }
  bank.reset();
  if (!args.quiet) std::cout << "stopped" << std::endl;
  return 0;
}
