#include "TApplication.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include <cstdio>

#include "CentralHandler.h"
#include "IniFile.h"
#include "ProcessEnd.h"

namespace {

// The window RunMainWindow runs, and whether it has reported its close.
QPointer<QWidget>& RunningWindow() {
  static QPointer<QWidget> window;
  return window;
}
bool gMainWindowClosed = false;

// One line on stderr, named as the end log names the process.
void LogLine(const char* text) noexcept {
  std::fprintf(stderr, "%s%s\n", platform::EndLogPrefix(), text ? text : "");
  std::fflush(stderr);
}

void IniNoticeEntry(const std::string& text) {
  LogLine(text.c_str());
  TApplication::ShowWarningLater(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

TApplication::MessageHook& Hook() {
  static TApplication::MessageHook hook;
  return hook;
}

void CentralHandlerEntry(std::exception_ptr e) noexcept { TApplication::HandleException(e); }

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  platform::InstallCentralExceptionHandler(&CentralHandlerEntry);
  platform::SetIniNoticeHandler(&IniNoticeEntry);
}

TApplication::~TApplication() {
  // Only take our own entries out: a test may have installed others.
  platform::CentralExceptionHandler expected = &CentralHandlerEntry;
  platform::CentralExceptionSlot().compare_exchange_strong(expected, nullptr);
  platform::IniNoticeHandler previous = platform::SetIniNoticeHandler(nullptr);
  if (previous != &IniNoticeEntry) platform::SetIniNoticeHandler(previous);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException(std::current_exception());
    return false;
  }
}

QString TApplication::MessageOf(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return QString::fromUtf8(ex.what());
  } catch (...) {
    return QStringLiteral("Unknown exception");
  }
}

void TApplication::HandleException(std::exception_ptr e) noexcept {
  if (!e) return;
  try {
    ShowMessage(MessageOf(e));
  } catch (...) {
    // Showing failed (out of memory, a throwing hook): nothing sensible is
    // left to do, and the event loop must keep running.
  }
}

TApplication::MessageHook TApplication::SetMessageHook(MessageHook hook) {
  MessageHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

int TApplication::RunMainWindow(QWidget& window, bool refused) {
  if (refused) {
    // The limiter has raised the running copy; this one ends unseen.
    platform::MarkOrderlyEnd();
    return 0;
  }
  // The program ends by its main window's confirmed close alone, not by
  // whichever window the toolkit happens to count as the last one.
  setQuitOnLastWindowClosed(false);
  RunningWindow() = &window;
  gMainWindowClosed = false;
  window.show();
  const int rc = exec();
  if (!gMainWindowClosed) {
    std::fprintf(stderr, "%sthe event loop ended (code %d) before the window was closed\n",
                 platform::EndLogPrefix(), rc);
    platform::ArmEndDeadline(kEndDeadline, rc);
  }
  RunningWindow() = nullptr;
  platform::MarkOrderlyEnd();
  return rc;
}

void TApplication::MainWindowClosed(const QWidget* window) noexcept {
  if (!window || RunningWindow() != window || gMainWindowClosed) return;
  gMainWindowClosed = true;
  platform::ArmEndDeadline(kEndDeadline, 0);
  QCoreApplication::exit(0);
}

void TApplication::CloseMainWindow(QWidget& window, QCloseEvent& event, bool& confirmed,
                                   const std::function<bool()>& ask, const std::function<void()>& end) {
  if (!confirmed && !ask()) {
    event.ignore();
    return;
  }
  event.accept();
  if (confirmed) return;
  confirmed = true;
  end();
  MainWindowClosed(&window);
}

void TApplication::LogEndFailure(const char* what) noexcept { LogLine(what); }

void TApplication::ShowWarningLater(const QString& message) {
  // Shown once the event loop runs: above the main window, and never by a
  // copy that the limiter ends before its loop starts.
  if (!qApp) return;
  QMetaObject::invokeMethod(
      qApp,
      [message] {
        try {
          ShowMessage(message, true);
        } catch (...) {
          // As in HandleException: the event loop must keep running.
        }
      },
      Qt::QueuedConnection);
}

void TApplication::ShowMessage(const QString& message, bool warning) {
  if (Hook()) {
    Hook()(message);
    return;
  }
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Critical, QApplication::applicationName(), message,
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
