#include "SerDevice.h"

#include <poll.h>
#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "ComPath.h"
#include "SysError.h"

namespace serial {
namespace {

constexpr int kEmptyWakesMeanLost = 3;

int32_t Negated(unsigned long winError) { return -static_cast<int32_t>(winError); }

bool ErrnoMeansGone(int err) {
  return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF;
}

}  // namespace

TWin32Dispatcher::TWin32Dispatcher(TCustomComPort* owner) : TBaseDispatcher(owner) {}

TWin32Dispatcher::~TWin32Dispatcher() { Shutdown(); }

int32_t TWin32Dispatcher::OpenHandle(const std::string& name) {
  std::string path = name;
  unsigned number = 0;
  if (platform::ParseComName(name, number)) path = platform::ComDevicePath(number);
  if (path.empty()) return Negated(platform::kErrFileNotFound);

  int fd = -1;
  const platform::TtyOpenLevels levels{DTRLevel(), RTSLevel()};
  if (const int err = platform::TtyOpenExclusive(path.c_str(), fd, levels); err != 0)
    return Negated(platform::WinErrorFromDeviceErrno(err));
  if (inputWake_.Create() != 0 || writeWake_.Create() != 0) {
    platform::TtyClose(fd);
    inputWake_.Destroy();
    writeWake_.Destroy();
    return ecOutOfMemory;
  }
  platform::TtyPrepareWakeSignal();
  fd_ = fd;
  lost_ = false;
  modemLinesSupported_ = true;
  lineWaitSupported_ = true;
  lineCountsKnown_ = false;
  {
    std::lock_guard lock(lineWaitMutex_);
    eventCancel_ = false;
  }
  countersSupported_ = platform::TtyGetCounters(fd_, counters_) == 0;
  lineFlags_ = kDcbBinary;
  xonLim_ = xoffLim_ = 0;
  readableCheckPending_ = false;
  emptyReadableWakes_ = 0;
  return fd;
}

int32_t TWin32Dispatcher::CloseDevice() {
  const int err = platform::TtyClose(fd_);  // fd_ is -1 afterwards, whatever err says
  inputWake_.Destroy();
  writeWake_.Destroy();
  return err == 0 ? 0 : -1;
}

bool TWin32Dispatcher::SetupDeviceQueues(uint32_t, uint32_t) {
  // The kernel sizes a tty's queues itself.
  return true;
}

int32_t TWin32Dispatcher::EscapeLine(uint32_t code) {
  if (fd_ < 0) return 0;
  // Pseudo-terminals have no modem lines; a refused change is not an error.
  switch (code) {
    case kEscSetRts: platform::TtySetModemLine(fd_, platform::kTtyRts, true); break;
    case kEscClrRts: platform::TtySetModemLine(fd_, platform::kTtyRts, false); break;
    case kEscSetDtr: platform::TtySetModemLine(fd_, platform::kTtyDtr, true); break;
    case kEscClrDtr: platform::TtySetModemLine(fd_, platform::kTtyDtr, false); break;
    default: break;
  }
  return 0;
}

int32_t TWin32Dispatcher::PurgeQueue(bool input) {
  if (!input) DiscardOutRing();
  if (fd_ < 0) return 0;
  const int err = platform::TtyFlush(fd_, input);
  return err == 0 ? 0 : Negated(platform::WinErrorFromErrno(err));
}

uint32_t TWin32Dispatcher::ReadDeviceStatus(TDeviceStatus& status) {
  status = {};
  status.OutQueue = OutRingPendingLocked();
  if (fd_ < 0) return 0;
  uint32_t errors = 0;
  if (countersSupported_ && !lost_.load()) {
    platform::TtyCounters now;
    if (platform::TtyGetCounters(fd_, now) == 0) {
      if (now.bufOverrun != counters_.bufOverrun) errors |= kCeRxOver;
      if (now.overrun != counters_.overrun) errors |= kCeOverrun;
      if (now.parity != counters_.parity) errors |= kCeRxParity;
      if (now.frame != counters_.frame) errors |= kCeFrame;
      if (now.brk != counters_.brk) errors |= kCeBreak;
      counters_ = now;
    } else {
      countersSupported_ = false;
    }
  }
  uint32_t queued = 0;
  if (platform::TtyInputQueued(fd_, queued) == 0) status.InQueue = queued;
  status.Flags = errors;
  return errors;
}

int32_t TWin32Dispatcher::ReportReadError(int32_t) { return 0; }

int32_t TWin32Dispatcher::GetDeviceLine(TDCB& dcb) {
  if (fd_ < 0) return -1;
  platform::TtyLine line;
  if (platform::TtyGetLine(fd_, line) != 0) return -1;
  dcb.BaudRate = line.rate;
  dcb.ByteSize = line.dataBits;
  dcb.Parity = line.parity;
  dcb.StopBits = !line.extraStopBit ? kOneStopBit : line.dataBits == 5 ? kOne5StopBits : kTwoStopBits;
  dcb.Flags = lineFlags_ & ~(kDcbOutX | kDcbInX | kDcbParity | kDcbDriverRtsCts);
  if (line.rtsCtsFlow) dcb.Flags |= kDcbDriverRtsCts;
  if (line.obeyXoff) dcb.Flags |= kDcbOutX;
  if (line.sendXoff) dcb.Flags |= kDcbInX;
  if (line.checkParity) dcb.Flags |= kDcbParity;
  dcb.XonLim = xonLim_;
  dcb.XoffLim = xoffLim_;
  dcb.XonChar = line.xonChar;
  dcb.XoffChar = line.xoffChar;
  return 0;
}

int32_t TWin32Dispatcher::SetDeviceLine(const TDCB& dcb) {
  if (fd_ < 0) return Negated(platform::kErrInvalidHandle);
  platform::TtyLine line;
  line.rate = dcb.BaudRate;
  line.dataBits = dcb.ByteSize;
  line.parity = dcb.Parity;
  line.extraStopBit = dcb.StopBits != kOneStopBit;
  line.obeyXoff = (dcb.Flags & kDcbOutX) != 0;
  line.sendXoff = (dcb.Flags & kDcbInX) != 0;
  line.checkParity = (dcb.Flags & kDcbParity) != 0;
  line.rtsCtsFlow = (dcb.Flags & kDcbDriverRtsCts) != 0;
  line.xonChar = dcb.XonChar;
  line.xoffChar = dcb.XoffChar;
  // TtySetLine refuses rate 0: B0 would hang the modem up.
  if (const int err = platform::TtySetLine(fd_, line); err != 0)
    return Negated(platform::WinErrorFromErrno(err));
  lineFlags_ = dcb.Flags;
  xonLim_ = dcb.XonLim;
  xoffLim_ = dcb.XoffLim;
  return 0;
}

uint32_t TWin32Dispatcher::ReadDevice(uint8_t* buffer, uint32_t count) {
  if (fd_ < 0 || count == 0) return 0;
  // What a hung-up device still holds is read; then reads end in EIO.
  const ssize_t n = ::read(fd_, buffer, count);
  if (n > 0) {
    bytesRead_.fetch_add(static_cast<uint64_t>(n));
    return static_cast<uint32_t>(n);
  }
  if (n < 0 && ErrnoMeansGone(errno)) MarkLost();
  return 0;
}

uint32_t TWin32Dispatcher::WaitDeviceInput(bool wantInput, int timeoutMs) {
  if (readableCheckPending_) {
    readableCheckPending_ = false;
    if (wantInput && bytesRead_.load() == readsAtWake_) {
      if (++emptyReadableWakes_ >= kEmptyWakesMeanLost) MarkLost();
    } else {
      emptyReadableWakes_ = 0;
    }
  }
  const bool watchDevice = fd_ >= 0 && !lost_.load();
  const uint64_t readsBefore = bytesRead_.load();
  pollfd fds[2] = {{inputWake_.Fd(), POLLIN, 0},
                   {watchDevice ? fd_ : -1, static_cast<short>(wantInput ? POLLIN : 0), 0}};
  const int r = ::poll(fds, 2, timeoutMs);
  if (r < 0) {
    // Only an interrupted wait is expected; anything else must not spin.
    if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(kPassIntervalMs));
    return 0;
  }
  if (fds[0].revents) inputWake_.Drain();
  uint32_t events = 0;
  if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    MarkLost();
    events |= kEvDeviceLost | kEvErr | kEvRxChar;
  } else if (fds[1].revents & POLLIN) {
    events |= kEvRxChar;
    readsAtWake_ = readsBefore;
    readableCheckPending_ = true;
  }
  return events;
}

