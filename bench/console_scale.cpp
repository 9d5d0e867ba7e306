// console_scale: N console copies x 4 lines against 4N simulated modems.
//
//   console_scale [--copies N] [--seconds S] [--idle S] [--warmup S] [--round idle|replies]
//
// Two rounds (or the one --round names), each with N fresh copies (child processes of this program, each
// one console window on the offscreen platform):
//   idle     every line switched on with no task ticked: the ports are open
//            and the lines wait for the card. The CPU and wake-ups of all
//            copies (every thread, from the scheduler's counters) over --idle
//            seconds. Then every modem is unplugged, one after the other,
//            and the time from each hang-up until its line has unticked "On"
//            is taken (steady clock, the same in every process).
//   replies  every line registering a card whose SIM Toolkit menu loops
//            (menu, a text, the menu again, without end). Each copy keeps its
//            log lists near 0, 500 and 990 entries in turn, --seconds per
//            level, and counts its process CPU per modem reply (one notice
//            handed to a reply handler); refilling a list is not counted.
// The simulator runs in this process; its CPU is not counted.
#include "SchedStat.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QListWidget>
#include <QStringList>
#include <QTimer>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ModemBank.h"
#include "uConsoleLine.h"
#include "uzCorvaneV4.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kLevels[] = {0, 500, 990};
constexpr int kLevelSlack = 8;  // entries a level may grow by before it is refilled

// Cards whose list of items comes back after every text: the line walks it
// for ever (the main menu itself must not come back: a line that is not
// waiting for it takes a new main menu for the end of the session).
const char* const kLoopScenario =
    "[modem]\n"
    "wind = 1\nstsf = 1\necho = 1\ncsq = 21,0\n"
    "restart_ms = 100\nsim_init_ms = 0\nmenu_ms = 0\nstep_ms = 50\n"
    "card = L\n"
    "[card L]\nimsi = 510109876546{nnn}\nmenu = main\n"
    "[node main]\ntype = menu\ntitle = Kartu Perdana\nitem.1 = Info -> list\n"
    "[node list]\ntype = select\ntitle = Daftar Info\nitem.1 = Masa aktif -> info\n"
    "[node info]\ntype = display\ntext = Info kartu: masa aktif 30 hari\nnext = list\n";

// The card type: the menu keywords lead to the text; no confirmation ever
// matches, so the line never resets the modem.
const char* const kCardIni =
    "[KONFIRMASI]\r\nkatakunci1=TIDAK PERNAH\r\nkatakunci2=TIDAK PERNAH JUGA\r\nnomorkonfirmasireset=2\r\n"
    "timeout=40\r\n[MENU]\r\nkatakuncimenu1=Kartu Perdana\r\njawabanmenu1=1\r\n"
    "katakuncimenu2=Daftar Info\r\njawabanmenu2=1\r\n[LAINLAIN]\r\nwaktudial=5\r\n";

double ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

long long SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

// One copy's folder: lines 1..4 on COM 4k+1..4k+4, registration ticked or not.
void WriteCopyFolder(const fs::path& dir, int copy, bool registration) {
  fs::create_directories(dir);
  std::string ini = "[Corvane_V4]\r\nhp1_baud=115200\r\nkartuaktif=0\r\nKARTU=Bench;\r\nMAXDELAY=100\r\n";
  for (int n = 1; n <= 4; ++n) {
    const std::string N = std::to_string(n);
    ini += "comport_" + N + "=" + std::to_string(4 * copy + n) + "\r\nportactive_" + N + "=1\r\nRegistrasiAktif_" +
           N + "=" + (registration ? "1" : "0") + "\r\nCallAktif_" + N + "=0\r\nCall2Aktif_" + N + "=0\r\nSMSAktif_" +
           N + "=0\r\nSMS2Aktif_" + N + "=0\r\nCekPulsaAktif_" + N + "=0\r\n";
  }
  WriteFile(dir / "Corvane_v4.ini", ini);
  WriteFile(dir / "corvane_v4_Bench.ini", kCardIni);
}

