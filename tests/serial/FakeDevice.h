#pragma once
// A recording fake device behind the dispatcher's device seam. It shows what
// a pseudo-terminal cannot: the DTR/RTS escapes and control-block writes in
// order, device events that never come, a device that takes output only as
// the test allows, modem lines.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SerDispatch.h"

namespace serialtest {

class TFakeDispatcher : public serial::TBaseDispatcher {
 public:
  TFakeDispatcher() : serial::TBaseDispatcher(nullptr) {
    device_.BaudRate = 9600;
    device_.ByteSize = 8;
  }
  ~TFakeDispatcher() override { Shutdown(); }

  // ---- test controls ----
  // Bytes arriving from the modem.
  void Inject(const std::string& bytes) {
    {
      std::lock_guard lock(mutex_);
      input_.insert(input_.end(), bytes.begin(), bytes.end());
      ++inputGeneration_;
    }
    changed_.notify_all();
  }
  // Without events the device is only read by the dispatch thread's timed passes.
  void SetEventsEnabled(bool on) { Store(eventsEnabled_, on); }
  // With line events the device reports every line change as a driver with
  // a change wait and counters does (a pulse of any length included);
  // without, the lines can only be looked at.
  void SetLineEventsSupported(bool on) { Store(lineEvents_, on); }
  // The lines change to bits (kMs*On), reported as events where supported.
  void ChangeLines(uint32_t bits) {
    {
      std::lock_guard lock(mutex_);
      const uint32_t changed = modemBits_ ^ bits;
      if (lineEvents_) {
        if (changed & serial::kMsCtsOn) lineEventBits_ |= serial::kEvCts;
        if (changed & serial::kMsDsrOn) lineEventBits_ |= serial::kEvDsr;
        if (changed & serial::kMsRlsdOn) lineEventBits_ |= serial::kEvRlsd;
        if ((changed & serial::kMsRingOn) && !(bits & serial::kMsRingOn)) lineEventBits_ |= serial::kEvRing;
      }
      modemBits_ = bits;
    }
    changed_.notify_all();
  }
  // How many more bytes the device takes; unlimited by default.
  void SetWriteBudget(size_t n) {
    {
      std::lock_guard lock(mutex_);
      writeBudget_ = n;
    }
    changed_.notify_all();
  }
  void SetModemLines(bool supported, uint32_t bits) {
    std::lock_guard lock(mutex_);
    modemSupported_ = supported;
    modemBits_ = bits;
  }
  void SetLineRefused(bool refused) { Store(lineRefused_, refused); }
  // A block with this rate is taken as it comes and then refused, as a
  // pseudo-terminal takes a rate and stop bits but not the rest of a frame.
  void SetRateHalfTaken(uint32_t rate) { Store(halfTakenRate_, rate); }
  // A driver without hardware flow control: it drops kDcbDriverRtsCts.
  void SetNoDriverFlow(bool none) { Store(noDriverFlow_, none); }
  // Bytes the device holds unsent; each look finds perLook fewer (0: stuck,
  // as behind a flow-control stop). Without this the device cannot tell.
  void SetDeviceQueue(uint32_t bytes, uint32_t perLook) {
    std::lock_guard lock(mutex_);
    queueKnown_ = true;
    deviceQueue_ = bytes;
    queuePerLook_ = perLook;
    lastQueueSeen_ = -1;
  }
  int QueueLooks() {
    std::lock_guard lock(mutex_);
    return queueLooks_;
  }
  void SetDeviceLineState(const serial::TDCB& dcb) { Store(device_, dcb); }
  void SetOpenResult(int32_t r) { Store(openResult_, r); }
  void SetQueuesRefused(bool refused) { Store(queuesRefused_, refused); }
  void SetCloseFails(bool fails) { Store(closeFails_, fails); }

