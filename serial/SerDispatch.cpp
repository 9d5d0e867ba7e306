// Dispatcher core: the port list, open and close, and the two rings.
#include "SerDispatch.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "SerMisc.h"

namespace serial {
namespace {

// Made on first use and never freed: notices may look a handle up while the
// program is shutting down.
std::vector<TBaseDispatcher*>& PortList() {
  static auto* list = new std::vector<TBaseDispatcher*>();
  return *list;
}

int32_t RegisterDispatcher(TBaseDispatcher* d) {
  std::lock_guard lock(PortListLock());
  auto& list = PortList();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == nullptr) {
      list[i] = d;
      return static_cast<int32_t>(i);
    }
  }
  list.push_back(d);
  return static_cast<int32_t>(list.size() - 1);
}

void UnregisterDispatcher(int32_t handle) {
  std::lock_guard lock(PortListLock());
  auto& list = PortList();
  if (handle < 0 || static_cast<size_t>(handle) >= list.size()) return;
  list[static_cast<size_t>(handle)] = nullptr;
  while (!list.empty() && list.back() == nullptr) list.pop_back();
}

}  // namespace

std::recursive_mutex& PortListLock() {
  static auto* lock = new std::recursive_mutex();
  return *lock;
}

TBaseDispatcher* FindDispatcher(int32_t handle) {
  std::lock_guard lock(PortListLock());
  return FindDispatcherLocked(handle);
}

TBaseDispatcher* FindDispatcherLocked(int32_t handle) {
  auto& list = PortList();
  if (handle < 0 || static_cast<size_t>(handle) >= list.size()) return nullptr;
  return list[static_cast<size_t>(handle)];
}

size_t PortListCount() {
  std::lock_guard lock(PortListLock());
  return PortList().size();
}

// ---------------------------------------------------------------------------

TBaseDispatcher::TBaseDispatcher(TCustomComPort* owner) : ownerPort_(owner) {
  dispatcherHandle_ = RegisterDispatcher(this);
}

TBaseDispatcher::~TBaseDispatcher() {
  // A concrete dispatcher has shut down already; this only guards against a
  // std::thread that would terminate the program if destroyed joinable.
  JoinThreads();
  UnregisterDispatcher(dispatcherHandle_);
}

void TBaseDispatcher::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  // A close from inside a notice: the dispatch thread releases the channel
  // itself as it ends; wait for it rather than stopping it a second time.
  if (!closeDeferred_.load()) CloseChannel();
  JoinThreads();
  if (closeDeferred_.load()) ReleaseChannel();
  CloseDeviceNow();
}

int32_t TBaseDispatcher::OpenChannel(const std::string& name, int32_t baud, int parity,
                                     int databits, int stopbits, uint32_t inSize,
                                     uint32_t outSize, bool dtr, bool rts) {
  if (DeviceOpen()) return ecAlreadyOpen;
  JoinThreads();  // a dispatch thread that released a deferred close may still be leaving
  ringIndicated_ = false;
  lossTold_ = false;
  noticeRunning_ = false;
  closeDeferred_ = false;
  closeAfterThreads_ = false;
  stopRequested_ = false;
  {
    std::lock_guard lock(generalLock_);
    removalPending_ = false;
  }
  signals_.Clear();
  {
    // The device may set the lines as it opens (before any escape could).
    std::lock_guard general(generalLock_);
    dtrLevel_ = dtr;
    rtsLevel_ = rts;
  }

  const int32_t handle = OpenHandle(name);
  if (handle < 0) return handle;
  deviceHandle_ = handle;

  if (!SetupDeviceQueues(inSize, outSize)) {
    CloseChannel();
    return ecBadParameter;
  }

  {
    std::lock_guard in(inputLock_);
    inRing_.assign(kInRingSize, 0);
    inHead_ = inTail_ = 0;
    inRingFull_ = false;
    scanPosition_ = 0;
    totalIn_ = lastNoticeTotal_ = 0;
    currentTicket_.reset();
    currentAvail_ = false;
    peekCount_ = mostTaken_ = 0;
    flowHeld_ = false;
  }
  {
    std::lock_guard out(outputLock_);
    outRing_.assign(outSize, 0);
    outRingSize_ = outSize;
    outHead_ = outTail_ = 0;
    outRingFull_ = false;
    outputSentFlag_ = false;
    outBusy_ = purgeRequested_ = false;
  }
  errorFlags_ = 0;
  {
    std::lock_guard general(generalLock_);
    inQueueSize_ = inSize;
    rs485On_ = false;
    uartBaseAddress_ = 0;
    dtrHandshake_ = rtsHandshake_ = false;
    flowLines_ = 0;
    outputGate_ = 0;
    if (GetDeviceLine(currentDCB_) != 0) currentDCB_ = TDCB{};
  }
  SetDTRLevel(dtr);
  SetRTSLevel(rts);

  ClearTriggers();
  {
    std::lock_guard general(generalLock_);
    modemStatusBits_ = 0;
  }
  ReadModemStatus(0xF0);
  {
    std::lock_guard general(generalLock_);
    currentBaud_ = 115200;
  }

  if (const int32_t r = ApplyLine(baud, parity, databits, stopbits); r != 0) {
    CloseChannel();
    return r;
  }

  RefreshDeviceStatus();
  trace_.Stop();
  log_.Stop();
  log_.SetTimeBase();
  StartThreads();
  return 0;
}