void TWin32Dispatcher::WakeInputWait() { inputWake_.Signal(); }

uint32_t TWin32Dispatcher::LineEventsSinceLastLook() {
  uint32_t events = 0;
  platform::TtyCounters now;
  if (platform::TtyGetCounters(fd_, now) == 0) {
    if (lineCountsKnown_) {
      if (now.cts != lineCounts_.cts) events |= kEvCts;
      if (now.dsr != lineCounts_.dsr) events |= kEvDsr;
      if (now.dcd != lineCounts_.dcd) events |= kEvRlsd;
      if (now.ring != lineCounts_.ring) events |= kEvRing;
    }
    lineCounts_ = now;
    lineCountsKnown_ = true;
    return events;
  }
  // No counts: the lines as they are now against the last look.
  uint32_t lines = 0;
  if (platform::TtyGetModemStatus(fd_, lines) != 0) return 0;
  const uint32_t changed = lines ^ lastLines_;
  if (lineCountsKnown_) {
    if (changed & kMsCtsOn) events |= kEvCts;
    if (changed & kMsDsrOn) events |= kEvDsr;
    if (changed & kMsRlsdOn) events |= kEvRlsd;
    if ((changed & kMsRingOn) && !(lines & kMsRingOn)) events |= kEvRing;
  }
  lastLines_ = lines;
  lineCountsKnown_ = true;
  return events;
}

