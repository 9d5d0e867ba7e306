// Start-up from the configuration files, and the save at close.
#include <limits>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <sys/stat.h>

#include "ConsoleTestSupport.h"
#include "IniFile.h"
#include "SerPort.h"
#include "adpInstanceControl.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

std::unique_ptr<TfzCorvaneV4> MakeWindow(const TConsoleFolder& folder) {
  return std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
}

std::vector<bool> OptionBoxes(TConsoleLine& l) {
  return {l.ckRegistrasi->isChecked(), l.ckCall->isChecked(),  l.ckCall2->isChecked(),
          l.ckSMS1->isChecked(),       l.ckSMS2->isChecked(),  l.ckCekPulsa->isChecked()};
}

std::vector<bool> OptionBytes(const TLineData& d) {
  return {d.RegistrasiAktif, d.CallAktif, d.Call2Aktif, d.SMSAktif, d.SMS2Aktif, d.CekPulsaAktif};
}

// Distinct values for every per-card key: strings "<key>-v", integers 100+i.
std::string CardFileWithEveryKey(TCardSettings& expected) {
  std::map<std::string, std::string> sections;
  int i = 0;
  for (const TCardKey& k : CardKeys(expected)) {
    std::string value;
    if (auto* s = std::get_if<std::string*>(&k.field)) value = **s = k.key + "-v";
    // The keyword number must name one of the six keywords to be kept.
    else value = std::to_string(*std::get<std::int32_t*>(k.field) = k.key == "nomorkonfirmasireset" ? 5 : 100 + i);
    sections[k.section] += k.key + "=" + value + "\r\n";
    ++i;
  }
  std::string file;
  for (const auto& [name, body] : sections) file += "[" + name + "]\r\n" + body;
  return file;
}

}  // namespace

// The balance field and the log rows of every line show their whole text on
// hover where the form cuts it.
TEST(Settings, EveryLineShowsItsCutBalanceAndLogRowsWhole) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = MakeWindow(folder);
  w->show();
  const std::string balance = "Sisa pulsa Anda Rp 5.000, aktif s/d 31-12-2025. Info: *888*1# untuk paket lain";
  for (int n = 1; n <= LineCount; ++n) {
    TConsoleLine& l = w->Line(n);
    l.eCekPulsa->setText(QString::fromStdString(balance));
    l.AddFuncLog("F030 : " + balance);
    Pump(20);
    const struct {
      QWidget* target;
      QPoint at;
    } hovers[] = {{l.eCekPulsa, QPoint(5, 5)}, {l.lstFunc->viewport(), l.lstFunc->visualItemRect(l.lstFunc->item(0)).center()}};
    for (const auto& h : hovers) {
      QToolTip::hideText();
      QHelpEvent help(QEvent::ToolTip, h.at, h.target->mapToGlobal(h.at));
      QCoreApplication::sendEvent(h.target, &help);
      EXPECT_TRUE(QToolTip::isVisible()) << n;
      EXPECT_TRUE(QToolTip::text().contains(QString::fromStdString(balance).toHtmlEscaped())) << n;
    }
  }
  QToolTip::hideText();
}

// Sixteen copies in a taskbar: each title starts with its copy's four ports
// and follows a port set in the window.
TEST(Settings, TitleNamesTheFourPortsOfThisCopy) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\ncomport_1=5\r\ncomport_2=6\r\ncomport_3=7\r\ncomport_4=8\r\n");
  auto w = MakeWindow(folder);
  const QString caption = QStringLiteral(" - Activate  sim Using modem Wavecom  Modem/ Simbox - Debug");
  EXPECT_EQ(w->windowTitle(), "COM5 COM6 COM7 COM8" + caption);
  w->Line(2).cbPort->setEditText("12");
  w->Line(2).btnSetPort->click();
  EXPECT_EQ(w->windowTitle(), "COM5 COM12 COM7 COM8" + caption);
  w->Line(3).cbPort->setEditText("x");  // refused: the title keeps the port the line has
  w->Line(3).btnSetPort->click();
  EXPECT_EQ(w->windowTitle(), "COM5 COM12 COM7 COM8" + caption);
}

