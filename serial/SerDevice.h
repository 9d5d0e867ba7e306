#pragma once
// TWin32Dispatcher: the dispatcher of a serial device of this machine (the
// port's native device layer, dlWin32). Underneath it is a Linux tty:
//  - open: the name "\\.\COM<n>" (or "COM<n>") is resolved by
//    platform::ComDevicePath, any other name is taken as a path; the device
//    is opened non-blocking and exclusively (flock) and put in raw mode.
//    Results as the port expects them: -2/-3 no such port (missing, not a
//    tty), -5 held by another component or process, -12 permission refused
//    (platform::kErrPermissionRefused; never "held"), -8 out of memory,
//    other negated Windows error numbers (platform/SysError.h).
//  - the dispatch thread waits in poll() on the device (for input only while
//    the input ring has room) and on a wake-up; a hang-up, an unplugged
//    device or a closed pseudo-terminal master marks the device lost, and it
//    is not polled again. The dispatch thread's poll (POLLHUP, POLLERR) and
//    read, the output thread's write and the event thread's line wait (EIO,
//    ENXIO, ENODEV ...) may each see it first; the first wakes the dispatch
//    thread, which tells it (MsgDeviceLost).
//  - the event thread waits for modem-line changes with TIOCMIWAIT and tells
//    them by the driver's counts (TIOCGICOUNT), so a ring or DCD pulse of
//    any length is seen. Where the driver cannot wait (a pseudo-terminal has
//    no lines at all) it only waits to be stopped, and the lines are compared
//    at each pass where there are any.
//  - DTR and RTS by TIOCMBIS/TIOCMBIC (failures ignored: pseudo-terminals
//    have no modem lines), set to the wanted levels as the device opens;
//    modem status by TIOCMGET, error bits from the driver's error counters,
//    queue counts (TIOCOUTQ for the drain before a line change), purge by
//    flush. kDcbDriverRtsCts is CRTSCTS.
// Threads: as TBaseDispatcher; the descriptor and its wake-ups are made by
// the open and closed only after the worker threads have ended.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "SerDispatch.h"
#include "TtyDevice.h"
#include "WakeEvent.h"

namespace serial {

class TWin32Dispatcher : public TBaseDispatcher {
 public:
  explicit TWin32Dispatcher(TCustomComPort* owner);
  ~TWin32Dispatcher() override;

 protected:
  int32_t EscapeLine(uint32_t code) override;
  int32_t PurgeQueue(bool input) override;
  uint32_t ReadDeviceStatus(TDeviceStatus& status) override;
  int32_t ReportReadError(int32_t code) override;
  int32_t GetDeviceLine(TDCB& dcb) override;
  uint32_t ReadDevice(uint8_t* buffer, uint32_t count) override;
  int32_t SetDeviceLine(const TDCB& dcb) override;
  uint32_t WaitDeviceInput(bool wantInput, int timeoutMs) override;
  void WakeInputWait() override;
  uint32_t WaitDeviceEvent() override;
  void CancelDeviceEventWait() override;
  bool LineChangesReported() override { return lineWaitSupported_.load(); }
  bool SetupDeviceQueues(uint32_t inSize, uint32_t outSize) override;
  int32_t OpenHandle(const std::string& name) override;
  int32_t CloseDevice() override;
  int32_t WriteDevice(const uint8_t* first, uint32_t firstLen, const uint8_t* second,
                      uint32_t secondLen) override;
  bool WaitDeviceWritable() override;
  void CancelDeviceWriteWait() override;
  bool GetModemLines(uint32_t& bits) override;
  bool IsDeviceLost() const override { return lost_.load(); }
  void ApplyDeviceRS485(bool on) override;
  bool DeviceOutputQueued(uint32_t& bytes) override;

 private:
  // Any thread may see the loss first; the dispatch thread tells it.
  void MarkLost() {
    if (!lost_.exchange(true)) WakeInputWait();
  }
  // Line events since the counts were last taken (event thread).
  uint32_t LineEventsSinceLastLook();

  int fd_ = -1;
  platform::WakeEvent inputWake_;
  platform::WakeEvent writeWake_;
  std::atomic<bool> lost_{false};
  std::atomic<bool> modemLinesSupported_{true};
  std::atomic<bool> lineWaitSupported_{true};
  // The event thread's wait and what ends it (lineWaitMutex_).
  std::mutex lineWaitMutex_;
  std::condition_variable lineWaitEnded_;
  bool eventCancel_ = false;
  bool inLineWait_ = false;   // in TIOCMIWAIT now: only then is the thread signalled
  unsigned long eventThread_ = 0;
  // The line counts and lines at the last look (event thread).
  bool lineCountsKnown_ = false;
  platform::TtyCounters lineCounts_;
  uint32_t lastLines_ = 0;
  // Error counters at the last status read (OutputLock).
  bool countersSupported_ = false;
  platform::TtyCounters counters_;
  // The control-block values a tty has no place for (GeneralLock).
  uint32_t lineFlags_ = 0;
  uint16_t xonLim_ = 0;
  uint16_t xoffLim_ = 0;
  // Readable wake-ups that brought no byte, in a row (dispatch thread): a
  // device that keeps saying "readable" but gives nothing is gone.
  std::atomic<uint64_t> bytesRead_{0};
  uint64_t readsAtWake_ = 0;
  bool readableCheckPending_ = false;
  int emptyReadableWakes_ = 0;
};

// The telephony variant works on a device handed in by a telephony service,
// which this system does not have: its open always fails with
// ecNotOpenedByTapi.
class TTapiDispatcher : public TWin32Dispatcher {
 public:
  TTapiDispatcher(TCustomComPort* owner, uint16_t tapiDevice)
      : TWin32Dispatcher(owner), tapiDevice_(tapiDevice) {}
  uint16_t TapiDevice() const { return tapiDevice_; }

 protected:
  int32_t OpenHandle(const std::string&) override { return ecNotOpenedByTapi; }

 private:
  const uint16_t tapiDevice_;
};

}  // namespace serial