// Runs the event loop for the span, sleeping while there is nothing to do.
void Spin(std::chrono::milliseconds span) {
  QEventLoop loop;
  QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// --- a copy -----------------------------------------------------------------

int Copy(int argc, char** argv, const std::string& mode, const std::string& dir, int seconds, int warmup) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // A question (repeated call failure, closing) would wait for an operator.
  corvane::SetDialogHook([](const corvane::TDialogRequest& r) {
    std::fprintf(stderr, "console_scale: dialog: %s\n", r.text.toLocal8Bit().constData());
    return corvane::TModalResult::Yes;
  });
  auto window = std::make_unique<corvane::TfzCorvaneV4>(corvane::TFormOptions{dir, false});
  window->show();

  int level = 0;
  long long replies = 0;
  double refillMs = 0;
  for (int n = 1; n <= corvane::LineCount; ++n) {
    corvane::TConsoleLine& line = window->Line(n);
    line.OnDispatch = [&, list = line.lstFunc](const char*, const std::string&) {
      ++replies;
      if (list->count() >= level && list->count() <= level + kLevelSlack) return;
      const double t0 = ThreadCpuMs();
      QStringList fill;
      for (int i = 0; i < level; ++i) fill << QStringLiteral("F000: filler entry %1 of the log").arg(i);
      list->clear();
      list->addItems(fill);
      if (level > 0) list->setCurrentRow(level - 1);
      refillMs += ThreadCpuMs() - t0;
    };
    line.ckOn->setChecked(true);
  }
  Spin(std::chrono::seconds(warmup));
  if (mode == "idle") {
    for (int n = 1; n <= corvane::LineCount; ++n) {
      QObject::connect(window->Line(n).ckOn, &QCheckBox::toggled, [n](bool on) {
        if (on) return;
        std::printf("OFF %d %lld\n", n, static_cast<long long>(SteadyNs()));
        std::fflush(stdout);
      });
    }
    std::printf("READY\n");
    std::fflush(stdout);
    Spin(std::chrono::hours(1));  // ended by the parent
    return 0;
  }
  for (int l : kLevels) {
    level = l;
    Spin(1s);  // every list brought to the level by its next reply
    replies = 0;
    refillMs = 0;
    const double cpu0 = ProcessCpuMs();
    Spin(std::chrono::seconds(seconds));
    std::printf("LEVEL %d %.3f %lld\n", l, ProcessCpuMs() - cpu0 - refillMs, replies);
    std::fflush(stdout);
  }
  window.reset();
  return 0;
}

// --- the parent -------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;
};

