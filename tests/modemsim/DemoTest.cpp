// The demo card, walked with the console's own command texts and the
// per-card settings that the demo scenario documents, so that `make demo`
// finds the menu, prompts and texts it is configured for.
#include "SimFixture.h"
#include "Subprocess.h"

namespace modemsim_test {
namespace {

// The quoted text of the first "+STGI:" line: what the console matches its
// menu keywords against.
std::string FirstQuoted(const std::string& reply) {
  const size_t p = reply.find("+STGI:");
  const size_t a = reply.find('"', p);
  const size_t b = reply.find('"', a + 1);
  return p == std::string::npos || b == std::string::npos ? "" : reply.substr(a + 1, b - a - 1);
}

class Demo : public SimFixture {
 protected:
  void SetUp() override {
    modemsim::BankOptions o;
    o.makeLinks = false;
    o.count = 1;
    // The demo as shipped, with quick reboots, card steps and network.
    o.scenario = modemsim::Scenario::Parse(ReadFile(std::string(MODEMSIM_SCENARIOS) + "/demo.ini") +
                                           "[modem]\nrestart_ms = 30\nstep_ms = 20\n"
                                           "[call *]\ndelay_ms = 10\n[sms *]\ndelay_ms = 10\n"
                                           "[ussd *888#]\ndelay_ms = 10\n");
    StartWith(std::move(o));
  }
  std::string Notified() { return host->ReadLine("+STIN: ", 3s); }
};

TEST_F(Demo, RegistersACardTheWayTheConsoleWalksIt) {
  EXPECT_NE(host->Command("AT+CSQ\r").find("+CSQ: 21,0"), std::string::npos);
  EXPECT_NE(host->Command("AT+STSF=1\r").find("\r\nOK\r\n"), std::string::npos);
  EXPECT_NE(host->Command("AT+CFUN=1\r").find("\r\nOK\r\n"), std::string::npos);
  EXPECT_NE(host->ReadLine("+WIND: 1").find("\r\n+WIND: 1\r\n"), std::string::npos);
  EXPECT_NE(host->Command("AT+CIMI\r").find("\r\n510109876543001\r\n"), std::string::npos);

  EXPECT_EQ(FirstQuoted(host->Command("AT+STGI=0\r")), "Kartu Perdana");
  host->Command("AT+STGR=0,1,1\r");
  EXPECT_NE(Notified().find("+STIN: 6"), std::string::npos);
  EXPECT_EQ(FirstQuoted(host->Command("AT+STGI=6\r")), "Registrasi Kartu");
  host->Command("AT+STGR=6,1,1\r");
  EXPECT_NE(Notified().find("+STIN: 3"), std::string::npos);
  EXPECT_NE(host->Command("AT+STGI=3\r").find("NIK"), std::string::npos);
  EXPECT_NE(host->Command("AT+STGR=3,1\r").find("> "), std::string::npos);
  host->Send("3201234567890001\x1a");
  EXPECT_NE(Notified().find("+STIN: 3"), std::string::npos);
  EXPECT_NE(host->Command("AT+STGI=3\r").find("KK"), std::string::npos);
  host->Command("AT+STGR=3,1\r");
  host->Send("3201234567890002\x1a");
  EXPECT_NE(Notified().find("+STIN: 1"), std::string::npos);
  EXPECT_NE(host->Command("AT+STGI=1\r").find("Mohon tunggu"), std::string::npos);
  host->Command("AT+STGR=1,1,0\r");
  EXPECT_NE(Notified().find("+STIN: 1"), std::string::npos);
  const std::string done = host->Command("AT+STGI=1\r");
  EXPECT_NE(done.find("berhasil"), std::string::npos);
  EXPECT_EQ(done.find("OK\""), std::string::npos);  // no "OK" inside a card text
  host->Command("AT+STGR=1,1,0\r");
  EXPECT_NE(Notified().find("+STIN: 99"), std::string::npos);
  EXPECT_TRUE(modem->Status().cardRegistered);

  EXPECT_NE(host->Command("ATD081234567890;\r").find("\r\nOK\r\n"), std::string::npos);
  EXPECT_NE(host->Command("ATH\r").find("\r\nOK\r\n"), std::string::npos);
  EXPECT_NE(host->Command("AT+CMGS=\"081234567890\"\r").find("> "), std::string::npos);
  host->Send("SMS1\x1a");
  EXPECT_NE(host->ReadFinal().find("+CMGS: 0"), std::string::npos);
  host->Send("AT+CUSD=1,\"*888#\"\r\n");
  const std::string balance = host->ReadLine("+CUSD:");
  EXPECT_NE(balance.find("\r\nOK\r\n\r\n+CUSD: 0,\"Sisa pulsa Anda Rp 5.000, aktif"), std::string::npos)
      << balance;
}

}  // namespace
}  // namespace modemsim_test