TEST(Settings, StartWithoutAnyFileGivesTheDefaults) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = MakeWindow(folder);
  EXPECT_EQ(w->windowTitle(), "COM8 COM8 COM8 COM8 - Activate  sim Using modem Wavecom  Modem/ Simbox - Debug");
  EXPECT_EQ(w->BaudRate, 115200);
  EXPECT_EQ(maxlistline, 1000);
  EXPECT_EQ(kartuaktif, 0);
  EXPECT_EQ(w->Form().cbKartuAktif->count(), 0) << "the laid-out card types are always replaced";
  EXPECT_EQ(CardIniName, "corvane_v4_.ini");
  EXPECT_EQ(w->Form().eMaxDelay->text(), "2000");
  EXPECT_EQ(w->Form().eBaud->text(), "115200");
  EXPECT_EQ(w->Form().eMaxLine->text(), "1000");
  EXPECT_EQ(w->Form().eMaxGagal->text(), "25");
  EXPECT_EQ(ReplyType[0], rtNone);
  for (int n = 1; n <= LineRecordCount; ++n) {
    EXPECT_EQ(w->LineRecord(n).ComPort, 8) << n;
    EXPECT_EQ(OptionBytes(w->LineRecord(n)), std::vector<bool>(6, true)) << n;
  }
  for (int n = 1; n <= LineCount; ++n) {
    TConsoleLine& l = w->Line(n);
    EXPECT_EQ(l.cbPort->currentText(), "8");
    EXPECT_EQ(l.comVorel->ComNumber(), 8);
    EXPECT_EQ(l.comVorel->Baud(), 115200);
    EXPECT_FALSE(l.comVorel->Open());
    EXPECT_FALSE(l.ckOn->isChecked());
    EXPECT_TRUE(l.ckActive->isChecked());
    EXPECT_TRUE(l.ckOn->isEnabled());
    EXPECT_EQ(OptionBoxes(l), std::vector<bool>(6, true)) << "SMS 2 too, its byte defaults to on";
    EXPECT_EQ(l.lNomor->text(), QString::number(n));
    EXPECT_EQ(l.tHangup->Interval(), 10000);
    EXPECT_EQ(l.Data.Job, ljIdle);
    for (TTimer* t : {l.tOn, l.tDial, l.tHangup, l.tWatchDog, l.tTimeOut, l.tMatikan, l.tDelay})
      EXPECT_FALSE(t->Enabled()) << t->objectName().toStdString();
  }
  TCardSettings defaults;
  auto expect = CardKeys(defaults);
  auto got = CardKeys(w->Card);
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (auto* s = std::get_if<std::string*>(&got[i].field))
      EXPECT_EQ(**s, *std::get<std::string*>(expect[i].field)) << got[i].key;
    else
      EXPECT_EQ(*std::get<std::int32_t*>(got[i].field), *std::get<std::int32_t*>(expect[i].field)) << got[i].key;
  }
  EXPECT_EQ(w->Card.timeout, 40);
  EXPECT_EQ(w->Card.maxgagal, 25);
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_FALSE(folder.Exists("Corvane_v4.ini")) << "nothing is written at start";
}

