// The settings dialog of the active card type and the card-type menu: the
// form as laid out, the digit-only edits, the values in and out of the
// dialog, and what the main window does with them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <set>

#include "ConsoleTestSupport.h"
#include "IniFile.h"
#include "uSeting.h"
#include "uzCorvaneV4.h"
#include "ui_TfSeting.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// Every edit of the dialog with its caption and the per-card key it shows.
struct TEditRow {
  const char* edit;
  const char* caption;  // the label beside it (rows: the column's heading)
  const char* key;
  bool digitsOnly;
};
const std::vector<TEditRow>& EditRows() {
  static const std::vector<TEditRow> rows = [] {
    std::vector<TEditRow> r = {
        {"eNo2Dial", "No. utk ditelepon", "no2dial", true},
        {"eWaktuDial", "Waktu Telepon (det)", "waktudial", true},
        {"eNo2Dial2", "No. utk ditelepon 2", "no2dial2", true},
        {"ePhPenerimaSMS", "No Tujuan SMS 1", "phpenerimasms", true},
        {"ePhPenerimaSMS2", "No Tujuan SMS 2", "phpenerimasms2", true},
        {"eSmsTextSend", "Isi SMS 1", "smstextsend", false},
        {"eSmsTextSend2", "Isi SMS 2", "smstextsend2", false},
        {"eCekPulsa", "Cek Pulsa", "cekpulsa", false},
        {"eNomorKonfirmasiReset", "no kata kunci reset (reg. finish)", "nomorkonfirmasireset", true},
        {"eTimeOut", "Time Out (det.)", "timeout", true},
        {"eKataKunciSmsRegFinish", "Kata kunci SMS Reg. finish", "KataKunciSMSRegFinish", false},
    };
    static std::deque<std::string> names;  // keeps the generated names alive
    auto add = [&r](std::string edit, const char* caption, std::string key, int count) {
      for (int k = 1; k <= count; ++k) {
        names.push_back(edit + std::to_string(k));
        const char* e = names.back().c_str();
        names.push_back(key + std::to_string(k));
        r.push_back({e, caption, names.back().c_str(), false});
      }
    };
    add("eKataKunciKonfirmasi", "Kata kunci Konfirmasi", "katakunci", 6);
    add("eKataKunciMenu", "Kata kunci Menu", "katakuncimenu", 7);
    add("eJawabKataKunciMenu", "Jawaban menu no :", "jawabanmenu", 7);
    add("eKataKunci", "Kata kunci Pemasukan data", "katakuncidata", 8);
    add("eJawabKataKunci", "Jawaban Data", "Jawabandata", 8);
    return r;
  }();
  return rows;
}

std::unique_ptr<TfzCorvaneV4> MakeWindow(const TConsoleFolder& folder) {
  return std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
}

QLineEdit* EditOf(TfSeting& d, const QString& name) { return d.findChild<QLineEdit*>(name); }

// Distinct values for every edited key: strings "<key>-v", numbers 100+i
// (nomorkonfirmasireset a single digit, as its edit holds one character).
std::map<std::string, std::string> FillDistinct(TCardSettings& v) {
  std::map<std::string, std::string> shown;
  int i = 0;
  for (const TCardKey& k : CardKeys(v)) {
    if (auto* s = std::get_if<std::string*>(&k.field)) {
      **s = k.section == "MENU" && k.key.rfind("jawaban", 0) == 0 ? std::to_string(i % 90 + 10) : k.key + "-v";
      shown[k.key] = **s;
    } else {
      auto* n = std::get<std::int32_t*>(k.field);
      *n = k.key == "nomorkonfirmasireset" ? 5 : 100 + i;
      shown[k.key] = std::to_string(*n);
    }
    ++i;
  }
  return shown;
}

void Type(QWidget* target, int key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(target, &release);
}

void TypeText(QWidget* target, const QString& text) {
  for (QChar c : text) Type(target, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_A, QString(c));
}

// Runs act on the settings dialog once the window shows it modally; a
// dialog that act leaves open is cancelled so the test cannot hang.
void WhenDialogOpen(TfzCorvaneV4& window, std::function<void(TfSeting&)> act) {
  auto* poll = new QTimer(&window);
  auto polls = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, &window, [poll, &window, act, polls] {
    auto* dialog = window.findChild<TfSeting*>();
    if (dialog && dialog->isVisible() && QApplication::activeModalWidget() == dialog) {
      poll->deleteLater();
      poll->stop();
      act(*dialog);
      if (dialog->isVisible()) {
        ADD_FAILURE() << "the dialog was left open";
        dialog->reject();
      }
    } else if (++*polls > 1000) {
      poll->stop();
      poll->deleteLater();
      ADD_FAILURE() << "the settings dialog never opened";
    }
  });
  poll->start(5);
}

