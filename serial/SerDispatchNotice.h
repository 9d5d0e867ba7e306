#pragma once
// How a notice crosses from a dispatcher's dispatch thread to the thread that
// handles it (the GUI thread, through the port's hidden window).
//
// The dispatch thread makes a TNoticeTicket for each receiver, hands it over
// with INoticeReceiver::PostNotice and waits for it, holding no lock, at most
// the notice time-out (3000 ms). The receiving thread, when it gets to the
// ticket, calls Run(handler) (or Begin/Complete itself):
//   - Begin() true: the handler runs now; inside a bytes-available notice
//     TakeChar reads ahead without consuming. Complete() when it returns
//     (also after an exception); the dispatcher then consumes what it read.
//   - Begin() false: the dispatch thread gave up (time-out) or the port
//     cancelled it: do not run the handler; the bytes are offered again.
//   - Cancel(): the receiver cannot run it (its window is gone); the dispatch
//     thread stops waiting at once and offers the bytes again later.
// A handler still running when the time-out passes is abandoned: what it read
// so far counts as taken at that moment and its further reads are ordinary
// reads, so no byte is handed out twice or skipped. The same holds between
// Complete() and the moment the dispatch thread wakes up: a read made then
// takes the bytes after those the handler read (TBaseDispatcher::TakeChar).
//
// Tickets are shared: the receiver may keep one after the port has gone;
// every call on it stays safe and does nothing to the dispatcher. The state
// is one atomic, so asking for it (as every read does) takes no lock.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

namespace serial {

// Notice messages (window message numbers of the port window).
enum : uint16_t {
  MsgTriggerAvail = 0x7E01,   // wParam: unread bytes offered
  MsgTriggerData = 0x7E02,
  MsgTriggerTimer = 0x7E03,
  MsgTriggerStatus = 0x7E04,
  // The device went away (hang-up, unplugged modem): once per open, after
  // the notices of every byte read before it. wParam 0.
  MsgDeviceLost = 0x7E05,
  MsgPortOpened = 0x7E08,
  MsgPortClosed = 0x7E09,
  MsgClosePending = 0x7E0A,
};

class TNoticeTicket {
 public:
  enum class State {
    Pending,    // handed over, the handler has not started
    Running,    // Begin() succeeded, the handler runs
    Done,       // Complete() after Running
    Cancelled,  // Cancel() before Begin, or the port cancelled it
    TimedOut,   // the dispatch thread gave up before Begin
    Abandoned,  // the dispatch thread gave up while the handler ran
  };

  TNoticeTicket(uint16_t msg, uint32_t wParam, uint32_t lParam)
      : msg_(msg), wParam_(wParam), lParam_(lParam) {}

  uint16_t Msg() const { return msg_; }
  uint32_t WParam() const { return wParam_; }
  // Dispatcher handle in the high 16 bits, the notice's data in the low 16.
  uint32_t LParam() const { return lParam_; }
  uint16_t DispatcherHandle() const { return static_cast<uint16_t>(lParam_ >> 16); }

  // Receiver side.
  bool Begin();
  void Complete();
  void Cancel();
  // Begin, run handler, Complete (also when the handler throws, which is
  // then rethrown). Returns false, without running it, when Begin refused.
  template <class Handler>
  bool Run(Handler&& handler) {
    if (!Begin()) return false;
    try {
      handler();
    } catch (...) {
      Complete();
      throw;
    }
    Complete();
    return true;
  }

  // Dispatch thread side.
  // Waits until the ticket is Done or Cancelled, at most timeout; returns
  // the state it then had.
  State WaitFor(std::chrono::milliseconds timeout);
  // Ends the wait for good: Pending becomes TimedOut, Running Abandoned.
  // Returns the final state.
  State Close();
  // Cancels a ticket that has not begun; true when it was Pending.
  bool CancelIfPending();

  State CurrentState() const { return state_.load(); }

 private:
  bool Move(State from, State to);
  void WakeWaiter();

  const uint16_t msg_;
  const uint32_t wParam_;
  const uint32_t lParam_;
  std::atomic<State> state_{State::Pending};
  // Only for WaitFor's sleep; the state itself is the atomic.
  std::mutex mutex_;
  std::condition_variable settled_;
};

class INoticeReceiver {
 public:
  virtual ~INoticeReceiver() = default;
  // Called on the dispatch thread with no dispatcher lock held. Hands the
  // ticket to the receiving thread (for the port window: posts it to the Qt
  // event loop) and returns at once. Must not block, must not take
  // PortListLock (the GUI thread may hold it while it joins this thread) and
  // must not call into the dispatcher. False when the ticket cannot be handed on (the receiver
  // is gone); the dispatcher then treats it as cancelled.
  virtual bool PostNotice(std::shared_ptr<TNoticeTicket> ticket) = 0;
};

}  // namespace serial
