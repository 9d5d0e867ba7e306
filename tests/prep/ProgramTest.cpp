// The program itself, started as the operator starts it: one copy runs, a
// second start ends at once without a window while the first keeps running,
// and once the first has gone a new start is admitted again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ChildEnv.h"
#include "InstanceSlots.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Start-up under the sanitizers can be slow; these bound a hang only.
constexpr auto kPatience = std::chrono::seconds(60);

class ToolCopy {
 public:
  ToolCopy(const std::string& exe, const std::string& runtimeDir) {
    std::vector<std::string> env = corvane::testsupport::CopyEnvironment(runtimeDir);
    std::vector<char*> envp = corvane::testsupport::NullTerminated(env);
    std::string arg0 = exe;
    char* argv[] = {arg0.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~ToolCopy() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }

  // The wait status once the copy has ended, nullopt while it runs.
  std::optional<int> Ended() {
    if (ended_) return status_;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return ended_ ? std::optional<int>(status_) : std::nullopt;
  }
  std::optional<int> WaitEnd() {
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
      if (auto s = Ended()) return s;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    WaitEnd();
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
};

class PrepProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cvprep-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    runtime_ = tmpl;
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
    // The test reads the copies' record in the same runtime folder.
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    folder_ = platform::InstanceSlot::FolderFor(platform::InstanceKey(fs::canonical(CORVANE_PREP_PROGRAM).string()));
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(runtime_, ec);
  }

  // Waits until `copy` is the one that registered last (it holds a slot).
  bool Registered(ToolCopy& copy) {
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
      const auto last = platform::InstanceSlot::ReadLast(folder_);
      if (last && last->pid == static_cast<std::uint32_t>(copy.Pid())) return true;
      if (copy.Ended()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string runtime_, folder_;
};

}  // namespace

TEST_F(PrepProgram, OnlyOneCopyRuns) {
  ToolCopy first(CORVANE_PREP_PROGRAM, runtime_);
  ASSERT_GT(first.Pid(), 0);
  ASSERT_TRUE(Registered(first));

  ToolCopy second(CORVANE_PREP_PROGRAM, runtime_);
  const auto status = second.WaitEnd();
  ASSERT_TRUE(status.has_value()) << "the second copy did not end";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  EXPECT_FALSE(first.Ended().has_value()) << "the first copy must keep running";
  const auto last = platform::InstanceSlot::ReadLast(folder_);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->pid, static_cast<std::uint32_t>(first.Pid()));

  // Once the running copy is gone (even killed), the next start is admitted.
  first.Kill();
  ToolCopy third(CORVANE_PREP_PROGRAM, runtime_);
  EXPECT_TRUE(Registered(third));
  EXPECT_FALSE(third.Ended().has_value());
}
