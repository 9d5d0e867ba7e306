// Line control: rate and frame, DTR and RTS, flow control, modem status.
// Every operation works on the device control block under GeneralLock.
#include <algorithm>
#include <thread>

#include "SerDispatch.h"

namespace serial {
namespace {

struct RateCodeRow {
  uint32_t code;
  uint32_t rate;
};

// Rate codes of the 16-bit era, still accepted as rates.
constexpr RateCodeRow kRateCodes[] = {
    {0xFF10, 110},   {0xFF11, 300},   {0xFF12, 600},    {0xFF13, 1200},   {0xFF14, 2400},
    {0xFF15, 4800},  {0xFF16, 9600},  {0xFF17, 14400},  {0xFF18, 19200},  {0xFF1B, 38400},
    {0xFF1F, 56000}, {0xFF23, 128000}, {0xFF27, 256000}, {0xFEFF, 115200},
};

uint16_t Clamp16(uint32_t v) { return static_cast<uint16_t>(std::min<uint32_t>(v, 0xFFFF)); }

}  // namespace

TLineValues NormaliseLine(const TDCB& current, int32_t baud, int parity, int databits,
                          int stopbits) {
  TLineValues v;
  v.BaudRate = baud == 0 ? current.BaudRate : static_cast<uint32_t>(baud);
  v.Parity = parity == 5 ? current.Parity : static_cast<uint8_t>(parity);
  v.ByteSize = databits == 9 ? current.ByteSize : static_cast<uint8_t>(databits);
  const bool two = stopbits == 3 ? current.StopBits != kOneStopBit : stopbits >= 2;
  // 1.5 stop bits exist only as the "two" of a 5-bit frame.
  v.StopBits = !two ? kOneStopBit : v.ByteSize == 5 ? kOne5StopBits : kTwoStopBits;
  return v;
}

uint32_t RateFromCode(uint32_t rate) {
  for (const RateCodeRow& row : kRateCodes)
    if (row.code == rate) return row.rate;
  return rate;
}

namespace {

// Bits of one character on the wire: start, data, parity, stop bits.
uint32_t CharacterBits(uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  return byteSize + 2u + (parity != 0 ? 1u : 0u) + (stopBits != kOneStopBit ? 1u : 0u);
}

// Whole milliseconds that bytes need on the wire, rounded up.
uint64_t WireTimeMs(uint32_t bytes, uint32_t rate, uint8_t byteSize, uint8_t parity,
                    uint8_t stopBits) {
  if (rate == 0) return 0;
  const uint64_t bits = static_cast<uint64_t>(bytes) * CharacterBits(byteSize, parity, stopBits);
  return (bits * 1000 + rate - 1) / rate;
}

}  // namespace

uint32_t DeviceDrainBoundMs(uint32_t bytes, uint32_t rate, uint8_t byteSize, uint8_t parity,
                            uint8_t stopBits) {
  const uint64_t ms = WireTimeMs(bytes, RateFromCode(rate), byteSize, parity, stopBits);
  return static_cast<uint32_t>(std::min<uint64_t>(ms + kDeviceDrainMarginMs, UINT32_MAX));
}

uint32_t DrainWaitMs(uint32_t rate, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  rate = RateFromCode(rate);
  if (rate == 0) return 0;
  const uint32_t bits = CharacterBits(byteSize, parity, stopBits);
  // 18 character times in units of 100 ns.
  uint64_t t = static_cast<uint64_t>(10000000u / rate) * bits * 18u;
  if (t < 10000) t *= 2;
  return static_cast<uint32_t>(t / 10000 + (t % 10000 != 0 ? 1 : 0));
}

// ---------------------------------------------------------------------------

int32_t TBaseDispatcher::ApplyLine(int32_t baud, int parity, int databits, int stopbits) {
  // Taken as unsigned, a negative rate would reach the driver as a huge one.
  if (baud < 0) return ecBadArgument;
  TLineValues want;
  {
    std::lock_guard general(generalLock_);
    TDCB dcb = currentDCB_;
    if (GetDeviceLine(dcb) == 0) currentDCB_ = dcb;
    want = NormaliseLine(currentDCB_, baud, parity, databits, stopbits);
    const TLineValues have{currentDCB_.BaudRate, currentDCB_.Parity, currentDCB_.ByteSize,
                           currentDCB_.StopBits};
    if (want == have) return 0;
  }
  WaitOutputDrained();
  std::lock_guard general(generalLock_);
  TDCB dcb = currentDCB_;
  GetDeviceLine(dcb);
  dcb.Flags |= kDcbBinary | kDcbTXContinueOnXoff;
  dcb.Flags &= ~(kDcbParity | kDcbDsrSensitivity | kDcbNull);
  dcb.BaudRate = want.BaudRate;
  dcb.Parity = want.Parity;
  dcb.ByteSize = want.ByteSize;
  dcb.StopBits = want.StopBits;
  return WriteLine(dcb);
}

int32_t TBaseDispatcher::WriteLine(TDCB& dcb) {
  // GeneralLock held. Lines not under handshake are driven by escapes.
  if (!dtrHandshake_) dcb.Flags &= ~kDcbDtrControlMask;
  if (!rtsHandshake_) dcb.Flags &= ~kDcbRtsControlMask;
  TDCB before = currentDCB_;
  GetDeviceLine(before);
  const int32_t r = SetDeviceLine(dcb);
  currentDCB_ = dcb;  // the values tried, also when the device refused them
  if (r != 0) {
    // A device may take part of a block (a new rate, the stop bits) before
    // it refuses the rest; a modem would then be spoken to in a mix of old
    // and new. The line, and what the layer does for it, stay as they were.
    SetDeviceLine(before);
    dtrHandshake_ = (before.Flags & kDcbDtrControlMask) == kDcbDtrControlHandshake;
    const uint32_t rtsControl = before.Flags & kDcbRtsControlMask;
    rtsHandshake_ = rtsControl == kDcbRtsControlHandshake || rtsControl == kDcbRtsControlToggle;
  }
  FollowLine(r == 0 ? dcb : before);
  return r;
}

void TBaseDispatcher::FollowLine(const TDCB& line) {
  // GeneralLock held: the rate and the flow control the layer itself does
  // follow the control block the device now has.
  currentBaud_ = line.BaudRate;
  bool driverFlow = false;
  if (line.Flags & kDcbDriverRtsCts) {
    // A driver without hardware flow control drops the flag; then the layer
    // does the pair itself.
    TDCB taken = line;
    driverFlow = GetDeviceLine(taken) == 0 && (taken.Flags & kDcbDriverRtsCts) != 0;
  }
  uint32_t lines = 0;
  if ((line.Flags & kDcbDtrControlMask) == kDcbDtrControlHandshake) lines |= hwfUseDTR;
  if ((line.Flags & kDcbRtsControlMask) == kDcbRtsControlHandshake && !driverFlow) lines |= hwfUseRTS;
  flowLines_ = lines;
  flowFullMark_ = inQueueSize_ > line.XoffLim ? inQueueSize_ - line.XoffLim : 0;
  flowResumeMark_ = line.XonLim;
  uint32_t gate = line.Flags & (kDcbOutxCtsFlow | kDcbOutxDsrFlow);
  if (driverFlow) gate &= ~kDcbOutxCtsFlow;
  outputGate_ = gate;
  if (lines == 0) flowHeld_ = false;

  SetDTRLevel(dtrLevel_);
  if (!rs485On_) SetRTSLevel(rtsLevel_);
  DriveFlowLines(flowHeld_.load());
  // Output held back by a line that is no longer required goes now.
  signals_.Set(kOutputQueuedSignal);
}

void TBaseDispatcher::WaitOutputDrained() {
  for (int i = 0; i < 5000 && OutputPending() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  TDCB dcb;
  uint32_t rate;
  {
    std::lock_guard general(generalLock_);
    dcb = currentDCB_;
    GetDeviceLine(dcb);
    rate = currentBaud_;
  }
  WaitDeviceDrained(rate, dcb);
  // The last characters leave the UART's own buffer meanwhile.
  const uint32_t ms = DrainWaitMs(rate, dcb.ByteSize, dcb.Parity, dcb.StopBits);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TBaseDispatcher::WaitDeviceDrained(uint32_t rate, const TDCB& frame) {
  // A write is done once the bytes are in the driver's buffer (kilobytes on
  // a USB adapter), and new settings apply to those at once: a long SMS sent
  // just before a rate change would reach the modem garbled. Flow control
  // may hold them for ever, so the wait ends after the time they need.
  uint32_t queued = 0;
  if (!DeviceOpen() || !DeviceOutputQueued(queued) || queued == 0) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(DeviceDrainBoundMs(
                         queued, rate, frame.ByteSize, frame.Parity, frame.StopBits));
  const uint32_t wireRate = RateFromCode(rate);
  while (queued > 0 && Clock::now() < deadline) {
    // Looks at about the pace the bytes leave, but at least every 20 ms.
    const uint64_t need = WireTimeMs(queued, wireRate, frame.ByteSize, frame.Parity, frame.StopBits);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<uint64_t>(need, 1, 20)));
    if (!DeviceOutputQueued(queued)) return;
  }
}

int32_t TBaseDispatcher::SetDTRLevel(bool on) {
  std::lock_guard general(generalLock_);
  if (dtrHandshake_) return 1;
  const int32_t r = EscapeLine(on ? kEscSetDtr : kEscClrDtr);
  dtrLevel_ = on;
  return r < 0 ? ecBadArgument : 0;
}

int32_t TBaseDispatcher::SetRTSLevel(bool on) {
  std::lock_guard general(generalLock_);
  if (rtsHandshake_) return 1;
  const int32_t r = EscapeLine(on ? kEscSetRts : kEscClrRts);
  rtsLevel_ = on;
  return r < 0 ? ecBadArgument : 0;
}

int32_t TBaseDispatcher::SetHandshake(uint32_t options, uint32_t full, uint32_t resume) {
  std::lock_guard general(generalLock_);
  // Without flow control the marks mean nothing and must not stop an open.
  if (options != 0 && (full < resume || full > inQueueSize_)) return ecBadArgument;
  TDCB dcb = currentDCB_;
  GetDeviceLine(dcb);
  dcb.Flags &= ~(kDcbOutxCtsFlow | kDcbOutxDsrFlow | kDcbDtrControlMask | kDcbRtsControlMask);
  dtrHandshake_ = rtsHandshake_ = false;
  if (options & hwfUseDTR) {
    dcb.Flags |= kDcbDtrControlHandshake;
    dtrHandshake_ = true;
  }
  if (options & hwfUseRTS) {
    dcb.Flags |= kDcbRtsControlHandshake;
    rtsHandshake_ = true;
  }
  if (rs485On_) {
    dcb.Flags = (dcb.Flags & ~kDcbRtsControlMask) | kDcbRtsControlToggle;
    rtsHandshake_ = true;
  }
  dcb.XoffLim = Clamp16(full <= inQueueSize_ ? inQueueSize_ - full : 0);
  dcb.XonLim = Clamp16(resume);
  if (options & hwfRequireDSR) dcb.Flags |= kDcbOutxDsrFlow;
  if (options & hwfRequireCTS) dcb.Flags |= kDcbOutxCtsFlow;
  // The pair a tty driver can do itself; it holds even what it was already
  // given. With RS485 RTS belongs to the driver's transmit toggle instead.
  constexpr uint32_t kDriverPair = hwfUseRTS | hwfRequireCTS;
  dcb.Flags &= ~kDcbDriverRtsCts;
  if ((options & kDriverPair) == kDriverPair && !rs485On_) dcb.Flags |= kDcbDriverRtsCts;
  return WriteLine(dcb);
}

int32_t TBaseDispatcher::SetSoftwareFlow(uint32_t sides, uint32_t full, uint32_t resume,
                                         uint8_t xon, uint8_t xoff) {
  std::lock_guard general(generalLock_);
  if (sides != 0 && (full < resume || full > inQueueSize_)) return ecBadArgument;
  TDCB dcb = currentDCB_;
  GetDeviceLine(dcb);
  if (sides & swfSideReceive) {
    dcb.Flags |= kDcbInX;
    dcb.XoffLim = Clamp16(inQueueSize_ - full);
    dcb.XonLim = Clamp16(resume);
  } else {
    dcb.Flags &= ~kDcbInX;
  }
  if (sides & swfSideTransmit)
    dcb.Flags |= kDcbOutX;
  else
    dcb.Flags &= ~kDcbOutX;
  dcb.XonChar = xon;
  dcb.XoffChar = xoff;
  return WriteLine(dcb);
}

int32_t TBaseDispatcher::ClearSoftwareFlow() {
  std::lock_guard general(generalLock_);
  TDCB dcb = currentDCB_;
  GetDeviceLine(dcb);
  dcb.Flags &= ~(kDcbInX | kDcbOutX);
  return WriteLine(dcb);
}

int32_t TBaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff) {
  std::lock_guard general(generalLock_);
  TDCB dcb = currentDCB_;
  GetDeviceLine(dcb);
  dcb.XonChar = xon;
  dcb.XoffChar = xoff;
  return WriteLine(dcb);
}