std::vector<int> HangupIntervals(TfzCorvaneV4& w) {
  std::vector<int> ms;
  for (int n = 1; n <= LineCount; ++n) ms.push_back(w.Line(n).tHangup->Interval());
  return ms;
}

// The value of a per-card key as text.
std::string ValueOf(TCardSettings& v, const std::string& key) {
  for (const TCardKey& k : CardKeys(v))
    if (k.key == key)
      return std::holds_alternative<std::string*>(k.field) ? *std::get<std::string*>(k.field)
                                                           : std::to_string(*std::get<std::int32_t*>(k.field));
  throw std::logic_error("no key " + key);
}

}  // namespace

// --- the form ---

TEST(SettingsDialog, FormAsLaidOut) {
  TfSeting d;
  EXPECT_EQ(d.windowTitle(), "SETTING SIM AKTIVASI -Modem Wavecom");
  EXPECT_TRUE(d.isModal());
  EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "a dialog frame: not resizable";
  auto* group = d.findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), "Data Aktivasi");
  EXPECT_EQ(d.Form().btnOk->text(), "OK");
  EXPECT_EQ(d.Form().btnCancel->text(), "Cancel");
  EXPECT_FALSE(d.Form().btnOk->autoDefault() || d.Form().btnOk->isDefault()) << "Enter confirms nothing";
  EXPECT_FALSE(d.Form().btnCancel->autoDefault() || d.Form().btnCancel->isDefault());
  auto* footer = qobject_cast<QFrame*>(d.Form().btnOk->parentWidget());
  ASSERT_NE(footer, nullptr) << "the buttons sit on the footer panel";
  EXPECT_EQ(d.Form().btnCancel->parentWidget(), footer);
  EXPECT_EQ(footer->geometry().bottom(), d.rect().bottom());

  std::set<QString> captions;
  for (auto* l : d.findChildren<QLabel*>()) captions.insert(l->text());
  std::set<QString> edits;
  for (auto* e : d.findChildren<QLineEdit*>()) edits.insert(e->objectName());
  EXPECT_EQ(edits.size(), EditRows().size()) << "one edit per value, maxgagal has none";
  for (std::size_t i = 0; i < EditRows().size(); ++i) {
    const TEditRow& row = EditRows()[i];
    QLineEdit* e = EditOf(d, row.edit);
    ASSERT_NE(e, nullptr) << row.edit;
    EXPECT_TRUE(captions.count(row.caption)) << row.caption;
    // The numbers, SMS texts and USSD code stand above the group, the rest in it.
    EXPECT_EQ(e->parentWidget() == group, i >= 8) << row.edit;
  }
  for (const char* row : {"1.", "2.", "3.", "4.", "5.", "6.", "7", "8."}) EXPECT_TRUE(captions.count(row)) << row;
  // The short edits limit typing only; no edit cuts what it is given.
  EXPECT_EQ(TTypedLengthLimit::LimitOf(d.Form().eNomorKonfirmasiReset), 1);
  for (int k = 1; k <= 7; ++k)
    EXPECT_EQ(TTypedLengthLimit::LimitOf(EditOf(d, QStringLiteral("eJawabKataKunciMenu%1").arg(k))), 2);
  int limited = 0;
  for (auto* e : d.findChildren<QLineEdit*>()) {
    EXPECT_EQ(e->maxLength(), 32767) << e->objectName().toStdString();
    limited += TTypedLengthLimit::LimitOf(e) > 0;
  }
  EXPECT_EQ(limited, 8);
  EXPECT_EQ(d.Form().eTimeOut->text(), "40");
}

TEST(SettingsDialog, EveryControlIsInsideItsParentAndNoneOverlapsOrIsCut) {
  TfSeting d;
  for (QWidget* parent : std::vector<QWidget*>{&d, d.findChild<QGroupBox*>(), d.Form().btnOk->parentWidget()}) {
    std::vector<QWidget*> kids;
    for (QObject* o : parent->children())
      if (auto* w = qobject_cast<QWidget*>(o); w && !w->isWindow()) kids.push_back(w);
    for (std::size_t i = 0; i < kids.size(); ++i) {
      EXPECT_TRUE(parent->rect().contains(kids[i]->geometry())) << kids[i]->objectName().toStdString();
      for (std::size_t j = i + 1; j < kids.size(); ++j)
        EXPECT_FALSE(kids[i]->geometry().intersects(kids[j]->geometry()))
            << kids[i]->objectName().toStdString() << " / " << kids[j]->objectName().toStdString();
    }
  }
  for (auto* l : d.findChildren<QLabel*>())
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
}