TEST(Settings, StartWithEveryKeyReadsEveryKey) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  std::string main = "[Corvane_V4]\r\nhp1_baud=0x1C200\r\nmaxlistline=50\r\nkartuaktif=1\r\n";
  // Line n's option k is on when (n + k) is even; line 1's first option is "2".
  for (int n = 1; n <= 8; ++n)
    for (std::size_t k = 0; k < TaskOptionKeys.size(); ++k)
      main += std::string(TaskOptionKeys[k]) + "_" + std::to_string(n) + "=" +
              (n == 1 && k == 0 ? "2" : ((n + k) % 2 == 0 ? "1" : "0")) + "\r\n";
  for (int n = 1; n <= 8; ++n)
    main += "comport_" + std::to_string(n) + "=" + (n == 2 ? std::string("COM") : std::to_string(20 + n)) + "\r\n";
  main += "portactive_1=1\r\nportactive_2=1\r\nportactive_3=0\r\nportactive_4=1\r\n";
  main += "KARTU=Alpha;Beta;;Gamma\r\nMAXDELAY=1500\r\n";
  folder.WriteFile("Corvane_v4.ini", main);
  TCardSettings expected;
  folder.WriteFile("corvane_v4_Beta.ini", CardFileWithEveryKey(expected));

  auto w = MakeWindow(folder);
  EXPECT_EQ(w->BaudRate, 115200) << "hexadecimal with 0x";
  EXPECT_EQ(maxlistline, 1000) << "never read from the file";
  EXPECT_EQ(kartuaktif, 1);
  EXPECT_EQ(w->Form().cbKartuAktif->currentIndex(), 1);
  QStringList cards;
  for (int i = 0; i < w->Form().cbKartuAktif->count(); ++i) cards << w->Form().cbKartuAktif->itemText(i);
  EXPECT_EQ(cards, QStringList({"Alpha", "Beta", ""})) << "an empty name between two ';', nothing after the last";
  EXPECT_EQ(CardIniName, "corvane_v4_Beta.ini");
  EXPECT_EQ(w->Form().eMaxDelay->text(), "1500");
  for (int n = 1; n <= 8; ++n) {
    std::vector<bool> want;
    for (std::size_t k = 0; k < 6; ++k) want.push_back(n == 1 && k == 0 ? true : (n + k) % 2 == 0);
    EXPECT_EQ(OptionBytes(w->LineRecord(n)), want) << "line " << n;
    if (n <= 4) {
      EXPECT_EQ(OptionBoxes(w->Line(n)), want) << "line " << n;
    }
    EXPECT_EQ(w->LineRecord(n).ComPort, n == 2 ? 8 : 20 + n) << n;
  }
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(w->Line(n).cbPort->currentText(), QString::number(w->LineRecord(n).ComPort));
    EXPECT_EQ(w->Line(n).comVorel->ComNumber(), w->LineRecord(n).ComPort);
    EXPECT_EQ(w->Line(n).ckActive->isChecked(), n != 3);
    EXPECT_EQ(w->Line(n).ckOn->isEnabled(), n != 3) << "an inactive line starts disabled";
  }
  auto got = CardKeys(w->Card);
  auto want = CardKeys(expected);
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (auto* s = std::get_if<std::string*>(&got[i].field))
      EXPECT_EQ(**s, *std::get<std::string*>(want[i].field)) << got[i].key;
    else
      EXPECT_EQ(*std::get<std::int32_t*>(got[i].field), *std::get<std::int32_t*>(want[i].field)) << got[i].key;
  }
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(w->Line(n).tHangup->Interval(), w->Card.waktudial * 1000);
  EXPECT_EQ(w->Form().eMaxGagal->text(), QString::number(w->Card.maxgagal));
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST(Settings, SaveAtCloseWritesEveryKeyAndCarriesLines5To8) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", ReadWholeFile(std::string(CONSOLE_GOLDEN_DIR) + "/Corvane_v4.before.ini"));
  auto w = MakeWindow(folder);
  w->show();
  w->Line(2).ckSMS2->setChecked(false);
  w->Line(3).ckActive->setChecked(false);
  w->Form().eMaxDelay->setText("2500");
  EXPECT_TRUE(w->close());
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(dialogs.asked[0].text, "ANDA YAKIN AKAN MENUTUP APLIKASI INI?");
  EXPECT_TRUE(dialogs.asked[0].yesNo);
  EXPECT_EQ(folder.ReadFile("Corvane_v4.ini"),
            ReadWholeFile(std::string(CONSOLE_GOLDEN_DIR) + "/Corvane_v4.after.ini"));
}