uint32_t TWin32Dispatcher::WaitDeviceEvent() {
  std::unique_lock lock(lineWaitMutex_);
  if (eventCancel_) {
    eventCancel_ = false;
    return 0;
  }
  if (fd_ < 0 || lost_.load() || !modemLinesSupported_.load() || !lineWaitSupported_.load()) {
    // Nothing to wait for but the end.
    lineWaitEnded_.wait(lock, [this] { return eventCancel_; });
    eventCancel_ = false;
    return 0;
  }
  lock.unlock();
  // A change between the last look and the wait's start would not end the
  // wait: look first.
  if (const uint32_t events = LineEventsSinceLastLook(); events != 0) return events;
  lock.lock();
  if (eventCancel_) {
    eventCancel_ = false;
    return 0;
  }
  eventThread_ = static_cast<unsigned long>(::pthread_self());
  inLineWait_ = true;
  lock.unlock();
  const int err = platform::TtyWaitModemChange(fd_);
  lock.lock();
  inLineWait_ = false;
  lock.unlock();
  if (err == EIO) {
    MarkLost();
    return 0;
  }
  if (err != 0 && err != EINTR) {
    // The driver cannot wait: the dispatch thread's passes compare the lines.
    lineWaitSupported_ = false;
    WakeInputWait();
    return 0;
  }
  return LineEventsSinceLastLook();
}

void TWin32Dispatcher::CancelDeviceEventWait() {
  std::lock_guard lock(lineWaitMutex_);
  eventCancel_ = true;
  lineWaitEnded_.notify_all();
  if (inLineWait_) platform::TtyWakeWaiter(eventThread_);
}

int32_t TWin32Dispatcher::WriteDevice(const uint8_t* first, uint32_t firstLen,
                                      const uint8_t* second, uint32_t secondLen) {
  if (fd_ < 0) return -1;
  iovec pieces[2] = {{const_cast<uint8_t*>(first), firstLen},
                     {const_cast<uint8_t*>(second), secondLen}};
  const ssize_t n = ::writev(fd_, pieces, secondLen > 0 ? 2 : 1);
  if (n >= 0) return static_cast<int32_t>(n);
  if (errno == EAGAIN || errno == EINTR) return 0;
  if (ErrnoMeansGone(errno)) MarkLost();
  return -1;
}

bool TWin32Dispatcher::WaitDeviceWritable() {
  pollfd fds[2] = {{writeWake_.Fd(), POLLIN, 0}, {fd_, POLLOUT, 0}};
  const int r = ::poll(fds, 2, -1);
  if (r < 0) {
    if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(kPassIntervalMs));
    return true;
  }
  if (fds[0].revents) {
    writeWake_.Drain();
    return false;
  }
  // Writable, or hung up: the next write then fails and drops the run.
  return true;
}

void TWin32Dispatcher::CancelDeviceWriteWait() { writeWake_.Signal(); }

bool TWin32Dispatcher::GetModemLines(uint32_t& bits) {
  if (fd_ < 0 || !modemLinesSupported_.load()) return false;
  const int err = platform::TtyGetModemStatus(fd_, bits);
  if (err == 0) return true;
  // A device without modem lines (a pseudo-terminal) is not asked again.
  if (err == ENOTTY || err == EINVAL) modemLinesSupported_ = false;
  return false;
}

bool TWin32Dispatcher::DeviceOutputQueued(uint32_t& bytes) {
  // Pseudo-terminals hand every write to the other side at once: always 0.
  return fd_ >= 0 && !lost_.load() && platform::TtyOutputQueued(fd_, bytes) == 0;
}

void TWin32Dispatcher::ApplyDeviceRS485(bool on) {
  // Where the driver has no RS485 mode the flag is only recorded.
  if (fd_ >= 0) platform::TtySetRS485(fd_, on);
}

}  // namespace serial