TEST(SettingsDialog, TabVisitsEveryEditOnceInReadingOrderThenOkAndCancel) {
  TfSeting d;
  std::vector<QString> order;
  QWidget* w = d.Form().eNo2Dial;
  do {
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w->objectName());
    w = w->nextInFocusChain();
  } while (w != d.Form().eNo2Dial);
  ASSERT_EQ(order.size(), EditRows().size() + 2);
  const std::vector<QString> first = {"eNo2Dial",        "eWaktuDial",   "eNo2Dial2",     "ePhPenerimaSMS",
                                      "ePhPenerimaSMS2", "eSmsTextSend", "eSmsTextSend2", "eCekPulsa",
                                      "eKataKunciKonfirmasi1"};
  EXPECT_EQ(std::vector<QString>(order.begin(), order.begin() + first.size()), first);
  // Keyword then its answer, row by row.
  const auto at = [&order](const QString& name) { return std::find(order.begin(), order.end(), name) - order.begin(); };
  for (int k = 1; k <= 7; ++k)
    EXPECT_EQ(at(QStringLiteral("eJawabKataKunciMenu%1").arg(k)), at(QStringLiteral("eKataKunciMenu%1").arg(k)) + 1);
  for (int k = 1; k <= 8; ++k)
    EXPECT_EQ(at(QStringLiteral("eJawabKataKunci%1").arg(k)), at(QStringLiteral("eKataKunci%1").arg(k)) + 1);
  EXPECT_EQ(order[order.size() - 2], "btnOk");
  EXPECT_EQ(order.back(), "btnCancel");
  EXPECT_EQ(std::set<QString>(order.begin(), order.end()).size(), order.size());
}

// --- the digit-only edits ---

TEST(SettingsDialog, DigitKeyFilterPassesBackspaceAndDigitsOnly) {
  struct Row {
    char16_t typed;
    bool passes;
  };
  for (const Row& r : std::vector<Row>{{8, true}, {'0', true}, {'5', true}, {'9', true}, {'/', false},
                                       {':', false}, {'a', false}, {' ', false}, {'-', false}, {'+', false},
                                       {0xB2 /* superscript two */, false}, {0x0663 /* Arabic-Indic three */, false}})
    EXPECT_EQ(TDigitKeyFilter::KeyPasses(QChar(r.typed)), r.passes) << int(r.typed);
}

