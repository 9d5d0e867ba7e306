#pragma once
// TBaseDispatcher: the engine behind one open serial port. The port component
// creates one per open and frees it after the close. It owns the 8192-byte
// input ring the dispatch thread fills, the output ring SendString fills and
// the output thread empties, the notice receivers, the three worker threads
// and the line settings. Every call that touches the device goes through the
// protected device operations below, which a concrete dispatcher supplies
// (TWin32Dispatcher in SerDevice.h for a tty; the tests put a recording fake
// behind the same seam).
//
// What a caller may rely on:
//  - Results: 0 or a count on success, a negative code (SerCodes.h) on
//    failure. Nothing throws, except StartThreads on a running dispatcher
//    (std::runtime_error "Dispatcher already started").
//  - Threads: open, close, line control, reading (TakeChar) and queueing
//    (QueueBlock) come from the port's thread (the GUI thread); notices are
//    handed to receivers from the dispatch thread (SerDispatchNotice.h).
//  - Locks, all re-entrant, taken in the order PortListLock, InputLock,
//    OutputLock, GeneralLock. InputLock guards the input ring and the
//    read-ahead state of a notice, OutputLock the output ring and the device
//    status, GeneralLock the line settings, the receivers, the notice
//    threshold, thread start/stop and the trace and dispatch log (SerTrace.h,
//    SerLog.h). No lock is held while a thread waits
//    for another thread or while a notice is delivered.
//  - The descriptor is closed only after the worker threads have ended; a
//    failed close still gives the descriptor up.
//  - No worker thread ever takes PortListLock, and no close (CloseChannel,
//    ReleaseChannel, StopThreads, the destructor) serves GUI messages. A
//    close cancels a delivery that has not begun; one whose handler runs at
//    that moment is deferred (CloseDeferred), and what releases it later
//    (ReleaseChannel, the destructor, a reopen) waits for the dispatch
//    thread, which waits for that handler at most the notice time-out.
//    So the GUI thread may hold PortListLock (a port window's handler) while
//    it closes or frees another port's dispatcher and joins its threads.
//  - A lost device (DeviceLost()) is told to the receivers by the dispatch
//    thread alone, whichever thread saw it (its own wait or read, the output
//    thread's write, the event thread's line wait, a QueueBlock): one
//    MsgDeviceLost notice per open, handed to the receivers as every notice
//    is. It follows the bytes-available notice of every byte read before it:
//    while such a notice has not reached a handler (the receiver was busy
//    past the time-out, or refused it) the loss waits behind it. A loss
//    notice that reaches no handler is tried again 50 ms later, and as soon
//    as a receiver comes to want notices; once a handler has run it, it is
//    never sent again. A close that has begun cancels it like any notice.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SerCodes.h"
#include "SerDispatchNotice.h"
#include "SerDispatchSignals.h"
#include "SerLog.h"
#include "SerTrace.h"

class TCustomComPort;  // the port component; notices are meant for it

