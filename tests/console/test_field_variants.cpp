// One console line through a whole card on each kind of modem the field
// has: where real modems of this family differ (where the reset's OK
// stands, a command lost while the modem reboots, a card slow to get
// ready, the toolkit's reply layouts, the SMS mode a reset brings back,
// the order of a balance answer and its OK, the reboot's lines written
// apart), the card must still register, call, send its SMS and read its
// balance, and every label turns lime only where the modem's own answer
// says so.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ModemBank.h"
#include "ScenarioSupport.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

// The modem's keys every row starts from: prepared as the preparation tool
// leaves it, quick steps, a reboot long enough for a command to land in it.
const std::map<std::string, std::string> kModemDefaults = {
    {"wind", "1"},         {"stsf", "1"},          {"echo", "1"},   {"csq", "21,0"},
    {"restart_ms", "200"}, {"sim_init_ms", "50"},  {"menu_ms", "50"}, {"step_ms", "60"},
    {"card", "A"},
};

// The demo card's registration menu, with a Send SMS step on the way (the
// card reports the data it sent), and a network that answers quickly.
const char* const kCardAndNetwork = R"(
[card A]
imsi = 510109876543{nnn}
menu = main

[node main]
type = menu
title = Kartu Perdana
item.1 = Registrasi -> reg_menu
item.128 = Bantuan -> info

[node reg_menu]
type = select
title = Registrasi Kartu
item.1 = Registrasi Baru -> nik
item.2 = Cek Status -> info

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
next = send
wrong = refused

[node send]
type = sms
text = Mengirim data registrasi
next = wait

[node wait]
type = display
text = Mohon tunggu, data sedang diproses
next = done

[node done]
type = display
text = Registrasi berhasil
registers = 1
delay_ms = 150
next = end

[node refused]
type = display
text = Data tidak valid, registrasi gagal
next = end

[node info]
type = display
text = Kartu Perdana 4G
next = end

[node end]
type = end

[call *]
result = OK
delay_ms = 50

[sms *]
result = OK
delay_ms = 80

[ussd *888#]
status = 0
text = Sisa pulsa Anda Rp 5.000, aktif s/d 31-12-2025.\nInfo: *888*1#
dcs = 15
delay_ms = 150
)";

// The reboot's lines (card holder, presence, SIM ready, the menu) each in a
// write of their own, a little apart.
const char* const kSplitReboot =
    "[fault split-reboot]\ncommand = AT+CFUN=1\napplies = urc\nsplit = lines\npause_ms = 40\n";

struct TVariant {
  const char* name;
  std::map<std::string, std::string> modem;  // keys changed from kModemDefaults
  const char* faults = "";
  // A give-up this kind of modem makes the line take, logged with this
  // text; "" none.
  const char* expectedGiveUp = "";
  // Menu keywords added to the card's settings ("katakuncimenu3=...").
  const char* menuKeys = "";
};

void PrintTo(const TVariant& v, std::ostream* os) { *os << v.name; }

const TVariant kVariants[] = {
    {"Default", {}},
    {"ResetOkAfterHolderLines", {{"cfun_ok", "after"}}},
    {"ResetOkFirstAtTheEnd", {{"cfun_ok", "first"}}},
    {"ResetOkLast", {{"cfun_ok", "last"}}},
    {"InputDroppedWhileRebooting", {{"restart_input", "drop"}}},
    {"SimReadyLate", {{"sim_init_ms", "1500"}}},
    {"MenuLate", {{"menu_ms", "1500"}}},
    // Later than the paced requests for the menu go on asking for it.
    {"MenuVeryLate", {{"menu_ms", "4500"}}},
    {"SimReadyVeryLate", {{"sim_init_ms", "4500"}}},
    // Without the title line the main menu is known by its items only: the
    // operator's keyword names the item.
    {"MenuWithoutTitle", {{"menu_title", "0"}}, "", "", "katakuncimenu3=Registrasi\r\njawabanmenu3=1\r\n"},
    {"LongSelectHeader", {{"select_header", "long"}}},
    {"CpinWithOk", {{"cpin_ok", "1"}}},
    {"UssdAnswerBeforeOk", {{"ussd_ok", "last"}}},
    {"StoredPduMode", {{"cmgf", "0"}}},
    {"NoSmsAutoResponse", {{"stsf_autoresponse", "0"}}},
    {"RebootLinesApart", {}, kSplitReboot},
    // Every report the firmware has: the rack's "+WIND: 13", SIM ready, the
    // call's "+WIND: 5,1" and "+WIND: 6,1" ...
    {"EveryReportOn", {{"wind", "32767"}}},
    {"ToolkitNoticesCutIntoBytes", {}, "[fault cut-stin]\ncommand = AT+STGR\napplies = urc\nsplit = bytes\npause_ms = 3\n"},
    {"BalanceReportCut", {}, "[fault cut-cusd]\ncommand = AT+CUSD\napplies = urc\nsplit = at 9\npause_ms = 100\n"},
    // Combinations the field shows together.
    {"ResetOkLastAndInputDropped", {{"cfun_ok", "last"}, {"restart_input", "drop"}}},
    {"MenuLateAndResetOkAfter", {{"menu_ms", "1500"}, {"cfun_ok", "after"}}},
    {"ResetOkAfterAndRebootLinesApart", {{"cfun_ok", "after"}}, kSplitReboot},
    {"ResetOkLastWithEverythingInOneWrite", {{"cfun_ok", "last"}, {"sim_init_ms", "0"}, {"menu_ms", "0"}}},
    {"EveryReportOnResetOkLastAndLinesApart", {{"wind", "32767"}, {"cfun_ok", "last"}}, kSplitReboot},
    {"ResetOkFirstAndInputDropped", {{"cfun_ok", "first"}, {"restart_input", "drop"}}},
    {"RebootLinesApartAndInputDropped", {{"restart_input", "drop"}}, kSplitReboot},
    {"UssdAnswerBeforeOkAndCut", {{"ussd_ok", "last"}},
     "[fault cut-cusd]\ncommand = AT+CUSD\napplies = urc\nsplit = at 9\npause_ms = 100\n"},
    {"NoSmsAutoResponseAndNoticesCut", {{"stsf_autoresponse", "0"}},
     "[fault cut-stin]\ncommand = AT+STGR\napplies = urc\nsplit = lines\npause_ms = 30\n"},
    {"MenuWithoutTitleAndLongSelectHeader", {{"menu_title", "0"}, {"select_header", "long"}}, "", "",
     "katakuncimenu3=Registrasi\r\njawabanmenu3=1\r\n"},
    {"PduModeAndInputDropped", {{"cmgf", "0"}, {"restart_input", "drop"}}},
};

