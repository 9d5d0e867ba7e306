#pragma once
// The port window: the hidden receiver of one open port's notices on the
// thread that opened the port (the GUI thread).
//
// What a caller may rely on:
// - The dispatch thread hands each notice over with a ticket (see
//   SerDispatchNotice.h); the window posts it to the Qt event loop as a
//   TNoticeEvent and returns at once. The dispatch thread waits on the ticket
//   at most the notice time-out; nothing here blocks it or pumps messages.
// - PortWindowProc runs on the GUI thread, holds PortListLock for the handler
//   call, fires the port's events and catches every exception (shown by the
//   central handler on the main thread, dropped elsewhere).
// - HandlerDepth counts this port's handlers on the stack; ReadsInsideHandler
//   tells the handler's own reads (which read ahead) from those of a nested
//   event loop it runs (which consume at once). A close only waits
//   (MsgClosePending) while it is above 0, and completes once it is 0 again,
//   also when the completion arrives inside a handler's nested event loop.
// - A notice that reaches a port which is no longer open is cancelled, never
//   handed to its handler.
// - The window is deleted with deleteLater when it is retired from inside its
//   own event handling, directly otherwise. When the port is destroyed from
//   inside its own handler, the window takes the dispatcher over and frees it
//   once the handler has returned, without touching the port.
#include <QEvent>
#include <QObject>
#include <QThread>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "SerDispatch.h"

class TCustomComPort;

// A notice of the dispatch thread, as posted to the port window.
class TNoticeEvent : public QEvent {
 public:
  explicit TNoticeEvent(std::shared_ptr<serial::TNoticeTicket> ticket);
  static QEvent::Type Kind();
  const std::shared_ptr<serial::TNoticeTicket>& Ticket() const { return ticket_; }

 private:
  std::shared_ptr<serial::TNoticeTicket> ticket_;
};

// MsgClosePending, posted by the component to its own window.
class TClosePendingEvent : public QEvent {
 public:
  explicit TClosePendingEvent(uint32_t lParam);
  static QEvent::Type Kind();
  uint32_t LParam() const { return lParam_; }

 private:
  uint32_t lParam_;
};

// MsgPortOpened / MsgPortClosed as a port listener's window receives them.
class TPortListenerEvent : public QEvent {
 public:
  explicit TPortListenerEvent(uint16_t msg);
  static QEvent::Type Kind();
  uint16_t Msg() const { return msg_; }

 private:
  uint16_t msg_;
};

class TPortWindow : public QObject {
 public:
  TPortWindow(TCustomComPort* port, serial::TBaseDispatcher* dispatcher);
  ~TPortWindow() override;

  // The receiver to register with the dispatcher; safe to call on after the
  // window is gone (posts are then refused).
  std::shared_ptr<serial::INoticeReceiver> Receiver() const;

  int HandlerDepth() const { return depth_; }
  // True when the code running now is the innermost notice handler of this
  // port itself, not something its nested event loop (a modal question) has
  // run meanwhile, such as a timer: only such reads may read ahead. A handler
  // that pumps with processEvents() instead of an event loop is not told
  // apart from what it pumps.
  // Asked once per byte read.
  bool ReadsInsideHandler() const {
    // A modal question inside the handler runs its own event loop: whatever
    // that loop dispatches runs one level deeper than the handler began.
    return !handlerLoopLevels_.empty() && handlerLoopLevels_.back() == gui_->loopLevel();
  }

  // Posts MsgClosePending to this window (GUI thread).
  void PostClosePending(uint32_t lParam);
  // Cancels every notice posted to this window whose handler has not begun.
  void CancelOutstanding();
  // The port is done with this window: no further call reaches the port.
  void Retire();
  // The port is being destroyed while its close is deferred: the window frees
  // the dispatcher when no handler is on the stack any more.
  void TakeOverRelease(std::unique_ptr<serial::TBaseDispatcher> dispatcher);

 protected:
  bool event(QEvent* e) override;

 private:
  class TMailbox;

  void PortWindowProc(const std::shared_ptr<serial::TNoticeTicket>& ticket);
  void FireEvents(uint16_t msg, uint32_t wParam, uint32_t lParam);
  void ClosePendingProc(uint32_t lParam);
  void LeaveHandler();
  void FinishTakenOverRelease();
  void DeleteSafely();
  static void ShowOnMainThread(std::exception_ptr e);

  TCustomComPort* port_;
  serial::TBaseDispatcher* dispatcher_;  // identity only: the port owns it
  QThread* const gui_;                   // the thread the port was opened on
  std::unique_ptr<serial::TBaseDispatcher> takenOver_;
  std::shared_ptr<TMailbox> mailbox_;
  int depth_ = 0;          // this port's handlers on the stack
  std::vector<int> handlerLoopLevels_;  // event-loop level each notice handler began at
  int inEvent_ = 0;        // event() calls of this window on the stack
  bool completionDue_ = false;
  uint32_t closeLParam_ = 0;
  bool retired_ = false;
};
