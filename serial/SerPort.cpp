#include "SerPort.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstdio>

#include "SerDevice.h"
#include "SerPortWindow.h"
#include "qt/CentralHandler.h"

namespace {

constexpr uint32_t kMaxTraceSize = 4000000;
constexpr uint32_t kMaxLogSize = 16000000;
constexpr size_t kMaxShortString = 255;

TPortPrompt& PortPrompt() {
  static TPortPrompt prompt;
  return prompt;
}

// Sets a flag for a scope and puts the previous value back, also when the
// scope is left by an exception.
class FlagScope {
 public:
  FlagScope(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
  ~FlagScope() { flag_ = saved_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

uint16_t Fraction(uint16_t size, double part) { return static_cast<uint16_t>(static_cast<double>(size) * part); }

}  // namespace

TPortPrompt TCustomComPort::SetPortPrompt(TPortPrompt prompt) {
  TPortPrompt previous = std::move(PortPrompt());
  PortPrompt() = std::move(prompt);
  return previous;
}

TCustomComPort::TCustomComPort(QObject* owner)
    : QObject(owner) {}

TCustomComPort::~TCustomComPort() {
  // A reopen asked for while a close was under way must not happen to a
  // component that is going away.
  OpenPending_ = false;
  if (PortState_ == psOpen) ClosePortQuietly();
  if (PortState_ == psClosing) {
    if (PortWindow_ && PortWindow_->HandlerDepth() > 0) {
      // Destroyed from inside its own handler: the window finishes the
      // release once the handler has returned, without this component.
      TPortWindow* window = PortWindow_;
      PortWindow_ = nullptr;
      window->TakeOverRelease(std::move(FDispatcher));
    } else {
      try {
        ReleaseClosedChannel();
      } catch (...) {
        // The destructor never throws; the channel is gone either way.
      }
    }
  }
  NotifyWindows_.clear();
  serial::TBaseDispatcher::FreeSavedTriggers(SavedTriggers_);
}

// ---- form loading ----------------------------------------------------------

void TCustomComPort::BeginLoading() { loading_ = true; }

void TCustomComPort::EndLoading() {
  if (!loading_) return;
  Loaded();
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (OpenAfterLoad_) FOpen = true;
  if (!FOpen) return;
  OpenAfterLoad_ = false;
  try {
    OpenPort();
  } catch (...) {
    FOpen = false;
    platform::ShowExceptionCentrally(std::current_exception());
  }
}

int TCustomComPort::Check(int code) { return corvane::CheckResult(*this, code); }

// ---- Assign ----------------------------------------------------------------

void TCustomComPort::Assign(const TCustomComPort& source) {
  if (&source == this) return;
  NotifyWindows_ = source.NotifyWindows_;
  if (source.PortState_ == psOpen && source.FDispatcher) {
    source.FDispatcher->SaveTriggers(SavedTriggers_);
    TriggersSaved_ = true;
  }
  FDeviceLayer = source.FDeviceLayer;
  FComNumber = source.FComNumber;
  FBaud = source.FBaud;
  FParity = source.FParity;
  FDataBits = source.FDataBits;
  FStopBits = source.FStopBits;
  FInSize = source.FInSize;
  FOutSize = source.FOutSize;
  FAutoOpen = source.FAutoOpen;
  FPromptForPort = source.FPromptForPort;
  FRS485Mode = source.FRS485Mode;
  FThreadBoost = source.FThreadBoost;
  FDTR = source.FDTR;
  FRTS = source.FRTS;
  FBufferFull = source.FBufferFull;
  FBufferResume = source.FBufferResume;
  FHWFlowOptions = source.FHWFlowOptions;
  FSWFlowOptions = source.FSWFlowOptions;
  FXOnChar = source.FXOnChar;
  FXOffChar = source.FXOffChar;
  FTracing = source.FTracing;
  FTraceSize = source.FTraceSize;
  FTraceName = source.FTraceName;
  FTraceHex = source.FTraceHex;
  FTraceAllHex = source.FTraceAllHex;
  FLogging = source.FLogging;
  FLogSize = source.FLogSize;
  FLogName = source.FLogName;
  FLogHex = source.FLogHex;
  FLogAllHex = source.FLogAllHex;
  FAvailThreshold = source.FAvailThreshold;
  SetOpen(false);
  SetOnTrigger(source.FOnTrigger);
  SetOnTriggerAvail(source.FOnTriggerAvail);
  SetOnTriggerData(source.FOnTriggerData);
  SetOnTriggerStatus(source.FOnTriggerStatus);
  SetOnTriggerTimer(source.FOnTriggerTimer);
  FOnPortOpened = source.FOnPortOpened;
  FOnPortClosing = source.FOnPortClosing;
  FTapiMode = source.FTapiMode;
}

// ---- property writers ------------------------------------------------------

void TCustomComPort::SetDeviceLayer(TDeviceLayer v) {
  if (PortState_ != psClosed) return;
  if (v == FDeviceLayer || (AvailableLayers_ & (1u << v)) == 0) return;
  FDeviceLayer = v;
  DeviceLayerChanged();
}

void TCustomComPort::SetComNumber(uint16_t n) {
  if (n == FComNumber) return;
  if (PortState_ != psOpen) {
    FComNumber = n;
    return;
  }
  FDispatcher->SaveTriggers(SavedTriggers_);
  const TTraceLogState tracing = FTracing;
  const TTraceLogState logging = FLogging;
  SetOpen(false);
  FComNumber = n;
  FTracing = tracing;
  FLogging = logging;
  SetOpen(true);
  // A deferred close only marked the reopen; the triggers come back with it.
  if (PortState_ == psOpen) RestoreSavedTriggers();
}

void TCustomComPort::ApplyLineSettings() {
  Check(FDispatcher->ApplyLine(FBaud, FParity, FDataBits, FStopBits));
}

void TCustomComPort::SetBaud(int32_t v) {
  if (v == FBaud) return;
  FBaud = v;
  if (PortState_ == psOpen) ApplyLineSettings();
}

void TCustomComPort::SetParity(TParity v) {
  if (v == FParity) return;
  FParity = v;
  if (PortState_ == psOpen) ApplyLineSettings();
}

void TCustomComPort::SetDataBits(uint16_t v) {
  if (v == FDataBits) return;
  FDataBits = v;
  if (PortState_ == psOpen) ApplyLineSettings();
}

void TCustomComPort::SetStopBits(uint16_t v) {
  if (v == FStopBits) return;
  FStopBits = v;
  if (PortState_ == psOpen) ApplyLineSettings();
}

void TCustomComPort::SetInSize(uint16_t v) {
  if (PortState_ != psOpen && v == FInSize) return;
  FInSize = v;
  ResizeDeviceQueues();
}

void TCustomComPort::SetOutSize(uint16_t v) {
  if (PortState_ != psOpen && v == FOutSize) return;
  FOutSize = v;
  ResizeDeviceQueues();
}

void TCustomComPort::ResizeDeviceQueues() {
  // Only the driver's queues follow; the rings keep their open-time sizes
  // until the next open. A refusal is not reported: the port works on with
  // the queues it has.
  if (PortState_ == psOpen) static_cast<void>(FDispatcher->SizeDeviceQueues(FInSize, FOutSize));
}

void TCustomComPort::SetDTR(bool v) {
  if (!ApplyingOrChanged(v == FDTR)) return;
  if (PortState_ != psOpen) {
    FDTR = v;
    return;
  }
  // 1: DTR is under handshake; the line and the field stay as they are.
  if (Check(FDispatcher->SetDTRLevel(v)) == 0) FDTR = v;
}

void TCustomComPort::SetRTS(bool v) {
  if (!ApplyingOrChanged(v == FRTS)) return;
  if (PortState_ != psOpen) {
    FRTS = v;
    return;
  }
  if (Check(FDispatcher->SetRTSLevel(v)) == 0) FRTS = v;
}

void TCustomComPort::SetHWFlowOptions(THWFlowOptionSet v) {
  if (!ApplyingOrChanged(v == FHWFlowOptions)) return;
  const uint8_t bits = v.Bits();
  if (bits != 0) {
    if (FBufferFull == 0 || FBufferFull > FInSize) FBufferFull = Fraction(FInSize, 0.9);
    if (FBufferResume == 0 || FBufferResume > FBufferFull) FBufferResume = Fraction(FInSize, 0.1);
  }
  if (PortState_ == psOpen) Check(FDispatcher->SetHandshake(bits, FBufferFull, FBufferResume));
  FHWFlowOptions = v;
  if (v.Contains(hwfUseRTS) || v.Contains(hwfRequireCTS)) SetRS485Mode(false);
}

void TCustomComPort::SetSWFlowOptions(TSWFlowOptions v) {
  if (!ApplyingOrChanged(v == FSWFlowOptions)) return;
  int sides = 0;
  switch (v) {
    case swfBoth: sides = 3; break;
    case swfTransmit: sides = 1; break;
    case swfReceive: sides = 2; break;
    case swfNone: sides = 0; break;
  }
  if (sides != 0) {
    if (FBufferFull == 0 || FBufferFull > FInSize) FBufferFull = Fraction(FInSize, 0.75);
    if (FBufferResume == 0 || FBufferResume > FBufferFull) FBufferResume = Fraction(FInSize, 0.25);
  }
  if (PortState_ == psOpen) {
    if (sides != 0)
      Check(FDispatcher->SetSoftwareFlow(static_cast<uint32_t>(sides), FBufferFull, FBufferResume,
                                        static_cast<uint8_t>(FXOnChar), static_cast<uint8_t>(FXOffChar)));
    else
      Check(FDispatcher->ClearSoftwareFlow());
  }
  FSWFlowOptions = v;
}

void TCustomComPort::SetXOnChar(char v) {
  if (!ApplyingOrChanged(v == FXOnChar)) return;
  FXOnChar = v;
  if (PortState_ == psOpen) Check(FDispatcher->SetFlowChars(static_cast<uint8_t>(FXOnChar), static_cast<uint8_t>(FXOffChar)));
}

void TCustomComPort::SetXOffChar(char v) {
  if (!ApplyingOrChanged(v == FXOffChar)) return;
  FXOffChar = v;
  if (PortState_ == psOpen) Check(FDispatcher->SetFlowChars(static_cast<uint8_t>(FXOnChar), static_cast<uint8_t>(FXOffChar)));
}

// Both marks feed both flow modes: after either changes, the flow settings are
// pushed again with their current values.
void TCustomComPort::ReapplyFlow() {
  FlagScope applying(ApplyingSettings_, true);
  SetHWFlowOptions(FHWFlowOptions);
  SetSWFlowOptions(FSWFlowOptions);
}

void TCustomComPort::SetBufferFull(uint16_t n) {
  if (!ApplyingOrChanged(n == FBufferFull)) return;
  FBufferFull = n > FInSize ? Fraction(FInSize, 0.9) : n;
  ReapplyFlow();
}

void TCustomComPort::SetBufferResume(uint16_t n) {
  if (!ApplyingOrChanged(n == FBufferResume)) return;
  FBufferResume = n > FBufferFull ? Fraction(FBufferFull, 0.1) : n;
  ReapplyFlow();
}

void TCustomComPort::SetTracing(TTraceLogState v) {
  if (PortState_ == psOpen) {
    TraceWriter(v, false);
    return;
  }
  if (PortState_ == psClosing) return;
  if (!ApplyingOrChanged(v == FTracing)) return;
  FTracing = v == tlOn ? tlOn : tlOff;
}

void TCustomComPort::SetLogging(TTraceLogState v) {
  if (PortState_ == psOpen) {
    TraceWriter(v, true);
    return;
  }
  if (PortState_ == psClosing) return;
  if (!ApplyingOrChanged(v == FLogging)) return;
  FLogging = v == tlOn ? tlOn : tlOff;
}

// The state table of Tracing and Logging on an open port; `log` picks the
// dispatch log instead of the trace.
void TCustomComPort::TraceWriter(TTraceLogState requested, bool log) {
  TTraceLogState& state = log ? FLogging : FTracing;
  const TTraceLogState old = state;
  if (!ApplyingOrChanged(requested == old)) return;
  const bool running = old == tlOn || old == tlPause;
  switch (requested) {
    case tlOff:
      if (running) {
        TraceLogOperation(log, TTraceLogOp::Stop);
        state = tlOff;
      }
      break;
    case tlOn:
      if (old == tlPause) {
        TraceLogOperation(log, TTraceLogOp::Resume);
      } else {
        Check(TraceLogOperation(log, TTraceLogOp::Start));
      }
      state = tlOn;
      break;
    case tlDump:
    case tlAppend:
      if (running) {
        TraceLogOperation(log, TTraceLogOp::Resume);
        // The dump ends the recording whatever the file write gives, so a
        // failed write never leaves it half on.
        state = tlOff;
        Check(TraceLogOperation(log, requested == tlAppend ? TTraceLogOp::Append : TTraceLogOp::Dump));
      }
      break;
    case tlClear:
      if (running) TraceLogOperation(log, TTraceLogOp::Clear);
      break;
    case tlPause:
      if (old == tlOn) {
        TraceLogOperation(log, TTraceLogOp::Pause);
        state = tlPause;
      }
      break;
  }
}

int32_t TCustomComPort::TraceLogOperation(bool log, TTraceLogOp op) {
  serial::TBaseDispatcher* d = FDispatcher.get();
  if (!d) return 0;
  switch (op) {
    case TTraceLogOp::Start:
      return log ? d->StartLog(FLogSize) : d->StartTrace(FTraceSize);
    case TTraceLogOp::Stop:
      log ? d->StopLog() : d->StopTrace();
      return 0;
    case TTraceLogOp::Pause:
      log ? d->PauseLog() : d->PauseTrace();
      return 0;
    case TTraceLogOp::Resume:
      log ? d->ResumeLog() : d->ResumeTrace();
      return 0;
    case TTraceLogOp::Clear:
      return log ? d->ClearLog() : d->ClearTrace();
    case TTraceLogOp::Dump:
      return log ? d->DumpLog(FLogName, FLogHex, FLogAllHex) : d->DumpTrace(FTraceName, FTraceHex, FTraceAllHex);
    case TTraceLogOp::Append:
      return log ? d->AppendLog(FLogName, FLogHex, FLogAllHex)
                 : d->AppendTrace(FTraceName, FTraceHex, FTraceAllHex);
  }
  return 0;
}

void TCustomComPort::SetTraceSize(uint32_t v) {
  if (v == FTraceSize) return;
  FTraceSize = std::min(v, kMaxTraceSize);
  if (PortState_ == psOpen && (FTracing == tlOn || FTracing == tlPause)) {
    const TTraceLogState old = FTracing;
    SetTracing(tlOff);
    SetTracing(old);
  }
}

void TCustomComPort::SetLogSize(uint32_t v) {
  if (v == FLogSize) return;
  FLogSize = std::min(v, kMaxLogSize);
  if (PortState_ == psOpen && (FLogging == tlOn || FLogging == tlPause)) {
    const TTraceLogState old = FLogging;
    SetLogging(tlOff);
    SetLogging(old);
  }
}

void TCustomComPort::SetTraceName(const std::string& v) { FTraceName = v.substr(0, kMaxShortString); }

void TCustomComPort::SetLogName(const std::string& v) { FLogName = v.substr(0, kMaxShortString); }

void TCustomComPort::SetUseMSRShadow(bool) {
  // The shadow register is always used; the value stays True.
}

void TCustomComPort::SetUseEventWord(bool v) {
  if (!ApplyingOrChanged(v == FUseEventWord)) return;
  FUseEventWord = v;
}

void TCustomComPort::SetCommNotificationLevel(uint16_t v) { FCommNotificationLevel = v; }

void TCustomComPort::SetRS485Mode(bool v) {
  if (!ApplyingOrChanged(v == FRS485Mode)) return;
  FRS485Mode = v;
  if (PortState_ == psOpen) FDispatcher->ApplyRS485(v);
  if (v) {
    SetHWFlowOptions(FHWFlowOptions.Without(hwfUseRTS).Without(hwfRequireCTS));
    SetRTS(false);
  }
}

void TCustomComPort::SetAvailThreshold(uint16_t n) {
  if (!ApplyingOrChanged(n == FAvailThreshold)) return;
  FAvailThreshold = n;
  if (PortState_ == psOpen) FDispatcher->SetNoticeThreshold(n);
}

void TCustomComPort::SetThreadBoost(uint8_t n) {
  if (!ApplyingOrChanged(n == FThreadBoost)) return;
  FThreadBoost = n;
  if (PortState_ == psOpen) FDispatcher->SetThreadPriorities(n);
}

// ---- events ----------------------------------------------------------------

void TCustomComPort::SetOnTrigger(TTriggerEvent e) {
  FOnTrigger = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent e) {
  FOnTriggerAvail = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerData(TTriggerDataEvent e) {
  FOnTriggerData = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent e) {
  FOnTriggerStatus = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent e) {
  FOnTriggerTimer = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent e) {
  FOnTriggerLineError = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerModemStatus(TNotifyEvent e) {
  FOnTriggerModemStatus = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent e) {
  FOnTriggerOutbuffFree = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent e) {
  FOnTriggerOutbuffUsed = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerOutSent(TNotifyEvent e) {
  FOnTriggerOutSent = std::move(e);
  RefreshHandlerNeed();
}
void TCustomComPort::SetOnTriggerDeviceLost(TNotifyEvent e) {
  FOnTriggerDeviceLost = std::move(e);
  RefreshHandlerNeed();
}

void TCustomComPort::RefreshHandlerNeed() {
  if (PortState_ != psOpen) return;
  const bool any = FOnTrigger || FOnTriggerAvail || FOnTriggerData || FOnTriggerStatus || FOnTriggerTimer ||
                   FOnTriggerLineError || FOnTriggerModemStatus || FOnTriggerOutbuffFree ||
                   FOnTriggerOutbuffUsed || FOnTriggerOutSent || FOnTriggerDeviceLost;
  FDispatcher->UpdateNoticeNeed(any ? 1 : 2);
}

// Each event runs on a copy of its callback: a handler may unassign itself or
// destroy its port, and with it the stored callback, while it runs.
void TCustomComPort::DoTrigger(uint16_t Msg, uint16_t TriggerHandle, uint16_t Data) {
  if (auto handler = FOnTrigger) handler(this, Msg, TriggerHandle, Data);
}
void TCustomComPort::DoTriggerAvail(uint16_t Count) {
  if (auto handler = FOnTriggerAvail) handler(this, Count);
}
void TCustomComPort::DoTriggerData(uint16_t TriggerHandle) {
  if (auto handler = FOnTriggerData) handler(this, TriggerHandle);
}
void TCustomComPort::DoTriggerStatus(uint16_t TriggerHandle) {
  if (auto handler = FOnTriggerStatus) handler(this, TriggerHandle);
}
void TCustomComPort::DoTriggerTimer(uint16_t TriggerHandle) {
  if (auto handler = FOnTriggerTimer) handler(this, TriggerHandle);
}
void TCustomComPort::DoTriggerLineError(uint16_t Error, bool LineBreak) {
  if (auto handler = FOnTriggerLineError) handler(this, Error, LineBreak);
}
void TCustomComPort::DoTriggerModemStatus() {
  if (auto handler = FOnTriggerModemStatus) handler(this);
}
void TCustomComPort::DoTriggerOutbuffFree() {
  if (auto handler = FOnTriggerOutbuffFree) handler(this);
}
void TCustomComPort::DoTriggerOutbuffUsed() {
  if (auto handler = FOnTriggerOutbuffUsed) handler(this);
}
void TCustomComPort::DoTriggerOutSent() {
  if (auto handler = FOnTriggerOutSent) handler(this);
}
void TCustomComPort::DoTriggerDeviceLost() {
  if (auto handler = FOnTriggerDeviceLost) handler(this);
}
void TCustomComPort::DoWaitChar(char C) {
  if (auto handler = FOnWaitChar) handler(this, C);
}


// ---- open and close --------------------------------------------------------

void TCustomComPort::SetOpen(bool value) {
  if (value == FOpen) {
    // Closing again while a reopen waits for a deferred close: the later
    // wish wins, the port stays closed.
    if (!value) OpenPending_ = false;
    return;
  }
  if (loading_) {
    FOpen = value;
    OpenAfterLoad_ = value;
    return;
  }
  if (!value) {
    ClosePort();
    return;
  }
  if (PortState_ != psClosed) {
    OpenPending_ = true;
    return;
  }
  OpenPort();
}

void TCustomComPort::EnsureComNumber() {
  if (FComNumber != 0) return;
  if (!FPromptForPort) throw corvane::ENoPortSelected(serial::ecNoPortSelected);
  const uint16_t chosen = PortPrompt() ? PortPrompt()(*this) : 0;
  if (chosen == 0) throw corvane::ENoPortSelected(serial::ecNoPortSelected);
  FComNumber = chosen;
}

std::unique_ptr<serial::TBaseDispatcher> TCustomComPort::CreateDispatcher() {
  if (DispatcherFactory_) return DispatcherFactory_(*this);
  if (FDeviceLayer == dlWin32) {
    if (FTapiMode == tmOn) return std::make_unique<serial::TTapiDispatcher>(this, FTapiDevice);
    return std::make_unique<serial::TWin32Dispatcher>(this);
  }
  throw corvane::ENullApi(serial::ecNullApi);
}

int TCustomComPort::OpenDevice() {
  // Telephony devices come without a name; this system has none to open.
  std::string name;
  if (FTapiMode != tmOn) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "\\\\.\\COM%u", static_cast<unsigned>(FComNumber));
    name = buffer;
  }
  return FDispatcher->OpenChannel(name, FBaud, FParity, FDataBits, FStopBits, FInSize, FOutSize, FDTR, FRTS);
}

void TCustomComPort::ApplyAllSettings() {
  FlagScope applying(ApplyingSettings_, true);
  SetTracing(FTracing);
  SetLogging(FLogging);
  SetHWFlowOptions(FHWFlowOptions);
  SetSWFlowOptions(FSWFlowOptions);
  // After the software flow: that call puts the device's own characters back.
  SetXOnChar(FXOnChar);
  SetXOffChar(FXOffChar);
  SetAvailThreshold(FAvailThreshold);
  SetDTR(FDTR);
  if (FDeviceLayer != dlFossil) SetRTS(FRTS);
  SetUseMSRShadow(FUseMSRShadow);
  SetUseEventWord(FUseEventWord);
  SetCommNotificationLevel(FCommNotificationLevel);
  SetRS485Mode(FRS485Mode);
  SetThreadBoost(FThreadBoost);
}

// The saved registrations carry the threshold of the last close; a threshold
// changed while closed is the newer wish and wins.
void TCustomComPort::RestoreSavedTriggers() {
  FDispatcher->RestoreTriggers(SavedTriggers_);
  FDispatcher->SetNoticeThreshold(FAvailThreshold);
}

void TCustomComPort::OpenPort() {
  if (FTapiMode != tmOn) EnsureComNumber();
  FDispatcher = CreateDispatcher();
  try {
    // Telephony mode takes the device a telephony line handed over; this
    // system has no telephony, so there is never one.
    if (FTapiMode == tmOn) Check(serial::ecNotOpenedByTapi);
    const int code = serial::OpenResultCode(OpenDevice());
    if (code != 0) {
      if (!IsLoading()) corvane::RaiseOpenError(code, FComNumber);
      AbandonOpen();  // only while loading, when the code came back unraised
      return;
    }
    PortState_ = psOpen;
    RefreshHandlerNeed();
    ApplyAllSettings();
    FOpen = true;
    SetPortWindow(true);
    if (TriggersSaved_) {
      TriggersSaved_ = false;
      RestoreSavedTriggers();
    }
    PortOpenedNotice();
  } catch (...) {
    AbandonOpen();
    throw;
  }
}

void TCustomComPort::AbandonOpen() noexcept {
  if (PortWindow_) {
    TPortWindow* window = PortWindow_;
    PortWindow_ = nullptr;
    if (FDispatcher) FDispatcher->RemoveWindowHandler(window->Receiver().get());
    window->Retire();
  }
  FDispatcher.reset();
  PortState_ = psClosed;
  ApplyingSettings_ = false;
  FOpen = false;
}

void TCustomComPort::ClosePort() {
  FOpen = false;
  if (PortState_ != psOpen) return;
  // A trace or log that cannot be written is reported after the close, never
  // instead of it: the port must not stay half-closed.
  std::exception_ptr failure;
  auto keep = [&failure] {
    if (!failure) failure = std::current_exception();
  };
  try {
    SetTracing(tlDump);
  } catch (...) {
    keep();
  }
  try {
    SetLogging(tlDump);
  } catch (...) {
    keep();
  }
  PortState_ = psClosing;
  try {
    PortClosingNotice();
  } catch (...) {
    keep();
  }
  FDispatcher->SaveTriggers(SavedTriggers_);
  TriggersSaved_ = true;
  // Only a handler of this port on the stack makes the close wait: anything
  // else (a timer, a click, another port's handler) closes at once.
  const bool deferred = PortWindow_ && PortWindow_->HandlerDepth() > 0;
  if (PortWindow_) PortWindow_->CancelOutstanding();
  FDispatcher->CloseChannel();
  if (deferred) {
    PortWindow_->PostClosePending(static_cast<uint32_t>(FDispatcher->DispatcherHandle()) << 16);
  } else {
    ReleaseClosedChannel();
    HonourOpenPending();
  }
  if (failure) std::rethrow_exception(failure);
}

void TCustomComPort::ClosePortQuietly() noexcept {
  try {
    ClosePort();
  } catch (...) {
    // Reported nowhere: the component is going away, and ClosePort has
    // finished the close before it rethrows.
  }
}

void TCustomComPort::ReleaseClosedChannel() {
  SetPortWindow(false);
  FDispatcher.reset();  // joins the worker threads
  PortState_ = psClosed;
}

void TCustomComPort::HonourOpenPending() {
  if (!OpenPending_) return;
  OpenPending_ = false;
  OpenPort();
}

void TCustomComPort::CompleteDeferredClose() {
  ReleaseClosedChannel();
  HonourOpenPending();
}

void TCustomComPort::SetPortWindow(bool create) {
  if (create) {
    PortWindow_ = new TPortWindow(this, FDispatcher.get());
    FDispatcher->AddWindowHandler(PortWindow_->Receiver());
    return;
  }
  if (!PortWindow_) return;
  TPortWindow* window = PortWindow_;
  PortWindow_ = nullptr;
  if (FDispatcher) FDispatcher->RemoveWindowHandler(window->Receiver().get());
  window->Retire();
}

void TCustomComPort::PortOpenedNotice() {
  for (auto it = NotifyWindows_.rbegin(); it != NotifyWindows_.rend(); ++it) {
    if (it->Window) {
      TPortListenerEvent event(MsgPortOpened);
      QCoreApplication::sendEvent(it->Window, &event);
    } else if (it->Method) {
      it->Method(this, true);
    }
  }
  if (auto handler = FOnPortOpened) handler(this);
}

void TCustomComPort::PortClosingNotice() {
  for (auto it = NotifyWindows_.rbegin(); it != NotifyWindows_.rend(); ++it) {
    if (it->Window) {
      TPortListenerEvent event(MsgPortClosed);
      QCoreApplication::sendEvent(it->Window, &event);
    } else if (it->Method) {
      it->Method(this, false);
    }
  }
  if (auto handler = FOnPortClosing) handler(this);
}

// ---- data operations -------------------------------------------------------

serial::TBaseDispatcher* TCustomComPort::Dispatcher() {
  if (!FDispatcher && !loading_ && PortState_ != psOpen && FAutoOpen) SetOpen(true);
  return FDispatcher.get();
}

serial::TBaseDispatcher* TCustomComPort::RequiredDispatcher() {
  serial::TBaseDispatcher* d = Dispatcher();
  if (!d) Check(serial::ecCommNotOpen);
  return d;
}

char TCustomComPort::ReceiveChar() {
  if (PortState_ == psClosing) return '\0';
  // One call per byte: the open port's dispatcher is taken straight away.
  serial::TBaseDispatcher* d = FDispatcher ? FDispatcher.get() : RequiredDispatcher();
  if (!d) return '\0';
  uint8_t c = 0;
  // Only this port's own handler reads ahead; a timer or a click, also one
  // that a handler's modal question runs, takes the byte for good.
  const bool ownHandler = PortWindow_ && PortWindow_->ReadsInsideHandler();
  const int32_t code = d->TakeChar(c, ownHandler);
  if (code == 0) return static_cast<char>(c);
  Check(code);
  return '\0';
}

void TCustomComPort::SendString(const std::string& text) {
  if (PortState_ == psClosing) return;
  serial::TBaseDispatcher* d = RequiredDispatcher();
  if (!d) return;
  Check(d->QueueBlock(text.data(), static_cast<uint32_t>(text.size())));
}

void TCustomComPort::ProcessYield() {
  if (PortState_ == psClosing) return;
  if (serial::TBaseDispatcher* d = RequiredDispatcher()) Check(d->YieldSlice());
}

uint16_t TCustomComPort::ReadLineError() {
  if (PortState_ != psOpen) return 0;
  return static_cast<uint16_t>(Check(FDispatcher->ReadLineError()));
}

bool TCustomComPort::ReadLineBreak() {
  if (PortState_ != psOpen) return false;
  return FDispatcher->ReadLineBreak();
}
