#include "TApplication.h"

#include <QMessageBox>

#include "CentralHandler.h"

namespace {

TApplication::MessageHook& Hook() {
  static TApplication::MessageHook hook;
  return hook;
}

void CentralHandlerEntry(std::exception_ptr e) noexcept { TApplication::HandleException(e); }

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  platform::InstallCentralExceptionHandler(&CentralHandlerEntry);
}

TApplication::~TApplication() {
  // Only take our own entry out: a test may have installed another one.
  platform::CentralExceptionHandler expected = &CentralHandlerEntry;
  platform::CentralExceptionSlot().compare_exchange_strong(expected, nullptr);
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

void TApplication::ShowMessage(const QString& message) {
  if (Hook()) {
    Hook()(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), message, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
