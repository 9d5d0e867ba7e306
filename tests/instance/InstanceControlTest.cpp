// The instance limiter with real processes: copies of a small windowed
// program (InstanceProbe) started against each other in a private runtime
// folder, so that nothing outside the test is counted or raised.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ChildEnv.h"
#include "adpInstanceControl.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Start-up of many windowed copies under the sanitizers can be slow; these
// bound a hang, they measure nothing.
constexpr auto kPatience = std::chrono::seconds(60);

// One running copy of the probe, its stdout read line by line.
class Copy {
 public:
  Copy(const std::string& exe, const std::vector<std::string>& args, const std::string& runtimeDir) {
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);

    std::vector<std::string> env = corvane::testsupport::CopyEnvironment(runtimeDir);
    std::vector<std::string> argvs{exe};
    argvs.insert(argvs.end(), args.begin(), args.end());
    std::vector<char*> argv = corvane::testsupport::NullTerminated(argvs);
    std::vector<char*> envp = corvane::testsupport::NullTerminated(env);

    if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    ::close(in[0]);
    outFd_ = out[0];
    inFd_ = in[1];
  }

  ~Copy() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (inFd_ >= 0) ::close(inFd_);
  }

  pid_t Pid() const { return pid_; }

  // The first line starting with one of the prefixes (reading on as needed);
  // nullopt when the copy ends or the patience runs out first.
  std::optional<std::string> WaitForLine(const std::vector<std::string>& prefixes) {
    const auto deadline = Clock::now() + kPatience;
    for (std::size_t next = 0;;) {
      for (; next < lines_.size(); ++next)
        for (const auto& p : prefixes)
          if (lines_[next].rfind(p, 0) == 0) return lines_[next];
      if (!ReadSome(deadline)) return std::nullopt;
    }
  }
  std::optional<std::string> Verdict() { return WaitForLine({"ADMITTED", "REFUSED", "UNCOUNTED"}); }

  bool Saw(const std::string& prefix) const {
    for (const auto& l : lines_)
      if (l.rfind(prefix, 0) == 0) return true;
    return false;
  }

  void Quit() { (void)!::write(inFd_, "quit\n", 5); }
  void Kill9() { ::kill(pid_, SIGKILL); }

  // The exit status (waitpid's), reading all output on the way.
  std::optional<int> WaitExit() {
    const auto deadline = Clock::now() + kPatience;
    while (ReadSome(deadline)) {
    }
    while (Clock::now() < deadline) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

 private:
  // Reads what is there; false at end of output or past the deadline.
  bool ReadSome(Clock::time_point deadline) {
    while (true) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{outFd_, POLLIN, 0};
      int r = ::poll(&p, 1, int(left));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      char buf[512];
      ssize_t n = ::read(outFd_, buf, sizeof buf);
      if (n <= 0) return false;
      partial_.append(buf, std::size_t(n));
      for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
        lines_.push_back(partial_.substr(0, nl));
        partial_.erase(0, nl + 1);
      }
      return true;
    }
  }

  pid_t pid_ = -1;
  int outFd_ = -1, inFd_ = -1;
  bool exited_ = false;
  std::string partial_;
  std::vector<std::string> lines_;
};

class InstanceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/cvi-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    runtime_ = dir_ + "/run";
    fs::create_directory(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
  }
  void TearDown() override {
    copies_.clear();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  Copy& Start(std::vector<std::string> args, const std::string& exe = CORVANE_INSTANCE_PROBE) {
    copies_.push_back(std::make_unique<Copy>(exe, args, runtime_));
    return *copies_.back();
  }

  // A refused copy ends by itself, at once, with status 0, never having shown
  // its window or run its close handler; its creation handler did run.
  static void ExpectEndedUnseen(Copy& c) {
    auto status = c.WaitExit();
    ASSERT_TRUE(status.has_value()) << "refused copy did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    EXPECT_TRUE(c.Saw("CREATED"));
    EXPECT_FALSE(c.Saw("SHOWN"));
    EXPECT_FALSE(c.Saw("CLOSE"));
  }

  std::string dir_, runtime_;
  std::vector<std::unique_ptr<Copy>> copies_;
};