int32_t TBaseDispatcher::CloseChannel() {
  if (DeviceOpen() && !closeAfterThreads_.load()) {
    DiscardOutput();
    DiscardInput();
    CloseDeviceOrDefer();
  }
  // Only a handler that is running right now is inside a notice: the
  // dispatch thread waits for it, so it must not be waited for here.
  if (HandlerRunning())
    closeDeferred_ = true;
  else
    ReleaseChannel();
  return 0;
}

void TBaseDispatcher::ReleaseChannel() {
  if (threadsRunning_.load()) {
    // After a close from inside a notice the dispatch thread stops the
    // others itself; anyone else only waits for it.
    if (closeDeferred_.load() && !OnDispatchThread())
      JoinThreads();
    else
      StopThreads();
  }
  {
    std::lock_guard in(inputLock_);
    std::vector<uint8_t>().swap(inRing_);
    inHead_ = inTail_ = 0;
    inRingFull_ = false;
  }
  {
    std::lock_guard out(outputLock_);
    std::vector<uint8_t>().swap(outRing_);
    outHead_ = outTail_ = 0;
    outRingFull_ = false;
  }
}

int32_t TBaseDispatcher::SizeDeviceQueues(uint32_t inSize, uint32_t outSize) {
  std::lock_guard general(generalLock_);
  if (!DeviceOpen()) return ecCommNotOpen;
  return SetupDeviceQueues(inSize, outSize) ? 0 : ecBadParameter;
}

void TBaseDispatcher::CloseDeviceOrDefer() {
  if (threadsRunning_.load()) {
    // The threads still use the descriptor; a closed number would be handed
    // to the next open() in the process. Stop them; the close follows.
    closeAfterThreads_ = true;
    stopRequested_ = true;
    CancelDeviceEventWait();
    WakeInputWait();
    return;
  }
  CloseDeviceNow();
}

void TBaseDispatcher::CloseDeviceNow() {
  if (!DeviceOpen()) return;
  // A closed port leaves DTR and RTS dropped, as the system the layer was
  // designed for does and as a tty's HUPCL would, but also where HUPCL was
  // switched off: a modem watching DTR ends its call. The threads have
  // ended, so no emulated flow control raises them again.
  EscapeLine(kEscClrDtr);
  EscapeLine(kEscClrRts);
  CloseDevice();
  deviceHandle_ = -1;
  closeAfterThreads_ = false;
}

// ---------------------------------------------------------------------------
// Input ring

uint32_t TBaseDispatcher::InUnreadLocked() const {
  if (inRing_.empty()) return 0;
  return RingCount(inHead_, inTail_, kInRingSize, inRingFull_);
}

void TBaseDispatcher::RoomMade(bool wasFull) {
  // The dispatch thread stopped watching for input while the ring was full.
  if (wasFull) WakeInputWait();
  if (flowHeld_.load()) UpdateReceiveFlow();
}

void TBaseDispatcher::ConsumeInput(uint32_t n) {
  if (n == 0 || inRing_.empty()) return;
  n = std::min(n, InUnreadLocked());
  inTail_ = RingAdvance(inTail_, n, kInRingSize);
  const bool wasFull = inRingFull_;
  inRingFull_ = false;
  RoomMade(wasFull);
}

int32_t TBaseDispatcher::TakeAheadOne(uint8_t& c) {
  const uint32_t peek = peekCount_.load(std::memory_order_relaxed);
  if (peek >= InUnreadLocked()) return ecBufferIsEmpty;
  c = inRing_[RingAdvance(inTail_, peek, kInRingSize)];
  peekCount_.store(peek + 1, std::memory_order_relaxed);
  return 0;
}

int32_t TBaseDispatcher::TakeAheadThroughGate(uint8_t& c) {
  uint32_t open = kGateOpen;
  if (!aheadGate_.compare_exchange_strong(open, kGateReading, std::memory_order_acquire))
    return kReadSlowly;
  // Inside the gate nothing but this thread moves the ring's unread end or
  // the read-ahead count; the trace is recorded the ordinary way.
  const int32_t r = !trace_.On() && ReadingAheadLocked() ? TakeAheadOne(c) : kReadSlowly;
  aheadGate_.store(kGateOpen, std::memory_order_release);
  return r;
}

