// Command lines no sane host sends, but a confused program, line noise or
// a fuzzing operator may: numbers far beyond any parameter's range, empty
// arguments, stray separators, binary bytes, lines longer than the modem's
// buffer. A real modem answers each with ERROR or a CME error and carries
// on; the simulator must too, because one dead process takes a whole bank
// of COM links with it.
#include <signal.h>

#include <filesystem>
#include <thread>

#include "Subprocess.h"
#include "TestNames.h"
#include "SimFixture.h"

namespace modemsim_test {
namespace {

// A card with a toolkit menu, so the toolkit commands reach their
// argument checks instead of stopping at "toolkit off".
const char* const kToolkitCard =
    "stsf = 1\n"
    "card = A\n"
    "[card A]\n"
    "menu = m\n"
    "[node m]\ntype = menu\ntitle = T\nitem.1 = X -> e\n"
    "[node e]\ntype = end\n";

struct Hostile {
  Hostile(std::string l, std::string r, std::string n = "")
      : line(std::move(l)), reply(std::move(r)), name(std::move(n)) {}
  std::string line;   // sent as it is, after ATE0 and AT+CMEE=1
  std::string reply;  // the whole answer
  std::string name;   // the row's name where the line does not print
};
inline void PrintTo(const Hostile& row, std::ostream* os) {
  *os << (row.name.empty() ? Label(row.line) : row.name);
}

const std::string kError = "\r\nERROR\r\n";
const std::string kCme3 = "\r\n+CME ERROR: 3\r\n";
const std::string kOk = "\r\nOK\r\n";

std::string Overlong() {
  std::string line = "AT";
  for (int i = 0; i < 3000; ++i) line += "E0";
  return line + "\r";
}

class HostileLine : public SimFixture, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileLine, IsRefusedAndTheBankCarriesOn) {
  Start(kToolkitCard);
  ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  ASSERT_EQ(host->Command("AT+CMEE=1\r"), kOk);
  EXPECT_EQ(host->Command(GetParam().line), GetParam().reply);
  // Nothing else follows (no reboot, no call, no network answer) ...
  EXPECT_EQ(host->ReadFor(150ms), "");
  // ... and the modem still answers, with its settings as they were.
  EXPECT_EQ(host->Command("AT+CMEE?\r"), "\r\n+CMEE: 1\r\n\r\nOK\r\n");
  const modemsim::ModemStatus s = modem->Status();
  EXPECT_TRUE(s.plugged);
  EXPECT_FALSE(s.echo);
  EXPECT_EQ(s.restarts, 1);
  // Refused by the modem's rules, not caught as a fault of the simulator.
  for (const auto& e : modem->Transcript().Entries())
    EXPECT_EQ(e.bytes.find("simulator fault"), std::string::npos) << e.bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileLine,
    ::testing::Values(
        // Numbers beyond any range.
        Hostile{"AT&F99999999999\r", kError},
        Hostile{"AT&&6666666661\r", kError},
        Hostile{"ATE99999999999\r", kError},
        Hostile{"ATE2\r", kError},
        Hostile{"ATZ99999999999\r", kError},
        Hostile{"ATH99999999999\r", kError},
        Hostile{"ATI99999999999\r", kError},
        Hostile{"AT&D99999999999\r", kError},
        Hostile{"ATS99999999999=1\r", kError},
        Hostile{"ATS3=99999999999\r", kError},
        Hostile{"ATS3=256\r", kError},
        Hostile{"AT+CMEE=99999999999999999999\r", kCme3},
        Hostile{"AT+WIND=-1\r", kCme3},
        Hostile{"AT+WIND=99999999999\r", kCme3},
        Hostile{"AT+CFUN=1,99999999999\r", kCme3},
        Hostile{"AT+CFUN=99999999999999999999\r", kCme3},
        Hostile{"AT+STGI=99999999999999999999\r", kCme3},
        Hostile{"AT+STGR=99999999999999999999\r", kCme3},
        Hostile{"AT+STGR=0,1,99999999999999999999\r", kCme3},
        Hostile{"AT+STGR=0,99999999999999999999,1\r", kCme3},
        Hostile{"AT+CUSD=1,\"*888#\",99999999999\r", kCme3},
        Hostile{"AT+CUSD=99999999999,\"*888#\"\r", kCme3},
        Hostile{"AT+CREG=99999999999\r", kCme3},
        Hostile{"AT+CNMI=2,1,0,0,99999999999\r", kCme3},
        Hostile{"AT+CSMP=17,167,0,99999999999\r", kCme3},
        Hostile{"AT+IPR=99999999999\r", kCme3},
        Hostile{"AT+CLIP=2\r", kCme3},
        // Empty arguments and odd separators.
        Hostile{"AT+CMEE=\r", kCme3},
        Hostile{"AT+CFUN=\r", kCme3},
        Hostile{"AT+CFUN=,\r", kCme3},
        Hostile{"AT+CMGF=1,,,,\r", kCme3},
        Hostile{"AT+CSCS=\r", kCme3},
        Hostile{"AT+STSF=\r", kCme3},
        Hostile{"AT+STGR=\r", kCme3},
        Hostile{"AT+STGR=,,,\r", kCme3},
        Hostile{"AT+CUSD=\r", kCme3},
        Hostile{"AT;;;;\r", kOk},
        Hostile{"AT,,,\r", kError},
        Hostile{"AT+\r", kError},
        Hostile{"AT&\r", kError},
        Hostile{"ATS\r", kError},
        Hostile{"ATS=\r", kError},
        Hostile{"AT=\r", kError},
        Hostile{"AT\"\"\"\r", kError},
        // Binary bytes.
        Hostile{std::string("AT\x00\xff\x80\r", 6), kError, "binary_after_AT"},
        Hostile{std::string("\x00\xff" "AT\r", 5), kOk, "binary_before_AT"},
        Hostile{std::string("AT+CSQ\x00\r", 8), kError, "NUL_after_a_command"},
        Hostile{"AT+CSQ\x7f\x1a\r", kError, "DEL_and_Ctrl-Z_after_a_command"},
        // A line longer than the modem's command buffer.
        Hostile{Overlong(), kError, "6002_bytes"}));

// The program as operators run it: a host's nonsense must not end it, or
// its COM links would be left pointing at nothing.
TEST(HostileProgram, KeepsRunningAndKeepsItsLinks) {
  TempDir dir;
  WriteFile(dir.File("s.ini"), "[modem]\nrestart_ms = 20\ncard = A\n[card A]\n");
  RunResult result;
  std::atomic<int> pid{0};
  std::thread runner([&] {
    result = RunProgram({MODEMSIM_PROGRAM, "--count", "1", "--scenario", dir.File("s.ini"),
                         "--com-dir", dir.Path(), "--quiet"},
                        std::chrono::seconds(30), nullptr, &pid);
  });
  for (int i = 0; i < 200 && !std::filesystem::is_symlink(dir.File("COM1")); ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(std::filesystem::is_symlink(dir.File("COM1")));
  std::this_thread::sleep_for(100ms);  // past the power-up boot
  {
    HostPort host(dir.File("COM1"));
    EXPECT_EQ(host.Command("AT&F99999999999\r"), "AT&F99999999999\r\r\nERROR\r\n");
    EXPECT_EQ(host.Command("AT&&6666666661\r"), "AT&&6666666661\r\r\nERROR\r\n");
    EXPECT_EQ(host.Command("AT\r"), "AT\r\r\nOK\r\n");
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("COM1")));
  EXPECT_GT(pid.load(), 0);
  if (pid.load() > 0) ::kill(pid.load(), SIGTERM);
  runner.join();
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_FALSE(std::filesystem::exists(dir.File("COM1")));
}

}  // namespace
}  // namespace modemsim_test