// ---------------------------------------------------------------------------
// Receive flow control, emulated where the driver does not do it: a tty has
// no DTR handshake at all, and does RTS only together with CTS (CRTSCTS). For
// the lines in flowLines_ the dispatcher drops them when the unread input
// passes the full mark and raises them again below the resume mark. Output
// held for DSR, or for CTS without the driver's RTS/CTS, is held back in the
// output ring (OutputGated); what is already in the driver still goes, and
// the line is seen only as often as the dispatch thread looks.

void TBaseDispatcher::UpdateReceiveFlow() {
  if (flowLines_.load() == 0) return;
  std::lock_guard in(inputLock_);
  const uint32_t unread = InUnreadLocked();
  std::lock_guard general(generalLock_);
  if (flowLines_.load() == 0) return;
  const bool held = flowHeld_.load();
  if (!held && unread > flowFullMark_.load()) {
    flowHeld_ = true;
    DriveFlowLines(true);
  } else if (held && unread < flowResumeMark_.load()) {
    flowHeld_ = false;
    DriveFlowLines(false);
  }
}

void TBaseDispatcher::DriveFlowLines(bool hold) {
  const uint32_t lines = flowLines_.load();
  if (lines & hwfUseDTR) EscapeLine(hold ? kEscClrDtr : kEscSetDtr);
  if (lines & hwfUseRTS) EscapeLine(hold ? kEscClrRts : kEscSetRts);
}

bool TBaseDispatcher::OutputGated() const {
  const uint32_t gate = outputGate_.load();
  if (gate == 0 || !modemLinesKnown_.load()) return false;
  const uint32_t lines = modemLines_.load();
  if ((gate & kDcbOutxCtsFlow) && !(lines & kMsCtsOn)) return true;
  if ((gate & kDcbOutxDsrFlow) && !(lines & kMsDsrOn)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Modem status and line errors

uint32_t TBaseDispatcher::ReadModemStatus(uint32_t mask) {
  std::lock_guard general(generalLock_);
  uint32_t lines = 0;
  const bool known = DeviceOpen() && GetModemLines(lines);
  modemLinesKnown_ = known;
  if (!known) lines = 0;
  modemLines_ = lines;
  // Changes count against the lines last read by anyone, so that a reader
  // who looks first does not swallow the change the next pass would report.
  const uint32_t changed = (((modemStatusBits_ ^ lines) & 0xF0) >> 4);
  modemStatusBits_ = (lines & 0xF0) | (modemStatusBits_ & 0x0F) | changed;
  if (ringIndicated_.exchange(false)) modemStatusBits_ |= kMsRingEnded;
  const uint32_t result = modemStatusBits_ & 0xFF;
  modemStatusBits_ &= mask;
  return result;
}

void TBaseDispatcher::ModemStatusChanged(uint32_t events) {
  std::lock_guard general(generalLock_);
  const uint32_t before = modemStatusBits_;
  ReadModemStatus(0xFF);
  // A pulse shorter than the look at the lines (a DCD blip) has come and
  // gone by now: the driver's count of it is what says it happened.
  if (events & kEvCts) modemStatusBits_ |= kMsCtsChanged;
  if (events & kEvDsr) modemStatusBits_ |= kMsDsrChanged;
  if (events & kEvRlsd) modemStatusBits_ |= kMsDcdChanged;
  // Output held back for CTS or DSR may go now.
  if (((before ^ modemStatusBits_) & (kMsCtsOn | kMsDsrOn)) && outputGate_.load() != 0)
    signals_.Set(kOutputQueuedSignal);
}

void TBaseDispatcher::ApplyRS485(bool on) {
  std::lock_guard general(generalLock_);
  rs485On_ = on;
  // The driver's own RS485 mode switches RTS around each transmission; the
  // thread priority the mode would raise is only recorded.
  if (DeviceOpen()) ApplyDeviceRS485(on);
}

uint16_t TBaseDispatcher::ReadLineError() {
  std::lock_guard general(generalLock_);
  const uint32_t flags = errorFlags_.load();
  uint16_t code = 0;
  if (flags & kCeRxOver)
    code = 1;
  else if (flags & kCeOverrun)
    code = 2;
  else if (flags & kCeRxParity)
    code = 3;
  else if (flags & kCeFrame)
    code = 4;
  else if (flags & kCeBreak)
    code = 9;
  if (code != 0) errorFlags_.fetch_and(~(kCeRxOver | kCeOverrun | kCeRxParity | kCeFrame));
  return code;
}

bool TBaseDispatcher::ReadLineBreak() {
  std::lock_guard general(generalLock_);
  return (errorFlags_.fetch_and(~kCeBreak) & kCeBreak) != 0;
}

TDCB TBaseDispatcher::CurrentLine() {
  std::lock_guard general(generalLock_);
  return currentDCB_;
}

uint32_t TBaseDispatcher::CurrentBaud() {
  std::lock_guard general(generalLock_);
  return currentBaud_;
}

bool TBaseDispatcher::DTRLevel() {
  std::lock_guard general(generalLock_);
  return dtrLevel_;
}

bool TBaseDispatcher::RTSLevel() {
  std::lock_guard general(generalLock_);
  return rtsLevel_;
}

}  // namespace serial
