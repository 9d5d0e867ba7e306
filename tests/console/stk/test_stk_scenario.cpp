// A line walking a card's SIM Toolkit menu against the modem simulator: the
// whole chain from switching the line on to the confirmed registration, a
// menu that is late, and a card taken out while an answer waits.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>


#include "IniFile.h"
#include "ModemBank.h"
#include "ScenarioSupport.h"
#include "StkLineFixture.h"
#include "uCardSettings.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

// The demo card's registration menu, with short timings: a reset takes
// 100 ms, the card's steps 100 ms; its menu comes menuMs after it is ready.
modemsim::Scenario FastDemo(int menuMs) {
  const std::string text = R"([modem]
wind = 1
stsf = 1
echo = 1
csq = 21,0
restart_ms = 100
sim_init_ms = 50
menu_ms = )" + std::to_string(menuMs) + R"(
step_ms = 100
card = A

[card A]
imsi = 510109876543{nnn}
iccid = 8962109876543210{nnn}
menu = main

[node main]
type = menu
title = Kartu Perdana
item.1 = Registrasi -> reg_menu
item.2 = Info Kartu -> info
item.128 = Bantuan -> info

[node reg_menu]
type = select
title = Registrasi Kartu
item.1 = Registrasi Baru -> nik
item.2 = Cek Status Registrasi -> info

[node nik]
type = input
prompt = Masukkan NIK (16 digit)
min = 16
max = 16
next = kk
wrong = refused

[node kk]
type = input
prompt = Masukkan Nomor KK (16 digit)
min = 16
max = 16
next = wait
wrong = refused

[node wait]
type = display
text = Mohon tunggu, data sedang diproses
next = done

[node done]
type = display
text = Registrasi berhasil. Terima kasih, kartu Anda sudah aktif.
registers = 1
delay_ms = 200
next = end

[node refused]
type = display
text = Data tidak valid, registrasi gagal
next = end

[node info]
type = display
text = Kartu Perdana 4G, masa aktif 30 hari
next = end

[node end]
type = end
)";
  return modemsim::Scenario::Parse(text);
}

// Line 2 (echo left on, as the preparation tool leaves it) in front of one
// simulated modem on COM2.
struct TScenarioLine {
  explicit TScenarioLine(int menuMs, const std::string& maxDelay = "100", const std::string& cardIni = kDemoCardIni) {
    folder.WriteFile("Corvane_v4.ini", MainIni(true, maxDelay));
    folder.WriteFile("corvane_v4_Demo.ini", cardIni);
    modemsim::BankOptions o;
    o.count = 1;
    o.firstCom = 2;
    o.comDir = folder.ComDir();
    o.scenario = FastDemo(menuMs);
    bank = std::make_unique<modemsim::ModemBank>(std::move(o));
    // The modem's power-up boot is over before the line starts.
    Modem().WaitFor([](const modemsim::ModemStatus& s) { return s.menuReady; }, 5000ms);
    window = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
    line = &window->Line(2);
    line->ckOn->setChecked(true);
  }
  ~TScenarioLine() {
    line->ckOn->setChecked(false);
    window.reset();
  }
  modemsim::Modem& Modem() { return bank->At(0); }
  std::string Host() { return Modem().Transcript().HostText(); }

  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  std::unique_ptr<modemsim::ModemBank> bank;
  std::unique_ptr<TfzCorvaneV4> window;
  TConsoleLine* line = nullptr;
};

// The commands of the demo card's registration, in the order they must go.
const std::vector<std::string> kRegistrationDialogue = {
    "AT+STGI=0\r",       "AT+STGR=0,1,1\r", "AT+STGI=6\r", "AT+STGR=6,1,1\r",
    "AT+STGI=3\r",       "AT+STGR=3,1\r",   "3201234567890001\x1A",
    "AT+STGI=3\r",       "AT+STGR=3,1\r",   "3201234567890002\x1A",
    "AT+STGI=1\r",       "AT+STGR=1,1,0\r", "AT+STGI=1\r", "AT+STGR=1,1,0\r",
};

