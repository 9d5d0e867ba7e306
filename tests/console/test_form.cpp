// The form resource: every control the console needs, with its caption,
// initial state and visibility as laid out, and a window that shows its four
// lines and the advice texts in full.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "ConsoleTestSupport.h"
#include "uToolkit.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;

namespace {

struct TLaidOut {
  Ui::TfzCorvaneV4 ui;
  QWidget form;
  TLaidOut() { ui.setupUi(&form); }
  template <typename W>
  W* Find(const QString& name) {
    return form.findChild<W*>(name);
  }
};

QString Caption(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  return {};
}

}  // namespace

TEST(Form, WindowAsLaidOut) {
  TLaidOut f;
  EXPECT_EQ(f.form.windowTitle(), "Activate  sim Using modem Wavecom  Modem/ Simbox");
  EXPECT_EQ(f.form.minimumSize(), QSize(1008, 536));
  EXPECT_EQ(f.form.maximumSize(), QSize(1008, 536));
  EXPECT_EQ(f.form.palette().color(QPalette::Window), ToQColor(FormColor));
}

TEST(Form, WindowControlsWithCaptionsStateAndVisibility) {
  struct Row {
    const char* name;
    const char* caption;
    bool visible;
  };
  const Row rows[] = {
      {"ckOn_All", "ON ALL", true},        {"eMaxDelay", "2000", true},
      {"lMaxDelay", "Answer menu time delay (ms)", true},
      {"eBaud", "", true},                 {"lBaud", "Baud rate", true},
      {"lKartuAktif", "Kartu Aktif", true}, {"btnSetting", "Set data", true},
      {"btnKeluar", "&Keluar", true},      {"eWatchdog", "20", false},
      {"eMaxGagal", "20", false},          {"lMaxGagal", "Max Dial/sms gagal", false},
      {"btnApply", "Apply", false},        {"eMaxLine", "100", false},
      {"lMaxLine", "Max Line", false},     {"btnSetUrutan", "Set Urutan Proses", false},
      {"T", "T. Wathdog", false},          {"lWatchDog", "", false},
  };
  TLaidOut f;
  for (const Row& r : rows) {
    auto* w = f.Find<QWidget>(r.name);
    ASSERT_NE(w, nullptr) << r.name;
    EXPECT_EQ(Caption(w), QString::fromUtf8(r.caption)) << r.name;
    EXPECT_EQ(!w->isHidden(), r.visible) << r.name;
  }
  EXPECT_FALSE(f.ui.ckOn_All->isChecked());
  QStringList cards;
  for (int i = 0; i < f.ui.cbKartuAktif->count(); ++i) cards << f.ui.cbKartuAktif->itemText(i);
  EXPECT_EQ(cards, QStringList({"IM3", "Kartu Indosat", "As", "Axis", "XL", "3 (Three)", "Simpati"}));
  EXPECT_FALSE(f.ui.cbKartuAktif->isEditable());
}

TEST(Form, EveryLinePanelWithCaptionsAndInitialState) {
  struct Row {
    const char* name;
    const char* caption;
    int checked;  // -1: not a check box
  };
  const Row rows[] = {
      {"ckOn", "On", 0},          {"ckActive", "Aktif", 1},       {"btnSetPort", "Set", -1},
      {"ckRegistrasi", "Registrasi", 1}, {"ckCall", "CALL", 1},    {"ckCall2", "CALL", 1},
      {"ckSMS1", "SMS", 1},       {"ckSMS2", "SMS 2", 0},        {"ckCekPulsa", "Cek pulsa", 1},
      {"lRegistrasi", "Reg", -1}, {"lCall", "CALL", -1},         {"lCall2", "CALL2", -1},
      {"lSMS1", "SMS 1", -1},     {"lSMS2", "SMS 2", -1},        {"lCekPulsa", "Cek Pulsa", -1},
      {"lSignal", "0", -1},       {"lPortCom", "Port Com", -1},  {"lIMSI", "IMSI", -1},
      {"eISTM", "", -1},          {"eCekPulsa", "", -1},
  };
  TLaidOut f;
  for (int n = 1; n <= 4; ++n) {
    for (const Row& r : rows) {
      const QString name = QStringLiteral("%1_%2").arg(QLatin1String(r.name)).arg(n);
      auto* w = f.Find<QWidget>(name);
      ASSERT_NE(w, nullptr) << name.toStdString();
      EXPECT_FALSE(w->isHidden()) << name.toStdString();
      EXPECT_EQ(Caption(w), QString::fromUtf8(r.caption)) << name.toStdString();
      if (r.checked >= 0) {
        EXPECT_EQ(qobject_cast<QCheckBox*>(w)->isChecked(), r.checked == 1) << name.toStdString();
      }
    }
    const QString s = QStringLiteral("_%1").arg(n);
    EXPECT_EQ(f.Find<QLabel>("lNomor" + s)->text(), QString::number(n));
    for (const char* status : {"lRegistrasi", "lCall", "lCall2", "lSMS1", "lSMS2", "lCekPulsa"})
      EXPECT_EQ(StaticTextColor(f.Find<QLabel>(QLatin1String(status) + s)), clFuchsia) << status << n;
    auto* gauge = f.Find<QProgressBar>("pbSignal" + s);
    EXPECT_EQ(gauge->minimum(), 0);
    EXPECT_EQ(gauge->maximum(), 35);
    EXPECT_EQ(gauge->value(), 0);
    EXPECT_EQ(gauge->orientation(), Qt::Vertical);
    for (const char* edit : {"eISTM", "eCekPulsa"}) {
      auto* e = f.Find<QLineEdit>(QLatin1String(edit) + s);
      EXPECT_TRUE(e->isReadOnly());
      EXPECT_EQ(FromQColor(e->palette().color(QPalette::Base)), clSilver);
    }
    EXPECT_TRUE(f.Find<QComboBox>("cbPort" + s)->isEditable());
    EXPECT_EQ(f.Find<QComboBox>("cbPort" + s)->currentText(), "");
    EXPECT_EQ(f.Find<QListWidget>("lstDisplay" + s)->count(), 0);
    EXPECT_EQ(f.Find<QListWidget>("lstFunc" + s)->count(), 0);
  }
}

