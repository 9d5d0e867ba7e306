// The tool's window as it starts, the closed port, the log limit, the close
// question, and the "Set" button's refusals.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include "PrepBench.h"
#include "SerPort.h"
#include "ui_TfzInitModem.h"

using namespace corvane;
using namespace corvane::prep;
using namespace prep_test;

namespace {

using UiForm = Ui::TfzInitModem;

struct StepRow {
  QPushButton* UiForm::*button;
  const char* caption;
  QLabel* UiForm::*status;
};
const StepRow kSteps[] = {
    {&UiForm::btnCekModem, "Cek Modem", &UiForm::lCekModem},
    {&UiForm::btnStatusKartu, "Rep. Sim Exist", &UiForm::lStatusKartu},
    {&UiForm::btnDeactivate, "Deactivate STK", &UiForm::lDeactivate},
    {&UiForm::btnConfigure, "Configure STK", &UiForm::lConfigureSTK},
    {&UiForm::btnActivateSTK, "Activate STK", &UiForm::lActivateSTK},
    {&UiForm::btnResetModem, "Reset Modem", &UiForm::lResetModem},
};

std::vector<QString> LabelTexts(QWidget& w) {
  std::vector<QString> texts;
  for (QLabel* l : w.findChildren<QLabel*>()) texts.push_back(l->text());
  return texts;
}

bool Has(const std::vector<QString>& texts, const char* text) {
  return std::find(texts.begin(), texts.end(), QString::fromLatin1(text)) != texts.end();
}

}  // namespace

TEST(PrepForm, StartsAsItsFormSays) {
  PrepBench bench;
  TfzInitModem& w = bench.Window();
  UiForm& f = w.Form();
  EXPECT_EQ(w.windowTitle(), "Corvane INIT MODEM");
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(w.minimumSize(), w.maximumSize());

  EXPECT_FALSE(w.comVorel1->Open());
  EXPECT_EQ(w.comVorel1->ComNumber(), 8);
  EXPECT_EQ(w.comVorel1->Baud(), 115200);
  EXPECT_EQ(f.ePort->text(), "8");
  EXPECT_EQ(f.eBaud->text(), "115200");
  EXPECT_EQ(w.PortNumber, 8);
  EXPECT_EQ(w.BaudRate, 115200);
  EXPECT_EQ(ReplyType, rtNone);
  EXPECT_EQ(maxlistline, 100);
  EXPECT_EQ(f.lstFunc->count(), 0);
  EXPECT_EQ(f.btnSetPort1->text(), "Set");
  EXPECT_EQ(f.btnKeluar->text(), "&Keluar");
  EXPECT_FALSE(f.btnKeluar->icon().isNull());
  for (const StepRow& s : kSteps) {
    EXPECT_EQ((f.*s.button)->text(), s.caption);
    QLabel* status = f.*s.status;
    EXPECT_EQ(status->text(), "NOT OK") << s.caption;
    EXPECT_EQ(StaticTextColor(status), clRed) << s.caption;
    EXPECT_TRUE(status->font().bold());
    EXPECT_EQ(status->alignment(), Qt::AlignCenter);
  }
  const auto texts = LabelTexts(w);
  for (const char* t : {"Com Port", "Baud", "Isi no. port modem ldan baud ratenya alu pilih SET",
                        "Tekan Cek modem untuk memastikan koneksi nya",
                        "Tekan Rep. Sim Exist  utk mengaktifkan report status kartu",
                        "Tekan \"Configure STK\" untuk mengeset fasilitas ", "Sim Toolkit pada modem",
                        "Aktifkan kembali konfigurasi STK", "Reset modem untuk mengaktifkan konfigurasi baru"})
    EXPECT_TRUE(Has(texts, t)) << t;
}

TEST(PrepForm, PortIsSetUpLikeEveryPortOfTheSystem) {
  PrepBench bench;
  const TComPort& p = *bench.Window().comVorel1;
  EXPECT_EQ(p.DataBits(), 8);
  EXPECT_EQ(p.Parity(), pNone);
  EXPECT_EQ(p.StopBits(), 1);
  EXPECT_FALSE(p.AutoOpen());
  EXPECT_FALSE(p.RTS());
  EXPECT_EQ(p.HWFlowOptions(), (THWFlowOptionSet{hwfUseDTR, hwfUseRTS}));
  EXPECT_EQ(p.BufferFull(), 3072);
  EXPECT_EQ(p.BufferResume(), 1024);
  EXPECT_EQ(p.InSize(), 4096);
  EXPECT_EQ(p.OutSize(), 4096);
  EXPECT_EQ(p.TraceName(), "SERIAL.TRC");
  EXPECT_EQ(p.LogName(), "SERIAL.LOG");
  EXPECT_FALSE(p.TraceHex());
  EXPECT_FALSE(p.UseEventWord());
  EXPECT_TRUE(p.PromptForPort());
  EXPECT_EQ(p.Tracing(), tlOff);
  EXPECT_EQ(p.Logging(), tlOff);
}

