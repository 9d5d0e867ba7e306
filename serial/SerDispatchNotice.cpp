// Bytes-available notices: the receivers, when a notice is due, and its
// delivery across to the receiving thread.
#include <algorithm>

#include "SerDispatch.h"

namespace serial {

// ---------------------------------------------------------------------------
// The ticket

bool TNoticeTicket::Move(State from, State to) { return state_.compare_exchange_strong(from, to); }

void TNoticeTicket::WakeWaiter() {
  // The waiter tests the state under the mutex: passing through it here
  // means it is either still to test or already asleep, never in between.
  { std::lock_guard lock(mutex_); }
  settled_.notify_all();
}

bool TNoticeTicket::Begin() { return Move(State::Pending, State::Running); }

void TNoticeTicket::Complete() {
  if (Move(State::Running, State::Done)) WakeWaiter();
}

void TNoticeTicket::Cancel() { CancelIfPending(); }

bool TNoticeTicket::CancelIfPending() {
  if (!Move(State::Pending, State::Cancelled)) return false;
  WakeWaiter();
  return true;
}

TNoticeTicket::State TNoticeTicket::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  settled_.wait_for(lock, timeout, [this] {
    const State s = state_.load();
    return s == State::Done || s == State::Cancelled;
  });
  return state_.load();
}

TNoticeTicket::State TNoticeTicket::Close() {
  if (Move(State::Pending, State::TimedOut)) return State::TimedOut;
  if (Move(State::Running, State::Abandoned)) return State::Abandoned;
  return state_.load();
}

// ---------------------------------------------------------------------------
// Receivers

void TBaseDispatcher::AddWindowHandler(std::shared_ptr<INoticeReceiver> receiver) {
  if (!receiver) return;
  std::lock_guard general(generalLock_);
  auto entry = std::make_shared<TWindowEntry>();
  entry->receiver = std::move(receiver);
  windowHandlers_.push_back(std::move(entry));
  HandlersChangedLocked();
  noticesWanted_ = true;
  LogEntry(7, 17, 0, nullptr, 0);
  NoticesNowWanted();
}

void TBaseDispatcher::RemoveWindowHandler(const INoticeReceiver* receiver) {
  std::lock_guard general(generalLock_);
  const auto it = std::find_if(windowHandlers_.begin(), windowHandlers_.end(),
                               [&](const auto& e) { return e->receiver.get() == receiver; });
  if (it == windowHandlers_.end()) {
    UpdateNoticeNeedLocked(0);
    return;
  }
  LogEntry(8, 17, 0, nullptr, 0);
  if (noticeRunning_.load()) {
    // The delivery may be visiting this entry: mark it, free it at the end.
    (*it)->removed = true;
    removalPending_ = true;
  } else {
    windowHandlers_.erase(it);
    HandlersChangedLocked();
  }
}

void TBaseDispatcher::UpdateNoticeNeed(int mode) {
  std::lock_guard general(generalLock_);
  UpdateNoticeNeedLocked(mode);
}

void TBaseDispatcher::UpdateNoticeNeedLocked(int mode) {
  const bool any = windowHandlers_.size() > 1;
  switch (mode) {
    case 1:
      portWindowInstalled_ = true;
      noticesWanted_ = true;
      break;
    case 2:
      portWindowInstalled_ = false;
      noticesWanted_ = any;
      break;
    default:
      noticesWanted_ = any || portWindowInstalled_.load();
      break;
  }
  if (noticesWanted_.load()) NoticesNowWanted();
}

void TBaseDispatcher::SetNoticeThreshold(uint32_t n) {
  std::lock_guard general(generalLock_);
  noticeThreshold_ = n;
  LogEntry(9, 16, n, nullptr, 0);
}

void TBaseDispatcher::SaveTriggers(TSavedTriggers& saved) {
  std::lock_guard general(generalLock_);
  saved.Threshold = noticeThreshold_;
}

void TBaseDispatcher::RestoreTriggers(const TSavedTriggers& saved) {
  std::lock_guard general(generalLock_);
  noticeThreshold_ = saved.Threshold;
}

void TBaseDispatcher::ClearTriggers() {
  std::lock_guard general(generalLock_);
  noticeThreshold_ = 0;
}

// ---------------------------------------------------------------------------
// Read-ahead state

uint32_t TBaseDispatcher::HandedOutLocked() const {
  // Each receiver reads from InTail; the one running now has read peekCount_
  // bytes, those before it mostTaken_ at the most.
  return std::max(mostTaken_, peekCount_.load());
}

void TBaseDispatcher::ConsumeHandedOutLocked() {
  const uint32_t n = HandedOutLocked();
  mostTaken_ = 0;
  peekCount_ = 0;
  ConsumeInput(n);
}

bool TBaseDispatcher::HandlerRunning() {
  std::lock_guard in(inputLock_);
  return currentTicket_ && currentTicket_->CurrentState() == TNoticeTicket::State::Running;
}

void TBaseDispatcher::CancelPendingNotice() {
  std::lock_guard in(inputLock_);
  if (currentTicket_) currentTicket_->CancelIfPending();
}

// ---------------------------------------------------------------------------
// When a notice is due, and its delivery

