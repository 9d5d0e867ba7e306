#pragma once
// One modem line of the console window. The window makes four of them; each
// owns its port comVorel_N and its seven timers, and binds the window's
// widgets of its panel (object names with the suffix _N, from the form).
//
// What a caller may rely on:
// - GUI thread only; nothing is locked. Every handler returns at once; none
//   waits for the modem.
// - Handlers connected by the line catch what they raise and hand it to the
//   application's central exception handler; nothing crosses the event loop.
// - The per-line differences are data (TLineVariant), looked up by number.
// - Received bytes arrive only through comVorelTrigger, which passes each
//   chunk to the reply handler selected by ReplyType[N - 1]; a value without
//   a handler drops the chunk.
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "uDataType.h"
#include "uToolkit.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class TComPort;

namespace corvane {

class TfzCorvaneV4;

// How the four copies differ; everything else about them is alike.
struct TLineVariant {
  bool EchoOffStep;          // sends "ATE0" at switch-on; only it dispatches rtEchoOff
  bool LogsStkChunk;         // the SIM Toolkit handler logs "F016 : " + RxBuffer
  bool LogsStkGetInfoSteps;  // "AT+STGI=" logs its code and command ("F010 bag 3 ...")
  bool LogsQueuedAnswer;     // a queued SIM Toolkit answer logs "F012 : "
};
const TLineVariant& LineVariant(int lineNumber);

class TConsoleLine : public QObject {
  Q_OBJECT
 public:
  using ChunkHandler = void (TConsoleLine::*)(const std::string& Chunk);
  struct TReplyRoute {
    TReplyType type;
    ChunkHandler handler;
    const char* name;
    bool echoOffLinesOnly;
  };
  // The handler for a reply type on this line, or nullptr (chunk dropped).
  const TReplyRoute* RouteFor(std::uint8_t replyType) const;

  TConsoleLine(TfzCorvaneV4& form, int number, TLineData& data);
  ~TConsoleLine() override;

  int Number() const { return number_; }
  const TLineVariant& Variant() const { return variant_; }
  std::uint8_t& Reply() { return ReplyType[number_ - 1]; }

  // Observes every chunk the dispatch takes (handler name, or nullptr when
  // dropped). For diagnostics and tests; empty by default.
  std::function<void(const char* handler, const std::string& chunk)> OnDispatch;

  TfzCorvaneV4& Form;
  TLineData& Data;
  std::string PendingAnswer;  // "AT+STGR=" command queued for tDelay

  // Components of the line (widgets belong to the window's form).
  TComPort* comVorel = nullptr;
  QLabel* lNomor = nullptr;
  QCheckBox* ckOn = nullptr;
  QCheckBox* ckActive = nullptr;
  QComboBox* cbPort = nullptr;
  QPushButton* btnSetPort = nullptr;
  QCheckBox* ckRegistrasi = nullptr;
  QCheckBox* ckCall = nullptr;
  QCheckBox* ckCall2 = nullptr;
  QCheckBox* ckSMS1 = nullptr;
  QCheckBox* ckSMS2 = nullptr;
  QCheckBox* ckCekPulsa = nullptr;
  QLabel* lRegistrasi = nullptr;
  QLabel* lCall = nullptr;
  QLabel* lCall2 = nullptr;
  QLabel* lSMS1 = nullptr;
  QLabel* lSMS2 = nullptr;
  QLabel* lCekPulsa = nullptr;
  QMenu* pmCall = nullptr;
  QMenu* pmCall2 = nullptr;
  QMenu* pmSMS1 = nullptr;
  QMenu* pmSMS2 = nullptr;
  QMenu* pmCekPulsa = nullptr;
  QAction* mnCALL = nullptr;
  QAction* mnCALL2 = nullptr;
  QAction* mnSMS1 = nullptr;
  QAction* mnSMS2 = nullptr;
  QAction* mnCekPulsa = nullptr;
  QProgressBar* pbSignal = nullptr;
  QLabel* lSignal = nullptr;
  QLineEdit* eISTM = nullptr;
  QLineEdit* eCekPulsa = nullptr;
  QListWidget* lstDisplay = nullptr;
  QListWidget* lstFunc = nullptr;
  TTimer* tOn = nullptr;
  TTimer* tDial = nullptr;
  TTimer* tHangup = nullptr;
  TTimer* tWatchDog = nullptr;
  TTimer* tTimeOut = nullptr;
  TTimer* tMatikan = nullptr;
  TTimer* tDelay = nullptr;

  // Port number this line may hand to its port (1..255).
  bool ComPortUsable() const;

  // --- reply dispatch and line log
  void comVorelTrigger(QObject* CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t DataCount);
  void DispatchChunk(const std::string& Chunk);
  void AddFuncLog(std::string_view text);
  void lstFuncClick();

  // --- switching on and off, task chain, recovery timers
  void ckOnClick();
  void tOnTimer();
  void tWatchDogTimer();
  void tTimeOutTimer();
  void tMatikanTimer();

  // --- line controls
  void btnSetPortClick();
  void ckActiveClick();
  void ckRegistrasiClick();
  void ckCallClick();
  void ckCall2Click();
  void ckSMS1Click();
  void ckSMS2Click();
  void ckCekPulsaClick();

  // --- SIM Toolkit commands and notifications
  void tDelayTimer();

  // --- calls
  void tDialTimer();
  void tHangupTimer();

  // --- manual commands from the status labels' menus
  void mnCALLClick();
  void mnCALL2Click();
  void mnSMS1Click();
  void mnSMS2Click();
  void mnCekPulsaClick();

  // --- senders
  void SendEchoOff();

  // --- reply handlers, one per reply type
  void HandleIdle(const std::string& Chunk);
  void HandleEchoOffReply(const std::string& Chunk);
  void HandleSmsPrompt(const std::string& Chunk);
  void HandleSmsSentReply(const std::string& Chunk);
  void HandleUssdReply(const std::string& Chunk);
  void HandleDialReply(const std::string& Chunk);
  void HandleHangupReply(const std::string& Chunk);
  void HandleStkInfo(const std::string& Chunk);
  void HandleStkResponseReply(const std::string& Chunk);
  void HandleStkOnReply(const std::string& Chunk);
  void HandleResetReply(const std::string& Chunk);
  void HandleImsiReply(const std::string& Chunk);
  void HandleSignalReply(const std::string& Chunk);

 private:
  template <typename W>
  W* Bind(const char* baseName) const;
  void BindWidgets();
  void CreatePort();
  void CreateTimers();
  void CreateMenus();
  void ConnectHandlers();
  void SetStatusNotDone();
  void RefuseSwitchOn(const std::string& why);

  int number_;
  TLineVariant variant_;
};

}  // namespace corvane