std::string ScenarioText(const TVariant& v) {
  std::map<std::string, std::string> keys = kModemDefaults;
  for (const auto& [key, value] : v.modem) keys[key] = value;
  std::string text = "[modem]\n";
  for (const auto& [key, value] : keys) text += key + " = " + value + "\n";
  return text + kCardAndNetwork + v.faults;
}

std::string CardIni(const TVariant& v) {
  return std::string("[KONFIRMASI]\r\nkatakunci1=Mohon tunggu\r\nkatakunci2=berhasil\r\nnomorkonfirmasireset=2\r\n"
                     "[MENU]\r\nkatakuncimenu1=Kartu Perdana\r\njawabanmenu1=1\r\n"
                     "katakuncimenu2=Registrasi Kartu\r\njawabanmenu2=1\r\n") +
         v.menuKeys +
         "[DATA]\r\nkatakuncidata1=NIK\r\nJawabandata1=3201234567890001\r\n"
         "katakuncidata2=KK\r\nJawabandata2=3201234567890002\r\n";
}

// The settings that walk the card's menu, and line 2 with registration,
// the first call, the first SMS and the balance check ticked.
std::string MainIniForTheChain() {
  std::string ini = "[Corvane_V4]\r\nKARTU=Demo;\r\nkartuaktif=0\r\nMAXDELAY=40\r\n";
  for (int n = 1; n <= LineCount; ++n) {
    const std::string s = "_" + std::to_string(n);
    const bool on = n == 2;
    ini += "comport" + s + "=" + std::to_string(n) + "\r\n";
    for (const char* key : {"RegistrasiAktif", "CallAktif", "SMSAktif", "CekPulsaAktif"})
      ini += std::string(key) + s + "=" + (on ? "1" : "0") + "\r\n";
    for (const char* key : {"Call2Aktif", "SMS2Aktif"}) ini += std::string(key) + s + "=0\r\n";
  }
  return ini;
}

// Command deadline of the test's line: long beside every answer the
// scenario gives, short enough that a give-up shows within the run.
constexpr int kGuardMs = 6000;
// The whole card, from switching on to the balance shown.
constexpr int kChainMs = 45000;

class TVariantLine {
 public:
  explicit TVariantLine(const TVariant& v) {
    folder.WriteFile("Corvane_v4.ini", MainIniForTheChain());
    folder.WriteFile("corvane_v4_Demo.ini", CardIni(v));
    modemsim::BankOptions o;
    o.count = 1;
    o.firstCom = 2;
    o.comDir = folder.ComDir();
    o.scenario = modemsim::Scenario::Parse(ScenarioText(v));
    bank_ = std::make_unique<modemsim::ModemBank>(std::move(o));
    // The power-up boot is over before the line opens the port.
    if (!Modem().WaitFor([](const modemsim::ModemStatus& s) { return s.settled; }, 10s))
      throw std::runtime_error("simulated modem did not settle");
    window_ = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
    line = &window_->Line(2);
    // Short steps: the start tick shorter than the reboot (as the field's
    // 2 s tick against a 1 to 3 s reboot), the switch-off delay and the
    // call length short.
    line->tOn->SetInterval(100);
    line->tMatikan->SetInterval(200);
    line->tHangup->SetInterval(200);
    line->tAnswerGuard->SetInterval(kGuardMs);
    line->ckOn->setChecked(true);
  }
  ~TVariantLine() {
    if (line) line->ckOn->setChecked(false);
    window_.reset();
  }
  modemsim::Modem& Modem() { return bank_->At(0); }