void TBaseDispatcher::ShutAheadGate() {
  uint32_t open = kGateOpen;
  // A read in flight takes a few nanoseconds.
  while (!aheadGate_.compare_exchange_weak(open, kGateShut, std::memory_order_acquire)) {
    if (open == kGateShut) return;
    open = kGateOpen;
    std::this_thread::yield();
  }
}

int32_t TBaseDispatcher::TakeChar(uint8_t& c, bool mayReadAhead) {
  if (mayReadAhead) {
    if (const int32_t r = TakeAheadThroughGate(c); r != kReadSlowly) return r;
  }
  std::lock_guard in(inputLock_);
  if (mayReadAhead && ReadingAheadLocked()) {
    if (const int32_t r = TakeAheadOne(c); r != 0) return r;
  } else {
    // Bytes a handler of the running notice was handed are taken first: this
    // read gets the next one, and the notice's end finds them consumed.
    ConsumeHandedOutLocked();
    if (InUnreadLocked() == 0) return ecBufferIsEmpty;
    c = inRing_[inTail_];
    ConsumeInput(1);
  }
  if (trace_.On()) TraceBytes('R', &c, 1);
  return 0;
}

int32_t TBaseDispatcher::PeekAhead(uint8_t& c, uint32_t n) {
  if (n < 1) return ecBadArgument;
  std::lock_guard in(inputLock_);
  if (n > InUnreadLocked()) return ecBufferIsEmpty;
  c = inRing_[RingAdvance(inTail_, n - 1, kInRingSize)];
  return 0;
}

uint32_t TBaseDispatcher::UnreadCount(bool mayReadAhead) {
  std::lock_guard in(inputLock_);
  const uint32_t unread = InUnreadLocked();
  const uint32_t handedOut = mayReadAhead && ReadingAheadLocked() ? peekCount_.load() : HandedOutLocked();
  return unread - std::min(unread, handedOut);
}

int32_t TBaseDispatcher::DiscardInput() {
  std::lock_guard in(inputLock_);
  const int32_t r = DeviceOpen() ? PurgeQueue(true) : 0;
  if (ReadingAheadLocked()) {
    // Everything unread now counts as taken when the handler's turn ends.
    mostTaken_ = InUnreadLocked();
  } else {
    inTail_ = inHead_;
    peekCount_ = mostTaken_ = 0;
  }
  const bool wasFull = inRingFull_;
  inRingFull_ = false;
  RoomMade(wasFull);
  return r;
}

bool TBaseDispatcher::FillInputRing(bool readableEvent) {
  std::lock_guard in(inputLock_);
  if (inRing_.empty() || !DeviceOpen()) return false;
  // Full: the bytes stay in the device, and flow control holds the modem.
  if (inRingFull_) return true;
  RefreshDeviceStatus();
  uint32_t waiting;
  {
    std::lock_guard out(outputLock_);
    waiting = deviceStatus_.InQueue;
  }
  // A device that signalled input but reports none queued is read anyway:
  // that read is how it tells a hang-up from an empty queue.
  if (waiting == 0 && !readableEvent) return false;

  const TRingRuns room = RingFreeRuns(inHead_, inTail_, kInRingSize, false);
  const uint32_t free = room.first + room.second;
  const uint32_t want = waiting == 0 ? free : std::min(free, waiting);
  uint32_t second = want > room.first ? want - room.first : 0;

  uint8_t* const start = inRing_.data() + inHead_;
  const uint32_t got = ReadDevice(start, room.first);
  if (got < room.first) second = 0;
  inHead_ = RingAdvance(inHead_, got, kInRingSize);
  if (got > 0) inRingFull_ = inHead_ == inTail_;
  LogEntry(1, 1, got, start, got);
  uint32_t total = got;
  if (second > 0) {
    const uint32_t more = ReadDevice(inRing_.data() + inHead_, second);
    inHead_ = RingAdvance(inHead_, more, kInRingSize);
    if (more > 0) inRingFull_ = inHead_ == inTail_;
    LogEntry(1, 1, more, inRing_.data(), more);
    total += more;
  }
  totalIn_ += total;
  return true;
}

// ---------------------------------------------------------------------------
// Output ring

uint32_t TBaseDispatcher::OutRingPendingLocked() const {
  if (outRing_.empty()) return 0;
  return RingCount(outHead_, outTail_, outRingSize_, outRingFull_);
}

void TBaseDispatcher::RefreshDeviceStatus() {
  std::lock_guard out(outputLock_);
  if (!DeviceOpen()) return;
  TDeviceStatus status;
  const uint32_t errors = ReadDeviceStatus(status);
  status.OutQueue = OutRingPendingLocked();
  deviceStatus_ = status;
  errorFlags_.fetch_or(errors);
}