TEST(SettingsDialog, DigitEditsDropTypedNonDigitsAndFreeEditsKeepThem) {
  TfSeting d;
  d.show();
  for (const TEditRow& row : EditRows()) {
    QLineEdit* e = EditOf(d, row.edit);
    e->clear();
    TypeText(e, "1a-2 x3");
    const int limit = TTypedLengthLimit::LimitOf(e);
    const QString kept = row.digitsOnly ? QStringLiteral("123") : QStringLiteral("1a-2 x3");
    EXPECT_EQ(e->text(), limit ? kept.left(limit) : kept) << row.edit;
    Type(e, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(e->text(), limit ? kept.left(limit - 1) : kept.chopped(1)) << row.edit;
  }
  // Pasted text and text set by code are not judged.
  QApplication::clipboard()->setText(QStringLiteral("08-12 a"));
  d.Form().eNo2Dial->clear();
  d.Form().eNo2Dial->paste();
  EXPECT_EQ(d.Form().eNo2Dial->text(), "08-12 a");
  d.Form().eWaktuDial->setText(QStringLiteral("x9"));
  EXPECT_EQ(d.Form().eWaktuDial->text(), "x9");
  d.hide();
}

TEST(SettingsDialog, EscapeInADigitEditCancelsTheDialog) {
  TfSeting d;
  d.Values.waktudial = 10;
  QTimer::singleShot(0, &d, [&d] {
    d.Form().eWaktuDial->setFocus();
    d.Form().eWaktuDial->setText(QStringLiteral("77"));
    Type(d.Form().eWaktuDial, Qt::Key_Escape, QStringLiteral("\x1b"));
  });
  EXPECT_EQ(d.exec(), QDialog::Rejected);
  EXPECT_EQ(d.Values.waktudial, 10);
}

// --- values in and out ---

TEST(SettingsDialog, FirstShowFillsEveryEditAndOkReadsEveryEditBack) {
  TfSeting d;
  const auto shown = FillDistinct(d.Values);
  d.Values.maxgagal = 777;
  d.show();
  for (const TEditRow& row : EditRows()) EXPECT_EQ(EditOf(d, row.edit)->text().toStdString(), shown.at(row.key)) << row.edit;

  int i = 0;
  std::map<std::string, std::string> typed;
  for (const TEditRow& row : EditRows()) {
    QLineEdit* e = EditOf(d, row.edit);
    const std::string text = row.digitsOnly                            ? std::to_string(i % 9 + 1)
                             : TTypedLengthLimit::LimitOf(e) == 2 ? std::to_string(i + 10)
                                                  : std::string(row.key).substr(0, 2) + "+" + std::to_string(i);
    e->setText(QString::fromStdString(text));
    typed[row.key] = text;
    ++i;
  }
  d.Form().btnOk->click();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_FALSE(d.isVisible());
  for (const TCardKey& k : CardKeys(d.Values)) {
    if (k.key == "maxgagal") {
      EXPECT_EQ(*std::get<std::int32_t*>(k.field), 777) << "the dialog leaves maxgagal alone";
      continue;
    }
    const std::string got = std::holds_alternative<std::string*>(k.field)
                                ? *std::get<std::string*>(k.field)
                                : std::to_string(*std::get<std::int32_t*>(k.field));
    EXPECT_EQ(got, typed.at(k.key)) << k.key;
  }
}

TEST(SettingsDialog, LaterShowingsLeaveTheEditsAlone) {
  TfSeting d;
  d.Values.no2dial = "111";
  d.show();
  d.Form().eNo2Dial->setText(QStringLiteral("222"));
  d.hide();
  d.Values.no2dial = "333";
  d.show();
  EXPECT_EQ(d.Form().eNo2Dial->text(), "222");
  d.hide();
}

TEST(SettingsDialog, ANumberThatDoesNotConvertKeepsTheDialogOpenWithWhatWasReadSoFar) {
  struct Row {
    const char* edit;
    const char* text;
    const char* readBefore;  // edit read just before it, and its key
    const char* keyBefore;
    const char* readAfter;  // edit read just after it, and its key
    const char* keyAfter;
  };
  for (const Row& r : std::vector<Row>{
           {"eWaktuDial", "", "eNo2Dial", "no2dial", "eNo2Dial2", "no2dial2"},
           {"eNomorKonfirmasiReset", "x", "eKataKunciKonfirmasi6", "katakunci6", "eKataKunciMenu1", "katakuncimenu1"},
           {"eTimeOut", "", "eJawabKataKunci8", "Jawabandata8", "eKataKunciSmsRegFinish", "KataKunciSMSRegFinish"},
           {"eTimeOut", "99999999999", "eJawabKataKunci8", "Jawabandata8", "eKataKunciSmsRegFinish",
            "KataKunciSMSRegFinish"}}) {
    TCentralRecorder central;
    TfSeting d;
    d.show();
    EditOf(d, r.readBefore)->setText(QStringLiteral("9"));
    EditOf(d, r.readAfter)->setText(QStringLiteral("9"));
    EditOf(d, r.edit)->setText(QString::fromLatin1(r.text));
    d.Form().btnOk->click();
    ASSERT_EQ(central.messages.size(), 1u) << r.edit;
    EXPECT_EQ(central.messages[0], QStringLiteral("'%1' is not a valid integer value").arg(QLatin1String(r.text)));
    EXPECT_TRUE(d.isVisible()) << "the dialog stays open";
    EXPECT_EQ(d.result(), 0) << "no modal result";
    EXPECT_EQ(EditOf(d, r.edit)->text(), QLatin1String(r.text)) << "the edits as they were";
    EXPECT_EQ(ValueOf(d.Values, r.keyBefore), "9") << r.edit;
    EXPECT_NE(ValueOf(d.Values, r.keyAfter), "9") << r.edit;
    d.hide();
  }
}

// A stored value longer than an edit lets the operator type is shown whole
// and comes back unchanged from an OK that touched nothing, in every edit.
TEST(SettingsDialog, OkWithoutTouchingAnythingKeepsEveryStoredValueWhole) {
  TfSeting d;
  std::map<std::string, std::string> stored;
  for (const TCardKey& k : CardKeys(d.Values)) {
    if (k.key == "maxgagal") continue;
    if (auto* s = std::get_if<std::string*>(&k.field)) {
      // Digits throughout, so the digit-only edits hold them as well.
      std::string text;
      for (int i = 0; i < 120; ++i) text += char('1' + i % 9);
      **s = text;
    } else {
      *std::get<std::int32_t*>(k.field) = 123456789;
    }
    stored[k.key] = ValueOf(d.Values, k.key);
  }
  d.Values.nomorkonfirmasireset = 12;
  d.Values.jawabanmenu[0] = "123";
  stored["nomorkonfirmasireset"] = "12";
  stored["jawabanmenu1"] = "123";
  d.show();
  for (const TEditRow& row : EditRows())
    EXPECT_EQ(EditOf(d, row.edit)->text().toStdString(), stored.at(row.key)) << row.edit << ": shown whole";
  d.Form().btnOk->click();
  ASSERT_EQ(d.result(), QDialog::Accepted);
  for (const auto& [key, value] : stored) EXPECT_EQ(ValueOf(d.Values, key), value) << key;
}

// The short edits limit what the operator types, nothing else: typing stops
// at the limit, a longer stored value takes no more typed characters but can
// be shortened, and a selection typed over is replaced.
TEST(SettingsDialog, LengthLimitsActOnTypingOnly) {
  struct Row {
    QString edit;
    int limit;
  };
  std::vector<Row> rows = {{QStringLiteral("eNomorKonfirmasiReset"), 1}};
  for (int k = 1; k <= 7; ++k) rows.push_back({QStringLiteral("eJawabKataKunciMenu%1").arg(k), 2});
  TfSeting d;
  d.show();
  for (const Row& r : rows) {
    QLineEdit* e = EditOf(d, r.edit);
    ASSERT_NE(e, nullptr);
    e->clear();
    TypeText(e, "98765");
    EXPECT_EQ(e->text(), QStringLiteral("98765").left(r.limit)) << r.edit.toStdString();
    e->setText(QStringLiteral("12345"));
    EXPECT_EQ(e->text(), "12345") << r.edit.toStdString() << ": text set by code is not cut";
    TypeText(e, "6");
    EXPECT_EQ(e->text(), "12345") << r.edit.toStdString();
    Type(e, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(e->text(), "1234") << r.edit.toStdString();
    e->selectAll();
    TypeText(e, "7");
    EXPECT_EQ(e->text(), "7") << r.edit.toStdString();
  }
  // The other edits take long typed texts.
  d.Form().eKataKunciMenu1->clear();
  TypeText(d.Form().eKataKunciMenu1, QString(300, QLatin1Char('a')));
  EXPECT_EQ(d.Form().eKataKunciMenu1->text().size(), 300);
  d.hide();
}

// The reported case, through "Set data": OK without a change writes back
// what the card file held. A value the load refused for its range (12 is no
// confirmation number; the line log said so and the line uses the default)
// comes back as the value in use, never as a cut "1".
TEST(SettingsDialog, SetDataConfirmedUntouchedWritesBackWhatTheFileHeld) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=XL;\r\n");
  folder.WriteFile("corvane_v4_XL.ini",
                   "[KONFIRMASI]\r\nnomorkonfirmasireset=12\r\n[MENU]\r\njawabanmenu1=123\r\n");
  auto w = MakeWindow(folder);
  WhenDialogOpen(*w, [](TfSeting& d) { d.Form().btnOk->click(); });
  w->Form().btnSetting->click();
  EXPECT_EQ(w->Card.nomorkonfirmasireset, 3);
  EXPECT_EQ(w->Card.jawabanmenu[0], "123");
  const platform::TIniFile ini(folder.Dir() + "corvane_v4_XL.ini");
  EXPECT_EQ(ini.ReadInteger("KONFIRMASI", "nomorkonfirmasireset", -1), 3);
  EXPECT_EQ(ini.ReadString("MENU", "jawabanmenu1", "?"), "123");
}

// --- the main window's "Set data" ---

TEST(SettingsDialog, CancelLeavesValuesFileAndTimersUnchanged) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=XL;\r\n");
  auto w = MakeWindow(folder);
  const TCardSettings before = w->Card;
  WhenDialogOpen(*w, [window = w.get()](TfSeting& d) {
    EXPECT_EQ(d.parentWidget(), window) << "shown over the main window";
    d.Form().eWaktuDial->setText(QStringLiteral("25"));
    d.Form().eNo2Dial->setText(QStringLiteral("0899"));
    d.Form().btnCancel->click();
  });
  w->Form().btnSetting->click();
  EXPECT_EQ(w->Card.waktudial, before.waktudial);
  EXPECT_EQ(w->Card.no2dial, before.no2dial);
  EXPECT_EQ(HangupIntervals(*w), std::vector<int>(4, 10000));
  EXPECT_FALSE(folder.Exists("corvane_v4_XL.ini"));
  EXPECT_TRUE(w->findChildren<TfSeting*>().isEmpty()) << "the dialog is freed";
}

