#include "EventWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <unistd.h>

namespace corvane::testsupport {

namespace {
void Spin() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  usleep(2000);
}
}  // namespace

bool WaitUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!pred()) {
    if (clock.elapsed() > ms) return pred();
    Spin();
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) Spin();
}

}  // namespace corvane::testsupport
