// Takes the picture of the preparation tool for the docs:
//   xvfb-run -s "-screen 0 1024x768x24" prep_screenshot docs/prep.png
// The tool is shown after a run against a simulated modem on COM5: the modem
// checked, its reports and SIM Toolkit switched on and reset, one step failed.
#include <QCoreApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QThread>

#include <cstdio>
#include <cstdlib>

#include "ComDir.h"
#include "ModemBank.h"
#include "TApplication.h"
#include "ui_TfzInitModem.h"
#include "uzInitModemV4.h"

namespace {

void Settle(int ms) {
  for (int i = 0; i < ms / 10; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <picture.png>\n", argv[0]);
    return 2;
  }
  TApplication app(argc, argv);
  corvane::testsupport::ComDir comDir("corvane-prep-shot");
  modemsim::BankOptions o;
  o.firstCom = 5;
  o.comDir = comDir.Path();
  o.scenario = modemsim::Scenario::Parse(
      "[modem]\nrestart_ms = 100\nsim_init_ms = 20\ncard = A\n[card A]\n"
      "[fault cfg]\ncommand = AT+STSF=2\nreply = error\n");
  modemsim::ModemBank bank(std::move(o));

  corvane::prep::TfzInitModem window(corvane::prep::TPrepFormOptions{.limitInstances = false});
  Ui::TfzInitModem& f = window.Form();
  window.show();
  f.ePort->setText(QStringLiteral("5"));
  f.btnSetPort1->click();
  Settle(300);
  for (QPushButton* b : {f.btnCekModem, f.btnStatusKartu, f.btnConfigure, f.btnActivateSTK, f.btnResetModem}) {
    b->click();
    Settle(b == f.btnResetModem ? 600 : 200);
  }
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