// Position after the commands in order, or npos when one is missing.
std::size_t InOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& p : parts) {
    const std::size_t found = text.find(p, at);
    if (found == std::string::npos) return std::string::npos;
    at = found + p.size();
  }
  return at;
}

}  // namespace

TEST(StkScenario, TheDemoCardIsRegisteredThroughItsMenu) {
  TScenarioLine s(200);
  ASSERT_TRUE(WaitUntil([&] { return s.line->Data.Job == ljRegistered; }, 20000)) << s.Host();
  EXPECT_TRUE(s.Modem().Status().cardRegistered);
  // The confirming text's own "1,1,0" follows after the answer delay.
  EXPECT_TRUE(WaitUntil([&] { return InOrder(s.Host(), kRegistrationDialogue) != std::string::npos; }, 2000))
      << s.Host();
  EXPECT_EQ(StaticTextColor(s.line->lRegistrasi), clLime);
  EXPECT_FALSE(s.line->Data.StkArmed);
  EXPECT_TRUE(s.line->tMatikan->Enabled());
  EXPECT_TRUE(s.central.messages.empty());
}

// The example card file the project ships: every key of its four sections
// is there, and as it stands it registers the demo card.
TEST(StkScenario, TheExampleCardFileHoldsEveryKeyAndRegistersTheDemoCard) {
  const std::string example = ReadWholeFile(CORVANE_EXAMPLE_CARD);
  ASSERT_FALSE(example.empty());
  const platform::TIniFile ini(CORVANE_EXAMPLE_CARD);
  TCardSettings values;
  for (const TCardKey& k : CardKeys(values))
    EXPECT_NE(ini.ReadString(k.section, k.key, "(missing)"), "(missing)") << "[" << k.section << "] " << k.key;
  TScenarioLine s(200, "100", example);
  ASSERT_TRUE(WaitUntil([&] { return s.line->Data.Job == ljRegistered; }, 20000)) << s.Host();
  EXPECT_EQ(StaticTextColor(s.line->lRegistrasi), clLime);
  EXPECT_TRUE(s.central.messages.empty());
}

TEST(StkScenario, AMenuThatIsLateIsAskedForAgainAfterAPause) {
  // The card's menu comes 1.5 s after the card is ready: the first requests
  // are answered "ERROR", and the paced retries reach it.
  TScenarioLine s(1500);
  ASSERT_TRUE(WaitUntil([&] { return s.line->Data.Job == ljRegistered; }, 25000)) << s.Host();
  // The confirming text's own "1,1,0" follows after the answer delay.
  EXPECT_TRUE(WaitUntil([&] { return InOrder(s.Host(), kRegistrationDialogue) != std::string::npos; }, 2000))
      << s.Host();
  bool retried = false;
  for (int i = 0; i < s.line->lstFunc->count(); ++i)
    retried = retried || s.line->lstFunc->item(i)->text().contains(QStringLiteral("F016-22:"));
  EXPECT_TRUE(retried);
}

TEST(StkScenario, ACardTakenOutWhileItsAnswerWaitsGetsNoAnswer) {
  TScenarioLine s(200, "1500");
  ASSERT_TRUE(WaitUntil([&] { return s.line->Data.StkCommand == 0 && s.line->tDelay->Enabled(); }, 20000))
      << s.Host();
  s.Modem().RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return s.line->Data.Job == ljIdle; }, 3000));
  const std::size_t sentBefore = s.Modem().Transcript().HostSize();
  Pump(1800);
  EXPECT_EQ(s.Host().substr(sentBefore).find("AT+STGR"), std::string::npos) << s.Host();
  EXPECT_EQ(s.line->Reply(), rtIdle);
}