  std::string Output() {
    std::lock_guard lock(mutex_);
    return output_;
  }
  size_t InputLeft() {
    std::lock_guard lock(mutex_);
    return input_.size();
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }
  serial::TDCB DeviceLine() {
    std::lock_guard lock(mutex_);
    return device_;
  }
  // The two piece lengths of every write that took bytes.
  std::vector<std::pair<uint32_t, uint32_t>> Writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  // The thread of every write that took bytes.
  std::vector<std::thread::id> WriteThreads() {
    std::lock_guard lock(mutex_);
    return writeThreads_;
  }
  int LineWrites() {
    std::lock_guard lock(mutex_);
    return lineWrites_;
  }
  // Every queue sizing asked of the device, the open's included.
  std::vector<std::pair<uint32_t, uint32_t>> QueueSizes() {
    std::lock_guard lock(mutex_);
    return queueSizes_;
  }
  int Closes() {
    std::lock_guard lock(mutex_);
    return closes_;
  }
  // Input waits that reported bytes.
  int EventWaitsReturned() {
    std::lock_guard lock(mutex_);
    return eventsReported_;
  }
  // Input waits that ended (any reason): what the dispatch thread woke for.
  int InputWaits() {
    std::lock_guard lock(mutex_);
    return inputWaits_;
  }
  int StatusReads() {
    std::lock_guard lock(mutex_);
    return statusReads_;
  }

