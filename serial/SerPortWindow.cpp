#include "SerPortWindow.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

#include "SerPort.h"
#include "qt/CentralHandler.h"

namespace {

QEvent::Type RegisteredType() { return static_cast<QEvent::Type>(QEvent::registerEventType()); }

}  // namespace

TNoticeEvent::TNoticeEvent(std::shared_ptr<serial::TNoticeTicket> ticket)
    : QEvent(Kind()), ticket_(std::move(ticket)) {}

QEvent::Type TNoticeEvent::Kind() {
  static const QEvent::Type kind = RegisteredType();
  return kind;
}

TClosePendingEvent::TClosePendingEvent(uint32_t lParam) : QEvent(Kind()), lParam_(lParam) {}

QEvent::Type TClosePendingEvent::Kind() {
  static const QEvent::Type kind = RegisteredType();
  return kind;
}

TPortListenerEvent::TPortListenerEvent(uint16_t msg) : QEvent(Kind()), msg_(msg) {}

QEvent::Type TPortListenerEvent::Kind() {
  static const QEvent::Type kind = RegisteredType();
  return kind;
}

// The receiver the dispatcher holds. It outlives the window when the
// dispatch thread still has it, so posting goes through a lock and a pointer
// that the window clears as it goes.
class TPortWindow::TMailbox : public serial::INoticeReceiver {
 public:
  explicit TMailbox(TPortWindow* window) : window_(window) {}

  bool PostNotice(std::shared_ptr<serial::TNoticeTicket> ticket) override {
    std::lock_guard lock(mutex_);
    if (!window_) return false;
    std::erase_if(outstanding_, [](const std::weak_ptr<serial::TNoticeTicket>& t) {
      auto held = t.lock();
      return !held || held->CurrentState() != serial::TNoticeTicket::State::Pending;
    });
    outstanding_.push_back(ticket);
    QCoreApplication::postEvent(window_, new TNoticeEvent(std::move(ticket)));
    return true;
  }

  void Detach() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
  }

  void CancelOutstanding() {
    std::vector<std::weak_ptr<serial::TNoticeTicket>> tickets;
    {
      std::lock_guard lock(mutex_);
      tickets.swap(outstanding_);
    }
    for (auto& weak : tickets) {
      // Begin happens on this (the GUI) thread, so a ticket seen pending here
      // cannot start before the cancel.
      if (auto t = weak.lock(); t && t->CurrentState() == serial::TNoticeTicket::State::Pending) t->Cancel();
    }
  }

 private:
  std::mutex mutex_;
  TPortWindow* window_;
  std::vector<std::weak_ptr<serial::TNoticeTicket>> outstanding_;
};

TPortWindow::TPortWindow(TCustomComPort* port, serial::TBaseDispatcher* dispatcher)
    : port_(port), dispatcher_(dispatcher), gui_(QThread::currentThread()), mailbox_(std::make_shared<TMailbox>(this)) {}

TPortWindow::~TPortWindow() {
  mailbox_->Detach();
  mailbox_->CancelOutstanding();
  if (takenOver_) {
    takenOver_->RemoveWindowHandler(mailbox_.get());
    takenOver_.reset();
  }
}

std::shared_ptr<serial::INoticeReceiver> TPortWindow::Receiver() const { return mailbox_; }

void TPortWindow::PostClosePending(uint32_t lParam) {
  closeLParam_ = lParam;
  QCoreApplication::postEvent(this, new TClosePendingEvent(lParam));
}

void TPortWindow::CancelOutstanding() { mailbox_->CancelOutstanding(); }

void TPortWindow::Retire() {
  port_ = nullptr;
  retired_ = true;
  mailbox_->Detach();
  mailbox_->CancelOutstanding();
  DeleteSafely();
}

void TPortWindow::TakeOverRelease(std::unique_ptr<serial::TBaseDispatcher> dispatcher) {
  port_ = nullptr;
  takenOver_ = std::move(dispatcher);
  mailbox_->Detach();
  mailbox_->CancelOutstanding();
}

void TPortWindow::DeleteSafely() {
  if (inEvent_ > 0)
    deleteLater();
  else
    delete this;
}

bool TPortWindow::event(QEvent* e) {
  const QEvent::Type type = e->type();
  if (type != TNoticeEvent::Kind() && type != TClosePendingEvent::Kind()) return QObject::event(e);
  ++inEvent_;
  if (type == TNoticeEvent::Kind())
    PortWindowProc(static_cast<TNoticeEvent*>(e)->Ticket());
  else
    ClosePendingProc(static_cast<TClosePendingEvent*>(e)->LParam());
  --inEvent_;
  return true;
}

