// serial_echo DEVICE...
//
// Opens each device with TComPort as the programs configure their ports
// (115200 8N1; no flow control for this measurement), prints READY once every
// port is open, and writes every received byte back unchanged from its
// OnTrigger handler with ReceiveChar/SendString. It reads fewer bytes than
// offered when the output ring lacks room, so nothing is dropped, and picks
// the rest up as room frees. Exits when every port has hung up.
#include <unistd.h>

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SerPort.h"
#include "TApplication.h"

namespace {

// One port and what it does with its bytes.
class EchoLine {
 public:
  EchoLine(QObject* owner, uint16_t com) : port_(new TComPort(owner)) {
    port_->BeginLoading();
    port_->SetComNumber(com);
    port_->SetBaud(115200);
    port_->SetAutoOpen(false);
    port_->SetRTS(false);
    port_->SetBufferFull(3072);
    port_->SetBufferResume(1024);
    port_->SetTraceHex(false);
    port_->SetUseEventWord(false);
    port_->SetOnTrigger([this](QObject*, uint16_t msg, uint16_t count, uint16_t) {
      if (msg == MsgTriggerAvail) Echo(count, true);
    });
    port_->EndLoading();
    // Bytes left unread because the output ring was full: taken up again as
    // the output drains. Runs only while such bytes wait.
    drain_.setInterval(2);
    QObject::connect(&drain_, &QTimer::timeout, [this] { Echo(port_->Dispatcher()->UnreadCount(false), false); });
  }

  void Open() { port_->SetOpen(true); }
  bool HungUp() const { return port_->PortState() != psOpen || port_->Dispatcher()->DeviceLost(); }

 private:
  // inHandler: called from the port's own handler, whose reads read ahead.
  void Echo(uint32_t offered, bool inHandler) {
    serial::TBaseDispatcher* d = port_->Dispatcher();
    const uint32_t n = std::min(offered, d->OutputFree());
    buffer_.resize(n);
    for (uint32_t i = 0; i < n; ++i) buffer_[i] = port_->ReceiveChar();
    if (n > 0) port_->SendString(buffer_);
    if (n < offered || d->UnreadCount(inHandler) > 0) {
      if (!drain_.isActive()) drain_.start();
    } else {
      drain_.stop();
    }
  }

  TComPort* port_;
  std::string buffer_;
  QTimer drain_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DEVICE...\n", argv[0]);
    return 2;
  }
  // COM numbers for the devices, through a folder of our own.
  char folder[] = "/tmp/serial-echo-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("mkdtemp");
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::filesystem::create_symlink(std::filesystem::absolute(argv[i]), std::string(folder) + "/COM" + std::to_string(i), ec);
    if (ec) {
      std::fprintf(stderr, "%s: %s\n", argv[i], ec.message().c_str());
      return 1;
    }
  }
  setenv("CORVANE_COM_DIR", folder, 1);

  int qtArgc = 1;
  TApplication app(qtArgc, argv);
  // No one is there to click a message box away: what the central handler
  // would show goes to stderr.
  TApplication::SetMessageHook([](const QString& m) { std::fprintf(stderr, "serial_echo: %s\n", m.toUtf8().constData()); });
  QObject window;
  std::vector<std::unique_ptr<EchoLine>> lines;
  int status = 0;
  try {
    for (int i = 1; i < argc; ++i) {
      lines.push_back(std::make_unique<EchoLine>(&window, static_cast<uint16_t>(i)));
      lines.back()->Open();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "open: %s\n", e.what());
    status = 1;
  }
  std::filesystem::remove_all(folder);
  if (status != 0) return status;
  std::printf("READY\n");
  std::fflush(stdout);

  // A hang-up is seen by the dispatcher's own passes; looking at it twice a
  // second costs nothing measurable.
  QTimer hangup;
  QObject::connect(&hangup, &QTimer::timeout, [&] {
    if (std::all_of(lines.begin(), lines.end(), [](const auto& l) { return l->HungUp(); })) app.quit();
  });
  hangup.start(500);
  app.exec();
  lines.clear();
  return 0;
}