TEST(SettingsDialog, OkWritesTheActiveCardFileAndRetimesEveryHangupTimer) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=IM3;XL;\r\nkartuaktif=1\r\n");
  folder.WriteFile("corvane_v4_XL.ini", "[LAINLAIN]\r\nmaxgagal=33\r\nno2dial=0811\r\n");
  auto w = MakeWindow(folder);
  ASSERT_EQ(w->Card.maxgagal, 33);
  WhenDialogOpen(*w, [](TfSeting& d) {
    EXPECT_EQ(d.Form().eNo2Dial->text(), "0811") << "the window's values are shown";
    d.Form().eWaktuDial->setText(QStringLiteral("25"));
    d.Form().eKataKunciMenu3->setText(QStringLiteral("Aktivasi"));
    d.Form().btnOk->click();
  });
  w->Form().btnSetting->click();
  EXPECT_EQ(w->Card.waktudial, 25);
  EXPECT_EQ(w->Card.katakuncimenu[2], "Aktivasi");
  EXPECT_EQ(HangupIntervals(*w), std::vector<int>(4, 25000));
  const platform::TIniFile ini(folder.Dir() + "corvane_v4_XL.ini");
  EXPECT_EQ(ini.ReadInteger("LAINLAIN", "waktudial", -1), 25);
  EXPECT_EQ(ini.ReadString("MENU", "katakuncimenu3", "?"), "Aktivasi");
  EXPECT_EQ(ini.ReadInteger("LAINLAIN", "maxgagal", -1), 33) << "the window's maxgagal is written too";
  EXPECT_FALSE(folder.Exists("corvane_v4_IM3.ini"));
  EXPECT_TRUE(w->findChildren<TfSeting*>().isEmpty());
}

