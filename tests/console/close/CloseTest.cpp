// Closing the programs, with real processes against the modem simulator:
// the console (and the preparation tool) as their main() runs them, driven
// from inside by CloseProbe, each copy in its own folder with its own INI
// file, its own simulated modems and a private runtime folder for the
// instance slots. Also the copies as scripts/setup-copies sets them up.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ChildEnv.h"
#include "Files.h"
#include "InstanceSlots.h"
#include "PollWait.h"
#include "Sanitizers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// These bound a hang; they measure nothing. A copy must be gone well within
// kExitPatience of its Yes (its own end deadline is 5 s).
constexpr auto kStartPatience = 60s;
constexpr auto kExitPatience = 15s;

// Lines the programs write when their end went wrong.
const char* const kBadEndLines[] = {"ended by signal", "did not finish", "exit called before",
                                    "event loop ended"};

// A started program: stdin to write commands to, stdout read line by line,
// stderr gathered.
class Program {
 public:
  Program(const std::string& exe, const std::vector<std::string>& extraEnv, const std::string& runtimeDir) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&fa, err[1], STDERR_FILENO);
    std::vector<std::string> env = corvane::testsupport::CopyEnvironment(runtimeDir);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<std::string> args{exe};
    std::vector<char*> argv = corvane::testsupport::NullTerminated(args);
    std::vector<char*> envp = corvane::testsupport::NullTerminated(env);
    if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    inFd_ = in[1];
    outFd_ = out[0];
    errFd_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {inFd_, outFd_, errFd_})
      if (fd >= 0) ::close(fd);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t Pid() const { return pid_; }
  void Send(const std::string& command) { (void)!::write(inFd_, (command + "\n").data(), command.size() + 1); }

  // The next stdout line starting with prefix; nullopt at end of output or
  // when the patience runs out.
  std::optional<std::string> WaitForLine(const std::string& prefix, std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
      for (; next_ < lines_.size(); ++next_)
        if (lines_[next_].rfind(prefix, 0) == 0) return lines_[next_++];
      if (!ReadSome(deadline)) return std::nullopt;
    }
  }

  // waitpid's status once the program has ended within patience.
  std::optional<int> WaitExit(std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
      (void)ReadSome(Clock::now() + 5ms);
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        while (ReadSome(Clock::now() + 50ms)) {
        }
        return status_;
      }
    }
    return std::nullopt;
  }
  const std::string& Stderr() const { return stderr_; }

 private:
  bool ReadSome(Clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
      const int r = ::poll(p, 2, int(left));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      char buf[1024];
      bool any = false;
      if (p[1].revents) {
        const ssize_t n = ::read(errFd_, buf, sizeof buf);
        if (n > 0) stderr_.append(buf, std::size_t(n)), any = true;
      }
      if (p[0].revents) {
        const ssize_t n = ::read(outFd_, buf, sizeof buf);
        if (n > 0) {
          partial_.append(buf, std::size_t(n));
          for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
          }
          any = true;
        }
      }
      if (!any) return false;  // both ends closed
      return true;
    }
  }

  pid_t pid_ = -1;
  int inFd_ = -1, outFd_ = -1, errFd_ = -1;
  std::optional<int> status_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  std::string partial_, stderr_;
};