void TPortWindow::ShowOnMainThread(std::exception_ptr e) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app && QThread::currentThread() == app->thread()) platform::ShowExceptionCentrally(e);
}

void TPortWindow::PortWindowProc(const std::shared_ptr<serial::TNoticeTicket>& ticket) {
  // A port that is closing or closed takes no notice: its handler would read
  // nothing but NUL bytes.
  if (retired_ || !port_ || port_->PortState() != psOpen) {
    ticket->Cancel();
    return;
  }
  std::exception_ptr failure;
  {
    std::lock_guard lock(serial::PortListLock());
    if (serial::FindDispatcherLocked(ticket->DispatcherHandle()) != dispatcher_) {
      ticket->Cancel();
      return;
    }
    ++depth_;
    handlerLoopLevels_.push_back(gui_->loopLevel());
    try {
      ticket->Run([&] { FireEvents(ticket->Msg(), ticket->WParam(), ticket->LParam()); });
    } catch (...) {
      failure = std::current_exception();
    }
    handlerLoopLevels_.pop_back();
    LeaveHandler();
  }
  if (failure) ShowOnMainThread(failure);
}

void TPortWindow::FireEvents(uint16_t msg, uint32_t wParam, uint32_t lParam) {
  auto value = static_cast<uint16_t>(wParam & 0xFFFF);
  if (msg == MsgTriggerAvail) {
    // An ordinary read (a timer, a handler whose own delivery had timed out)
    // may have taken bytes since the notice was raised; the dispatch thread
    // adds none while it waits. Offer what is there, so that a handler that
    // reads TriggerHandle bytes never runs dry.
    value = static_cast<uint16_t>(std::min<uint32_t>(value, dispatcher_->UnreadCount()));
    if (value == 0) return;
  }
  const auto data = msg == MsgTriggerAvail ? value : static_cast<uint16_t>(lParam & 0xFFFF);
  port_->DoTrigger(msg, value, data);
  // Each event may destroy the port; stop as soon as it has.
  if (!port_) return;
  switch (msg) {
    case MsgTriggerAvail: port_->DoTriggerAvail(value); break;
    case MsgTriggerData: port_->DoTriggerData(value); break;
    case MsgTriggerTimer: port_->DoTriggerTimer(value); break;
    case MsgDeviceLost: port_->DoTriggerDeviceLost(); break;
    case MsgTriggerStatus: {
      port_->DoTriggerStatus(value);
      if (!port_) return;
      switch (value & 7) {
        case 1: port_->DoTriggerModemStatus(); break;
        case 2: {
          const bool lineBreak = port_->ReadLineBreak();
          const uint16_t error = port_->ReadLineError();
          port_->DoTriggerLineError(error, lineBreak);
          break;
        }
        case 3: port_->DoTriggerOutbuffFree(); break;
        case 4: port_->DoTriggerOutbuffUsed(); break;
        case 5: port_->DoTriggerOutSent(); break;
        default: break;
      }
      break;
    }
    default: break;
  }
}

void TPortWindow::LeaveHandler() {
  --depth_;
  if (depth_ == 0 && completionDue_) {
    // The completion came while a handler was still on the stack (a nested
    // event loop); it runs as its own event now that none is.
    completionDue_ = false;
    QCoreApplication::postEvent(this, new TClosePendingEvent(closeLParam_));
  }
}

void TPortWindow::ClosePendingProc(uint32_t lParam) {
  if (depth_ > 0) {
    completionDue_ = true;
    closeLParam_ = lParam;
    return;
  }
  if (!port_) {
    if (takenOver_) FinishTakenOverRelease();
    return;
  }
  if (port_->PortState() != psClosing) return;
  std::exception_ptr failure;
  {
    std::lock_guard lock(serial::PortListLock());
    ++depth_;
    try {
      port_->DoTrigger(MsgClosePending, 0, static_cast<uint16_t>(lParam & 0xFFFF));
    } catch (...) {
      failure = std::current_exception();
    }
    --depth_;
    completionDue_ = false;
    if (!port_) {
      // The handler destroyed the port; the window has the dispatcher now.
      if (takenOver_) FinishTakenOverRelease();
    } else {
      try {
        port_->CompleteDeferredClose();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
  }
  if (failure) ShowOnMainThread(failure);
}

void TPortWindow::FinishTakenOverRelease() {
  takenOver_->RemoveWindowHandler(mailbox_.get());
  takenOver_.reset();  // joins the worker threads; nothing waits on a ticket of ours
  retired_ = true;
  DeleteSafely();
}