TEST_F(InstanceControlTest, SeventeenCopiesStartedAtOnceAdmitSixteen) {
  const std::string gate = dir_ + "/gate";
  for (int i = 0; i < 17; ++i) Start({"16", "--gate", gate});
  // Hold every copy at the load check, then let all of them in at once.
  for (auto& c : copies_) ASSERT_TRUE(c->WaitForLine({"READY"}));
  std::ofstream(gate).put('x');

  int admitted = 0;
  std::vector<Copy*> refused;
  for (auto& c : copies_) {
    auto v = c->Verdict();
    ASSERT_TRUE(v.has_value());
    if (*v == "ADMITTED") ++admitted;
    else if (*v == "REFUSED") refused.push_back(c.get());
    else ADD_FAILURE() << *v;
  }
  EXPECT_EQ(admitted, 16);
  ASSERT_EQ(refused.size(), 1u);
  ExpectEndedUnseen(*refused.front());
}

TEST_F(InstanceControlTest, KilledCopyFreesItsSlotForTheNextStart) {
  Copy& a = Start({"2"});
  ASSERT_EQ(a.Verdict(), "ADMITTED");
  Copy& b = Start({"2"});
  ASSERT_EQ(b.Verdict(), "ADMITTED");
  Copy& full = Start({"2"});
  ASSERT_EQ(full.Verdict(), "REFUSED");
  ExpectEndedUnseen(full);

  a.Kill9();
  ASSERT_TRUE(a.WaitExit());
  Copy& c = Start({"2"});
  EXPECT_EQ(c.Verdict(), "ADMITTED");
  Copy& d = Start({"2"});
  EXPECT_EQ(d.Verdict(), "REFUSED");
}

TEST_F(InstanceControlTest, SecondCopyOfALimitOneProgramRaisesTheFirst) {
  Copy& first = Start({"1", "--minimized"});
  ASSERT_EQ(first.Verdict(), "ADMITTED");
  ASSERT_TRUE(first.WaitForLine({"SHOWN"}));

  Copy& second = Start({"1"});
  ASSERT_EQ(second.Verdict(), "REFUSED");
  EXPECT_EQ(second.WaitForLine({"REACHED"}), "REACHED " + std::to_string(first.Pid()));
  ExpectEndedUnseen(second);
  EXPECT_EQ(first.WaitForLine({"RAISED"}), "RAISED 0") << "raised and restored from minimised";

  // Closed the normal way, the first copy gives its slot back.
  first.Quit();
  ASSERT_TRUE(first.WaitExit());
  EXPECT_TRUE(first.Saw("CLOSE"));
  Copy& third = Start({"1"});
  EXPECT_EQ(third.Verdict(), "ADMITTED");
}

TEST_F(InstanceControlTest, RefusedCopyStaysUnseenEvenWhenItsWindowIsShown) {
  Copy& first = Start({"1"});
  ASSERT_EQ(first.Verdict(), "ADMITTED");
  Copy& second = Start({"1", "--show-anyway"});
  ASSERT_EQ(second.Verdict(), "REFUSED");
  auto status = second.WaitExit();
  ASSERT_TRUE(status.has_value()) << "the event loop did not end at once";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(second.Saw("EXIT 0"));
  EXPECT_FALSE(second.Saw("CLOSE"));
}

TEST_F(InstanceControlTest, CopiesAtDifferentPathsCountApart) {
  std::vector<std::string> exes;
  for (const char* sub : {"/a", "/b"}) {
    fs::create_directory(dir_ + sub);
    exes.push_back(dir_ + sub + "/InstanceProbe");
    fs::copy_file(CORVANE_INSTANCE_PROBE, exes.back());
  }
  EXPECT_EQ(Start({"1"}, exes[0]).Verdict(), "ADMITTED");
  EXPECT_EQ(Start({"1"}, exes[1]).Verdict(), "ADMITTED");
  EXPECT_EQ(Start({"1"}, exes[0]).Verdict(), "REFUSED");
}

TEST(InstanceControlComponent, OnlyOneComponentPerProcess) {
  auto first = std::make_unique<TadpInstanceControl>();
  try {
    TadpInstanceControl second;
    ADD_FAILURE() << "no exception";
  } catch (const EInstanceControl& e) {
    EXPECT_STREQ(e.what(), "Only one copy of this component can be dropped on a form!");
  }
  first.reset();
  EXPECT_NO_THROW(TadpInstanceControl again);
}

}  // namespace
