// The three worker threads of an open port: the dispatch thread waits on the
// device itself, reads it into the input ring and raises notices; the event
// thread waits for modem-line changes and hands them to the dispatch thread;
// the output thread writes the output ring to the device. A thread wakes only
// for work of its own: an idle port costs nothing.
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "SerDispatch.h"

namespace serial {
namespace {

// The dispatcher whose dispatch thread this is (nullptr elsewhere).
thread_local const TBaseDispatcher* tDispatchThreadOf = nullptr;

void ReportThreadFailure(const char* thread, const char* what) {
  std::fprintf(stderr, "serial %s thread: %s\n", thread, what);
}

}  // namespace

bool TBaseDispatcher::OnDispatchThread() const { return tDispatchThreadOf == this; }

void TBaseDispatcher::StartThreads() {
  // Threads of an earlier run (a deferred close) may still be leaving.
  if (!threadsRunning_.load()) JoinThreads();
  std::lock_guard general(generalLock_);
  if (threadsRunning_.load()) throw std::runtime_error("Dispatcher already started");
  threadsRunning_ = true;
  stopRequested_ = false;
  shutdownOnExit_ = false;
  liveThreads_ = 0;
  comEnded_ = dispEnded_ = outEnded_ = false;
  deviceEvents_ = 0;
  signals_.Reset(kThreadStartSignal | kStopOutputSignal);
  // A thread that does not report within 3 s is not an error: it runs late.
  comThread_ = std::thread(&TBaseDispatcher::ComThreadMain, this);
  signals_.Wait(kThreadStartSignal, 3000);
  dispThread_ = std::thread(&TBaseDispatcher::DispThreadMain, this);
  signals_.Wait(kThreadStartSignal, 3000);
  outThread_ = std::thread(&TBaseDispatcher::OutThreadMain, this);
  signals_.Wait(kThreadStartSignal, 3000);
}

void TBaseDispatcher::StopThreads() {
  {
    std::lock_guard general(generalLock_);
    if (!threadsRunning_.load()) return;
    stopRequested_ = true;
  }
  // No lock is held from here on: the dispatch thread takes them in a pass.
  const bool onDispatch = OnDispatchThread();
  // A notice not yet begun will not be: its bytes are being discarded.
  CancelPendingNotice();

  signals_.Set(kStopOutputSignal);
  CancelDeviceWriteWait();
  WaitThreadEnd(outEnded_);

  signals_.Reset(kThreadStartSignal);
  WaitThreadEnd(comEnded_, &TBaseDispatcher::CancelDeviceEventWait);

  if (onDispatch) {
    // A deferred close: this thread ends right after; whoever frees the
    // dispatcher joins it and closes the device.
    if (outThread_.joinable()) outThread_.join();
    if (comThread_.joinable()) comThread_.join();
  } else {
    WaitThreadEnd(dispEnded_, &TBaseDispatcher::WakeInputWait);
    JoinThreads();
  }
  signals_.Clear();
  if (!onDispatch && closeAfterThreads_.load()) CloseDeviceNow();
}

void TBaseDispatcher::WaitThreadEnd(const std::atomic<bool>& ended, void (TBaseDispatcher::*nudge)()) {
  // No GUI message is served here: a close must not run clicks, timers or
  // other ports' notices in its middle. Nothing needs them: a delivery not
  // begun was cancelled above, and a handler on the stack defers the close.
  std::unique_lock lock(endMutex_);
  while (!ended.load()) {
    if (nudge) {
      lock.unlock();
      (this->*nudge)();
      lock.lock();
    }
    endChanged_.wait_for(lock, std::chrono::milliseconds(20), [&] { return ended.load(); });
  }
}

void TBaseDispatcher::JoinThreads() {
  if (OnDispatchThread()) return;
  // The dispatch thread first: after a deferred close it joins the others.
  if (dispThread_.joinable()) dispThread_.join();
  if (comThread_.joinable()) comThread_.join();
  if (outThread_.joinable()) outThread_.join();
}

void TBaseDispatcher::ReleaseThreadSlot(Worker which) {
  if (which == Worker::Disp && shutdownOnExit_.load()) {
    ReleaseChannel();
    shutdownOnExit_ = false;
  }
  {
    std::lock_guard lock(endMutex_);
    (which == Worker::Com ? comEnded_ : which == Worker::Disp ? dispEnded_ : outEnded_) = true;
  }
  endChanged_.notify_all();
  if (liveThreads_.fetch_sub(1) == 1) threadsRunning_ = false;
}

void TBaseDispatcher::SetThreadPriorities(int8_t offset) {
  // Recorded only: the threads run at the normal priority.
  priorityOffset_ = offset;
}

int32_t TBaseDispatcher::YieldSlice() {
  std::this_thread::yield();
  return 0;
}

// ---------------------------------------------------------------------------
// Event thread

void TBaseDispatcher::ComThreadMain() {
  liveThreads_.fetch_add(1);
  signals_.Set(kThreadStartSignal);
  try {
    while (!stopRequested_.load()) {
      const uint32_t events = WaitDeviceEvent();
      if (stopRequested_.load()) break;
      if (events == 0) continue;
      if (events & (kEvRing | kEvRingTrailingEdge)) ringIndicated_ = true;
      // Bits gather until a pass takes them; none is overwritten, so the
      // next wait may begin at once.
      deviceEvents_.fetch_or(events);
      WakeInputWait();
    }
  } catch (const std::exception& e) {
    ReportThreadFailure("event", e.what());
  } catch (...) {
    ReportThreadFailure("event", "unknown exception");
  }
  signals_.Set(kThreadStartSignal);
  ReleaseThreadSlot(Worker::Com);
}

// ---------------------------------------------------------------------------
// Dispatch thread

void TBaseDispatcher::DispThreadMain() {
  tDispatchThreadOf = this;
  liveThreads_.fetch_add(1);
  signals_.Set(kThreadStartSignal);
  bool normalEnd = true;
  try {
    for (;;) {
      bool wantInput;
      {
        std::lock_guard in(inputLock_);
        // A full ring is not watched for input until room is made, or the
        // device would report the same bytes without pause.
        wantInput = !inRing_.empty() && !inRingFull_;
      }
      // Input and line changes wake this wait; the 50 ms bound stays only
      // while a pass could find something no wake-up reports.
      const uint32_t events = WaitDeviceInput(wantInput, TimedPassDue() ? kPassIntervalMs : -1);
      if (stopRequested_.load()) {
        normalEnd = false;
        break;
      }
      PassOnce(events);
      if (stopRequested_.load() || closeDeferred_.load()) break;
    }
  } catch (const std::exception& e) {
    ReportThreadFailure("dispatch", e.what());
  } catch (...) {
    ReportThreadFailure("dispatch", "unknown exception");
  }
  if (normalEnd) signals_.Set(kThreadStartSignal);
  shutdownOnExit_ = closeDeferred_.load();
  ReleaseThreadSlot(Worker::Disp);
  tDispatchThreadOf = nullptr;
}

bool TBaseDispatcher::TimedPassDue() {
  if (!InputReported()) return true;
  // A loss no handler has run yet is tried again (a receiver that wants no
  // notices makes the dispatch thread wait until one does).
  if (LossUntold() && noticesWanted_.load()) return true;
  if (modemLinesKnown_.load() && !LineChangesReported()) return true;
  std::lock_guard in(inputLock_);
  // A notice no handler took leaves its bytes to a later pass; bytes a
  // handler has seen and left unread wait for a read, not for a pass.
  return InUnreadLocked() > 0 && totalIn_ != lastNoticeTotal_;
}

void TBaseDispatcher::PassOnce(uint32_t inputEvents) {
  const uint32_t events = inputEvents | deviceEvents_.exchange(0);
  if (events & kEvModemLines) {
    ModemStatusChanged(events);
  } else if (!LineChangesReported()) {
    // Where the device cannot report line changes they are found by
    // comparing the lines at every pass.
    uint32_t lines = 0;
    if (GetModemLines(lines) && lines != lastPassModemLines_) {
      lastPassModemLines_ = lines;
      ModemStatusChanged(0);
    }
  }
  if (events & (kEvBreak | kEvErr)) RefreshDeviceStatus();
  FillInputRing((events & kEvRxChar) != 0);
  UpdateReceiveFlow();
  if (!noticeRunning_.load()) {
    while (CheckAvail()) {
      if (closeDeferred_.load()) return;
    }
    TellDeviceLost();
  }
}

// ---------------------------------------------------------------------------
// Output thread

void TBaseDispatcher::OutThreadMain() {
  liveThreads_.fetch_add(1);
  signals_.Set(kThreadStartSignal);
  try {
    for (;;) {
      const uint32_t which = signals_.Wait(kOutputQueuedSignal | kStopOutputSignal, -1);
      if (which == kOutputQueuedSignal) {
        if (stopRequested_.load()) break;
        WriteOutRing();
      } else {
        signals_.Set(kThreadStartSignal);  // acknowledges the stop
      }
      if (stopRequested_.load() || closeDeferred_.load()) break;
    }
  } catch (const std::exception& e) {
    ReportThreadFailure("output", e.what());
  } catch (...) {
    ReportThreadFailure("output", "unknown exception");
  }
  ReleaseThreadSlot(Worker::Out);
}

void TBaseDispatcher::WriteOutRing() {
  for (;;) {
    TRingRuns runs;
    const uint8_t* first;
    const uint8_t* second;
    {
      std::lock_guard out(outputLock_);
      if (purgeRequested_ || stopRequested_.load() || outRing_.empty()) return;
      runs = RingPendingRuns(outHead_, outTail_, outRingSize_, outRingFull_);
      if (runs.first == 0) return;
      // Held back until the required line comes on (the pass re-signals).
      if (OutputGated()) return;
      // A wrapped run goes out as one write of two pieces.
      first = outRing_.data() + outTail_;
      second = outRing_.data();
      outBusy_ = true;
    }
    const int32_t written = WriteDevice(first, runs.first, second, runs.second);
    {
      std::lock_guard out(outputLock_);
      outBusy_ = false;
      if (written > 0)
        AdvanceOut(static_cast<uint32_t>(written));
      else if (written < 0)
        AdvanceOut(runs.first + runs.second);  // the device failed: the run is dropped
    }
    outIdle_.notify_all();
    if (written == 0 && !WaitDeviceWritable() && stopRequested_.load()) return;
  }
}

void TBaseDispatcher::AdvanceOut(uint32_t n) {
  outTail_ = RingAdvance(outTail_, n, outRingSize_);
  outRingFull_ = false;
  if (outTail_ == outHead_) outHead_ = outTail_ = 0;
}

}  // namespace serial