TEST(Settings, AnsweringNoKeepsTheWindowAndWritesNothing) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  dialogs.answers = {TModalResult::No};
  auto w = MakeWindow(folder);
  w->show();
  w->Form().btnKeluar->click();
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(dialogs.asked.size(), 1u);
  EXPECT_FALSE(folder.Exists("Corvane_v4.ini"));
}

TEST(Settings, AFailedSaveAsksWhetherToCloseWithoutSaving) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir() + "gone", false});
  w->show();
  dialogs.answers = {TModalResult::Yes, TModalResult::No};
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(dialogs.asked.size(), 2u);
  EXPECT_TRUE(dialogs.asked[1].text.startsWith(
      QString::fromStdString("Unable to write to " + folder.Dir() + "gone/Corvane_v4.ini")))
      << dialogs.asked[1].text.toStdString();
  EXPECT_TRUE(dialogs.asked[1].text.contains("Close without saving?"));
  EXPECT_TRUE(dialogs.asked[1].yesNo);
  dialogs.answers = {TModalResult::Yes, TModalResult::Yes};
  EXPECT_TRUE(w->close());
  EXPECT_FALSE(w->isVisible());
}

// 301 card types make a list longer than a read gives of a value: every one
// is offered, and the close writes every one back.
TEST(Settings, ALongCardTypeListIsKeptWhole) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  std::string list;
  for (int i = 1; i <= 301; ++i) list += "Operator" + std::to_string(i) + ";";
  ASSERT_GT(list.size(), platform::TIniFile::kMaxValueBytes);
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=" + list + "\r\n");
  auto w = MakeWindow(folder);
  ASSERT_EQ(w->Form().cbKartuAktif->count(), 301);
  EXPECT_EQ(w->Form().cbKartuAktif->itemText(300), "Operator301");
  w->show();
  dialogs.answers = {TModalResult::Yes};
  EXPECT_TRUE(w->close());
  EXPECT_EQ(platform::TIniFile(folder.Dir() + "Corvane_v4.ini").ReadWholeString("Corvane_V4", "KARTU", ""), list);
}

// A main file just under the read bound that the close would grow past it:
// the close says why and asks, and the file stays as the next start reads it.
TEST(Settings, ACloseNeverWritesAMainFileTheNextStartRefuses) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  const std::string head = "[Corvane_V4]\r\nKARTU=A;\r\n";
  const std::string filler = "; " + std::string(1000, '-') + "\r\n";
  std::string file = head;
  while (file.size() + filler.size() < platform::TIniFile::kMaxFileBytes - 50) file += filler;
  folder.WriteFile("Corvane_v4.ini", file);
  auto w = MakeWindow(folder);
  w->show();
  dialogs.answers = {TModalResult::Yes, TModalResult::No};
  EXPECT_FALSE(w->close());
  ASSERT_EQ(dialogs.asked.size(), 2u);
  EXPECT_TRUE(dialogs.asked[1].text.contains("it would grow past 4 MiB")) << dialogs.asked[1].text.toStdString();
  EXPECT_EQ(folder.ReadFile("Corvane_v4.ini"), file);
  EXPECT_TRUE(platform::TIniFile(folder.Dir() + "Corvane_v4.ini").Refusal().empty());
  dialogs.answers = {TModalResult::Yes, TModalResult::Yes};
  EXPECT_TRUE(w->close());
}

TEST(Settings, ACardNameThatCannotBeAFileNameGivesDefaults) {
  for (const std::string& bad : std::vector<std::string>{"../up", "sub/x", "a\\b", "tab\tname"}) {
    TConsoleFolder folder;
    TDialogRecorder dialogs;
    folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=" + bad + ";\r\n");
    ASSERT_EQ(mkdir((folder.Dir() + "corvane_v4_sub").c_str(), 0755), 0);
    folder.WriteFile("corvane_v4_sub/x.ini", "[LAINLAIN]\r\nwaktudial=77\r\n");
    auto w = MakeWindow(folder);
    EXPECT_EQ(w->Card.waktudial, 10) << bad;
    EXPECT_TRUE(dialogs.AnyContains("cannot be used as a file name")) << bad;
    EXPECT_THROW(w->SaveCardSettings(0), std::exception) << bad;
  }
}