uint32_t TBaseDispatcher::WriteToRing(const uint8_t* block, uint32_t count) {
  std::lock_guard out(outputLock_);
  const uint32_t room = outRingSize_ - outHead_;
  if (count > room) {
    std::memcpy(outRing_.data() + outHead_, block, room);
    std::memcpy(outRing_.data(), block + room, count - room);
    outHead_ = count - room;
  } else {
    std::memcpy(outRing_.data() + outHead_, block, count);
    outHead_ = count == room ? 0 : outHead_ + count;
  }
  signals_.Set(kOutputQueuedSignal);
  return count;
}

int32_t TBaseDispatcher::QueueBlock(const void* block, uint32_t len) {
  if (len == 0) return 0;
  {
    std::lock_guard out(outputLock_);
    if (outRing_.empty()) return ecCommNotOpen;
    const uint32_t pending = OutRingPendingLocked();
    const uint32_t free = outRingSize_ - pending;
    if (len > free) return ecOutputBufferTooSmall;
    const auto* bytes = static_cast<const uint8_t*>(block);
    // Nothing ahead of it and the output thread idle: the block goes to the
    // device at once rather than after that thread has woken up (a modem's
    // answer waits for every command). What the device does not take now
    // goes to the ring behind it, so the order holds.
    uint32_t sent = 0;
    if (pending == 0 && !outBusy_ && !purgeRequested_ && !OutputGated()) {
      const int32_t written = WriteDevice(bytes, len, bytes, 0);
      // A device that failed for good drops the block, as the output thread would.
      sent = written < 0 ? len : static_cast<uint32_t>(written);
    }
    if (sent < len) {
      const uint32_t copied = WriteToRing(bytes + sent, len - sent);
      if (copied != len - sent) return ecPutBlockFail;
      // Only a copy that succeeded may mark the ring full.
      if (len - sent == free) outRingFull_ = true;
    }
    outputSentFlag_ = true;
  }
  LogEntry(1, 2, len, static_cast<const uint8_t*>(block), len);
  if (trace_.On()) TraceBytes('T', static_cast<const uint8_t*>(block), len);
  return 0;
}

uint32_t TBaseDispatcher::OutputPending() {
  std::lock_guard out(outputLock_);
  RefreshDeviceStatus();
  return OutRingPendingLocked();
}

uint32_t TBaseDispatcher::OutputFree() {
  std::lock_guard out(outputLock_);
  return outRingSize_ - OutputPending();
}

int32_t TBaseDispatcher::DiscardOutput() {
  if (!DeviceOpen()) {
    DiscardOutRing();
    return 0;
  }
  return PurgeQueue(false);
}

void TBaseDispatcher::DiscardOutRing() {
  std::unique_lock out(outputLock_);
  purgeRequested_ = true;
  CancelDeviceWriteWait();
  // A write from the ring is one non-blocking call; the bound only keeps a
  // misbehaving device from hanging the port thread.
  outIdle_.wait_for(out, std::chrono::seconds(2), [this] { return !outBusy_; });
  outHead_ = outTail_ = 0;
  outRingFull_ = false;
  purgeRequested_ = false;
}

// ---------------------------------------------------------------------------
// Trace and log recording points

void TBaseDispatcher::TraceBytes(char kind, const uint8_t* values, uint32_t count) {
  trace_.AddBlock(kind, values, count);
}

void TBaseDispatcher::LogEntry(uint8_t kind, uint8_t subKind, uint32_t data, const uint8_t* extra,
                               uint32_t length) {
  log_.Add(kind, subKind, data, extra, length);
}

// ---------------------------------------------------------------------------

void TSignalSet::Set(uint32_t bits) {
  std::lock_guard lock(mutex_);
  bits_ |= bits;
  for (TWaiter* w = waiters_; w; w = w->next)
    if (w->mask & bits) w->changed.notify_one();
}

void TSignalSet::Reset(uint32_t bits) {
  std::lock_guard lock(mutex_);
  bits_ &= ~bits;
}

void TSignalSet::Clear() {
  std::lock_guard lock(mutex_);
  bits_ = 0;
}

uint32_t TSignalSet::Wait(uint32_t mask, int timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto ready = [&] { return (bits_ & mask) != 0; };
  if (!ready()) {
    TWaiter self{mask, {}, waiters_};
    waiters_ = &self;
    bool set = true;
    if (timeoutMs < 0)
      self.changed.wait(lock, ready);
    else
      set = self.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    TWaiter** link = &waiters_;
    while (*link != &self) link = &(*link)->next;
    *link = self.next;
    if (!set) return 0;
  }
  const uint32_t set = bits_ & mask;
  const uint32_t lowest = set & (~set + 1);
  if (!(lowest & manual_)) bits_ &= ~lowest;
  return lowest;
}

}  // namespace serial