Child Spawn(const std::string& self, const std::vector<std::string>& args) {
  // Built before the fork: the simulator's threads may hold the allocator's
  // lock, and the child does nothing but exec.
  std::vector<char*> argv{const_cast<char*>(self.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFd[2];
  if (pipe(pipeFd) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // no copy outlives a benchmark that died
    dup2(pipeFd[1], STDOUT_FILENO);
    close(pipeFd[0]);
    close(pipeFd[1]);
    execv(self.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFd[1]);
  return Child{pid, fdopen(pipeFd[0], "r")};
}

std::string ReadLine(Child& c) {
  char buf[256];
  if (!std::fgets(buf, sizeof buf, c.out)) return {};
  std::string s(buf);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

void End(Child& c) {
  kill(c.pid, SIGTERM);
  waitpid(c.pid, nullptr, 0);
  std::fclose(c.out);
}

using SchedCounts = bench::SchedUse;

SchedCounts SchedAll(const std::vector<Child>& children) {
  SchedCounts all;
  for (const Child& c : children) {
    const SchedCounts s = bench::ReadSchedUse(c.pid);
    all.cpuMs += s.cpuMs;
    all.wakeUps += s.wakeUps;
  }
  return all;
}

// Unplugs every modem and reads, per line, how long after its hang-up the
// line had switched itself off. A line that never does is counted missing
// (its copy is ended after 15 s, which ends its output).
void UnplugAll(modemsim::ModemBank& bank, std::vector<Child>& children) {
  const int lines = static_cast<int>(children.size()) * corvane::LineCount;
  std::vector<long long> unpluggedAt(lines);
  for (int i = 0; i < lines; ++i) {
    unpluggedAt[i] = SteadyNs();
    bank.At(i).HangUp();
  }
  std::mutex mutex;
  std::condition_variable readDone;
  bool done = false;
  std::thread guard([&] {
    std::unique_lock lock(mutex);
    if (!readDone.wait_for(lock, 15s, [&] { return done; }))
      for (Child& c : children) kill(c.pid, SIGTERM);
  });
  std::vector<double> ms;
  for (std::size_t k = 0; k < children.size(); ++k) {
    for (int i = 0; i < corvane::LineCount; ++i) {
      int n = 0;
      long long at = 0;
      if (std::sscanf(ReadLine(children[k]).c_str(), "OFF %d %lld", &n, &at) != 2 || n < 1 || n > corvane::LineCount)
        break;
      ms.push_back((at - unpluggedAt[k * corvane::LineCount + n - 1]) / 1e6);
    }
  }
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  readDone.notify_all();
  guard.join();
  std::sort(ms.begin(), ms.end());
  std::printf("unplugged, %d lines: line off %.2f ms after its hang-up (median), %.2f ms at most, %zu of %d lines\n",
              lines, ms.empty() ? 0 : ms[ms.size() / 2], ms.empty() ? 0 : ms.back(), ms.size(), lines);
}

void IdleRound(const std::string& self, const fs::path& base, modemsim::ModemBank& bank, int copies,
               int idleSeconds, int warmup) {
  std::vector<Child> children;
  for (int k = 0; k < copies; ++k) {
    const fs::path dir = base / ("idle" + std::to_string(k));
    WriteCopyFolder(dir, k, false);
    children.push_back(Spawn(self, {"--copy", "idle", dir.string() + "/", "0", std::to_string(warmup)}));
  }
  for (Child& c : children) ReadLine(c);  // READY: every line on and waiting
  const SchedCounts before = SchedAll(children);
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const SchedCounts after = SchedAll(children);
  const double wakeUps = (after.wakeUps - before.wakeUps) / idleSeconds;
  std::printf("idle, %d lines on: %.2f ms CPU per second in all, %.0f wake-ups per second (%.1f per line)\n",
              4 * copies, (after.cpuMs - before.cpuMs) / idleSeconds, wakeUps, wakeUps / (4.0 * copies));
  std::fflush(stdout);
  UnplugAll(bank, children);
  for (Child& c : children) End(c);
  // The replies round needs the modems back, rebooted and their menus ready.
  std::vector<int> restarts;
  for (int i = 0; i < 4 * copies; ++i) {
    restarts.push_back(bank.At(i).Status().restarts);
    bank.At(i).Reconnect();
  }
  for (int i = 0; i < 4 * copies; ++i)
    bank.At(i).WaitFor([was = restarts[i]](const modemsim::ModemStatus& s) { return s.restarts > was && s.menuReady; },
                       10s);
}

void RepliesRound(const std::string& self, const fs::path& base, int copies, int seconds, int warmup) {
  std::vector<Child> children;
  for (int k = 0; k < copies; ++k) {
    const fs::path dir = base / ("replies" + std::to_string(k));
    WriteCopyFolder(dir, k, true);
    children.push_back(
        Spawn(self, {"--copy", "replies", dir.string() + "/", std::to_string(seconds), std::to_string(warmup)}));
  }
  double cpu[std::size(kLevels)] = {};
  long long replies[std::size(kLevels)] = {};
  for (Child& c : children) {
    for (std::size_t i = 0; i < std::size(kLevels); ++i) {
      int level = 0;
      double ms = 0;
      long long n = 0;
      const std::string line = ReadLine(c);
      if (std::sscanf(line.c_str(), "LEVEL %d %lf %lld", &level, &ms, &n) == 3) {
        cpu[i] += ms;
        replies[i] += n;
      }
    }
  }
  for (Child& c : children) End(c);
  double first = 0;
  for (std::size_t i = 0; i < std::size(kLevels); ++i) {
    const double perReply = replies[i] ? cpu[i] / static_cast<double>(replies[i]) : 0;
    if (i == 0) first = perReply;
    std::printf("log at %3d entries: %.3f ms CPU per reply (%lld replies, %.0f per second in all), %.2fx the empty log\n",
                kLevels[i], perReply, replies[i], static_cast<double>(replies[i]) / seconds,
                first > 0 ? perReply / first : 0);
  }
}

int Parent(const std::string& self, int copies, int seconds, int idleSeconds, int warmup, const std::string& round) {
  char pattern[] = "/tmp/console-scale-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  const fs::path base = pattern;
  const fs::path comDir = base / "com";
  fs::create_directories(comDir);
  setenv("CORVANE_COM_DIR", comDir.c_str(), 1);

  modemsim::BankOptions o;
  o.count = 4 * copies;
  o.firstCom = 1;
  o.comDir = comDir.string();
  o.scenario = modemsim::Scenario::Parse(kLoopScenario);
  modemsim::ModemBank bank(std::move(o));
  for (int i = 0; i < 4 * copies; ++i)
    bank.At(i).WaitFor([](const modemsim::ModemStatus& s) { return s.restarts >= 1 && s.menuReady; }, 10s);

  std::printf("%d copies x 4 lines, %d simulated modems\n", copies, 4 * copies);

  if (round != "replies") IdleRound(self, base, bank, copies, idleSeconds, warmup);
  if (round != "idle") RepliesRound(self, base, copies, seconds, warmup);
  std::error_code ec;
  fs::remove_all(base, ec);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--copy") == 0)
    return Copy(1, argv, argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
  int copies = 16, seconds = 8, idle = 5, warmup = 6;
  std::string round;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (key == "--round") round = argv[i + 1];
    else if (key == "--copies") copies = value;
    else if (key == "--seconds") seconds = value;
    else if (key == "--idle") idle = value;
    else if (key == "--warmup") warmup = value;
    else {
      std::fprintf(stderr, "usage: console_scale [--copies N] [--seconds S] [--idle S] [--warmup S] [--round idle|replies]\n");
      return 2;
    }
  }
  if (copies < 1 || copies > 16 || seconds < 1 || idle < 1 || warmup < 0 ||
      !(round.empty() || round == "idle" || round == "replies")) {
    std::fprintf(stderr, "console_scale: copies 1..16, seconds and idle at least 1, round idle or replies\n");
    return 2;
  }
  try {
    return Parent(fs::read_symlink("/proc/self/exe").string(), copies, seconds, idle, warmup, round);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "console_scale: %s\n", e.what());
    return 1;
  }
}