TEST(Form, AdviceTextsInOrderAndReadableInFull) {
  const char* const advice[] = {
      "JIKA anda baru memakai software ini", "Jangan lupa menjalankan aplikasi  Corvane_Prep.exe",
      "Untuk meyakinkan fungsi STK pada modem anda sudah aktif", "JIKA anda Merasa software ini tidak berguna",
      "Hapus saja dari hard disk komputer anda", "Karena tidak ada gunanya menyimpan sesuatu yang tidak berguna",
      "JIKA anda Merasa software ini membantu pekerjaan anda", "Teruslah memakainya",
      "Karena anda memakai barang legal jadi tdk perlu takut",
      "JIKA anda Mendapat keuntungan dengan memakai software ini",
      "Jangan lupa menyisihkan sebagiannya untuk SEDEKAH", "Karena masih banyak saudara kita yg butuh bantuan anda",
      "JIKA anda Mendapat kerugian dengan memakai software ini", "Jangan caci maki pembuatnya",
      "Karena dia manusia yang tak luput dari kekhilafan", "Doakan saja dia agar bisa memperbaiki kekhilafannya",
      "JIKA anda merasa senang memakai software ini", "Jangan lupa doakan saya", "Agar nanti masuk surga",
      "Jika anda memakai modem lebih dari 4 port", "Jalankan saja software ini 2, 3 atau 4",
      "1 untuk port 1- 4, 2 untuk port 5 - 8 dan seterusnya",
      "Jika anda tersinggung dengan kata-kata saya Tolong Maafkan saya",
      "Karena  tak ada sedikitpun maksud saya menyinggung anda"};
  TLaidOut f;
  f.form.ensurePolished();
  int lastY = -1;
  for (std::size_t i = 0; i < std::size(advice); ++i) {
    auto* l = f.Find<QLabel>(QStringLiteral("lAdvice%1").arg(i + 1));
    ASSERT_NE(l, nullptr) << i;
    l->ensurePolished();
    EXPECT_EQ(l->text(), QString::fromUtf8(advice[i]));
    EXPECT_EQ(l->font().pixelSize(), 13) << i;
    EXPECT_GT(l->y(), lastY);
    lastY = l->y();
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << advice[i];
    EXPECT_GE(l->x(), 604) << "advice texts stand right of the line panels";
    EXPECT_LE(l->geometry().bottom(), 536);
  }
}

TEST(Form, LinePanelsStackOnTheLeftInsideTheWindow) {
  TLaidOut f;
  int lastTop = 0;
  for (int n = 1; n <= 4; ++n) {
    const QString s = QStringLiteral("_%1").arg(n);
    QRect panel;
    for (QWidget* w : f.form.findChildren<QWidget*>())
      if (w->objectName().endsWith(s) && w->parent() == &f.form) panel |= w->geometry();
    EXPECT_GT(panel.top(), lastTop) << n;
    EXPECT_LE(panel.right(), 604) << n;
    EXPECT_LE(panel.bottom(), 536) << n;
    lastTop = panel.bottom();
    auto* number = f.Find<QLabel>("lNomor" + s);
    number->ensurePolished();
    EXPECT_EQ(number->font().pixelSize(), 37);
  }
}