// The modem simulator as a program, asked over its control socket.
class Simulator {
 public:
  Simulator(const std::string& root, int count) : comDir_(root + "/com"), control_(root + "/sim.sock") {
    fs::create_directory(comDir_);
    std::vector<std::string> args{MODEMSIM_PROGRAM, "--count", std::to_string(count), "--first-com", "1",
                                  "--com-dir", comDir_, "--control", control_, "--quiet"};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv = corvane::testsupport::NullTerminated(args);
    if (posix_spawn(&pid_, args[0].c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ready_ = corvane::testsupport::PollUntil(
        [&] { return fs::exists(comDir_ + "/COM" + std::to_string(count)) && fs::exists(control_); }, kStartPatience);
  }
  ~Simulator() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  bool Ready() const { return ready_; }
  const std::string& ComDir() const { return comDir_; }

  // One control command and its reply line ("" when it cannot be asked).
  std::string Ask(const std::string& command) const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", control_.c_str());
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::write(fd, (command + "\n").data(), command.size() + 1) > 0) {
      char c;
      pollfd p{fd, POLLIN, 0};
      while (::poll(&p, 1, 5000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') reply += c;
    }
    ::close(fd);
    return reply;
  }
  // Whether a host has COM<k> open.
  bool HostOn(int com) const { return Ask("status COM" + std::to_string(com)).find(" host=1") != std::string::npos; }

 private:
  pid_t pid_ = -1;
  std::string comDir_, control_;
  bool ready_ = false;
};

// One folder with a copy of a program, as an operator sets up copies 1 to 4.
struct CopyFolder {
  std::string dir, exe;
};
CopyFolder MakeCopyFolder(const std::string& root, const std::string& name, const std::string& program) {
  CopyFolder f{root + "/" + name, root + "/" + name + "/" + fs::path(program).filename().string()};
  fs::create_directory(f.dir);
  std::error_code ec;
  fs::create_hard_link(program, f.exe, ec);
  if (ec) fs::copy_file(program, f.exe);
  return f;
}

// The console's main file for lines 1 to 4 on COM<first> .. COM<first+3>,
// without "maxlistline", which only a save writes.
void WriteMainIni(const CopyFolder& f, int firstCom) {
  std::string ini = "[Corvane_V4]\r\nhp1_baud=115200\r\nkartuaktif=0\r\nKARTU=Demo;\r\nMAXDELAY=1000\r\n";
  for (int n = 1; n <= 4; ++n)
    ini += "comport_" + std::to_string(n) + "=" + std::to_string(firstCom + n - 1) + "\r\nportactive_" +
           std::to_string(n) + "=1\r\n";
  corvane::testsupport::WriteFile(f.dir + "/Corvane_v4.ini", ini);
  corvane::testsupport::WriteFile(f.dir + "/corvane_v4_Demo.ini",
                                  "[KONFIRMASI]\r\nkatakunci1=Mohon tunggu\r\nkatakunci2=berhasil\r\n"
                                  "nomorkonfirmasireset=2\r\n[MENU]\r\nkatakuncimenu1=Kartu Perdana\r\n"
                                  "jawabanmenu1=1\r\nkatakuncimenu2=Registrasi Kartu\r\njawabanmenu2=1\r\n"
                                  "[DATA]\r\nkatakuncidata1=NIK\r\nJawabandata1=3201234567890001\r\n"
                                  "[LAINLAIN]\r\nwaktudial=5\r\n");
}

// Whether the copy at this path holds no instance slot (the first copy of a
// path takes slot 0).
bool SlotFree(const std::string& exe) {
  platform::InstanceSlot slot;
  return platform::InstanceSlot::Take(platform::InstanceKey(fs::canonical(exe).string()), 1, slot) ==
         platform::InstanceSlot::Outcome::Taken;
}

std::string BadEndLine(const std::string& stderrText) {
  for (const char* bad : kBadEndLines)
    if (stderrText.find(bad) != std::string::npos) return bad;
  return {};
}

class CloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::signal(SIGPIPE, SIG_IGN);
    root_ = std::make_unique<corvane::testsupport::TempDir>("corvane-close");
    runtime_ = root_->Path() + "/run";
    fs::create_directory(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
    // The test takes the copies' slots itself to see that they are free.
    previousRuntime_ = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
  void TearDown() override {
    if (previousRuntime_.empty()) ::unsetenv("XDG_RUNTIME_DIR");
    else ::setenv("XDG_RUNTIME_DIR", previousRuntime_.c_str(), 1);
  }

  std::unique_ptr<Program> Start(const CopyFolder& f, const Simulator& sim) {
    auto p = std::make_unique<Program>(f.exe, std::vector<std::string>{"CORVANE_COM_DIR=" + sim.ComDir()}, runtime_);
    if (!p->WaitForLine("ready", kStartPatience)) return nullptr;
    return p;
  }

  std::unique_ptr<corvane::testsupport::TempDir> root_;
  std::string runtime_, previousRuntime_;
};

// One close of a console copy with four running lines; "" when all went as
// it must, else what did not.
std::string CloseOnce(const std::function<std::unique_ptr<Program>()>& start, const CopyFolder& f,
                      const Simulator& sim, int firstCom, std::chrono::milliseconds running, bool byButton) {
  WriteMainIni(f, firstCom);
  auto p = start();
  if (!p) return "did not start";
  p->Send("on");
  const auto on = p->WaitForLine("on ", kStartPatience);
  if (!on || *on != "on 4") return "lines not on: " + on.value_or("(nothing)");
  for (int com = firstCom; com < firstCom + 4; ++com)
    if (!corvane::testsupport::PollUntil([&] { return sim.HostOn(com); }, 5s))
      return "COM" + std::to_string(com) + " was never opened";
  std::this_thread::sleep_for(running);
  p->Send(byButton ? "close keluar" : "close window");
  if (!p->WaitForLine("answered", kStartPatience)) return "no close question";
  const auto status = p->WaitExit(kExitPatience);
  if (!status) return "still running " + std::to_string(kExitPatience.count()) + " s after the Yes";
  if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
    return "ended with status " + std::to_string(*status) + ": " + p->Stderr();
  if (const std::string bad = BadEndLine(p->Stderr()); !bad.empty()) return "stderr says \"" + bad + "\": " + p->Stderr();
  if (!SlotFree(f.exe)) return "its instance slot is still held";
  for (int com = firstCom; com < firstCom + 4; ++com)
    if (!corvane::testsupport::PollUntil([&] { return !sim.HostOn(com); }, 5s))
      return "COM" + std::to_string(com) + " is still open";
  if (corvane::testsupport::ReadFile(f.dir + "/Corvane_v4.ini").find("maxlistline=1000") == std::string::npos)
    return "the Yes did not save the main file";
  return {};
}

TEST_F(CloseTest, AConsoleWithFourRunningLinesEndsAtEachOfFiftyCloses) {
  constexpr int kCopies = 5, kRounds = 10;  // copies run side by side, 4 modems each
  Simulator sim(root_->Path(), 4 * kCopies);
  ASSERT_TRUE(sim.Ready());
  std::vector<CopyFolder> folders;
  for (int c = 0; c < kCopies; ++c)
    folders.push_back(MakeCopyFolder(root_->Path(), "copy" + std::to_string(c + 1), CORVANE_CLOSE_PROBE));

  std::mutex mutex;
  std::vector<std::string> failures;
  std::vector<std::thread> copies;
  for (int c = 0; c < kCopies; ++c)
    copies.emplace_back([&, c] {
      for (int r = 0; r < kRounds; ++r) {
        // Closes land at different moments of the bring-up and the chain:
        // before the first command, during "AT+CSQ", the reset, the menu.
        const auto running = std::chrono::milliseconds(100 + ((r * 7 + c * 3) % 11) * 350);
        const std::string failure = CloseOnce([&] { return Start(folders[std::size_t(c)], sim); },
                                              folders[std::size_t(c)], sim, 1 + 4 * c, running, (r + c) % 2 == 0);
        if (!failure.empty()) {
          std::lock_guard<std::mutex> lock(mutex);
          failures.push_back("copy " + std::to_string(c + 1) + ", close " + std::to_string(r + 1) + ": " + failure);
        }
      }
    });
  for (auto& t : copies) t.join();
  EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}

TEST_F(CloseTest, APooledThreadThatNeverEndsDoesNotKeepTheProgramAlive) {
  Simulator sim(root_->Path(), 4);
  ASSERT_TRUE(sim.Ready());
  const CopyFolder f = MakeCopyFolder(root_->Path(), "copy", CORVANE_CLOSE_PROBE);
  WriteMainIni(f, 1);
  auto p = Start(f, sim);
  ASSERT_TRUE(p);
  p->Send("on");
  ASSERT_EQ(p->WaitForLine("on ", kStartPatience).value_or(""), "on 4");
  p->Send("pool");
  ASSERT_TRUE(p->WaitForLine("pool", kStartPatience));
  p->Send("close keluar");
  ASSERT_TRUE(p->WaitForLine("answered", kStartPatience));
  const auto status = p->WaitExit(kExitPatience);
  ASSERT_TRUE(status) << "the toolkit's end waits for the pooled thread for ever";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  EXPECT_NE(p->Stderr().find("shut-down did not finish within 5000 ms; ending now"), std::string::npos)
      << p->Stderr();
  EXPECT_TRUE(SlotFree(f.exe));
  for (int com = 1; com <= 4; ++com) EXPECT_FALSE(sim.HostOn(com)) << com;
}

constexpr bool kSanitized = corvane::testsupport::kUnderSanitizer;

TEST_F(CloseTest, FatalSignalsAndUnexpectedExitsAreLogged) {
  struct Case {
    const char* why;
    int signal;          // sent from outside; 0: none
    const char* command;  // sent to the probe instead; nullptr: none
    bool bySignal;       // the process ends by that signal (else by exit(3))
    const char* line;
  };
  std::vector<Case> cases = {
      {"terminated", SIGTERM, nullptr, true, "ended by signal 15 (SIGTERM)"},
      {"hung up", SIGHUP, nullptr, true, "ended by signal 1 (SIGHUP)"},
      {"exit() from somewhere", 0, "exit 3", false, "exit called before the program's window was closed"},
  };
  // Under a sanitizer the sanitizer owns these signals and reports them.
  if (!kSanitized) {
    cases.push_back({"segmentation fault", SIGSEGV, nullptr, true, "ended by signal 11 (SIGSEGV)"});
    cases.push_back({"abort", SIGABRT, nullptr, true, "ended by signal 6 (SIGABRT)"});
  }
  Simulator sim(root_->Path(), 4);
  ASSERT_TRUE(sim.Ready());
  const CopyFolder f = MakeCopyFolder(root_->Path(), "copy", CORVANE_CLOSE_PROBE);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    WriteMainIni(f, 1);
    auto p = Start(f, sim);
    ASSERT_TRUE(p);
    p->Send("on");
    ASSERT_EQ(p->WaitForLine("on ", kStartPatience).value_or(""), "on 4");
    if (c.signal) ::kill(p->Pid(), c.signal);
    if (c.command) p->Send(c.command);
    const auto status = p->WaitExit(kExitPatience);
    ASSERT_TRUE(status);
    if (c.bySignal) {
      EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == c.signal) << "the signal still ends it: " << *status;
    } else {
      EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 3) << *status;
    }
    EXPECT_NE(p->Stderr().find(std::string("CorvaneCloseProbe[") + std::to_string(p->Pid()) + "]: " + c.line),
              std::string::npos)
        << p->Stderr();
    EXPECT_TRUE(corvane::testsupport::PollUntil([&] { return SlotFree(f.exe); }, 5s));
  }
}