// The call length from the card file drives the hang-up timers: a length
// outside 1..3600 s is put back to the default 10 s, so every call is hung up.
TEST(Settings, TheCallLengthGivesAHangupTimerThatFires) {
  const struct {
    const char* waktudial;
    int interval;
  } rows[] = {{"25", 25000}, {"3600", 3600000}, {"0", 10000}, {"-5", 10000}, {"2147483647", 10000}};
  for (const auto& r : rows) {
    TConsoleFolder folder;
    TDialogRecorder dialogs;
    folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=X;\r\n");
    folder.WriteFile("corvane_v4_X.ini", std::string("[LAINLAIN]\r\nwaktudial=") + r.waktudial + "\r\n");
    auto w = MakeWindow(folder);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(w->Line(n).tHangup->Interval(), r.interval) << r.waktudial;
  }
}

TEST(Settings, ComNumbersOutsideOneTo255AreNeverGivenToThePort) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\ncomport_1=0\r\ncomport_2=256\r\ncomport_3=-3\r\ncomport_4=255\r\n");
  auto w = MakeWindow(folder);
  EXPECT_EQ(dialogs.asked.size(), 3u);
  EXPECT_TRUE(dialogs.AnyContains("comport_2 = 256"));
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(w->Line(n).comVorel->ComNumber(), 13) << "the laid-out number stays, unused";
    w->Line(n).ckOn->setChecked(true);
    EXPECT_FALSE(w->Line(n).ckOn->isChecked());
    EXPECT_FALSE(w->Line(n).comVorel->Open());
    ASSERT_GT(w->Line(n).lstFunc->count(), 0);
    EXPECT_TRUE(w->Line(n).lstFunc->item(0)->text().contains("not a port number"));
  }
  EXPECT_EQ(w->Line(4).comVorel->ComNumber(), 255);
}

TEST(Settings, TheWindowCountsItselfAmongAtMostSixteenCopies) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TfzCorvaneV4 w(TFormOptions{folder.Dir(), true});
  ASSERT_NE(w.adpInstanceControl1, nullptr);
  EXPECT_EQ(w.adpInstanceControl1->MaxInstances(), 16u);
  EXPECT_EQ(w.adpInstanceControl1->parent(), &w);
  EXPECT_FALSE(w.Refused());
}

// Numbers a line runs on, out of their range in the files: each is put back
// to its default once at load, with one line in the log, so that no line
// resets at its first refusal or waits on a keyword that cannot match.
TEST(Settings, NumbersOutOfRangeFallBackToTheirDefaultWithOneLogLine) {
  const struct {
    const char* mainKeys;  // extra keys of the main file
    const char* cardKeys;  // the card file
    const char* noted;     // what the log says
  } rows[] = {
      {"", "[LAINLAIN]\r\nmaxgagal=0\r\n", "maxgagal = 0 is outside 1..1000; the default 25 is used"},
      {"", "[LAINLAIN]\r\nmaxgagal=-3\r\n", "maxgagal = -3 is outside"},
      {"", "[KONFIRMASI]\r\nnomorkonfirmasireset=0\r\n", "nomorkonfirmasireset = 0 is outside 1..6; the default 3"},
      {"", "[KONFIRMASI]\r\nnomorkonfirmasireset=7\r\n", "nomorkonfirmasireset = 7 is outside"},
      {"", "[KONFIRMASI]\r\ntimeout=0\r\n", "timeout = 0 is outside 1..3600; the default 40"},
      {"", "[LAINLAIN]\r\nwaktudial=-1\r\n", "waktudial = -1 is outside 1..3600; the default 10"},
      {"hp1_baud=0\r\n", "", "hp1_baud = \"0\" is no baud rate in 300..4000000; 115200 is used"},
      {"hp1_baud=fast\r\n", "", "hp1_baud = \"fast\" is no baud rate"},
      {"MAXDELAY=\r\n", "", "MAXDELAY \"\" is no number in 0..60000; 2000 is used"},
  };
  for (const auto& r : rows) {
    TConsoleFolder folder;
    TDialogRecorder dialogs;
    folder.WriteFile("Corvane_v4.ini", std::string("[Corvane_V4]\r\nKARTU=X;\r\n") + r.mainKeys);
    folder.WriteFile("corvane_v4_X.ini", r.cardKeys);
    auto w = MakeWindow(folder);
    const TCardSettings defaults;
    EXPECT_EQ(w->Card.maxgagal, defaults.maxgagal) << r.noted;
    EXPECT_EQ(w->Card.nomorkonfirmasireset, defaults.nomorkonfirmasireset) << r.noted;
    EXPECT_EQ(w->Card.timeout, defaults.timeout) << r.noted;
    EXPECT_EQ(w->Card.waktudial, defaults.waktudial) << r.noted;
    EXPECT_EQ(w->BaudRate, 115200) << r.noted;
    EXPECT_EQ(w->Form().eMaxDelay->text(), "2000") << r.noted;
    int found = 0, notes = 0;
    for (int n = 1; n <= 4; ++n)
      for (int i = 0; i < w->Line(n).lstFunc->count(); ++i) {
        const QByteArray e = w->Line(n).lstFunc->item(i)->data(Qt::UserRole).toByteArray();
        notes += e.startsWith("F000 : ");
        found += e.contains(r.noted);
      }
    EXPECT_EQ(found, 1) << r.noted;
    EXPECT_EQ(notes, 1) << r.noted;
  }
}

