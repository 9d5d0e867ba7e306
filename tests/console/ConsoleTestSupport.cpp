#include "ConsoleTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TApplication.h"

namespace corvane::test {

bool WaitUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!pred()) {
    if (clock.elapsed() > ms) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    usleep(2000);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    usleep(2000);
  }
}

TFakeModemEnd::TFakeModemEnd(const std::string& comDir, int comNumber) : com_(comNumber) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  termios tio{};
  tcgetattr(master_, &tio);
  cfmakeraw(&tio);
  tcsetattr(master_, TCSANOW, &tio);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  link_ = comDir + "/COM" + std::to_string(comNumber);
  if (symlink(ptsname(master_), link_.c_str()) != 0) throw std::runtime_error("cannot link " + link_);
}

TFakeModemEnd::~TFakeModemEnd() {
  unlink(link_.c_str());
  if (master_ >= 0) close(master_);
}

void TFakeModemEnd::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write failed");
  }
}

std::string TFakeModemEnd::ReadAvailable() {
  std::string got;
  char buf[512];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

TDialogRecorder::TDialogRecorder() {
  SetDialogHook([this](const TDialogRequest& r) {
    asked.push_back(r);
    if (!answers.empty()) {
      const TModalResult a = answers.front();
      answers.pop_front();
      return a;
    }
    return r.yesNo ? TModalResult::Yes : TModalResult::Ok;
  });
}

TDialogRecorder::~TDialogRecorder() { SetDialogHook({}); }

bool TDialogRecorder::AnyContains(const QString& text) const {
  for (const auto& r : asked)
    if (r.text.contains(text)) return true;
  return false;
}

TCentralRecorder::TCentralRecorder() {
  TApplication::SetMessageHook([this](const QString& m) { messages.push_back(m); });
}

TCentralRecorder::~TCentralRecorder() { TApplication::SetMessageHook({}); }

TConsoleFolder::TConsoleFolder() {
  if (!program_.isValid() || !com_.isValid()) throw std::runtime_error("no temporary folder");
  setenv("CORVANE_COM_DIR", com_.path().toStdString().c_str(), 1);
}

std::string TConsoleFolder::Dir() const { return program_.path().toStdString() + "/"; }
std::string TConsoleFolder::ComDir() const { return com_.path().toStdString(); }

void TConsoleFolder::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream out(Dir() + name, std::ios::binary);
  out << bytes;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TConsoleFolder::ReadFile(const std::string& name) const { return ReadWholeFile(Dir() + name); }

bool TConsoleFolder::Exists(const std::string& name) const { return access((Dir() + name).c_str(), F_OK) == 0; }

TFakeModemEnd& TConsoleFolder::AddModem(int comNumber) {
  auto& slot = modems_[comNumber];
  slot = std::make_unique<TFakeModemEnd>(ComDir(), comNumber);
  return *slot;
}

}  // namespace corvane::test