  // The chain is over: the balance step ended (either way) and the line
  // waits idle for the next card.
  bool ChainOver() {
    const bool balanceDone = StaticTextColor(line->lCekPulsa) != clFuchsia;
    return balanceDone && line->Data.Job == ljIdle && line->Reply() == rtIdle;
  }

  // What the modem sent after the first command holding `command`.
  std::string ModemTextAfter(const std::string& command) {
    std::string text;
    bool after = false;
    for (const modemsim::TranscriptEntry& e : Modem().Transcript().Entries()) {
      if (e.direction == modemsim::Direction::ToModem && e.bytes.find(command) != std::string::npos) after = true;
      if (after && e.direction == modemsim::Direction::FromModem) text += e.bytes;
    }
    return text;
  }
  bool Event(const std::string& text) {
    for (const modemsim::TranscriptEntry& e : Modem().Transcript().Entries())
      if (e.direction == modemsim::Direction::Event && e.bytes.find(text) != std::string::npos) return true;
    return false;
  }
  // Some "ATD" the modem answered "OK" to (a redial may come before it).
  bool CallConnected() {
    std::string answer;
    bool dialled = false;
    for (const modemsim::TranscriptEntry& e : Modem().Transcript().Entries()) {
      if (e.direction == modemsim::Direction::ToModem) {
        if (dialled && answer.find("\r\nOK\r\n") != std::string::npos) return true;
        dialled = e.bytes.find("ATD") != std::string::npos;
        answer.clear();
      } else if (dialled && e.direction == modemsim::Direction::FromModem) {
        answer += e.bytes;
      }
    }
    return dialled && answer.find("\r\nOK\r\n") != std::string::npos;
  }

  std::string Log() {
    std::string text;
    for (const std::string& e : LogEntries(*line)) text += e + "\n";
    return text;
  }
  std::string Transcript() {
    std::string text;
    for (const modemsim::TranscriptEntry& e : Modem().Transcript().Entries())
      text += modemsim::Transcript::Format(e, "COM2") + "\n";
    return text;
  }

  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  TConsoleLine* line = nullptr;

 private:
  std::unique_ptr<modemsim::ModemBank> bank_;
  std::unique_ptr<TfzCorvaneV4> window_;
};

class FieldVariant : public ::testing::TestWithParam<TVariant> {};

}  // namespace

TEST_P(FieldVariant, TheCardRunsItsWholeChain) {
  const TVariant& v = GetParam();
  TVariantLine s(v);
  TConsoleLine& l = *s.line;
  const bool over = WaitUntil([&] { return s.ChainOver(); }, kChainMs);
  const std::string context = "log:\n" + s.Log() + "\ntranscript:\n" + s.Transcript();
  ASSERT_TRUE(over) << "the line stalled (job " << l.Data.Job << ", reply " << int(l.Reply()) << ")\n" << context;

  // Every lime stands on the modem's own word.
  const struct {
    const char* what;
    QLabel* label;
    bool confirmed;
  } steps[] = {
      {"registration", l.lRegistrasi, s.Event("card A registered")},
      {"call", l.lCall, s.CallConnected() && s.Event("hang up")},
      {"SMS 1", l.lSMS1, s.ModemTextAfter("AT+CMGS=").find("+CMGS:") != std::string::npos},
      {"balance", l.lCekPulsa, s.ModemTextAfter("AT+CUSD=").find("+CUSD: 0,") != std::string::npos},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(StaticTextColor(step.label), clLime) << step.what << " not done\n" << context;
    if (StaticTextColor(step.label) == clLime) {
      EXPECT_TRUE(step.confirmed) << step.what << " lime unconfirmed\n" << context;
    }
  }
  EXPECT_NE(l.eCekPulsa->text().toStdString().find("Sisa pulsa Anda Rp 5.000"), std::string::npos) << context;

  // A give-up is the one this modem makes the line take, logged; no other.
  const std::string expected = v.expectedGiveUp;
  for (const std::string& e : LogEntries(l)) {
    const bool giveUp = e.find("no answer to") != std::string::npos || e.find(" refused ") != std::string::npos ||
                        e.find("F016-28") != std::string::npos;
    if (giveUp) {
      EXPECT_TRUE(!expected.empty() && e.find(expected) != std::string::npos) << e << "\n" << context;
    }
  }
  if (!expected.empty()) {
    EXPECT_TRUE(Logged(l, expected)) << context;
  }
  EXPECT_TRUE(s.central.messages.empty());
  EXPECT_TRUE(s.dialogs.asked.empty());
}

INSTANTIATE_TEST_SUITE_P(Console, FieldVariant, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });
