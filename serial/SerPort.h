#pragma once
// TComPort: the serial port component a window places once per modem.
//
// What a caller may rely on:
// - GUI thread only. Every property, SetOpen, SendString and ReceiveChar run on
//   the thread that created the component; notices are handled there too.
// - While the port is closed a property writer only stores its value; while it
//   is open it pushes the value to the dispatcher at once, and a negative code
//   becomes an exception of the ESerialException tree (CheckResult). At open
//   every setting is pushed again in a fixed order.
// - BeginLoading()/EndLoading() bracket the settings a form would stream: in
//   between, codes come back unraised and Open := True is only recorded;
//   EndLoading opens the port if that was asked (and shows, never throws, an
//   open failure).
// - Closing from inside one of this port's own handlers completes later (the
//   port is "closing": ReceiveChar returns #0 and SendString does nothing);
//   closing from anywhere else (a timer, a click, another port's handler)
//   completes before SetOpen returns. A close never pumps GUI messages.
// - A window owns its ports as Qt children; destroying a port (also from inside
//   its own handler) closes it, and never throws.
// - Open := True raises (and leaves the port closed, Open False) EBadId -2001
//   for a missing port, EAlreadyOpen -2008 for one held by another component
//   or process, ENoPortSelected -2011 for ComNumber 0 when no port is chosen.
// - OnTrigger(port, MsgTriggerAvail, n, n): n bytes can be read with
//   ReceiveChar inside the handler (n is what is unread when the handler
//   starts); what the handler leaves unread is offered again with the next
//   byte that arrives. An exception that escapes a handler is shown by the
//   application's central handler, never passed on.
// - OnTriggerDeviceLost(port), after OnTrigger(port, MsgDeviceLost, 0, 0):
//   the device went away (modem unplugged, line hung up). It comes on the GUI
//   thread, once per open, and only after the OnTrigger calls that offered
//   every byte read before it; nothing more is read after it. No such notice
//   comes once a close has begun. The port stays open (Open() true, writes
//   dropped) until the program closes it, also from inside this handler.
// - Strings handed in and out are values: SendString copies, ReceiveChar
//   returns a byte.
#include <QObject>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SerDispatch.h"
#include "SerExcept.h"
#include "SerMisc.h"
#include "SerPortTypes.h"

class TPortWindow;

class TCustomComPort;

// Shows the port-selection dialog for a port opened with ComNumber 0 and
// returns the number chosen, 0 when none was. The dialog module installs
// itself here; without it no port is ever chosen.
using TPortPrompt = std::function<uint16_t(TCustomComPort& port)>;

// Makes the dispatcher of a port in place of the built-in one.
using TDispatcherFactory = std::function<std::unique_ptr<serial::TBaseDispatcher>(TCustomComPort& port)>;

// The component tree: QObject stands for the class library's component (a
// window owns its ports as children), TBaseComponent adds the version text.
class TCustomComPort : public QObject, public serial::TBaseComponent, public corvane::TComponentLoadState {
  Q_OBJECT
 public:
  // A port listener: gets MsgPortOpened/MsgPortClosed as a sent event when
  // Window is set, otherwise Method(port, opened).
  struct TNotifyEntry {
    QObject* Window = nullptr;
    std::function<void(QObject* port, bool opened)> Method;
  };

  explicit TCustomComPort(QObject* owner);
  ~TCustomComPort() override;

  // Form loading: the stand-in for streaming a form.
  void BeginLoading();
  void EndLoading();
  bool IsLoading() const noexcept override { return loading_; }

  void Assign(const TCustomComPort& source);

  // Published properties.
  TDeviceLayer DeviceLayer() const { return FDeviceLayer; }
  void SetDeviceLayer(TDeviceLayer v);
  uint16_t ComNumber() const { return FComNumber; }
  void SetComNumber(uint16_t n);
  int32_t Baud() const { return FBaud; }
  void SetBaud(int32_t v);
  bool PromptForPort() const { return FPromptForPort; }
  void SetPromptForPort(bool v) { FPromptForPort = v; }
  TParity Parity() const { return FParity; }
  void SetParity(TParity v);
  uint16_t DataBits() const { return FDataBits; }
  void SetDataBits(uint16_t v);
  uint16_t StopBits() const { return FStopBits; }
  void SetStopBits(uint16_t v);
  // InSize/OutSize written while open resize the driver's queues (a refusal
  // is ignored); the rings keep their sizes until the next open.
  uint16_t InSize() const { return FInSize; }
  void SetInSize(uint16_t v);
  uint16_t OutSize() const { return FOutSize; }
  void SetOutSize(uint16_t v);
  bool AutoOpen() const { return FAutoOpen; }
  void SetAutoOpen(bool v) { FAutoOpen = v; }
  bool Open() const { return FOpen; }
  void SetOpen(bool value);
  bool DTR() const { return FDTR; }
  void SetDTR(bool v);
  bool RTS() const { return FRTS; }
  void SetRTS(bool v);
  THWFlowOptionSet HWFlowOptions() const { return FHWFlowOptions; }
  void SetHWFlowOptions(THWFlowOptionSet v);
  TSWFlowOptions SWFlowOptions() const { return FSWFlowOptions; }
  void SetSWFlowOptions(TSWFlowOptions v);
  char XOnChar() const { return FXOnChar; }
  void SetXOnChar(char v);
  char XOffChar() const { return FXOffChar; }
  void SetXOffChar(char v);
  uint16_t BufferFull() const { return FBufferFull; }
  void SetBufferFull(uint16_t n);
  uint16_t BufferResume() const { return FBufferResume; }
  void SetBufferResume(uint16_t n);
  TTraceLogState Tracing() const { return FTracing; }
  void SetTracing(TTraceLogState v);
  uint32_t TraceSize() const { return FTraceSize; }
  void SetTraceSize(uint32_t v);
  const std::string& TraceName() const { return FTraceName; }
  void SetTraceName(const std::string& v);
  bool TraceHex() const { return FTraceHex; }
  void SetTraceHex(bool v) { FTraceHex = v; }
  bool TraceAllHex() const { return FTraceAllHex; }
  void SetTraceAllHex(bool v) { FTraceAllHex = v; }
  TTraceLogState Logging() const { return FLogging; }
  void SetLogging(TTraceLogState v);
  uint32_t LogSize() const { return FLogSize; }
  void SetLogSize(uint32_t v);
  const std::string& LogName() const { return FLogName; }
  void SetLogName(const std::string& v);
  bool LogHex() const { return FLogHex; }
  void SetLogHex(bool v) { FLogHex = v; }
  bool LogAllHex() const { return FLogAllHex; }
  void SetLogAllHex(bool v) { FLogAllHex = v; }
  bool UseMSRShadow() const { return FUseMSRShadow; }
  virtual void SetUseMSRShadow(bool v);
  bool UseEventWord() const { return FUseEventWord; }
  void SetUseEventWord(bool v);
  uint16_t CommNotificationLevel() const { return FCommNotificationLevel; }
  void SetCommNotificationLevel(uint16_t v);
  TTapiMode TapiMode() const { return FTapiMode; }
  void SetTapiMode(TTapiMode v) { FTapiMode = v; }
  uint16_t TapiDevice() const { return FTapiDevice; }
  void SetTapiDevice(uint16_t v) { FTapiDevice = v; }
  bool RS485Mode() const { return FRS485Mode; }
  void SetRS485Mode(bool v);

  // Unpublished settings.
  uint16_t AvailThreshold() const { return FAvailThreshold; }
  void SetAvailThreshold(uint16_t n);
  uint8_t ThreadBoost() const { return FThreadBoost; }
  void SetThreadBoost(uint8_t n);

  // Events. Assigning one (also an empty one) refreshes whether the port
  // window wants notices.
  const TTriggerEvent& OnTrigger() const { return FOnTrigger; }
  void SetOnTrigger(TTriggerEvent e);
  void SetOnTriggerAvail(TTriggerAvailEvent e);
  void SetOnTriggerData(TTriggerDataEvent e);
  void SetOnTriggerStatus(TTriggerStatusEvent e);
  void SetOnTriggerTimer(TTriggerTimerEvent e);
  void SetOnTriggerLineError(TTriggerLineErrorEvent e);
  void SetOnTriggerModemStatus(TNotifyEvent e);
  void SetOnTriggerOutbuffFree(TNotifyEvent e);
  void SetOnTriggerOutbuffUsed(TNotifyEvent e);
  void SetOnTriggerOutSent(TNotifyEvent e);
  void SetOnTriggerDeviceLost(TNotifyEvent e);
  void SetOnWaitChar(TWaitCharEvent e) { FOnWaitChar = std::move(e); }
  void SetOnPortOpened(TPortEvent e) { FOnPortOpened = std::move(e); }
  void SetOnPortClosing(TPortEvent e) { FOnPortClosing = std::move(e); }

  // Data operations.
  // The next received byte; inside the handler of the current bytes-available
  // notice it reads ahead and the notice consumes what was read when the
  // handler returns. Anywhere else (a timer, a click, also one run by the
  // handler's own modal question) it consumes at once, taking the byte after
  // those a handler has read. Closing: #0. Nothing left: EBufferIsEmpty
  // (-3007). Closed with AutoOpen off: ECommNotOpen (-2007).
  char ReceiveChar();
  // Copies the whole text into the output ring and returns; a text longer than
  // the free room raises EOutputBufferTooSmall (-3006) and queues nothing.
  // Closing: nothing. Closed with AutoOpen off: ECommNotOpen (-2007).
  void SendString(const std::string& text);
  virtual void ProcessYield();
  uint16_t ReadLineError();
  bool ReadLineBreak();

  // The component's way to its dispatcher: opens a closed port first when
  // AutoOpen is set. May return nullptr.
  serial::TBaseDispatcher* Dispatcher();

  uint8_t PortState() const { return PortState_; }
  bool OpenPending() const { return OpenPending_; }
  bool TriggersSaved() const { return TriggersSaved_; }
  TPortWindow* PortWindow() const { return PortWindow_; }

  // Port listeners (nothing in the programs registers one).
  void AddNotifyWindow(TNotifyEntry entry) { NotifyWindows_.push_back(std::move(entry)); }

  // The factory the next open uses in place of the built-in dispatcher.
  void SetDispatcherFactory(TDispatcherFactory f) { DispatcherFactory_ = std::move(f); }

  // Installs the port-selection dialog; returns the previous one.
  static TPortPrompt SetPortPrompt(TPortPrompt prompt);

 protected:
  virtual void Loaded();
  virtual std::unique_ptr<serial::TBaseDispatcher> CreateDispatcher();
  virtual void DeviceLayerChanged() {}
  virtual int OpenDevice();
  virtual void SetPortWindow(bool create);
  virtual void EnsureComNumber();
  virtual void DoTrigger(uint16_t Msg, uint16_t TriggerHandle, uint16_t Data);
  virtual void DoTriggerAvail(uint16_t Count);
  virtual void DoTriggerData(uint16_t TriggerHandle);
  virtual void DoTriggerStatus(uint16_t TriggerHandle);
  virtual void DoTriggerTimer(uint16_t TriggerHandle);
  virtual void RefreshHandlerNeed();
  virtual void DoTriggerLineError(uint16_t Error, bool LineBreak);
  virtual void DoTriggerModemStatus();
  virtual void DoTriggerOutbuffFree();
  virtual void DoTriggerOutbuffUsed();
  virtual void DoTriggerOutSent();
  virtual void DoTriggerDeviceLost();
  virtual void DoWaitChar(char C);
  virtual void ClosePort();
  virtual void PortOpenedNotice();
  virtual void PortClosingNotice();
  virtual void OpenPort();

  // The trace and dispatch-log operations behind Tracing and Logging (log:
  // the dispatch log, else the trace). Returns 0 or a negative code; Start
  // takes TraceSize/LogSize, Dump and Append write TraceName/LogName.
  enum class TTraceLogOp { Start, Stop, Pause, Resume, Clear, Dump, Append };
  virtual int32_t TraceLogOperation(bool log, TTraceLogOp op);

 private:
  friend class TPortWindow;

  serial::TBaseDispatcher* RequiredDispatcher();
  int Check(int code);
  void ApplyLineSettings();
  void ResizeDeviceQueues();
  void ReapplyFlow();
  void ApplyAllSettings();
  void RestoreSavedTriggers();
  void AbandonOpen() noexcept;
  void ReleaseClosedChannel();
  void HonourOpenPending();
  void CompleteDeferredClose();
  void ClosePortQuietly() noexcept;
  void TraceWriter(TTraceLogState requested, bool log);
  bool ApplyingOrChanged(bool same) const { return ApplyingSettings_ || !same; }

  // Fields in the order the component keeps them.
  bool ApplyingSettings_ = false;
  uint8_t PortState_ = psClosed;
  bool OpenPending_ = false;
  bool OpenAfterLoad_ = false;
  std::vector<TNotifyEntry> NotifyWindows_;
  bool TriggersSaved_ = false;
  serial::TSavedTriggers SavedTriggers_;
  TPortWindow* PortWindow_ = nullptr;
  TDispatcherFactory DispatcherFactory_;
  TDeviceLayer FDeviceLayer = dlWin32;
  uint8_t AvailableLayers_ = 1u << dlWin32;
  std::unique_ptr<serial::TBaseDispatcher> FDispatcher;
  uint16_t FComNumber = 0;
  int32_t FBaud = 19200;
  TParity FParity = pNone;
  uint16_t FDataBits = 8;
  uint16_t FStopBits = 1;
  uint16_t FInSize = 4096;
  uint16_t FOutSize = 4096;
  bool FOpen = false;
  bool FPromptForPort = true;
  bool FAutoOpen = true;
  uint16_t FCommNotificationLevel = 10;
  uint16_t FTapiDevice = 0;
  TTapiMode FTapiMode = tmAuto;
  bool FRS485Mode = false;
  uint8_t FThreadBoost = 0;
  bool FDTR = true;
  bool FRTS = true;
  uint16_t FBufferFull = 0;
  uint16_t FBufferResume = 0;
  THWFlowOptionSet FHWFlowOptions;
  TSWFlowOptions FSWFlowOptions = swfNone;
  char FXOnChar = 17;
  char FXOffChar = 19;
  TTraceLogState FTracing = tlOff;
  uint32_t FTraceSize = 10000;
  std::string FTraceName = "SERIAL.TRC";
  bool FTraceHex = true;
  bool FTraceAllHex = false;
  TTraceLogState FLogging = tlOff;
  uint32_t FLogSize = 10000;
  std::string FLogName = "SERIAL.LOG";
  bool FLogHex = true;
  bool FLogAllHex = false;
  bool FUseMSRShadow = true;
  bool FUseEventWord = true;
  uint16_t FAvailThreshold = 1;

  TTriggerEvent FOnTrigger;
  TTriggerAvailEvent FOnTriggerAvail;
  TTriggerDataEvent FOnTriggerData;
  TTriggerStatusEvent FOnTriggerStatus;
  TTriggerTimerEvent FOnTriggerTimer;
  TTriggerLineErrorEvent FOnTriggerLineError;
  TNotifyEvent FOnTriggerModemStatus;
  TNotifyEvent FOnTriggerOutbuffFree;
  TNotifyEvent FOnTriggerOutbuffUsed;
  TNotifyEvent FOnTriggerOutSent;
  TNotifyEvent FOnTriggerDeviceLost;
  TPortEvent FOnPortOpened;
  TPortEvent FOnPortClosing;
  TWaitCharEvent FOnWaitChar;

  bool loading_ = false;
};

// The component the windows place; publishes what TCustomComPort holds.
class TComPort : public TCustomComPort {
  Q_OBJECT
 public:
  explicit TComPort(QObject* owner) : TCustomComPort(owner) {}
};

