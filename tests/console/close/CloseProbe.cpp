// The console (or, built with CLOSE_PROBE_PREP, the preparation tool) as its
// main() runs it, with a driver that plays the operator from inside the
// process: commands arrive on stdin, one per line, and each is answered on
// stdout.
//   (start)          -> "ready" once the event loop runs
//   on [com]         the console ticks "ON ALL"; the tool opens COM<com> by
//                    "Set" and "Cek Modem" -> "on <ports open>"
//   close keluar     presses the "&Keluar" button
//   close window     closes the window as the window system's close box does
//                    -> "answered" when the close question is up, just before
//                    its Yes button is pressed
//   pool             leaves a pooled thread that never ends -> "pool"
//   exit <code>      calls exit(code) with the window open
// The test build only: the programs themselves have no such driver.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "ProcessEnd.h"
#include "SerPort.h"
#include "SerSelect.h"
#include "TApplication.h"

#ifdef CLOSE_PROBE_PREP
#include "ui_TfzInitModem.h"
#include "uzInitModemV4.h"
using ProbeWindow = corvane::prep::TfzInitModem;
constexpr const char* kProgramName = "CorvanePrepCloseProbe";
#else
#include "ui_TfzCorvaneV4.h"
#include "uzCorvaneV4.h"
using ProbeWindow = corvane::TfzCorvaneV4;
constexpr const char* kProgramName = "CorvaneCloseProbe";
#endif

namespace {

void Reply(const std::string& text) {
  const std::string line = text + "\n";
  (void)!::write(STDOUT_FILENO, line.data(), line.size());
}

class Driver : public QObject {
 public:
  explicit Driver(ProbeWindow& window) : window_(window), input_(STDIN_FILENO, QSocketNotifier::Read) {
    connect(&input_, &QSocketNotifier::activated, this, [this] { ReadInput(); });
    answer_.setInterval(10);
    connect(&answer_, &QTimer::timeout, this, [this] { AnswerCloseQuestion(); });
    QTimer::singleShot(0, this, [] { Reply("ready"); });
  }

 private:
  void ReadInput() {
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) ::_exit(125);  // the test has gone: do not linger
    partial_.append(buf, std::size_t(n));
    for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
      const std::string command = partial_.substr(0, nl);
      partial_.erase(0, nl + 1);
      Run(command);
    }
  }

  void Run(const std::string& command) {
    if (command.rfind("on", 0) == 0) {
      Reply("on " + std::to_string(SwitchOn(command.size() > 3 ? command.substr(3) : std::string())));
    } else if (command == "close keluar" || command == "close window") {
      answer_.start();
      if (command == "close keluar") window_.Form().btnKeluar->click();
      else window_.windowHandle()->close();
    } else if (command == "pool") {
      QThreadPool::globalInstance()->start([] {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
      });
      Reply("pool");
    } else if (command.rfind("exit ", 0) == 0) {
      std::exit(std::atoi(command.c_str() + 5));
    }
  }

#ifdef CLOSE_PROBE_PREP
  int SwitchOn(const std::string& com) {
    window_.Form().ePort->setText(QString::fromStdString(com));
    window_.Form().btnSetPort1->click();
    window_.Form().btnCekModem->click();
    return window_.comVorel1->Open() ? 1 : 0;
  }
#else
  int SwitchOn(const std::string&) {
    window_.Form().ckOn_All->setChecked(true);
    int open = 0;
    for (int n = 1; n <= corvane::LineCount; ++n) open += window_.Line(n).comVorel->Open() ? 1 : 0;
    return open;
  }
#endif

  // The close question, answered as the operator answers it: the box's own
  // Yes button.
  void AnswerCloseQuestion() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box->text() != QStringLiteral("ANDA YAKIN AKAN MENUTUP APLIKASI INI?")) return;
    answer_.stop();
    Reply("answered");
    box->button(QMessageBox::Yes)->click();
  }

  ProbeWindow& window_;
  QSocketNotifier input_;
  QTimer answer_;
  std::string partial_;
};

}  // namespace

int main(int argc, char** argv) {
  platform::InstallEndLog(kProgramName);
  TApplication app(argc, argv);
  TApplication::setApplicationName(QString::fromLatin1(kProgramName));
  InstallComSelectForm();
  ProbeWindow window;
  Driver driver(window);
  return TApplication::RunMainWindow(window, window.Refused());
}
