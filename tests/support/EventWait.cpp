#include "EventWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <unistd.h>

namespace corvane::testsupport {

namespace {
void Spin(DeferredDeletes deletes) {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  if (deletes == DeferredDeletes::Run) QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  usleep(2000);
}
}  // namespace

bool WaitUntil(const std::function<bool()>& pred, int ms, DeferredDeletes deletes) {
  QElapsedTimer clock;
  clock.start();
  while (!pred()) {
    if (clock.elapsed() > ms) return pred();
    Spin(deletes);
  }
  return true;
}

void Pump(int ms, DeferredDeletes deletes) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) Spin(deletes);
}

}  // namespace corvane::testsupport
