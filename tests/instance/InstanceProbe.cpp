// A small program with a main window and the instance limiter, started many
// times by the limiter tests. It reports on stdout, one line each:
//   READY             before the load check (after --gate, it then waits)
//   ADMITTED / REFUSED / UNCOUNTED     the load check's verdict
//   REACHED <pid>     OnMaxInstancesReached with the registered copy's pid
//   CREATED           the window's creation handler ran
//   SHOWN / CLOSE     the window's show and close handlers ran
//   RAISED <min>      a refused copy asked us forward; <min> 1 if still minimised
//   EXIT <code>       the event loop returned
// Arguments: <MaxInstances> [--gate <file>] [--minimized] [--show-anyway].
// In a copy that runs, a line "quit" on stdin (or its end) closes the window
// as the operator would.
#include <QApplication>
#include <QCloseEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "adpInstanceControl.h"

namespace {

void Report(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

class ProbeWindow : public QWidget {
 public:
  explicit ProbeWindow(std::uint32_t maxInstances) {
    limiter = new TadpInstanceControl(this);
    limiter->SetMaxInstances(maxInstances);
    limiter->SetOnMaxInstancesReached(
        [](TadpInstanceControl*, std::uint32_t pid) { Report("REACHED " + std::to_string(pid)); });
    QObject::connect(limiter, &TadpInstanceControl::RaiseRequested, this,
                     [this] { Report(std::string("RAISED ") + (isMinimized() ? "1" : "0")); });
  }
  void FormCreate() { Report("CREATED"); }

  TadpInstanceControl* limiter;

 protected:
  void showEvent(QShowEvent*) override { Report("SHOWN"); }
  void closeEvent(QCloseEvent* e) override {
    Report("CLOSE");
    e->accept();
  }
};

void WaitForGate(const char* gate) {
  while (::access(gate, F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const std::uint32_t maxInstances = std::uint32_t(std::strtoul(argv[1], nullptr, 10));
  const char* gate = nullptr;
  bool minimized = false, showAnyway = false;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--gate") && i + 1 < argc) gate = argv[++i];
    if (!std::strcmp(argv[i], "--minimized")) minimized = true;
    if (!std::strcmp(argv[i], "--show-anyway")) showAnyway = true;
  }

  ProbeWindow w(maxInstances);
  Report("READY");
  if (gate) WaitForGate(gate);
  w.limiter->Loaded();  // as the form's loading does, before the creation handler
  Report(!w.limiter->Counted() ? "REFUSED" : w.limiter->HoldsSlot() ? "ADMITTED" : "UNCOUNTED");
  w.FormCreate();

  if (w.limiter->Counted()) {
    if (minimized) w.showMinimized();
    else w.show();
  } else if (showAnyway) {
    w.show();
  }

  // Only a running copy listens to the test; a refused one must end by itself.
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  input.setEnabled(w.limiter->Counted());
  QObject::connect(&input, &QSocketNotifier::activated, &w, [&] {
    char buf[64];
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0 || std::string(buf, std::size_t(n)).find("quit") != std::string::npos) {
      input.setEnabled(false);
      if (!w.close()) app.exit(3);
    }
  });
  const int rc = app.exec();
  Report("EXIT " + std::to_string(rc));
  return rc;
}