TEST(SettingsDialog, AVeryLongCallLengthSaturatesTheHangupInterval) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = MakeWindow(folder);
  WhenDialogOpen(*w, [](TfSeting& d) {
    d.Form().eWaktuDial->setText(QStringLiteral("2147483647"));
    d.Form().btnOk->click();
  });
  w->Form().btnSetting->click();
  EXPECT_EQ(w->Card.waktudial, 2147483647);
  EXPECT_EQ(HangupIntervals(*w), std::vector<int>(4, std::numeric_limits<int>::max()));
}

TEST(SettingsDialog, AFailedNumberShowsTheErrorAndOnlyASuccessfulOkReachesTheWindow) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  auto w = MakeWindow(folder);
  WhenDialogOpen(*w, [&central](TfSeting& d) {
    d.Form().ePhPenerimaSMS->setText(QStringLiteral("0855"));
    d.Form().eTimeOut->clear();
    d.Form().btnOk->click();
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(central.messages.size(), 1u);
    EXPECT_EQ(central.messages[0], "'' is not a valid integer value");
    d.Form().btnCancel->click();
  });
  w->Form().btnSetting->click();
  EXPECT_EQ(w->Card.phpenerimasms, std::string(DefaultPhoneNumber));
  EXPECT_EQ(w->Card.timeout, 40);
  EXPECT_FALSE(folder.Exists("corvane_v4_.ini"));
}

TEST(SettingsDialog, ConfirmingWithAnEmptyCardListWritesTheFileOfTheEmptyName) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = MakeWindow(folder);
  WhenDialogOpen(*w, [](TfSeting& d) { d.Form().btnOk->click(); });
  w->Form().btnSetting->click();
  ASSERT_TRUE(folder.Exists("corvane_v4_.ini"));
  EXPECT_EQ(platform::TIniFile(folder.Dir() + "corvane_v4_.ini").ReadInteger("KONFIRMASI", "timeout", -1), 40);
}

TEST(SettingsDialog, AFailedSaveSaysWhereAndLosesNothingTyped) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=XL;\r\n");
  // A folder where the file should be: the file cannot be replaced.
  const std::string path = folder.Dir() + "corvane_v4_XL.ini";
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  auto w = MakeWindow(folder);
  WhenDialogOpen(*w, [](TfSeting& d) {
    d.Form().eNo2Dial->setText(QStringLiteral("0877"));
    d.Form().eWaktuDial->setText(QStringLiteral("15"));
    d.Form().btnOk->click();
  });
  w->Form().btnSetting->click();
  // The folder was refused when the card type was loaded (one warning), and
  // the save says it cannot write there.
  ASSERT_EQ(central.messages.size(), 2u);
  EXPECT_EQ(central.messages[0].toStdString().rfind(path + " is not a regular file", 0), 0u)
      << central.messages[0].toStdString();
  EXPECT_EQ(central.messages[1].toStdString(), "Unable to write to " + path);
  EXPECT_TRUE(w->findChildren<TfSeting*>().isEmpty()) << "the dialog is freed";
  EXPECT_EQ(w->Card.no2dial, "0877") << "the confirmed values stay in the window";
  EXPECT_EQ(HangupIntervals(*w), std::vector<int>(4, 15000)) << "and are in force";

  // The next "Set data" shows them, and a successful OK writes them.
  ASSERT_EQ(rmdir(path.c_str()), 0);
  WhenDialogOpen(*w, [](TfSeting& d) {
    EXPECT_EQ(d.Form().eNo2Dial->text(), "0877");
    EXPECT_EQ(d.Form().eWaktuDial->text(), "15");
    d.Form().btnOk->click();
  });
  w->Form().btnSetting->click();
  EXPECT_EQ(central.messages.size(), 2u);
  const platform::TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("LAINLAIN", "no2dial", "?"), "0877");
  EXPECT_EQ(ini.ReadInteger("LAINLAIN", "waktudial", -1), 15);
}

// --- card types ---