namespace serial {

constexpr uint32_t kInRingSize = 8192;
constexpr std::chrono::milliseconds kNoticeTimeout{3000};
constexpr int kPassIntervalMs = 50;

// Device control block: the line settings in the layout the layer was
// designed around. A concrete device maps it onto its own settings.
struct TDCB {
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;      // kDcb* bits
  uint16_t XonLim = 0;     // resume mark of receive flow control
  uint16_t XoffLim = 0;    // free room at which receive flow holds the far side
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;    // kOneStopBit, kOne5StopBits, kTwoStopBits
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
  bool operator==(const TDCB&) const = default;
};

enum : uint32_t {
  kDcbBinary = 0x1,
  kDcbParity = 0x2,
  kDcbOutxCtsFlow = 0x4,
  kDcbOutxDsrFlow = 0x8,
  kDcbDtrControlMask = 0x30,
  kDcbDtrControlEnable = 0x10,
  kDcbDtrControlHandshake = 0x20,
  kDcbDsrSensitivity = 0x40,
  kDcbTXContinueOnXoff = 0x80,
  kDcbOutX = 0x100,
  kDcbInX = 0x200,
  kDcbNull = 0x800,
  kDcbRtsControlMask = 0x3000,
  kDcbRtsControlEnable = 0x1000,
  kDcbRtsControlHandshake = 0x2000,
  kDcbRtsControlToggle = 0x3000,
  // This layer's own bit, outside the published layout: the driver does the
  // RTS/CTS handshake itself (a tty's CRTSCTS). Set only for the pair it can
  // do, hwfUseRTS with hwfRequireCTS; GetDeviceLine shows whether it kept it.
  kDcbDriverRtsCts = 0x8000,
};

enum : uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// Escape functions of EscapeLine.
enum : uint32_t { kEscSetRts = 3, kEscClrRts = 4, kEscSetDtr = 5, kEscClrDtr = 6, kEscGetBaseAddress = 10 };

// Device event bits. kEvDeviceLost is this layer's own: the device went away
// (hang-up, unplugged modem, pseudo-terminal master closed).
enum : uint32_t {
  kEvRxChar = 0x1,
  kEvCts = 0x8,
  kEvDsr = 0x10,
  kEvRlsd = 0x20,
  kEvBreak = 0x40,
  kEvErr = 0x80,
  kEvRing = 0x100,
  kEvRingTrailingEdge = 0x2000,
  kEvDeviceLost = 0x10000,
};
constexpr uint32_t kEvModemLines = kEvCts | kEvDsr | kEvRlsd | kEvRing | kEvRingTrailingEdge;

// Communication error bits gathered in ErrorFlags.
enum : uint32_t { kCeRxOver = 0x1, kCeOverrun = 0x2, kCeRxParity = 0x4, kCeFrame = 0x8, kCeBreak = 0x10 };

// ModemStatusBits: lines in bits 4..7, change bits in 0..3.
enum : uint32_t {
  kMsCtsOn = 0x10, kMsDsrOn = 0x20, kMsRingOn = 0x40, kMsRlsdOn = 0x80,
  kMsCtsChanged = 0x1, kMsDsrChanged = 0x2, kMsRingEnded = 0x4, kMsDcdChanged = 0x8,
};

// Hardware flow options (the port's HWFlowOptions bits) and software sides.
enum : uint32_t { hwfUseDTR = 1, hwfUseRTS = 2, hwfRequireDSR = 4, hwfRequireCTS = 8 };
enum : uint32_t { swfSideTransmit = 1, swfSideReceive = 2 };

// Device status record: error flags, bytes waiting in the device's input
// queue, bytes pending output (the output ring's count).
struct TDeviceStatus {
  uint32_t Flags = 0;
  uint32_t InQueue = 0;
  uint32_t OutQueue = 0;
};

// What the port keeps of the dispatcher's notice registrations while it is
// closed: only the threshold (no trigger kind of its own is registered).
struct TSavedTriggers {
  uint32_t Threshold = 0;
};

// Ring arithmetic shared by both rings: indices 0..size-1; head = tail is
// empty unless the full flag says size bytes are held.
struct TRingRuns {
  uint32_t first;   // contiguous run starting at the index asked about
  uint32_t second;  // the rest, from index 0
};
constexpr uint32_t RingCount(uint32_t head, uint32_t tail, uint32_t size, bool full) {
  return head > tail ? head - tail : head < tail ? head + size - tail : (full ? size : 0);
}
// The pending bytes from tail, as at most two runs.
constexpr TRingRuns RingPendingRuns(uint32_t head, uint32_t tail, uint32_t size, bool full) {
  const uint32_t count = RingCount(head, tail, size, full);
  const uint32_t first = count < size - tail ? count : size - tail;
  return {first, count - first};
}
// The free room from head, as at most two runs.
constexpr TRingRuns RingFreeRuns(uint32_t head, uint32_t tail, uint32_t size, bool full) {
  const uint32_t room = size - RingCount(head, tail, size, full);
  const uint32_t first = room < size - head ? room : size - head;
  return {first, room - first};
}
constexpr uint32_t RingAdvance(uint32_t index, uint32_t n, uint32_t size) {
  return static_cast<uint32_t>((static_cast<uint64_t>(index) + n) % size);
}

// The line values ApplyLine would write, from the device's current ones.
struct TLineValues {
  uint32_t BaudRate;
  uint8_t Parity;
  uint8_t ByteSize;
  uint8_t StopBits;
  bool operator==(const TLineValues&) const = default;
};
// baud 0 keeps the rate, parity 5 the parity, databits 9 the byte size,
// stopbits 3 the stop bits; stopbits 0 counts as 1 and above 3 as 2. Two stop
// bits with 5 data bits are sent as 1.5; one stop bit stays one.
TLineValues NormaliseLine(const TDCB& current, int32_t baud, int parity, int databits, int stopbits);
// Rate of a rate value, decoding the 16-bit-era codes 0xFF10..0xFF27, 0xFEFF.
uint32_t RateFromCode(uint32_t rate);
// The wait after the output ring has drained before line values change:
// 18 character times, doubled below 1 ms, in whole milliseconds. 0 for rate 0.
uint32_t DrainWaitMs(uint32_t rate, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
// How long a line change waits at most for bytes the device still holds: the
// time they need on the wire at that rate and frame, rounded up, plus
// kDeviceDrainMarginMs. Only the margin for rate 0.
constexpr uint32_t kDeviceDrainMarginMs = 100;
uint32_t DeviceDrainBoundMs(uint32_t bytes, uint32_t rate, uint8_t byteSize, uint8_t parity,
                            uint8_t stopBits);

// The process-wide port list: a dispatcher's handle is its index.
std::recursive_mutex& PortListLock();
class TBaseDispatcher;
// The dispatcher with that handle, or nullptr. Hold PortListLock while the
// result is used.
TBaseDispatcher* FindDispatcher(int32_t handle);
// The same for a caller that holds PortListLock already.
TBaseDispatcher* FindDispatcherLocked(int32_t handle);
size_t PortListCount();

class TBaseDispatcher {
 public:
  explicit TBaseDispatcher(TCustomComPort* owner);
  // Concrete dispatchers call Shutdown() in their destructor.
  virtual ~TBaseDispatcher();
  TBaseDispatcher(const TBaseDispatcher&) = delete;
  TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

  TCustomComPort* OwnerPort() const { return ownerPort_; }
  int32_t DispatcherHandle() const { return dispatcherHandle_; }

  // ---- Open and close (port thread) ----
  // name: "\\.\COM<n>" or a device path. parity 0..4, stopbits 1 or 2.
  // Returns 0, ecOutOfMemory, or the negated Windows error of the open
  // (OpenResultCode maps it as the port reports it), or ApplyLine's code.
  int32_t OpenChannel(const std::string& name, int32_t baud, int parity, int databits,
                      int stopbits, uint32_t inSize, uint32_t outSize, bool dtr, bool rts);
  // Discards both directions and closes the device. From inside a notice
  // handler the release is left to the dispatch thread (CloseDeferred()).
  int32_t CloseChannel();
  virtual void ReleaseChannel();
  // Sizes the open device's driver queues again (the port's InSize/OutSize
  // written while open): 0, ecBadParameter when the device refuses, or
  // ecCommNotOpen. The rings and the sizes recorded at open stay as they are.
  int32_t SizeDeviceQueues(uint32_t inSize, uint32_t outSize);
  bool DeviceOpen() const { return deviceHandle_ >= 0; }
  bool CloseDeferred() const { return closeDeferred_.load(); }
  // The device went away (hang-up, unplugged, pseudo-terminal master closed):
  // nothing more will be read, pending output is dropped. It stays so until
  // the port is closed; MsgDeviceLost tells it (see above).
  bool DeviceLost() const { return IsDeviceLost(); }

  // ---- Input (port thread; InputLock, taken once per call) ----
  // Next unread byte, or ecBufferIsEmpty when nothing (more) is unread.
  // With mayReadAhead, while the handler of a bytes-available delivery runs
  // (its ticket Running), it reads ahead without consuming: the n-th read
  // returns the n-th unread byte, and the delivery consumes the most bytes
  // any receiver read when it ends. The caller passes false when the read is
  // not made by that handler itself (a timer in the handler's nested event
  // loop). Every other read is ordinary: it first consumes what handlers of
  // the notice under way were handed, then takes the next byte. So however
  // the two kinds of read interleave with the delivery (a handler that has
  // returned but is not consumed yet, one that is still reading past the
  // time-out), no byte is handed out twice or skipped; a running handler's
  // next read then gets the byte after the one the ordinary read took.
  int32_t TakeChar(uint8_t& c, bool mayReadAhead = true);
  // The n-th byte from the ring's unread end (1 = next) without taking it;
  // n < 1 reads nothing (ecBadArgument), n beyond the unread bytes gives
  // ecBufferIsEmpty. Read-ahead does not move that end; consumption does.
  int32_t PeekAhead(uint8_t& c, uint32_t n);
  // Bytes TakeChar(c, mayReadAhead) could still return: inside the handler,
  // unread less its read-ahead; otherwise unread less what the handlers of
  // the notice under way were handed.
  uint32_t UnreadCount(bool mayReadAhead = true);
  // Drops the unread input and the device's. Inside the handler everything
  // unread counts as taken when its delivery ends.
  int32_t DiscardInput();

  // ---- Output (port thread; OutputLock) ----
  // Copies the whole block into the output ring or nothing: 0,
  // ecOutputBufferTooSmall, ecPutBlockFail, ecCommNotOpen. Never waits.
  int32_t QueueBlock(const void* block, uint32_t len);
  uint32_t OutputPending();
  uint32_t OutputFree();
  // Drops the output ring and the device's output. Not under OutputLock.
  int32_t DiscardOutput();

  // ---- Line control (port thread; GeneralLock) ----
  // A negative baud is ecBadArgument. A change of rate or frame waits first
  // until the output ring and the device's own output queue are empty (the
  // new settings would apply to bytes still queued); the device queue is
  // waited for at most DeviceDrainBoundMs of what it held.
  // Every write of the control block that the device refuses puts the block
  // read before it back: a refused setting leaves the line as it was (the
  // emulated flow control and CurrentBaud included); CurrentLine holds the
  // values tried.
  int32_t ApplyLine(int32_t baud, int parity, int databits, int stopbits);
  // 0, 1 when the line is under handshake (nothing changes), ecBadArgument.
  int32_t SetDTRLevel(bool on);
  int32_t SetRTSLevel(bool on);
  // options: hwf* bits. With any option set, full < resume or full above the
  // input queue size given at open is ecBadArgument. hwfUseRTS together with
  // hwfRequireCTS is handed to the driver (kDcbDriverRtsCts): it holds even
  // the bytes already written to it while CTS is off, and drops RTS as its
  // own buffer fills (full and resume do not move RTS then: the driver's
  // buffer fills once the input ring is full and the device is not read).
  // What the driver cannot do is emulated here: a line under handshake that
  // the driver does not drive (DTR always, RTS without CTS) drops when the
  // unread input passes full and rises again below resume; hwfRequireDSR,
  // and hwfRequireCTS without hwfUseRTS, hold the output ring while the
  // line is off (where the device reports modem lines).
  int32_t SetHandshake(uint32_t options, uint32_t full, uint32_t resume);
  // sides: swfSide* bits; each side's bit is set or cleared; xon/xoff are the
  // port's own flow characters.
  int32_t SetSoftwareFlow(uint32_t sides, uint32_t full, uint32_t resume, uint8_t xon,
                          uint8_t xoff);
  int32_t ClearSoftwareFlow();
  int32_t SetFlowChars(uint8_t xon, uint8_t xoff);
  // Reads the modem lines into ModemStatusBits: bits 4..7 the lines, bits
  // 0..3 set for each line that changed since the last read, kept until a
  // read masks them off. Returns the low byte, then keeps only mask's bits.
  uint32_t ReadModemStatus(uint32_t mask);
  void ApplyRS485(bool on);
  // Line error code of ErrorFlags (1 rx overflow, 2 overrun, 3 parity,
  // 4 framing, 9 break only; 0 none) and the break flag, each cleared as read.
  uint16_t ReadLineError();
  bool ReadLineBreak();
  TDCB CurrentLine();
  uint32_t CurrentBaud();
  bool DTRLevel();
  bool RTSLevel();

  // ---- Notices (SerDispatchNotice.cpp) ----
  void AddWindowHandler(std::shared_ptr<INoticeReceiver> receiver);
  void RemoveWindowHandler(const INoticeReceiver* receiver);
  // 0: recompute; 1: the port's own window wants notices; 2: it does not.
  virtual void UpdateNoticeNeed(int mode);
  void SetNoticeThreshold(uint32_t n);
  void SaveTriggers(TSavedTriggers& saved);
  void RestoreTriggers(const TSavedTriggers& saved);
  void ClearTriggers();
  static void FreeSavedTriggers(TSavedTriggers& saved) { saved = {}; }
  // A notice is between its start and its end (the dispatch thread).
  bool NoticeRunning() const { return noticeRunning_.load(); }
  // A notice handler is running right now (Begin without Complete).
  bool HandlerRunning();
  bool NoticesWanted() const { return noticesWanted_.load(); }
  bool PortWindowInstalled() const { return portWindowInstalled_.load(); }
  // How long a delivery waits for its receiver (kNoticeTimeout; tests shorten it).
  void SetNoticeTimeout(std::chrono::milliseconds timeout) { noticeTimeoutMs_.store(timeout.count()); }

  // ---- Trace and dispatch log (SerTrace.h, SerLog.h; GeneralLock) ----
  // Both are stopped when the device opens and freed with the dispatcher.
  // Results: 0 or a negative code; a dump gives minus the Windows error
  // number of its file. A dump holds GeneralLock while it writes.
  int32_t StartTrace(uint32_t entries) { return trace_.Start(entries); }
  int32_t ClearTrace() { return trace_.Clear(); }
  void StopTrace() { trace_.Stop(); }
  void PauseTrace() { trace_.Pause(); }
  void ResumeTrace() { trace_.Resume(); }
  int32_t DumpTrace(const std::string& file, bool hex, bool allHex) { return trace_.Dump(file, hex, allHex); }
  int32_t AppendTrace(const std::string& file, bool hex, bool allHex) { return trace_.Append(file, hex, allHex); }
  bool TraceOn() const { return trace_.On(); }
  int32_t StartLog(uint32_t bytes) { return log_.Start(bytes); }
  int32_t ClearLog() {
    log_.Clear();
    return 0;
  }
  void StopLog() { log_.Stop(); }
  void PauseLog() { log_.Pause(); }
  void ResumeLog() { log_.Resume(); }
  int32_t DumpLog(const std::string& file, bool hex, bool allHex) { return log_.Dump(file, hex, allHex); }
  int32_t AppendLog(const std::string& file, bool hex, bool allHex) { return log_.Append(file, hex, allHex); }
  bool LogOn() const { return log_.On(); }
  uint32_t LogElapsedMs() { return log_.ElapsedMs(); }

  // ---- Threads (SerDispatchThreads.cpp) ----
  virtual void StartThreads();
  virtual void StopThreads();
  virtual void SetThreadPriorities(int8_t offset);
  int8_t PriorityOffset() const { return priorityOffset_.load(); }
  bool ThreadsRunning() const { return threadsRunning_.load(); }
  int32_t LiveThreads() const { return liveThreads_.load(); }
  virtual int32_t YieldSlice();

 protected:
  // ---- Device operations: the seam a concrete device fills in ----
  // Raise/drop DTR and RTS (kEsc*); < 0 on failure.
  virtual int32_t EscapeLine(uint32_t code) = 0;
  // True: discard the device's input. False: DiscardOutRing() and discard the
  // device's output. 0 or a negated error.
  virtual int32_t PurgeQueue(bool input) = 0;
  // Error bits (kCe*) since the last call; fills status, whose OutQueue is
  // OutRingPendingLocked(). Called under OutputLock.
  virtual uint32_t ReadDeviceStatus(TDeviceStatus& status) = 0;
  virtual int32_t ReportReadError(int32_t code) = 0;
  virtual int32_t GetDeviceLine(TDCB& dcb) = 0;  // 0 or -1
  // Reads at most count bytes without waiting; the number read (0 on failure).
  virtual uint32_t ReadDevice(uint8_t* buffer, uint32_t count) = 0;
  virtual int32_t SetDeviceLine(const TDCB& dcb) = 0;  // 0 or a negated error
  // Copies into the output ring at OutHead (the caller checked the room and
  // holds OutputLock) and wakes the output thread. Returns count.
  virtual uint32_t WriteToRing(const uint8_t* block, uint32_t count);
  // Dispatch thread: waits until input arrives (watched only while
  // wantInput), the device is lost, WakeInputWait is called or timeoutMs
  // passes (< 0: no limit). Returns kEvRxChar when the device is to be read
  // (a loss adds kEvDeviceLost | kEvErr), 0 otherwise.
  virtual uint32_t WaitDeviceInput(bool wantInput, int timeoutMs) = 0;
  virtual void WakeInputWait() = 0;
  // False for a device whose input wait may miss arriving bytes: the
  // dispatch thread then reads it at least every 50 ms.
  virtual bool InputReported() { return true; }
  // Event thread: waits for a modem-line change and returns its kEv* bits
  // (a pulse that came and went included); 0 when woken by
  // CancelDeviceEventWait. A device that cannot report changes waits only
  // for that.
  virtual uint32_t WaitDeviceEvent() = 0;
  virtual void CancelDeviceEventWait() = 0;
  // True while line changes reach WaitDeviceEvent; otherwise every pass
  // compares the lines (where the device has any).
  virtual bool LineChangesReported() = 0;
  virtual bool SetupDeviceQueues(uint32_t inSize, uint32_t outSize) = 0;
  // The device handle (>= 0) or a negative code. DTRLevel() and RTSLevel()
  // are the levels the open asks for (both off for a dispatcher that was
  // never opened): a device that can set them as it opens does.
  virtual int32_t OpenHandle(const std::string& name) = 0;
  // Closes the device; the handle is gone afterwards whatever the result.
  // The core has dropped DTR and RTS by escapes just before.
  virtual int32_t CloseDevice() = 0;
  // Output thread: writes the two pieces (second may be empty) in one call
  // without waiting. Bytes written, 0 when the device takes nothing now,
  // < 0 when it failed for good (the run is dropped).
  virtual int32_t WriteDevice(const uint8_t* first, uint32_t firstLen, const uint8_t* second,
                              uint32_t secondLen) = 0;
  // Output thread: waits until the device takes output again (true) or
  // CancelDeviceWriteWait was called (false).
  virtual bool WaitDeviceWritable() = 0;
  virtual void CancelDeviceWriteWait() = 0;
  // Modem lines in kMs*On bits; false where the device has none.
  virtual bool GetModemLines(uint32_t& bits) = 0;
  // True from the moment any thread saw the device gone until the next open.
  // The thread that sees it first calls WakeInputWait, so that the dispatch
  // thread tells it at once.
  virtual bool IsDeviceLost() const = 0;
  virtual void ApplyDeviceRS485(bool /*on*/) {}
  // Bytes written to the device that it has not sent yet; false where the
  // device cannot tell.
  virtual bool DeviceOutputQueued(uint32_t& /*bytes*/) { return false; }

  // ---- Helpers for device implementations ----
  // Empties the output ring safely while the output thread may be writing
  // from it: the thread finishes its current write (bounded) and starts no
  // other until the ring is reset. Not under OutputLock.
  void DiscardOutRing();
  // Pending output bytes; caller holds OutputLock.
  uint32_t OutRingPendingLocked() const;
  uint32_t OutRingSize() const { return outRingSize_; }
  // Every concrete destructor calls this first: closes, joins the threads and
  // closes the device.
  void Shutdown();

  std::recursive_mutex generalLock_;
  std::recursive_mutex outputLock_;
  std::recursive_mutex inputLock_;

 private:
  // SerDispatch.cpp
  bool FillInputRing(bool readableEvent);
  void RefreshDeviceStatus();
  void CloseDeviceOrDefer();
  void CloseDeviceNow();
  void ConsumeInput(uint32_t n);  // InputLock held
  uint32_t InUnreadLocked() const;
  void RoomMade(bool wasFull);
  // Recording points of the trace and the dispatch log. They record nothing
  // until a port switches tracing or logging on.
  void TraceBytes(char kind, const uint8_t* values, uint32_t count);
  void LogEntry(uint8_t kind, uint8_t subKind, uint32_t data, const uint8_t* extra,
                uint32_t length);

  // SerDispatchLine.cpp
  int32_t WriteLine(TDCB& dcb);
  void FollowLine(const TDCB& line);
  void WaitOutputDrained();
  void WaitDeviceDrained(uint32_t rate, const TDCB& frame);
  void ModemStatusChanged(uint32_t events);
  void UpdateReceiveFlow();
  void DriveFlowLines(bool hold);
  bool OutputGated() const;

  // SerDispatchNotice.cpp
  bool CheckAvail();
  // A bytes-available notice is owed: threshold set and reached by bytes
  // that came since the last notice a handler received. InputLock held.
  bool AvailDueLocked(uint32_t threshold, uint32_t avail) const;
  bool AvailNoticeDue();
  // Dispatch thread, at the end of a pass: the MsgDeviceLost notice when it
  // is due (see the header's top).
  void TellDeviceLost();
  bool LossUntold() const { return !lossTold_ && IsDeviceLost(); }
  // A receiver has come to want notices: a loss no one has been told of
  // yet is told now.
  void NoticesNowWanted();
  // received: set when a handler ran (Begin) for this notice.
  bool DeliverNotice(uint16_t msg, uint32_t wParam, uint16_t data, bool* received = nullptr);
  // InputLock held for these three. Every read asks the first.
  bool ReadingAheadLocked() const {
    // Reads peek ahead only while a handler of a bytes-available notice
    // runs: a handler whose delivery timed out reads the ordinary way.
    return currentAvail_ && currentTicket_->CurrentState() == TNoticeTicket::State::Running;
  }
  uint32_t HandedOutLocked() const;
  // The handler's read through the gate: 0, ecBufferIsEmpty, or kReadSlowly
  // when the read must take the ordinary road under InputLock.
  static constexpr int32_t kReadSlowly = 1;
  int32_t TakeAheadThroughGate(uint8_t& c);
  // One read-ahead byte (0 or ecBufferIsEmpty), by whoever may move
  // peekCount_ now: InputLock or the gate.
  int32_t TakeAheadOne(uint8_t& c);
  void OpenAheadGate() { aheadGate_.store(kGateOpen, std::memory_order_release); }
  void ShutAheadGate();
  void ConsumeHandedOutLocked();
  void CancelPendingNotice();
  void UpdateNoticeNeedLocked(int mode);

  // SerDispatchThreads.cpp
  void ComThreadMain();
  void DispThreadMain();
  void OutThreadMain();
  void PassOnce(uint32_t inputEvents);
  // A pass can find something without an event: the lines must be compared,
  // the device does not report input, or bytes wait to be offered again.
  bool TimedPassDue();
  void WriteOutRing();
  void AdvanceOut(uint32_t n);  // OutputLock held
  enum class Worker { Com, Disp, Out };
  void ReleaseThreadSlot(Worker which);
  // nudge: repeated until the thread has ended (a wake-up may come too early
  // for a wait that has yet to begin).
  void WaitThreadEnd(const std::atomic<bool>& ended, void (TBaseDispatcher::*nudge)() = nullptr);
  void JoinThreads();
  bool OnDispatchThread() const;

  // Signal bits of the threads' hand-shakes.
  enum : uint32_t {
    kThreadStartSignal = 0x4,
    kOutputQueuedSignal = 0x8,
    kStopOutputSignal = 0x10,
  };

  struct TWindowEntry {
    std::shared_ptr<INoticeReceiver> receiver;
    std::atomic<bool> removed{false};
  };

  TCustomComPort* const ownerPort_;
  int32_t dispatcherHandle_ = -1;
  int32_t deviceHandle_ = -1;
  bool shutDown_ = false;

  // Device status (OutputLock) and error bits (any thread).
  std::atomic<uint32_t> errorFlags_{0};
  TDeviceStatus deviceStatus_;

  // Line settings (GeneralLock).
  uint32_t inQueueSize_ = 0;
  TDCB currentDCB_;
  uint32_t currentBaud_ = 0;
  bool dtrLevel_ = false, dtrHandshake_ = false, rtsLevel_ = false, rtsHandshake_ = false;
  bool rs485On_ = false;
  uint16_t uartBaseAddress_ = 0;
  uint32_t modemStatusBits_ = 0;
  // Copies the threads read without GeneralLock.
  std::atomic<uint32_t> flowLines_{0};      // lines under receive handshake (hwfUseDTR/RTS)
  std::atomic<uint32_t> flowFullMark_{0};
  std::atomic<uint32_t> flowResumeMark_{0};
  std::atomic<bool> flowHeld_{false};       // written under InputLock and GeneralLock
  std::atomic<uint32_t> outputGate_{0};     // kDcbOutxCtsFlow / kDcbOutxDsrFlow
  std::atomic<uint32_t> modemLines_{0};     // last lines read (kMs*On)
  std::atomic<bool> modemLinesKnown_{false};
  std::atomic<bool> ringIndicated_{false};

  // Notice receivers and state (GeneralLock).
  std::vector<std::shared_ptr<TWindowEntry>> windowHandlers_;
  // The same list as a delivery walks it, made again whenever the list
  // changes (rarely), so a notice takes it without copying.
  using TWindowList = std::vector<std::shared_ptr<TWindowEntry>>;
  std::shared_ptr<const TWindowList> handlersView_ = std::make_shared<const TWindowList>();
  void HandlersChangedLocked() { handlersView_ = std::make_shared<const TWindowList>(windowHandlers_); }
  std::atomic<bool> portWindowInstalled_{false};
  std::atomic<bool> noticesWanted_{false};
  std::atomic<bool> noticeRunning_{false};
  bool removalPending_ = false;
  uint32_t noticeThreshold_ = 0;
  std::atomic<int64_t> noticeTimeoutMs_{kNoticeTimeout.count()};

  // Input ring and read-ahead state (InputLock).
  std::vector<uint8_t> inRing_;
  uint32_t inHead_ = 0, inTail_ = 0;
  bool inRingFull_ = false;
  uint32_t scanPosition_ = 0;
  uint64_t totalIn_ = 0;          // bytes ever put into the ring
  uint64_t lastNoticeTotal_ = 0;  // totalIn_ when a notice last reached a handler
  std::shared_ptr<TNoticeTicket> currentTicket_;  // the delivery waited for
  bool currentAvail_ = false;  // ... is a bytes-available (or data) notice; set only with it
  // Read ahead by its handler, from inTail_. Written under InputLock, or by
  // the handler itself through the read-ahead gate.
  std::atomic<uint32_t> peekCount_{0};
  // While a receiver's turn is under way the gate is open: its handler, who
  // owns the offered bytes, reads them through it without taking InputLock.
  // The dispatch thread shuts it (waiting out a read in flight) before it
  // ends the turn.
  enum : uint32_t { kGateOpen = 0, kGateReading = 1, kGateShut = 2 };
  std::atomic<uint32_t> aheadGate_{kGateShut};
  uint32_t mostTaken_ = 0;     // most read ahead by earlier receivers of the notice

  // Output ring (OutputLock).
  std::vector<uint8_t> outRing_;
  uint32_t outRingSize_ = 0;
  uint32_t outHead_ = 0, outTail_ = 0;
  bool outRingFull_ = false;
  bool outputSentFlag_ = false;
  bool outBusy_ = false;          // the output thread writes from the ring now
  bool purgeRequested_ = false;   // no new write may start
  std::condition_variable_any outIdle_;

  // Threads.
  TSignalSet signals_{0};
  std::atomic<uint32_t> deviceEvents_{0};  // line events, accumulated until a pass takes them
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> closeDeferred_{false};
  std::atomic<bool> shutdownOnExit_{false};
  std::atomic<bool> threadsRunning_{false};
  std::atomic<int32_t> liveThreads_{0};
  std::atomic<int8_t> priorityOffset_{0};
  std::atomic<bool> closeAfterThreads_{false};
  std::thread comThread_, dispThread_, outThread_;
  std::atomic<bool> comEnded_{true}, dispEnded_{true}, outEnded_{true};
  std::mutex endMutex_;
  std::condition_variable endChanged_;
  uint32_t lastPassModemLines_ = 0;  // dispatch thread only
  bool lossTold_ = false;            // dispatch thread only (reset by the open)

  // Trace and dispatch log, guarded by GeneralLock.
  TTraceRing trace_{generalLock_};
  TDispatchLog log_{generalLock_};
};

}  // namespace serial
