// An AT client that nobody here wrote: gammu, on a simulated COM port,
// identifies the modem, sends an SMS and reads a USSD answer. Its own init
// (ATE1, AT+CMEE=1, AT+CSCS="HEX", AT+CFUN=1 ...) must be answered the way
// the real modems answer it.
#include <gtest/gtest.h>

#include "ModemBank.h"
#include "Subprocess.h"

namespace modemsim_test {
namespace {

const char* const kGammuScenario =
    "[modem]\n"
    "restart_ms = 100\n"  // gammu resets the modem with AT+CFUN=1 on connect
    "sim_init_ms = 20\n"
    "card = A\n"
    "[card A]\nimsi = 510109876543210\n"
    "[sms *]\ndelay_ms = 50\n"
    "[ussd *888#]\ntext = Sisa pulsa Rp 5.000, aktif s/d 31-12-2025\ndelay_ms = 100\n";

class Gammu : public ::testing::Test {
 protected:
  void SetUp() override {
    gammu_ = FindInPath("gammu");
    if (gammu_.empty()) GTEST_SKIP() << "gammu is not installed (Debian package 'gammu')";
    modemsim::BankOptions o;
    o.comDir = dir_.Path();
    o.firstCom = 7;
    o.scenario = modemsim::Scenario::Parse(kGammuScenario);
    bank_ = std::make_unique<modemsim::ModemBank>(std::move(o));
    WriteFile(dir_.File("gammurc"),
              "[gammu]\ndevice = " + dir_.File("COM7") + "\nconnection = at\n");
  }

  RunResult RunGammu(std::vector<std::string> args,
                  const std::function<bool(const std::string&)>& stopWhen = nullptr) {
    std::vector<std::string> argv = {gammu_, "-c", dir_.File("gammurc")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, std::chrono::seconds(60), stopWhen);
  }

  modemsim::Modem& Modem() { return bank_->At(0); }

  std::string gammu_;
  TempDir dir_;
  std::unique_ptr<modemsim::ModemBank> bank_;
};

TEST_F(Gammu, IdentifiesTheModem) {
  const RunResult r = RunGammu({"identify"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Wavecom"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("352099000000001"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("510109876543210"), std::string::npos) << r.output;
  const std::string sent = Modem().Transcript().HostText();
  EXPECT_NE(sent.find("AT+CGSN\r"), std::string::npos);
  EXPECT_NE(sent.find("AT+CIMI\r"), std::string::npos);
}

TEST_F(Gammu, SendsAnSms) {
  const RunResult r = RunGammu({"sendsms", "TEXT", "08123456789", "-text", "Halo dari Corvane"});
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

TEST_F(Gammu, ReadsAUssdAnswer) {
  // gammu waits for further USSD replies until it is interrupted.
  const RunResult r = RunGammu({"getussd", "*888#"}, [](const std::string& out) {
    return out.find("Service reply") != std::string::npos && out.find("2025") != std::string::npos;
  });
  EXPECT_NE(r.output.find("Service reply        : \"Sisa pulsa Rp 5.000, aktif s/d 31-12-2025\""),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(r.timedOut);
  EXPECT_NE(Modem().Transcript().HostText().find("AT+CUSD=1,"), std::string::npos);
}

}  // namespace
}  // namespace modemsim_test