TEST(CardTypes, AddingANameToAnEmptyListSelectsItAndReadsItsFile) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("corvane_v4_X.ini", "[LAINLAIN]\r\nwaktudial=33\r\nmaxgagal=7\r\n");
  auto w = MakeWindow(folder);
  std::vector<QStringList> asked;
  SetInputBoxHook([&asked](const QString& caption, const QString& prompt, const QString& dflt) {
    asked.push_back({caption, prompt, dflt});
    return std::optional<QString>(QStringLiteral("X"));
  });
  w->mnTambahNamaKartu->trigger();
  SetInputBoxHook({});
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], (QStringList{"Masukkan nama kartu yg baru (usahakan tidak memakai spasi)", "Kartu Baru", ""}));
  ASSERT_EQ(w->Form().cbKartuAktif->count(), 1);
  EXPECT_EQ(w->Form().cbKartuAktif->currentIndex(), 0);
  EXPECT_EQ(kartuaktif, 0);
  EXPECT_EQ(CardIniName, "corvane_v4_X.ini");
  EXPECT_EQ(w->Card.waktudial, 33);
  EXPECT_EQ(w->Card.maxgagal, 7);
  EXPECT_EQ(HangupIntervals(*w), std::vector<int>(4, 10000)) << "loading keeps the hang-up timers";
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST(CardTypes, ANewNameWithoutAFileGivesTheDefaultsAndReachesTheMainFileAtClose) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=XL;\r\n");
  folder.WriteFile("corvane_v4_XL.ini", "[LAINLAIN]\r\nwaktudial=33\r\n");
  auto w = MakeWindow(folder);
  ASSERT_EQ(w->Card.waktudial, 33);
  SetInputBoxHook([](auto&&...) { return std::optional<QString>(QStringLiteral("Tri Baru")); });
  w->mnTambahNamaKartuClick();
  SetInputBoxHook({});
  EXPECT_EQ(kartuaktif, 1);
  EXPECT_EQ(w->Form().cbKartuAktif->currentText(), "Tri Baru");
  EXPECT_EQ(w->Card.waktudial, 10);
  EXPECT_FALSE(folder.Exists("corvane_v4_Tri Baru.ini")) << "nothing is written until the dialog is confirmed";
  EXPECT_TRUE(w->close());
  const platform::TIniFile ini(folder.Dir() + "Corvane_v4.ini");
  EXPECT_EQ(ini.ReadString("Corvane_V4", "KARTU", "?"), "XL;Tri Baru;");
  EXPECT_EQ(ini.ReadInteger("Corvane_V4", "kartuaktif", -1), 1);
}

TEST(CardTypes, NamesThatCannotBeACardTypeAreRefusedAndChangeNothing) {
  struct Row {
    QString name;
    TNewCardName verdict;
    const char* told;  // part of the message; nullptr: nothing said
  };
  const std::vector<Row> rows = {
      {QString(), TNewCardName::Empty, nullptr},  // also what Cancel gives
      {QStringLiteral("../up"), TNewCardName::NotAFileName, "cannot be used as a file name"},
      {QStringLiteral(".."), TNewCardName::NotAFileName, "cannot be used as a file name"},
      {QStringLiteral("sub/x"), TNewCardName::NotAFileName, "cannot be used as a file name"},
      {QStringLiteral("a\\b"), TNewCardName::NotAFileName, "cannot be used as a file name"},
      {QStringLiteral("tab\tname"), TNewCardName::NotAFileName, "cannot be used as a file name"},
      {QStringLiteral("a;b"), TNewCardName::NotListable, "cannot be kept in the card list"},
      {QStringLiteral("Euro \u20AC"), TNewCardName::NotListable, "cannot be kept in the card list"},
      {QStringLiteral("XL"), TNewCardName::AlreadyListed, "is already in the list"},
      {QStringLiteral("xl"), TNewCardName::AlreadyListed, "is already in the list"},
      {QStringLiteral(" "), TNewCardName::Blank, "only blanks"},
      {QStringLiteral("   "), TNewCardName::Blank, "only blanks"},
      {QStringLiteral(" \u00A0 "), TNewCardName::Blank, "only blanks"},
      {QString(MaxCardNameLength + 1, QLatin1Char('k')), TNewCardName::TooLong, "longer than"},
      {QString(300, QLatin1Char('k')), TNewCardName::TooLong, "longer than"},
  };
  for (const Row& r : rows) {
    TConsoleFolder folder;
    TDialogRecorder dialogs;
    folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=IM3;XL;\r\n");
    folder.WriteFile("corvane_v4_IM3.ini", "[LAINLAIN]\r\nwaktudial=44\r\n");
    auto w = MakeWindow(folder);
    EXPECT_EQ(JudgeNewCardName(r.name, {"IM3", "XL"}), r.verdict) << r.name.toStdString();
    SetInputBoxHook([&r](auto&&...) { return std::optional<QString>(r.name); });
    w->mnTambahNamaKartuClick();
    SetInputBoxHook({});
    EXPECT_EQ(w->Form().cbKartuAktif->count(), 2) << r.name.toStdString();
    EXPECT_EQ(w->Form().cbKartuAktif->currentIndex(), 0);
    EXPECT_EQ(kartuaktif, 0);
    EXPECT_EQ(w->Card.waktudial, 44);
    EXPECT_EQ(CardIniName, "corvane_v4_IM3.ini");
    if (r.told) {
      ASSERT_EQ(dialogs.asked.size(), 1u) << r.name.toStdString();
      EXPECT_TRUE(dialogs.asked[0].text.contains(QLatin1String(r.told))) << dialogs.asked[0].text.toStdString();
      EXPECT_TRUE(dialogs.asked[0].text.contains(QLatin1String("no card type was added")));
    } else {
      EXPECT_TRUE(dialogs.asked.empty()) << r.name.toStdString();
    }
  }
}