TEST_F(CloseTest, ThePreparationToolEndsAtItsClose) {
  Simulator sim(root_->Path(), 1);
  ASSERT_TRUE(sim.Ready());
  const CopyFolder f = MakeCopyFolder(root_->Path(), "prep", CORVANE_PREP_CLOSE_PROBE);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    auto p = Start(f, sim);
    ASSERT_TRUE(p);
    p->Send("on 1");
    ASSERT_EQ(p->WaitForLine("on ", kStartPatience).value_or(""), "on 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + round * 150));
    p->Send(round % 2 ? "close keluar" : "close window");
    ASSERT_TRUE(p->WaitForLine("answered", kStartPatience));
    const auto status = p->WaitExit(kExitPatience);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_EQ(BadEndLine(p->Stderr()), "") << p->Stderr();
    EXPECT_TRUE(SlotFree(f.exe));
    EXPECT_TRUE(corvane::testsupport::PollUntil([&] { return !sim.HostOn(1); }, 5s));
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(f.dir)) files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{fs::path(f.exe).filename().string()}) << "the tool writes nothing";
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Copies set up by scripts/setup-copies, as the README shows it.

namespace {

// Runs a shell command line; its exit status (-1 when it could not run).
int Shell(const std::string& line) {
  const int status = std::system(line.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// A program file made anew, as a build writes it: a new file renamed over
// the old one, with the given bytes.
void Rebuild(const std::string& path, const std::string& bytes) {
  corvane::testsupport::WriteFile(path + ".new", bytes);
  fs::permissions(path + ".new", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  fs::rename(path + ".new", path);
}

}  // namespace

// Two copies, each started by its own path, open their own four ports; a
// rebuild reaches both by running the script again, which leaves their
// settings and their edited card files as they were.
TEST_F(CloseTest, TheReadmesSetupOfTwoCopiesStartsEachOnItsOwnPorts) {
  const std::string root = root_->Path();
  // The build folder as `make build` leaves it; the console with its test
  // driver stands for the console.
  const std::string built = root + "/build/console/Corvane";
  fs::create_directories(root + "/build/console");
  Rebuild(built, corvane::testsupport::ReadFile(CORVANE_CLOSE_PROBE));
  const std::string setup =
      Quoted(CORVANE_SETUP_COPIES) + " --build " + Quoted(root + "/build") + " " + Quoted(root + "/corvane") + " 2";
  ASSERT_EQ(Shell(setup + " > " + Quoted(root + "/setup.out")), 0);
  EXPECT_EQ(corvane::testsupport::ReadFile(root + "/setup.out"),
            "copy1: " + root + "/corvane/copy1, COM1 COM2 COM3 COM4 (new)\n" + "copy2: " + root +
                "/corvane/copy2, COM5 COM6 COM7 COM8 (new)\n");

  Simulator sim(root, 8);
  ASSERT_TRUE(sim.Ready());
  std::vector<CopyFolder> folders;
  std::vector<std::unique_ptr<Program>> running;
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const std::string dir = root + "/corvane/copy" + std::to_string(n);
    folders.push_back(CopyFolder{dir, dir + "/Corvane"});
    for (const char* file : {"Corvane_v4.ini", "corvane_v4_Demo.ini", "start"})
      EXPECT_TRUE(fs::exists(dir + "/" + file)) << file;
    auto p = Start(folders.back(), sim);
    ASSERT_TRUE(p);
    p->Send("on");
    ASSERT_EQ(p->WaitForLine("on ", kStartPatience).value_or(""), "on 4");
    for (int com = 1; com <= 8; ++com) {
      const bool own = com > 4 * (n - 1) && com <= 4 * n;
      if (own) EXPECT_TRUE(corvane::testsupport::PollUntil([&] { return sim.HostOn(com); }, 5s)) << com;
      else if (com > 4 * n) EXPECT_FALSE(sim.HostOn(com)) << com;
    }
    running.push_back(std::move(p));
  }
  for (auto& p : running) {
    p->Send("close keluar");
    ASSERT_TRUE(p->WaitForLine("answered", kStartPatience));
    const auto status = p->WaitExit(kExitPatience);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  }

  // The operator's settings (saved at the close) and an edited card file.
  const std::string card = folders[0].dir + "/corvane_v4_Demo.ini";
  corvane::testsupport::WriteFile(card, corvane::testsupport::ReadFile(card) + "; edited\n");
  std::vector<std::string> before;
  for (const CopyFolder& f : folders) {
    before.push_back(corvane::testsupport::ReadFile(f.dir + "/Corvane_v4.ini"));
    EXPECT_NE(before.back().find("maxlistline=1000"), std::string::npos);
  }
  const std::string cardBefore = corvane::testsupport::ReadFile(card);
  const std::string rebuilt = corvane::testsupport::ReadFile(CORVANE_CLOSE_PROBE) + "rebuilt";
  Rebuild(built, rebuilt);
  ASSERT_EQ(Shell(setup + " > /dev/null"), 0);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    EXPECT_TRUE(corvane::testsupport::ReadFile(folders[i].exe) == rebuilt) << "copy " << i + 1 << " runs the old program";
    EXPECT_EQ(corvane::testsupport::ReadFile(folders[i].dir + "/Corvane_v4.ini"), before[i]);
  }
  EXPECT_EQ(corvane::testsupport::ReadFile(card), cardBefore);
}

// A copy's "start" outlives the terminal: the program runs in a session of
// its own, in the copy's folder, its standard error kept in stderr.log.
TEST_F(CloseTest, ACopysLauncherStartsItInASessionOfItsOwn) {
  const std::string root = root_->Path();
  fs::create_directories(root + "/build/console");
  // A stand-in that says where and as whom it runs, then waits.
  Rebuild(root + "/build/console/Corvane",
          "#!/bin/sh\necho $$ > started.pid\necho 'to stderr' >&2\nexec sleep 30\n");
  ASSERT_EQ(Shell(Quoted(CORVANE_SETUP_COPIES) + " --build " + Quoted(root + "/build") + " " +
                  Quoted(root + "/corvane") + " 1 > /dev/null"),
            0);
  const std::string dir = root + "/corvane/copy1";
  ASSERT_EQ(Shell(Quoted(dir + "/start")), 0);
  ASSERT_TRUE(corvane::testsupport::PollUntil(
      [&] { return corvane::testsupport::ReadFile(dir + "/started.pid").find('\n') != std::string::npos; }, 5s));
  const pid_t pid = std::atoi(corvane::testsupport::ReadFile(dir + "/started.pid").c_str());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::getsid(pid), pid) << "it leads a session of its own";
  EXPECT_NE(::getsid(pid), ::getsid(0));
  EXPECT_TRUE(corvane::testsupport::PollUntil(
      [&] { return corvane::testsupport::ReadFile(dir + "/stderr.log") == "to stderr\n"; }, 5s));
  ::kill(pid, SIGTERM);
}