// A delay typed into the window is checked when the operator leaves the edit.
TEST(Settings, AnAnswerDelayTypedIntoTheWindowIsCheckedOnLeavingIt) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = MakeWindow(folder);
  QLineEdit* e = w->Form().eMaxDelay;
  e->setText("1500");
  emit e->editingFinished();
  EXPECT_EQ(e->text(), "1500");
  e->setText("15x");
  emit e->editingFinished();
  EXPECT_EQ(e->text(), "2000");
  int notes = 0;
  for (int i = 0; i < w->Line(1).lstFunc->count(); ++i)
    notes += w->Line(1).lstFunc->item(i)->data(Qt::UserRole).toByteArray().contains("F000 : MAXDELAY \"15x\"");
  EXPECT_EQ(notes, 1);
}

// A card-file value longer than what can be sent is refused where it is
// read, so that no send raises in the middle of a card.
TEST(Settings, CardTextsTooLongToSendAreRefusedWhenRead) {
  struct Row {
    std::string TCardSettings::*field;
    const char* key;
    std::size_t limit;
  };
  const Row rows[] = {
      {&TCardSettings::no2dial, "no2dial", CommandValueLimit},
      {&TCardSettings::cekpulsa, "cekpulsa", CommandValueLimit},
      {&TCardSettings::phpenerimasms2, "phpenerimasms2", CommandValueLimit},
      {&TCardSettings::smstextsend, "smstextsend", SmsTextLimit},
  };
  for (const Row& r : rows) {
    TCardSettings card;
    card.*r.field = std::string(r.limit, '1');
    EXPECT_TRUE(LimitCardTexts(card).empty()) << r.key << " at its limit is kept";
    card.*r.field += "1";
    const std::vector<std::string> notes = LimitCardTexts(card);
    ASSERT_EQ(notes.size(), 1u) << r.key;
    EXPECT_EQ(notes[0].rfind(r.key, 0), 0u) << notes[0];
    EXPECT_TRUE((card.*r.field).empty()) << r.key;
  }
  TCardSettings card;
  card.jawabanmenu[2] = std::string(CommandValueLimit + 1, '1');
  card.katakuncimenu[2] = std::string(CommandValueLimit + 1, 'k');  // matched, never sent
  EXPECT_EQ(LimitCardTexts(card).size(), 1u);
  EXPECT_EQ(card.katakuncimenu[2].size(), CommandValueLimit + 1);
}