// A card that refuses the NIK ends its session and brings its menu back:
// the line walks it a few times, then shows "Reg" failed and waits for the
// next card instead of walking it for ever.
TEST(StkScenario, ACardThatRefusesItsInputIsGivenUpAfterAFewWalks) {
  TScenarioLine s(200, "50");
  s.window->Card.Jawabandata[0] = "123";  // too short: the card refuses it
  ASSERT_TRUE(WaitUntil([&] { return StaticTextColor(s.line->lRegistrasi) == clRed; }, 40000)) << s.Host();
  EXPECT_FALSE(s.Modem().Status().cardRegistered);
  std::size_t walks = 0;
  const std::string host = s.Host();
  for (std::size_t at = host.find("AT+STGR=0,1,1\r"); at != std::string::npos;
       at = host.find("AT+STGR=0,1,1\r", at + 1))
    ++walks;
  EXPECT_EQ(walks, static_cast<std::size_t>(TConsoleLine::RegistrationWalkLimit)) << host;
  EXPECT_EQ(s.line->Data.Job, ljIdle);
  // Nothing more is sent for this card.
  const std::size_t sentBefore = s.Modem().Transcript().HostSize();
  Pump(1500);
  EXPECT_EQ(s.Modem().Transcript().HostSize(), sentBefore) << s.Host().substr(sentBefore);
}

namespace {

modemsim::FaultRule RefuseAnswer(const std::string& command, int times) {
  modemsim::FaultRule r;
  r.Set("command", command);
  r.Set("reply", "error");
  r.times = times;
  return r;
}

}  // namespace

// A refused answer leaves the card waiting for it: it is given again after a
// pause, and the registration goes on once the modem takes it.
TEST(StkScenario, ARefusedAnswerIsGivenAgainAfterAPause) {
  TScenarioLine s(200);
  s.Modem().AddFault(RefuseAnswer("AT+STGR=0,1,1", 2));
  ASSERT_TRUE(WaitUntil([&] { return s.line->Data.Job == ljRegistered; }, 25000)) << s.Host();
  EXPECT_TRUE(WaitUntil([&] { return InOrder(s.Host(), kRegistrationDialogue) != std::string::npos; }, 2000))
      << s.Host();
  EXPECT_TRUE(Logged(*s.line, "F021-10: error 1, AT+STGR=0,1,1 again in 1000 ms"));
  EXPECT_TRUE(Logged(*s.line, "F021-10: error 2, AT+STGR=0,1,1 again in 1000 ms"));
  const std::vector<long long> sent = CommandTimes(s.Modem(), "AT+STGR=0,1,1");
  ASSERT_EQ(sent.size(), 3u) << s.Host();
  for (std::size_t i = 1; i < sent.size(); ++i)
    EXPECT_GE(sent[i] - sent[i - 1], TConsoleLine::StkRetryPauseMs - 50) << "paced, not at once";
  EXPECT_EQ(StaticTextColor(s.line->lRegistrasi), clLime);
}

// An answer the modem never takes is given up, said so, and the card is
// started again from a modem reset instead of waiting for its own time-out.
TEST(StkScenario, AnAnswerRefusedPastItsRetriesResetsTheModem) {
  TScenarioLine s(200);
  s.Modem().AddFault(RefuseAnswer("AT+STGR=0,1,1", 0));
  const std::string giveUp = "F021-9: AT+STGR=0,1,1";
  ASSERT_TRUE(WaitUntil([&] { return Logged(*s.line, giveUp); }, 15000)) << s.Host();
  EXPECT_TRUE(Logged(*s.line, giveUp + " refused " + std::to_string(TConsoleLine::StkAnswerRetryLimit + 1) +
                                  " times; resetting the modem"));
  const std::vector<std::string> host = HostCommands(s.Modem());
  const auto last = std::find(host.rbegin(), host.rend(), "AT+STGR=0,1,1");
  ASSERT_NE(last, host.rend());
  ASSERT_TRUE(WaitUntil([&] { return HostCommands(s.Modem()).size() > host.size() - (last - host.rbegin()); }, 5000));
  const std::vector<std::string> now = HostCommands(s.Modem());
  EXPECT_EQ(now[host.size() - (last - host.rbegin())], "AT+CFUN=1");
  EXPECT_EQ(std::count(now.begin(), now.end(), "AT+STGR=0,1,1"), TConsoleLine::StkAnswerRetryLimit + 1);
  EXPECT_FALSE(s.Modem().Status().cardRegistered);
}
