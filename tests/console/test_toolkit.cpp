// The old toolkit's behaviours the console relies on, and the log's text
// rules.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTextDocument>
#include <QToolTip>

#include "ConsoleTestSupport.h"
#include "uLineLog.h"
#include "uToolkit.h"

using namespace corvane;
using corvane::test::Pump;
using corvane::test::WaitUntil;

TEST(Toolkit, ColourValuesHoldRedInTheLowByte) {
  EXPECT_EQ(ToQColor(0x0000FF), QColor(255, 0, 0));
  EXPECT_EQ(ToQColor(clLime), QColor(0, 255, 0));
  EXPECT_EQ(ToQColor(15253469), QColor(0xDD, 0xBF, 0xE8));
  EXPECT_EQ(FromQColor(QColor(0xDD, 0xBF, 0xE8)), 15253469u);
  QLabel text;
  SetStaticTextColor(&text, clFuchsia);
  EXPECT_EQ(StaticTextColor(&text), clFuchsia);
  EXPECT_TRUE(text.autoFillBackground());
}

TEST(Toolkit, StrToIntTakesWhatTheClassLibraryTook) {
  struct Row {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Row rows[] = {
      {"8", 8},          {"-12", -12},          {"+7", 7},      {"  42", 42},
      {"$1C200", 115200}, {"0x1C200", 115200},  {"0XFF", 255},  {"$FFFFFFFF", -1},
      {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt}, {"", std::nullopt}, {"abc", std::nullopt},
      {"12 ", std::nullopt}, {"0x", std::nullopt}, {"1.5", std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(TryStrToInt(r.text), r.value) << '"' << r.text << '"';
  try {
    StrToInt("COM3");
    ADD_FAILURE() << "no conversion error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'COM3' is not a valid integer value");
  }
}

TEST(LineLog, ReplaceStgiTagShortensEveryTagInAnyCase) {
  struct Row {
    const char* in;
    const char* out;
  };
  const Row rows[] = {
      {"+STGI: \"Menu\"", "I: \"Menu\""},
      {"AT+STGI=0", "ATI=0"},
      {"at+stgi=6 +StGi: 1", "atI=6 I: 1"},
      {"++STGI", "+I"},
      {"+STGI+STGI", "II"},
      {"+STGR=1 +STIN: 3", "+STGR=1 +STIN: 3"},
      {"+STG", "+STG"},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(ReplaceStgiTag(r.in), r.out) << r.in;
}

TEST(LineLog, VisibleTextShowsControlCharactersAsMarks) {
  const QString shown = VisibleLogText(std::string("OK\r\n\x1A\x7F\xE9", 7));
  EXPECT_EQ(shown, QString::fromUtf8("OK<CR><LF>^Z^?\u00E9"));
  EXPECT_FALSE(shown.contains('\n'));
}

TEST(Toolkit, CheckBoxHandlerRunsOnEveryChangeAlsoByCode) {
  QCheckBox box;
  QObject context;
  int runs = 0;
  ConnectCheckChange(&box, &context, [&] { ++runs; });
  box.setChecked(true);
  EXPECT_EQ(runs, 1);
  box.setChecked(true);  // same state: nothing
  EXPECT_EQ(runs, 1);
  box.click();
  EXPECT_EQ(runs, 2);
}

TEST(Toolkit, TimerNeverFiresAtIntervalZero) {
  QObject owner;
  TTimer t(&owner, "t", 0);
  int ticks = 0;
  t.OnTimer = [&] { ++ticks; };
  t.SetEnabled(true);
  EXPECT_FALSE(t.Running());
  Pump(50);
  EXPECT_EQ(ticks, 0);
  t.SetInterval(20);  // a real interval starts the enabled timer
  EXPECT_TRUE(WaitUntil([&] { return ticks > 0; }));
}

TEST(Toolkit, TimerKeepsItsPhaseWhenEnabledAgainOrGivenTheSameInterval) {
  QObject owner;
  TTimer t(&owner, "t", 400);
  QElapsedTimer clock;
  qint64 firedAt = -1;
  t.OnTimer = [&] {
    if (firedAt < 0) firedAt = clock.elapsed();
  };
  clock.start();
  t.SetEnabled(true);
  Pump(250);
  t.SetEnabled(true);  // already on: no restart
  t.SetInterval(400);  // same value: no restart
  ASSERT_TRUE(WaitUntil([&] { return firedAt >= 0; }, 2000));
  // A restart at 250 ms would have moved the tick to 650 ms.
  EXPECT_LT(firedAt, 600);
}

TEST(Toolkit, TimerRestartsWhenTheIntervalChanges) {
  QObject owner;
  TTimer t(&owner, "t", 300);
  QElapsedTimer clock;
  qint64 firedAt = -1;
  t.OnTimer = [&] {
    if (firedAt < 0) firedAt = clock.elapsed();
  };
  clock.start();
  t.SetEnabled(true);
  Pump(200);
  t.SetInterval(301);  // a new value counts from now
  ASSERT_TRUE(WaitUntil([&] { return firedAt >= 0; }, 2000));
  EXPECT_GE(firedAt, 450);
}

// Rows of one height still scroll to the widest entry and show a text of two
// lines whole, also when smaller ones came after them; an emptied list
// forgets them.
TEST(Toolkit, ListBoxRowsKeepTheLargestEntryWhole) {
  QListWidget list;
  list.resize(176, 94);
  UseListBoxRows(&list);
  list.show();
  const QString wide = QString(120, QLatin1Char('W'));
  list.addItem(wide);
  list.addItem(QStringLiteral("Kartu sudah terdaftar.\nTidak perlu registrasi ulang."));
  for (int i = 0; i < 20; ++i) list.addItem(QStringLiteral("F001: %1").arg(i));
  list.setCurrentRow(list.count() - 1);
  Pump(20);
  const int wideText = list.fontMetrics().horizontalAdvance(wide);
  EXPECT_GE(list.visualItemRect(list.item(0)).width(), wideText);
  EXPECT_GE(list.horizontalScrollBar()->maximum(), wideText - list.viewport()->width());
  EXPECT_GE(list.visualItemRect(list.item(1)).height(), 2 * list.fontMetrics().lineSpacing());
  EXPECT_EQ(list.visualItemRect(list.item(0)).height(), list.visualItemRect(list.item(21)).height());
  list.clear();
  list.addItem(QStringLiteral("F001: short"));
  Pump(20);
  EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);
  EXPECT_LT(list.visualItemRect(list.item(0)).height(), 2 * list.fontMetrics().lineSpacing());
}

// The form's size cuts a long balance or log row: hovering shows the whole
// text, as plain text; a text that fits shows no tip.
TEST(Toolkit, ACutTextIsShownWholeOnHover) {
  const QString balance = QStringLiteral("Sisa pulsa Anda Rp 5.000, aktif s/d 31-12-2025. Info: *888*1#");
  const struct {
    const char* name;
    QString text;
    bool tip;
  } rows[] = {
      {"cut", balance, true},
      {"markup stays text", QStringLiteral("<b>Sisa</b> <img src=x> pulsa Anda Rp 5.000, aktif s/d 31-12-2025"), true},
      {"fits", QStringLiteral("Rp 5.000"), false},
  };
  for (const auto& r : rows) {
    QWidget form;
    form.resize(300, 200);
    auto* edit = new QLineEdit(&form);
    edit->setGeometry(0, 0, 120, 20);
    auto* list = new QListWidget(&form);
    list->setGeometry(0, 30, 120, 90);
    UseListBoxRows(list);
    ShowCutTextOnHover(edit);
    ShowCutTextOnHover(list);
    form.show();
    edit->setText(r.text);
    list->addItem(r.text);
    Pump(20);
    const struct {
      QWidget* target;
      QPoint at;
    } hovers[] = {{edit, QPoint(5, 5)}, {list->viewport(), list->visualItemRect(list->item(0)).center()}};
    for (const auto& h : hovers) {
      QToolTip::hideText();
      Pump(20);
      QHelpEvent help(QEvent::ToolTip, h.at, h.target->mapToGlobal(h.at));
      QCoreApplication::sendEvent(h.target, &help);
      EXPECT_EQ(QToolTip::isVisible(), r.tip) << r.name << " on " << h.target->metaObject()->className();
      if (r.tip) {
        EXPECT_EQ(QToolTip::text(), Qt::convertFromPlainText(r.text, Qt::WhiteSpaceNormal)) << r.name;
        EXPECT_FALSE(QToolTip::text().contains(QStringLiteral("<b>"))) << r.name;
      }
    }
    QToolTip::hideText();
  }
}