bool TBaseDispatcher::CheckAvail() {
  uint32_t threshold;
  {
    std::lock_guard general(generalLock_);
    threshold = noticeThreshold_;
  }
  uint32_t avail;
  uint64_t total;
  {
    std::lock_guard in(inputLock_);
    // No data triggers are registered: the scan only moves on.
    scanPosition_ = inHead_;
    avail = UnreadCount();
    total = totalIn_;
    if (!AvailDueLocked(threshold, avail)) return false;
  }
  LogEntry(2, 5, avail, nullptr, 0);
  bool received = false;
  const bool result = DeliverNotice(MsgTriggerAvail, avail, 0, &received);
  if (received) {
    std::lock_guard in(inputLock_);
    lastNoticeTotal_ = total;
  }
  // A notice no handler received leaves its bytes to the next pass.
  return result && received;
}

bool TBaseDispatcher::AvailDueLocked(uint32_t threshold, uint32_t avail) const {
  // Running totals, not ring indices: a ring that went once round holds
  // new bytes although its head stands where it stood.
  return threshold != 0 && totalIn_ != lastNoticeTotal_ && avail >= threshold;
}

bool TBaseDispatcher::AvailNoticeDue() {
  uint32_t threshold;
  {
    std::lock_guard general(generalLock_);
    threshold = noticeThreshold_;
  }
  std::lock_guard in(inputLock_);
  return AvailDueLocked(threshold, UnreadCount());
}

void TBaseDispatcher::TellDeviceLost() {
  if (!LossUntold()) return;
  // The last answer the modem gave before it went belongs before the news
  // that it went: a handler that reads it after the loss would act on a
  // line that is already switched off. The next pass tries again.
  if (AvailNoticeDue()) return;
  bool received = false;
  DeliverNotice(MsgDeviceLost, 0, 0, &received);
  // Once: only a handler that ran it counts. One that never got it (a busy
  // receiver past the time-out, a refused post, no receiver yet) is tried
  // again, and a receiver that comes later still hears of it.
  lossTold_ = received;
}

void TBaseDispatcher::NoticesNowWanted() {
  // The dispatch thread may wait without a time limit after a loss that
  // nobody wanted to hear of.
  if (threadsRunning_.load() && IsDeviceLost()) WakeInputWait();
}

bool TBaseDispatcher::DeliverNotice(uint16_t msg, uint32_t wParam, uint16_t data,
                                    bool* received) {
  if (received) *received = false;
  if (!noticesWanted_.load()) return true;

  std::shared_ptr<const TWindowList> receivers;
  {
    std::lock_guard general(generalLock_);
    noticeRunning_ = true;
    // The list as it is now: the port may add its window while the threads
    // already run.
    if (windowHandlers_.size() > 1 || portWindowInstalled_.load()) receivers = handlersView_;
  }
  static const TWindowList kNone;
  const bool availKind = msg == MsgTriggerAvail || msg == MsgTriggerData;
  const uint32_t lParam = (static_cast<uint32_t>(dispatcherHandle_) << 16) | data;
  const auto timeout = std::chrono::milliseconds(noticeTimeoutMs_.load());
  bool result = true;
  bool ranAny = false;
  {
    std::lock_guard in(inputLock_);
    mostTaken_ = 0;
  }

  for (const auto& entry : receivers ? *receivers : kNone) {
    if (entry->removed.load()) continue;
    auto ticket = std::make_shared<TNoticeTicket>(msg, wParam, lParam);
    {
      std::lock_guard in(inputLock_);
      peekCount_ = 0;
      // A stop that came first has cancelled nothing yet: see to it here.
      if (stopRequested_.load()) {
        result = false;
        break;
      }
      currentTicket_ = ticket;
      currentAvail_ = availKind;
    }
    if (availKind) OpenAheadGate();
    if (!entry->receiver->PostNotice(ticket)) ticket->Cancel();
    ticket->WaitFor(timeout);  // no lock held while the receiver runs

    // The end of this receiver's turn is decided under InputLock with the
    // gate shut, so a read is either still the handler's read-ahead or
    // comes after it.
    std::lock_guard in(inputLock_);
    ShutAheadGate();
    const TNoticeTicket::State final = ticket->Close();
    const bool ran =
        final == TNoticeTicket::State::Done || final == TNoticeTicket::State::Abandoned;
    ranAny = ranAny || ran;
    currentTicket_.reset();
    currentAvail_ = false;
    if (closeDeferred_.load()) {
      // The handler closed its port: nothing is consumed, the dispatch
      // thread releases the channel.
      mostTaken_ = peekCount_ = 0;
      result = false;
      break;
    }
    // A read the ordinary way since the handler returned has taken its
    // bytes already and left peekCount_ at 0.
    mostTaken_ = std::max(mostTaken_, peekCount_.load());
    peekCount_ = 0;
    if (final == TNoticeTicket::State::Abandoned) {
      // The handler still runs and now reads the ordinary way: what it read
      // so far is taken at this moment, so its next read gets the next byte.
      ConsumeHandedOutLocked();
      result = false;
      break;
    }
  }

  if (availKind && !closeDeferred_.load()) {
    std::lock_guard in(inputLock_);
    if (msg == MsgTriggerAvail && (!ranAny || mostTaken_ != wParam)) result = false;
    ConsumeHandedOutLocked();
  }

  {
    std::lock_guard general(generalLock_);
    noticeRunning_ = false;
    if (removalPending_) {
      windowHandlers_.erase(std::remove_if(windowHandlers_.begin(), windowHandlers_.end(),
                                           [](const auto& e) { return e->removed.load(); }),
                            windowHandlers_.end());
      HandlersChangedLocked();
      removalPending_ = false;
      UpdateNoticeNeedLocked(0);
    }
  }
  if (received) *received = ranAny;
  return result;
}

}  // namespace serial
