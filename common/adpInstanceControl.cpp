#include "adpInstanceControl.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QWidget>

#include <sys/un.h>

#include <algorithm>

namespace {

TadpInstanceControl* gTheControl = nullptr;  // the one component of the process
bool gShowMainForm = true;

constexpr char kRaiseRequest[] = "raise\n";
constexpr int kRequestMaxBytes = 64;
// A refused copy waits this long at most for the registered copy to take its
// request; a copy that hangs must not keep the new one from ending.
constexpr int kRequestTimeoutMs = 1000;

QObject* RefuseSecondControl(QObject* owner) {
  if (gTheControl) throw EInstanceControl("Only one copy of this component can be dropped on a form!");
  return owner;
}

bool SocketPathFits(const std::string& path) { return path.size() < sizeof(sockaddr_un{}.sun_path); }

}  // namespace

TadpInstanceControl::TadpInstanceControl(QObject* owner) : QObject(RefuseSecondControl(owner)) {
  gTheControl = this;
}

TadpInstanceControl::~TadpInstanceControl() {
  if (gTheControl == this) gTheControl = nullptr;
  // The socket goes before the slot: once the slot is free, the next holder
  // owns the socket's name.
  if (server_) server_->close();
  slot_.Release();
}

bool TadpInstanceControl::ShowMainForm() noexcept { return gShowMainForm; }

void TadpInstanceControl::Loaded() {
  if (loaded_) return;
  loaded_ = true;
  if (!enabled_) return;
  const std::string program = platform::OwnProgramPath();
  if (program.empty()) return;  // nothing to count by: run uncounted
  mappingName_ = platform::InstanceKey(program);

  switch (platform::InstanceSlot::Take(mappingName_, std::max<std::uint32_t>(maxInstances_, 1), slot_)) {
    case platform::InstanceSlot::Outcome::Taken:
      // Listening first, so that a copy that reads the record finds the socket.
      ListenForRaiseRequests();
      slot_.RecordAsLast();
      break;
    case platform::InstanceSlot::Outcome::AllTaken: {
      counted_ = false;
      const std::string folder = platform::InstanceSlot::FolderFor(mappingName_);
      const auto last = platform::InstanceSlot::ReadLast(folder);
      ActivateLastInstance(last ? last->pid : 0,
                           last ? platform::InstanceSlot::SocketPath(folder, last->slot) : std::string());
      break;
    }
    case platform::InstanceSlot::Outcome::Unavailable:
      break;
  }
}

// ---------------------------------------------------------------- refused copy

void TadpInstanceControl::ActivateLastInstance(std::uint32_t lastPid, const std::string& socketPath) {
  gShowMainForm = false;
  KeepOwnerOffScreen();
  if (onMaxInstancesReached_) onMaxInstancesReached_(this, lastPid);

  // When the registered copy has ended meanwhile, nobody answers and nothing
  // is raised; this copy ends all the same.
  if (!socketPath.empty() && SocketPathFits(socketPath)) {
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(socketPath), QIODevice::WriteOnly);
    if (client.waitForConnected(kRequestTimeoutMs)) {
      client.write(kRaiseRequest, sizeof kRaiseRequest - 1);
      client.waitForBytesWritten(kRequestTimeoutMs);
      client.disconnectFromServer();
    }
  }

  // exit, not quit: quit would first send close events to the windows, and
  // the console's close handler asks and saves.
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void TadpInstanceControl::KeepOwnerOffScreen() {
  QWidget* w = OwnerWindow();
  if (!w) return;
  w->setAttribute(Qt::WA_DontShowOnScreen, true);
  w->hide();
  w->installEventFilter(this);
}

bool TadpInstanceControl::eventFilter(QObject* watched, QEvent* event) {
  if (!counted_ && event->type() == QEvent::Close && watched == OwnerWindow()) {
    event->ignore();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

QWidget* TadpInstanceControl::OwnerWindow() const {
  auto* w = qobject_cast<QWidget*>(parent());
  return w ? w->window() : nullptr;
}

// ---------------------------------------------------------------- registered copy

void TadpInstanceControl::ListenForRaiseRequests() {
  const std::string path = platform::InstanceSlot::SocketPath(slot_.Folder(), slot_.Number());
  if (!SocketPathFits(path)) return;  // the copy runs; it just cannot be raised
  const QString name = QString::fromStdString(path);
  // We hold the slot, so a socket file of that name is a dead copy's leftover.
  QLocalServer::removeServer(name);
  server_ = new QLocalServer(this);
  if (!server_->listen(name)) {
    delete server_;
    server_ = nullptr;
    return;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      connect(client, &QLocalSocket::readyRead, this, [this, client] { ReadRaiseRequest(client); });
      if (client->bytesAvailable() > 0) ReadRaiseRequest(client);
    }
  });
}

void TadpInstanceControl::ReadRaiseRequest(QLocalSocket* client) {
  if (!client->canReadLine()) {
    if (client->bytesAvailable() > kRequestMaxBytes) client->abort();
    return;
  }
  const QByteArray line = client->readLine(kRequestMaxBytes + 1);
  client->disconnectFromServer();
  if (line == kRaiseRequest) BringOwnerToFront();
}

void TadpInstanceControl::BringOwnerToFront() {
  if (QWidget* w = OwnerWindow()) {
    if (w->isMinimized()) {
      // Back to what it was before (a maximised window stays maximised).
      w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
      w->show();
    }
    w->raise();
    w->activateWindow();
    // Wayland compositors decide focus themselves; asking for attention is
    // what a client may do there.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) QApplication::alert(w);
  }
  emit RaiseRequested();
}