// Every button but "Cek Modem" leaves a closed port closed: nothing goes out
// and nothing on the window changes.
TEST(PrepForm, StepButtonsOnAClosedPortDoNothing) {
  PrepBench bench(1, 8);  // a modem where the port would open
  UiForm& f = bench.Window().Form();
  for (const StepRow& s : kSteps) {
    if (s.button == &UiForm::btnCekModem) continue;
    (f.*s.button)->click();
  }
  Pump(100);
  EXPECT_FALSE(bench.Window().comVorel1->Open());
  EXPECT_EQ(bench.Modem().Transcript().HostText(), "");
  EXPECT_EQ(f.lstFunc->count(), 0);
  EXPECT_EQ(ReplyType, rtNone);
  for (const StepRow& s : kSteps) {
    EXPECT_EQ((f.*s.status)->text(), "NOT OK");
    EXPECT_EQ(StaticTextColor(f.*s.status), clRed);
  }
  EXPECT_TRUE(bench.central.messages.empty());
  EXPECT_TRUE(bench.dialogs.asked.empty());
}

TEST(PrepForm, LogListIsClearedAtItsLimit) {
  PrepBench bench;
  TfzInitModem& w = bench.Window();
  QListWidget* list = w.Form().lstFunc;
  for (int i = 1; i <= 100; ++i) w.AddFuncLog("line " + std::to_string(i));
  ASSERT_EQ(list->count(), 100);
  EXPECT_EQ(list->currentRow(), 99);
  w.AddFuncLog("line 101");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "line 101");
  EXPECT_EQ(list->currentRow(), 0);
}

// Closing asks; No keeps the window and its open port, Yes closes the window
// and the port goes with it. Nothing is written anywhere.
TEST(PrepForm, ClosingAsksAndWritesNothing) {
  QTemporaryDir cwd;
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(cwd.path()));
  {
    PrepBench bench;
    TfzInitModem& w = bench.Window();
    w.show();
    bench.SetPort("5");
    ASSERT_TRUE(w.comVorel1->Open());
    ASSERT_TRUE(bench.WaitModemReady());

    bench.dialogs.answers = {TModalResult::No};
    w.Form().btnKeluar->click();
    ASSERT_EQ(bench.dialogs.asked.size(), 1u);
    EXPECT_EQ(bench.dialogs.asked[0].text, "ANDA YAKIN AKAN MENUTUP APLIKASI INI?");
    EXPECT_TRUE(bench.dialogs.asked[0].yesNo);
    EXPECT_EQ(bench.dialogs.asked[0].type, TMsgDlgType::Confirmation);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.comVorel1->Open());

    bench.dialogs.answers = {TModalResult::Yes};
    EXPECT_TRUE(w.close());  // the close box runs the same question
    EXPECT_EQ(bench.dialogs.asked.size(), 2u);
    EXPECT_FALSE(w.isVisible());
    bench.window.reset();
    EXPECT_TRUE(bench.Modem().WaitFor([](const modemsim::ModemStatus& s) { return !s.hostPresent; }, 5000ms));
  }
  EXPECT_TRUE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
  QDir::setCurrent(before);
}

// Texts that do not convert, and numbers no port or line can take, are
// refused before the port is touched; the central handler says why.
TEST(PrepForm, SetRefusesTextsThatAreNoPortOrBaud) {
  struct Row {
    const char* port;
    const char* baud;
    const char* message;
  };
  const Row rows[] = {
      {"abc", "115200", "'abc' is not a valid integer value"},
      {"5", "fast", "'fast' is not a valid integer value"},
      {"", "115200", "'' is not a valid integer value"},
      {"-1", "115200", "COM-1 is not a port number (0 to 255)"},
      {"256", "115200", "COM256 is not a port number (0 to 255)"},
      {"65541", "115200", "COM65541 is not a port number (0 to 255)"},  // would wrap round to COM5
      {"5", "0", "0 is not a baud rate"},
      {"5", "-9600", "-9600 is not a baud rate"},
  };
  PrepBench bench(2, 5);
  TfzInitModem& w = bench.Window();
  bench.SetPort("6");
  ASSERT_TRUE(w.comVorel1->Open());
  ASSERT_TRUE(bench.central.messages.empty()) << bench.central.messages[0].toStdString();
  ShowStepStatus(w.Form().lCekModem, "OK", clLime);
  for (const Row& r : rows) {
    bench.central.messages.clear();
    bench.SetPort(r.port, r.baud);
    ASSERT_EQ(bench.central.messages.size(), 1u) << r.port << " " << r.baud;
    EXPECT_EQ(bench.central.messages[0], r.message);
    EXPECT_TRUE(w.comVorel1->Open());
    EXPECT_EQ(w.comVorel1->ComNumber(), 6);
    EXPECT_EQ(w.comVorel1->Baud(), 115200);
    EXPECT_EQ(w.PortNumber, 6);
    EXPECT_EQ(w.Form().lCekModem->text(), "OK");
  }
  EXPECT_FALSE(bench.Modem(0).Status().hostPresent);
}