  static std::string Describe(const serial::TDCB& d) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "LINE %u %u%c%u flags=%04x lim=%u/%u chars=%u/%u", d.BaudRate,
                  d.ByteSize, "NOEMS?"[std::min<int>(d.Parity, 5)], d.StopBits, d.Flags, d.XonLim,
                  d.XoffLim, d.XonChar, d.XoffChar);
    return buf;
  }

 protected:
  int32_t EscapeLine(uint32_t code) override {
    std::lock_guard lock(mutex_);
    calls_.push_back("ESC " + std::to_string(code));
    return 0;
  }
  int32_t PurgeQueue(bool input) override {
    if (!input) DiscardOutRing();
    std::lock_guard lock(mutex_);
    calls_.push_back(input ? "PURGE in" : "PURGE out");
    if (input) input_.clear();
    return 0;
  }
  uint32_t ReadDeviceStatus(serial::TDeviceStatus& status) override {
    std::lock_guard lock(mutex_);
    ++statusReads_;
    status = {};
    status.InQueue = static_cast<uint32_t>(input_.size());
    status.OutQueue = OutRingPendingLocked();
    return 0;
  }
  int32_t ReportReadError(int32_t) override { return 0; }
  int32_t GetDeviceLine(serial::TDCB& dcb) override {
    std::lock_guard lock(mutex_);
    dcb = device_;
    return 0;
  }
  uint32_t ReadDevice(uint8_t* buffer, uint32_t count) override {
    std::lock_guard lock(mutex_);
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, input_.size()));
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + n);
    return n;
  }
  int32_t SetDeviceLine(const serial::TDCB& dcb) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(Describe(dcb));
    ++lineWrites_;
    if (lineRefused_) return serial::ecBadParameter;
    device_ = dcb;
    if (noDriverFlow_) device_.Flags &= ~serial::kDcbDriverRtsCts;
    if (halfTakenRate_ != 0 && dcb.BaudRate == halfTakenRate_) return serial::ecBadParameter;
    return 0;
  }
  bool DeviceOutputQueued(uint32_t& bytes) override {
    std::lock_guard lock(mutex_);
    if (!queueKnown_) return false;
    ++queueLooks_;
    bytes = deviceQueue_;
    // Each new count once: a stuck queue is one entry, however often looked at.
    if (static_cast<int64_t>(bytes) != lastQueueSeen_) calls_.push_back("OUTQ " + std::to_string(bytes));
    lastQueueSeen_ = bytes;
    deviceQueue_ -= std::min(deviceQueue_, queuePerLook_);
    return true;
  }
  uint32_t WaitDeviceInput(bool wantInput, int timeoutMs) override {
    std::unique_lock lock(mutex_);
    const auto ready = [&] {
      return inputCancel_ ||
             (eventsEnabled_ && wantInput && !input_.empty() && inputGeneration_ != reported_);
    };
    if (timeoutMs < 0)
      changed_.wait(lock, ready);
    else
      changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    ++inputWaits_;
    if (inputCancel_) {
      inputCancel_ = false;
      return 0;
    }
    if (!ready()) return 0;
    reported_ = inputGeneration_;
    ++eventsReported_;
    return serial::kEvRxChar;
  }
  void WakeInputWait() override {
    {
      std::lock_guard lock(mutex_);
      inputCancel_ = true;
    }
    changed_.notify_all();
  }
  bool InputReported() override {
    std::lock_guard lock(mutex_);
    return eventsEnabled_;
  }
  uint32_t WaitDeviceEvent() override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return eventCancel_ || lineEventBits_ != 0; });
    if (eventCancel_) {
      eventCancel_ = false;
      return 0;
    }
    return std::exchange(lineEventBits_, 0u);
  }
  void CancelDeviceEventWait() override {
    {
      std::lock_guard lock(mutex_);
      eventCancel_ = true;
    }
    changed_.notify_all();
  }
  bool LineChangesReported() override {
    std::lock_guard lock(mutex_);
    return lineEvents_;
  }
  bool SetupDeviceQueues(uint32_t inSize, uint32_t outSize) override {
    std::lock_guard lock(mutex_);
    queueSizes_.push_back({inSize, outSize});
    return !queuesRefused_;
  }
  int32_t OpenHandle(const std::string&) override {
    // The levels the open asks for, which a device may set as it opens
    // (read before the fake's lock: the core holds GeneralLock around
    // every other call into the fake).
    const std::string levels =
        std::string(" dtr=") + (DTRLevel() ? "1" : "0") + " rts=" + (RTSLevel() ? "1" : "0");
    std::lock_guard lock(mutex_);
    calls_.push_back("OPEN" + levels);
    eventCancel_ = writeCancel_ = inputCancel_ = false;
    return openResult_;
  }
  int32_t CloseDevice() override {
    std::lock_guard lock(mutex_);
    calls_.push_back("CLOSE");
    ++closes_;
    return closeFails_ ? -1 : 0;
  }
  int32_t WriteDevice(const uint8_t* first, uint32_t firstLen, const uint8_t* second,
                      uint32_t secondLen) override {
    std::lock_guard lock(mutex_);
    size_t n = std::min<size_t>(writeBudget_, firstLen + secondLen);
    writeBudget_ -= n;
    const size_t a = std::min<size_t>(n, firstLen);
    output_.append(reinterpret_cast<const char*>(first), a);
    output_.append(reinterpret_cast<const char*>(second), n - a);
    if (n > 0) {
      writes_.push_back({firstLen, secondLen});
      writeThreads_.push_back(std::this_thread::get_id());
    }
    return static_cast<int32_t>(n);
  }
  bool WaitDeviceWritable() override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return writeCancel_ || writeBudget_ > 0; });
    if (writeCancel_) {
      writeCancel_ = false;
      return false;
    }
    return true;
  }
  void CancelDeviceWriteWait() override {
    {
      std::lock_guard lock(mutex_);
      writeCancel_ = true;
    }
    changed_.notify_all();
  }
  bool GetModemLines(uint32_t& bits) override {
    std::lock_guard lock(mutex_);
    bits = modemBits_;
    return modemSupported_;
  }
  bool IsDeviceLost() const override { return false; }

 private:
  template <typename T, typename V>
  void Store(T& field, const V& value) {
    std::lock_guard lock(mutex_);
    field = value;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  serial::TDCB device_;
  std::deque<uint8_t> input_;
  uint64_t inputGeneration_ = 0, reported_ = 0;
  std::string output_;
  size_t writeBudget_ = std::numeric_limits<size_t>::max();
  bool eventsEnabled_ = true;
  bool eventCancel_ = false, writeCancel_ = false, inputCancel_ = false;
  bool lineEvents_ = false;
  uint32_t lineEventBits_ = 0;
  bool modemSupported_ = false;
  uint32_t modemBits_ = 0;
  bool lineRefused_ = false;
  uint32_t halfTakenRate_ = 0;
  bool noDriverFlow_ = false;
  bool queueKnown_ = false;
  uint32_t deviceQueue_ = 0, queuePerLook_ = 0;
  int64_t lastQueueSeen_ = -1;
  int queueLooks_ = 0;
  bool closeFails_ = false;
  bool queuesRefused_ = false;
  std::vector<std::pair<uint32_t, uint32_t>> queueSizes_;
  int32_t openResult_ = 100;
  std::vector<std::string> calls_;
  std::vector<std::pair<uint32_t, uint32_t>> writes_;
  std::vector<std::thread::id> writeThreads_;
  int lineWrites_ = 0, closes_ = 0, eventsReported_ = 0, statusReads_ = 0, inputWaits_ = 0;
};

}  // namespace serialtest