// The longest name allowed still makes a file name well inside the file
// system's 255 bytes, even when every character takes two bytes on disk;
// blanks around a name are allowed, as are blanks inside it.
TEST(CardTypes, TheLongestAllowedNameMakesAFileThatCanBeWritten) {
  EXPECT_LE(MaxCardNameLength, 100);
  EXPECT_LT(2 * MaxCardNameLength + int(std::string("corvane_v4_.ini").size()), 255);
  EXPECT_EQ(JudgeNewCardName(QString(MaxCardNameLength, QChar(0xE9)), {}), TNewCardName::Usable);
  EXPECT_EQ(JudgeNewCardName(QStringLiteral(" Tri Baru "), {}), TNewCardName::Usable);

  TConsoleFolder folder;
  TDialogRecorder dialogs;
  const QString name(MaxCardNameLength, QLatin1Char('k'));
  auto w = MakeWindow(folder);
  SetInputBoxHook([&name](auto&&...) { return std::optional<QString>(name); });
  w->mnTambahNamaKartuClick();
  SetInputBoxHook({});
  ASSERT_EQ(w->Form().cbKartuAktif->currentText(), name);
  WhenDialogOpen(*w, [](TfSeting& d) { d.Form().btnOk->click(); });
  w->Form().btnSetting->click();
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_EQ(CardIniName.size(), std::size_t(MaxCardNameLength) + 15);
  EXPECT_TRUE(folder.Exists(CardIniName)) << "the card file of the longest name is written";
}

TEST(CardTypes, ANameThatWouldOverflowTheStoredListIsRefused) {
  // The main file's list reads back at most 2047 bytes.
  QStringList listed;
  for (int i = 0; i < 20; ++i) listed << QString(100, QChar('a' + i));  // 20 x 101 = 2020 bytes
  EXPECT_EQ(JudgeNewCardName(QString(26, 'z'), listed), TNewCardName::Usable);  // 2047
  EXPECT_EQ(JudgeNewCardName(QString(27, 'z'), listed), TNewCardName::ListFull);
  EXPECT_TRUE(NewCardNameMessage(TNewCardName::ListFull, "zz").contains("no room"));
}

TEST(CardTypes, ChoosingAnotherCardTypeReloadsEveryValueButNotTheTimers) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.WriteFile("Corvane_v4.ini", "[Corvane_V4]\r\nKARTU=IM3;XL;\r\n");
  folder.WriteFile("corvane_v4_XL.ini", "[LAINLAIN]\r\nwaktudial=33\r\nmaxgagal=9\r\n[MENU]\r\nkatakuncimenu1=Reg\r\n");
  auto w = MakeWindow(folder);
  w->Form().cbKartuAktif->setCurrentIndex(1);
  emit w->Form().cbKartuAktif->activated(1);
  EXPECT_EQ(kartuaktif, 1);
  EXPECT_EQ(w->Card.waktudial, 33);
  EXPECT_EQ(w->Card.maxgagal, 9);
  EXPECT_EQ(w->Card.katakuncimenu[0], "Reg");
  EXPECT_EQ(HangupIntervals(*w), std::vector<int>(4, 10000));
}

TEST(CardTypes, TheInputBoxGivesTheTypedTextOnOkAndTheDefaultOnCancel) {
  struct Row {
    bool ok;
    QString expected;
  };
  for (const Row& r : std::vector<Row>{{true, QStringLiteral("typed")}, {false, QStringLiteral("dflt")}}) {
    QWidget parent;
    QTimer::singleShot(0, &parent, [&parent, &r] {
      auto* box = parent.findChild<QInputDialog*>();
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle(), "caption");
      EXPECT_EQ(box->labelText(), "prompt");
      EXPECT_EQ(box->textValue(), "dflt");
      box->setTextValue(QStringLiteral("typed"));
      if (r.ok) box->accept();
      else box->reject();
    });
    EXPECT_EQ(InputBox(&parent, "caption", "prompt", "dflt"), r.expected);
  }
}
