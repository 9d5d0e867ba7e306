// The corvane-modemsim program: its command line, its COM links, its
// control socket and its transcript file, and a clean stop on SIGTERM.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "HostPort.h"
#include "Subprocess.h"
#include <gtest/gtest.h>

namespace modemsim_test {
namespace {

const char* const kProgramScenario =
    "[modem]\nrestart_ms = 20\nsim_init_ms = 10\nwind = 1\ncard = A\n"
    "[card A]\nimsi = 5101000000000{nn}\n";

// Sends one control line on the socket and returns the reply line.
std::string Ask(const std::string& socketPath, const std::string& line) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
  std::string reply;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const std::string out = line + "\n";
      (void)!::write(fd, out.data(), out.size());
      char buf[512];
      while (reply.find('\n') == std::string::npos) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        reply.append(buf, static_cast<size_t>(n));
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::close(fd);
  if (!reply.empty() && reply.back() == '\n') reply.pop_back();
  return reply;
}

TEST(Program, RunsABankUntilStoppedAndCleansUp) {
  TempDir dir;
  WriteFile(dir.File("s.ini"), kProgramScenario);
  const std::string sock = dir.File("control");
  RunResult result;
  std::atomic<int> pid{0};
  std::thread runner([&] {
    result = RunProgram({MODEMSIM_PROGRAM, "--count", "2", "--first-com", "3", "--scenario",
                         dir.File("s.ini"), "--com-dir", dir.Path(), "--control", sock,
                         "--transcript", dir.File("t.log")},
                        std::chrono::seconds(20), nullptr, &pid);
  });
  const std::string status = Ask(sock, "status COM4");
  EXPECT_EQ(status.rfind("OK COM4 device=/dev/pts/", 0), 0u) << status;
  EXPECT_NE(status.find(" card=A "), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("COM3")));
  // Past the power-up boot, whose card report goes to nobody.
  for (int i = 0; i < 100 && Ask(sock, "status COM4").find(" booting=0 ") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    HostPort host(dir.File("COM4"));
    EXPECT_NE(host.Command("AT+CIMI\r").find("AT+CIMI\r\r\n510100000000002\r\n\r\nOK\r\n"),
              std::string::npos);
    EXPECT_EQ(Ask(sock, "remove 2"), "OK");
    EXPECT_EQ(host.ReadLine("+WIND:"), "\r\n+WIND: 0\r\n");
  }
  EXPECT_EQ(Ask(sock, "bogus"), "ERROR unknown command 'bogus' (try help)");
  // Stop it the way a terminal or `make demo` does.
  EXPECT_GT(pid.load(), 0);
  if (pid.load() > 0) ::kill(pid.load(), SIGTERM);
  runner.join();
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("COM3 /dev/pts/"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("stopped"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("COM3")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("COM4")));
  EXPECT_FALSE(std::filesystem::exists(sock));
  const std::string log = ReadFile(dir.File("t.log"));
  EXPECT_NE(log.find(" COM4 in  \"AT+CIMI\\r\""), std::string::npos) << log;
  EXPECT_NE(log.find(" COM4 out \"\\r\\n510100000000002\\r\\n\\r\\nOK\\r\\n\""), std::string::npos);
}

TEST(Program, ChecksScenarios) {
  for (const char* name : {"demo.ini", "faults.ini", "gammu.ini"}) {
    const RunResult ok = RunProgram(
        {MODEMSIM_PROGRAM, "--check", "--scenario", std::string(MODEMSIM_SCENARIOS) + "/" + name},
        std::chrono::seconds(10));
    EXPECT_EQ(ok.exitCode, 0) << name << ": " << ok.output;
  }
  TempDir dir;
  WriteFile(dir.File("bad.ini"), "[modem]\nwnid = 1\n");
  const RunResult bad =
      RunProgram({MODEMSIM_PROGRAM, "--check", "--scenario", dir.File("bad.ini")}, std::chrono::seconds(10));
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.output.find("line 2: unknown modem key 'wnid'"), std::string::npos) << bad.output;
  const RunResult usage = RunProgram({MODEMSIM_PROGRAM, "--count"}, std::chrono::seconds(10));
  EXPECT_EQ(usage.exitCode, 2);
}

}  // namespace
}  // namespace modemsim_test
