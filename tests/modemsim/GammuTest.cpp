// An AT client that nobody here wrote: gammu, on a simulated COM port,
// identifies the modem, sends an SMS and reads a USSD answer. Its own init
// (ATE1, AT+CMEE=1, AT+CSCS="HEX", AT+CFUN=1 and the commands it sends
// while the modem reboots) must be answered the way the real modems answer
// it, on the modems gammu can drive: those that send it no "+WIND:" or
// "+STIN:" line in the middle of a session.
#include <gtest/gtest.h>

#include "ModemBank.h"
#include "Subprocess.h"

namespace modemsim_test {
namespace {

using namespace std::chrono_literals;

// gammu finishes each of these in seconds; a modem that loses or misorders
// its answers makes it wait out its own time-outs for most of a minute.
constexpr auto kPerCommand = 30s;

struct GammuModem {
  std::string name;
  std::string scenario;  // file text, with overrides after it
  std::string imsi;
  std::string ussdReply;  // as gammu shows it
};
inline void PrintTo(const GammuModem& row, std::ostream* os) { *os << row.name; }

std::string Shipped(const std::string& file) {
  return ReadFile(std::string(MODEMSIM_SCENARIOS) + "/" + file);
}

class Gammu : public ::testing::TestWithParam<GammuModem> {
 protected:
  void SetUp() override {
    gammu_ = FindInPath("gammu");
    if (gammu_.empty()) GTEST_SKIP() << "gammu is not installed (Debian package 'gammu')";
    modemsim::BankOptions o;
    o.comDir = dir_.Path();
    o.firstCom = 7;
    o.scenario = modemsim::Scenario::Parse(GetParam().scenario);
    bank_ = std::make_unique<modemsim::ModemBank>(std::move(o));
    // gammu opens the line once the power-up boot is over, as a user would.
    ASSERT_TRUE(Modem().WaitFor([](const modemsim::ModemStatus& s) { return s.settled; }, 5s));
    WriteFile(dir_.File("gammurc"),
              "[gammu]\ndevice = " + dir_.File("COM7") + "\nconnection = at\n");
  }

  RunResult RunGammu(std::vector<std::string> args,
                     const std::function<bool(const std::string&)>& stopWhen = nullptr) {
    std::vector<std::string> argv = {gammu_, "-c", dir_.File("gammurc")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, kPerCommand, stopWhen);
  }

  modemsim::Modem& Modem() { return bank_->At(0); }

  std::string gammu_;
  TempDir dir_;
  std::unique_ptr<modemsim::ModemBank> bank_;
};

TEST_P(Gammu, IdentifiesTheModem) {
  const RunResult r = RunGammu({"identify"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Manufacturer         : Wavecom\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Model                : MULTIBAND  900E  1800"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Firmware             : 641b09gg.Q2403A"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("352099000000001"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(GetParam().imsi), std::string::npos) << r.output;
  const std::string sent = Modem().Transcript().HostText();
  EXPECT_NE(sent.find("AT+CGSN\r"), std::string::npos);
  EXPECT_NE(sent.find("AT+CIMI\r"), std::string::npos);
}

TEST_P(Gammu, SendsAnSms) {
  const RunResult r = RunGammu({"sendsms", "TEXT", "08123456789", "-text", "Halo dari Corvane"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("message reference=0"), std::string::npos) << r.output;
  EXPECT_EQ(Modem().Status().smsSent, 1);
  // The exchange as the transcript shows it: the command, the prompt, the
  // message, and the reference.
  const auto entries = Modem().Transcript().Entries();
  bool command = false, prompt = false, body = false, reference = false, to = false;
  for (const auto& e : entries) {
    if (e.direction == modemsim::Direction::ToModem && e.bytes.rfind("AT+CMGS=", 0) == 0) command = true;
    if (command && e.direction == modemsim::Direction::FromModem && e.bytes == "\r\n> ") prompt = true;
    if (prompt && e.direction == modemsim::Direction::ToModem && e.bytes.find('\x1a') != std::string::npos)
      body = true;
    if (body && e.direction == modemsim::Direction::FromModem && e.bytes.find("+CMGS: 0") != std::string::npos)
      reference = true;
    if (e.direction == modemsim::Direction::Event && e.bytes.rfind("sms to 08123456789", 0) == 0) to = true;
  }
  EXPECT_TRUE(command && prompt && body && reference && to);
}

TEST_P(Gammu, ReadsAUssdAnswer) {
  // gammu waits for further USSD replies until it is interrupted.
  const std::string shown = "Service reply        : \"" + GetParam().ussdReply + "\"";
  const RunResult r = RunGammu({"getussd", "*888#"}, [&shown](const std::string& out) {
    return out.find(shown) != std::string::npos;
  });
  EXPECT_NE(r.output.find(shown), std::string::npos) << r.output;
  EXPECT_FALSE(r.timedOut);
  EXPECT_NE(Modem().Transcript().HostText().find("AT+CUSD=1,"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Modems, Gammu,
    ::testing::Values(
        // Factory settings: no indications, the toolkit off.
        GammuModem{"factory_settings", Shipped("gammu.ini"), "510109876543201",
                   "Sisa pulsa Rp 5.000, aktif s/d 31-12-2025"},
        // Prepared for the console (indications on, the toolkit active), on
        // firmware whose reset OK comes behind the reboot's lines: gammu
        // takes them for part of its AT+CFUN=1 reply.
        GammuModem{"prepared_late_reset_ok", Shipped("demo.ini") + "\n[modem]\ncfun_ok = last\n",
                   "510109876543001",
                   "Sisa pulsa Anda Rp 5.000, aktif s/d 31-12-2025.\nInfo: *888*1#"}));

}  // namespace
}  // namespace modemsim_test
