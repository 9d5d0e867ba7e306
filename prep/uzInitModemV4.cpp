#include "uzInitModemV4.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <string>

#include "SerBaseExcept.h"
#include "SerPort.h"
#include "TApplication.h"
#include "adpInstanceControl.h"
#include "uConstType.h"
#include "uReplyScan.h"
#include "uToolkit.h"
#include "ui_TfzInitModem.h"

namespace corvane::prep {

// One command of the tool: what goes to the modem, the reply it waits for,
// the log line, and how long the modem may take to answer.
struct TfzInitModem::TCommand {
  std::string_view head;
  std::string_view end;  // the tool's first two commands end in CR LF, the others in CR alone
  TReplyType reply;
  int stkSetupStep;      // 0: leaves StkSetupStep as it is
  const char* logLine;
  int answerMs;
};

namespace {

using C = TfzInitModem::TCommand;
using UiForm = Ui::TfzInitModem;

// A modem answers these at once; ten seconds leave room for a busy one.
constexpr int kAnswerMs = 10000;
// "AT+CFUN=1" restarts the modem, and some firmware sends its "OK" only once
// the restart is over.
constexpr int kRestartAnswerMs = 30000;

constexpr C kAt{CmdCheck, "\r\n", rtAt, 0, "AT", kAnswerMs};
constexpr C kEchoOff{CmdEchoOff, "\r\n", rtEchoOff, 0, "ATE", kAnswerMs};
constexpr C kWindOn{"AT+WIND=1", "\r", rtWindOn, 0, "Cek SIM card Exist", kAnswerMs};
// Mode 2 configures: the terminal profile 5FFFFFFF7F, time-out 5, no
// automatic response.
constexpr C kStkOff{"AT+STSF=0", "\r", rtStkOn, 1, "ON STK", kAnswerMs};
constexpr C kStkConfigure{"AT+STSF=2,\"5FFFFFFF7F\",5,0", "\r", rtStkOn, 2, "ON STK", kAnswerMs};
constexpr C kStkOn{"AT+STSF=1", "\r", rtStkOn, 3, "ON STK", kAnswerMs};
constexpr C kModemReset{"AT+CFUN=1", "\r", rtReset, 0, "Reset modem", kRestartAnswerMs};

// What the SIM Toolkit set-up reply shows, by the command sent last.
struct TStkStep {
  int step;
  const char* okLog;
  const char* errorLog;
  const char* silentLog;
  QLabel* UiForm::*status;
};
constexpr TStkStep kStkSteps[] = {
    {1, "STK OFF", "STK OFF: Error", "STK OFF: no answer", &UiForm::lDeactivate},
    {2, "STK Configure", "STK Configure: Error", "STK Configure: no answer", &UiForm::lConfigureSTK},
    {3, "STK ON", "STK ON: Error", "STK ON: no answer", &UiForm::lActivateSTK},
};

const TStkStep* StkStep(int step) {
  for (const TStkStep& s : kStkSteps)
    if (s.step == step) return &s;
  return nullptr;
}

// Which handler takes the answer to the command in flight, by the reply the
// port waits for. Values that are not listed (rtNone among them) drop the
// chunk; while idle the bytes only collect.
struct TReplyRoute {
  std::uint8_t type;
  void (TfzInitModem::*handler)(TFinalResult);
  const char* name;
};
constexpr TReplyRoute kReplyRoutes[] = {
    {rtAt, &TfzInitModem::HandleAtReply, "HandleAtReply"},
    {rtIdle, nullptr, "HandleIdle"},
    {rtEchoOff, &TfzInitModem::HandleEchoOffReply, "HandleEchoOffReply"},
    {rtStkOn, &TfzInitModem::HandleStkSetupReply, "HandleStkSetupReply"},
    {rtReset, &TfzInitModem::HandleResetReply, "HandleResetReply"},
    {rtWindOn, &TfzInitModem::HandleWindOnReply, "HandleWindOnReply"},
};

// What a command that stays unanswered shows (the SIM Toolkit set-up takes
// its texts from kStkSteps).
struct TSilence {
  std::uint8_t type;
  const char* log;
  QLabel* UiForm::*status;
  const char* statusText;
};
constexpr TSilence kSilences[] = {
    {rtAt, "AT : no answer", &UiForm::lCekModem, "Not OK"},
    {rtEchoOff, "ATE : no answer", &UiForm::lCekModem, "Not OK"},
    {rtWindOn, "Cek SIM exist: no answer", &UiForm::lStatusKartu, "NOT OK"},
    {rtReset, "Reset: no answer", &UiForm::lResetModem, "NOT OK"},
};

// The six status texts, top to bottom.
constexpr QLabel* UiForm::*kStatusTexts[] = {
    &UiForm::lCekModem,     &UiForm::lStatusKartu, &UiForm::lDeactivate,
    &UiForm::lConfigureSTK, &UiForm::lActivateSTK, &UiForm::lResetModem,
};

// The buttons that send a command to the modem, top to bottom.
constexpr QPushButton* UiForm::*kStepButtons[] = {
    &UiForm::btnCekModem,  &UiForm::btnStatusKartu, &UiForm::btnDeactivate,
    &UiForm::btnConfigure, &UiForm::btnActivateSTK, &UiForm::btnResetModem,
};

// The ledger (TAnswerLedger) tells whose a final result is. Time helps it
// where the bytes cannot: after a time-out the next command waits the
// command's answer time once more, so that the late answer usually comes
// while nothing is in flight; and after every final result the next step
// waits a moment, in which a second answer to the same command falls
// without a command it could be taken for. A late or second answer is
// logged and dropped, never credited; at worst a step waits or shows red
// and is pressed again.
constexpr int kLineSettleMs = 500;
constexpr const char* kLateAnswerLog = "late answer to the earlier command ignored";
constexpr const char* kExtraAnswerLog = "extra answer ignored";

constexpr int kStartPortNumber = 8;
constexpr int kStartBaudRate = 115200;
constexpr int kLogLimit = 100;
// What arrived since the last command collects for the record only (the
// ledger judges the answers); a chattering line must not grow it without
// end.
constexpr std::size_t kIdleBufferKeep = 4096;

}  // namespace

void ShowStepStatus(QLabel* status, const char* text, std::uint32_t colour) {
  status->setText(QString::fromLatin1(text));
  SetStaticTextColor(status, colour);
}

TfzInitModem::TfzInitModem(TPrepFormOptions options, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<UiForm>()), replyTimeOutMs_(options.replyTimeOutMs) {
  CreateComponents(options);
  CreateDeviceWatch();
  FormCreate();
}

TfzInitModem::~TfzInitModem() {
  // The port goes before the window it reports to, so no notice can reach a
  // window that is half gone.
  delete comVorel1;
}

void TfzInitModem::CreateComponents(const TPrepFormOptions& options) {
  ResetProgramVariables();
  ui_->setupUi(this);
  // A fixed frame with the system menu and the minimise button only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(size());
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  ui_->btnKeluar->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  UseListBoxRows(ui_->lstFunc);
  ShowCutTextOnHover(ui_->lstFunc);

  CreatePort();
  tReplyTimeOut = new QTimer(this);
  tReplyTimeOut->setObjectName(QStringLiteral("tReplyTimeOut"));
  tReplyTimeOut->setSingleShot(true);
  tReplyTimeOut->setTimerType(Qt::PreciseTimer);  // a coarse timer may give up 5 % early
  ConnectHandlers();

  if (options.limitInstances) {
    adpInstanceControl1 = new TadpInstanceControl(this);
    adpInstanceControl1->setObjectName(QStringLiteral("adpInstanceControl1"));
    adpInstanceControl1->SetEnabled(true);
    adpInstanceControl1->SetMaxInstances(1);
    adpInstanceControl1->Loaded();
    refused_ = !adpInstanceControl1->Counted();
  }
}

void TfzInitModem::CreateDeviceWatch() {
  // An unplugged USB modem or a hung-up line is told by the port the moment
  // its threads see it; nothing needs to look.
  comVorel1->SetOnTriggerDeviceLost([this](QObject* CP) { comVorel1TriggerDeviceLost(CP); });
  tLateAnswer = new QTimer(this);
  tLateAnswer->setObjectName(QStringLiteral("tLateAnswer"));
  tLateAnswer->setSingleShot(true);
  tLateAnswer->setTimerType(Qt::PreciseTimer);
  connect(tLateAnswer, &QTimer::timeout, this, [this] { RunGuarded([this] { tLateAnswerTimer(); }); });
}

void TfzInitModem::CreatePort() {
  // The port as the form streams it; number and speed are replaced at start.
  comVorel1 = new TComPort(this);
  comVorel1->setObjectName(QStringLiteral("comVorel1"));
  comVorel1->BeginLoading();
  comVorel1->SetComNumber(13);
  comVorel1->SetBaud(115200);
  comVorel1->SetDataBits(8);
  comVorel1->SetParity(pNone);
  comVorel1->SetStopBits(1);
  comVorel1->SetAutoOpen(false);
  comVorel1->SetRTS(false);
  comVorel1->SetHWFlowOptions(THWFlowOptionSet{hwfUseDTR, hwfUseRTS});
  comVorel1->SetBufferFull(3072);
  comVorel1->SetBufferResume(1024);
  comVorel1->SetTraceName("SERIAL.TRC");
  comVorel1->SetLogName("SERIAL.LOG");
  comVorel1->SetTraceHex(false);
  comVorel1->SetUseEventWord(false);
  comVorel1->SetOnTrigger([this](QObject* CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data) {
    comVorel1Trigger(CP, Msg, TriggerHandle, Data);
  });
  comVorel1->EndLoading();
}

void TfzInitModem::ConnectHandlers() {
  const struct {
    QPushButton* UiForm::*button;
    void (TfzInitModem::*click)();
  } clicks[] = {
      {&UiForm::btnSetPort1, &TfzInitModem::btnSetPort1Click},
      {&UiForm::btnCekModem, &TfzInitModem::btnCekModemClick},
      {&UiForm::btnStatusKartu, &TfzInitModem::btnStatusKartuClick},
      {&UiForm::btnDeactivate, &TfzInitModem::btnDeactivateClick},
      {&UiForm::btnConfigure, &TfzInitModem::btnConfigureClick},
      {&UiForm::btnActivateSTK, &TfzInitModem::btnActivateSTKClick},
      {&UiForm::btnResetModem, &TfzInitModem::btnResetModemClick},
      {&UiForm::btnKeluar, &TfzInitModem::btnKeluarClick},
  };
  for (const auto& c : clicks)
    connect((*ui_).*(c.button), &QPushButton::clicked, this,
            [this, click = c.click] { RunGuarded([&] { (this->*click)(); }); });
  connect(tReplyTimeOut, &QTimer::timeout, this, [this] { RunGuarded([this] { tReplyTimeOutTimer(); }); });
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void TfzInitModem::FormCreate() {
  ReplyType = rtNone;
  PortNumber = kStartPortNumber;
  BaudRate = kStartBaudRate;
  comVorel1->SetComNumber(static_cast<std::uint16_t>(PortNumber));
  comVorel1->SetBaud(BaudRate);
  ui_->ePort->setText(QString::number(comVorel1->ComNumber()));
  ui_->eBaud->setText(QString::number(comVorel1->Baud()));
  maxlistline = kLogLimit;
}

void TfzInitModem::btnKeluarClick() { close(); }

void TfzInitModem::closeEvent(QCloseEvent* event) {
  // After the Yes no answer or time-out may act, and the program ends as
  // soon as the port is closed.
  TApplication::CloseMainWindow(*this, *event, closed_, [this] { return FormClose(); }, [this] {
    LeaveModem();  // no answer, late answer or held command acts after the Yes
    try {
      comVorel1->SetOpen(false);
    } catch (const std::exception& e) {
      TApplication::LogEndFailure(e.what());  // the close itself is complete
    }
  });
}

bool TfzInitModem::FormClose() {
  return MessageDlg(this, TMsgDlgType::Confirmation, QStringLiteral("ANDA YAKIN AKAN MENUTUP APLIKASI INI?"),
                    true) == TModalResult::Yes;
}

// ---------------------------------------------------------------------------
// Buttons

void TfzInitModem::btnSetPort1Click() {
  // Both texts are converted before the port is touched.
  const int port = StrToInt(ToAnsi(ui_->ePort->text()));
  const int baud = StrToInt(ToAnsi(ui_->eBaud->text()));
  // The port's number is 16 bits wide: a larger one would open some other
  // port. 0 asks the operator to pick one when the port opens.
  if (port < 0 || port > MaxComNumber)
    throw Exception("COM" + std::to_string(port) + " is not a port number (0 to " + std::to_string(MaxComNumber) +
                    ")");
  if (baud <= 0) throw Exception(std::to_string(baud) + " is not a baud rate");
  PortNumber = port;
  BaudRate = baud;
  if (comVorel1->Open()) {
    comVorel1->SetOpen(false);
    // A command in flight, or one still owing its answer, was for the modem
    // just left; its answer can no longer come.
    LeaveModem();
  }
  // What the steps showed was done to the modem of the old port, if any;
  // before the new port is tried, so that a port that will not open shows
  // nothing as done either.
  ShowEveryStepFailed();
  comVorel1->SetComNumber(static_cast<std::uint16_t>(PortNumber));
  comVorel1->SetBaud(BaudRate);
  comVorel1->SetOpen(true);
  lossShown_ = false;
}

void TfzInitModem::btnCekModemClick() {
  if (!comVorel1->Open()) comVorel1->SetOpen(true);
  SendAt();
}

void TfzInitModem::btnStatusKartuClick() { SendWindOn(); }
void TfzInitModem::btnDeactivateClick() { SendStkOff(); }
void TfzInitModem::btnConfigureClick() { SendStkConfigure(); }
void TfzInitModem::btnActivateSTKClick() { SendStkOn(); }
void TfzInitModem::btnResetModemClick() { SendModemReset(); }

// ---------------------------------------------------------------------------
// Senders

void TfzInitModem::Send(const TCommand& command) {
  if (!comVorel1->Open()) return;
  // The modem answers in order and its answers carry no name: an answer
  // still due would be taken for this command's.
  if (AnswerDue() || heldCommand_) return;
  if (DeviceLost()) {
    lossShown_ = false;  // pressed: say again why nothing goes out
    ShowDeviceLost();
    return;
  }
  if (tLateAnswer->isActive()) {
    heldCommand_ = &command;
    EnableStepButtons(false);
    return;
  }
  // Sent first: a send that fails leaves the tool as it was.
  comVorel1->SendString(std::string(command.head) + std::string(command.end));
  ledger_.Sent(command.head);
  ReplyType = command.reply;
  if (command.stkSetupStep != 0) StkSetupStep = command.stkSetupStep;
  RxBuffer.clear();
  AddFuncLog(command.logLine);
  AwaitAnswer(replyTimeOutMs_ > 0 ? replyTimeOutMs_ : command.answerMs);
}

void TfzInitModem::SendAt() { Send(kAt); }
void TfzInitModem::SendEchoOff() { Send(kEchoOff); }
void TfzInitModem::SendWindOn() { Send(kWindOn); }
void TfzInitModem::SendStkOff() { Send(kStkOff); }
void TfzInitModem::SendStkConfigure() { Send(kStkConfigure); }
void TfzInitModem::SendStkOn() { Send(kStkOn); }
void TfzInitModem::SendModemReset() { Send(kModemReset); }

// ---------------------------------------------------------------------------
// Received bytes

void TfzInitModem::comVorel1Trigger(QObject* /*CP*/, std::uint16_t Msg, std::uint16_t /*TriggerHandle*/,
                                    std::uint16_t Data) {
  if (Msg != MsgTriggerAvail) return;
  std::string chunk;
  chunk.reserve(Data);
  for (std::uint16_t i = 0; i < Data; ++i) chunk += comVorel1->ReceiveChar();
  DispatchChunk(chunk);
}

namespace {
const TReplyRoute* RouteOf(std::uint8_t type) {
  for (const TReplyRoute& r : kReplyRoutes)
    if (r.type == type) return &r;
  return nullptr;
}
}  // namespace

void TfzInitModem::DispatchChunk(const std::string& Chunk) {
  const TReplyRoute* route = RouteOf(ReplyType);
  if (OnDispatch) OnDispatch(route ? route->name : nullptr, Chunk);
  if (!route) return;
  RxBuffer += Chunk;
  if (RxBuffer.size() > kIdleBufferKeep) RxBuffer.erase(0, RxBuffer.size() - kIdleBufferKeep);
  for (const TAnswerLedger::TAnswer& a : ledger_.Take(Chunk)) TakeAnswer(a);
}

void TfzInitModem::TakeAnswer(const TAnswerLedger::TAnswer& answer) {
  switch (answer.owner) {
    case TAnswerLedger::TOwner::Late: AddFuncLog(kLateAnswerLog); break;
    case TAnswerLedger::TOwner::Extra: AddFuncLog(kExtraAnswerLog); break;
    case TAnswerLedger::TOwner::Command:
      // The route of the moment: a handler may have sent the next command.
      if (const TReplyRoute* route = RouteOf(ReplyType); route && route->handler)
        (this->*(route->handler))(answer.result);
      break;
  }
  // Nothing more is owed and nothing is in flight: a second answer to what
  // was answered now falls in this moment, before the next step goes out.
  // A moment already running is not drawn out: a modem that keeps sending
  // final results must not hold a step back for ever.
  if (ledger_.InFlight() || ledger_.Owed() != 0 || AnswerDue()) return;
  if (!tLateAnswer->isActive() || tLateAnswer->remainingTime() > kLineSettleMs) tLateAnswer->start(kLineSettleMs);
}

void TfzInitModem::GoIdle() {
  RxBuffer.clear();
  ReplyType = rtIdle;
  EndAwaitingAnswer();
}

void TfzInitModem::LeaveModem() {
  GoIdle();
  ledger_.Forget();
  tLateAnswer->stop();
  heldCommand_ = nullptr;
}

bool TfzInitModem::AnswerDue() const { return tReplyTimeOut->isActive(); }

void TfzInitModem::AwaitAnswer(int ms) {
  tReplyTimeOut->start(ms);
  EnableStepButtons(false);
}

void TfzInitModem::EndAwaitingAnswer() {
  tReplyTimeOut->stop();
  EnableStepButtons(true);
}

void TfzInitModem::EnableStepButtons(bool enabled) {
  for (QPushButton* UiForm::*b : kStepButtons) ((*ui_).*b)->setEnabled(enabled);
}

// The command in flight gets no more time: its answer is owed, and the
// next step waits for it as long again before it goes out (a final result
// in that time ends the wait early). Past that the step goes out anyway;
// the ledger still takes the owed answer for what it is.
void TfzInitModem::GiveUpAnswer(int ms) {
  ledger_.TimedOut();
  GoIdle();
  tLateAnswer->start(ms);
}

void TfzInitModem::tLateAnswerTimer() {
  const TCommand* held = heldCommand_;
  if (!held) return;
  heldCommand_ = nullptr;
  EnableStepButtons(true);
  Send(*held);
}

bool TfzInitModem::DeviceLost() {
  if (!comVorel1->Open()) return false;
  const serial::TBaseDispatcher* d = comVorel1->Dispatcher();
  return d && d->DeviceLost();
}

void TfzInitModem::ShowEveryStepFailed() {
  for (QLabel* UiForm::*status : kStatusTexts) ShowStepStatus((*ui_).*status, "Not OK", clRed);
}

void TfzInitModem::ShowDeviceLost() {
  if (lossShown_) return;
  lossShown_ = true;
  // Nothing more will come from the device: a command whose answer was due
  // is given up, and what the steps set up went with the modem.
  LeaveModem();
  AddFuncLog("COM" + std::to_string(comVorel1->ComNumber()) +
             " : device lost (modem unplugged?), plug it in and press Set");
  ShowEveryStepFailed();
}

void TfzInitModem::comVorel1TriggerDeviceLost(QObject* /*CP*/) {
  if (DeviceLost()) ShowDeviceLost();
}

QLabel* TfzInitModem::StkStepStatus() const {
  const TStkStep* s = StkStep(StkSetupStep);
  return s ? (*ui_).*(s->status) : nullptr;
}

void TfzInitModem::HandleAtReply(TFinalResult Result) {
  switch (Result) {
    case TFinalResult::Ok:
      AddFuncLog("OK");
      EndAwaitingAnswer();
      SendEchoOff();
      break;
    case TFinalResult::Error:
      // Answered, so no time-out; the buffer and the reply type stay until
      // the next command.
      EndAwaitingAnswer();
      ShowStepStatus(ui_->lCekModem, "Not OK", clRed);
      break;
    case TFinalResult::None: break;
  }
}

void TfzInitModem::HandleEchoOffReply(TFinalResult Result) {
  switch (Result) {
    case TFinalResult::Ok:
      AddFuncLog("ATE : OK");
      ShowStepStatus(ui_->lCekModem, "OK", clLime);
      GoIdle();
      break;
    case TFinalResult::Error:
      ShowStepStatus(ui_->lCekModem, "Not OK", clRed);
      GoIdle();
      break;
    case TFinalResult::None: break;
  }
}

void TfzInitModem::HandleStkSetupReply(TFinalResult Result) {
  if (Result == TFinalResult::None) return;
  if (const TStkStep* s = StkStep(StkSetupStep)) {
    const bool ok = Result == TFinalResult::Ok;
    AddFuncLog(ok ? s->okLog : s->errorLog);
    ShowStepStatus((*ui_).*(s->status), ok ? "OK" : "NOT OK", ok ? clLime : clRed);
  }
  GoIdle();
}

void TfzInitModem::HandleResetReply(TFinalResult Result) {
  switch (Result) {
    case TFinalResult::Ok:
      AddFuncLog("Reset OK");
      ShowStepStatus(ui_->lResetModem, "OK", clLime);
      GoIdle();
      break;
    case TFinalResult::Error:
      // A refused reset must not go on showing an earlier reset's green.
      AddFuncLog("reset error");
      ShowStepStatus(ui_->lResetModem, "NOT OK", clRed);
      GoIdle();
      break;
    case TFinalResult::None: break;
  }
}

void TfzInitModem::HandleWindOnReply(TFinalResult Result) {
  switch (Result) {
    case TFinalResult::Ok:
      GoIdle();
      ShowStepStatus(ui_->lStatusKartu, "OK", clLime);
      break;
    case TFinalResult::Error:
      AddFuncLog("Cek SIM exist error");
      ShowStepStatus(ui_->lStatusKartu, "NOT OK", clRed);
      GoIdle();
      break;
    case TFinalResult::None: break;
  }
}

void TfzInitModem::tReplyTimeOutTimer() {
  if (DeviceLost()) {
    ShowDeviceLost();
    return;
  }
  const int answerMs = tReplyTimeOut->interval();
  if (ReplyType == rtStkOn) {
    if (const TStkStep* s = StkStep(StkSetupStep)) {
      AddFuncLog(s->silentLog);
      ShowStepStatus(StkStepStatus(), "NOT OK", clRed);
    }
    GiveUpAnswer(answerMs);
    return;
  }
  for (const TSilence& s : kSilences) {
    if (s.type != ReplyType) continue;
    AddFuncLog(s.log);
    // No modem answers on the port: the other steps' greens were earned by
    // a modem that is not there now.
    if (s.type == rtAt) ShowEveryStepFailed();
    else ShowStepStatus((*ui_).*(s.status), s.statusText, clRed);
    GiveUpAnswer(answerMs);
    return;
  }
}

// ---------------------------------------------------------------------------
// Log

void TfzInitModem::AddFuncLog(std::string_view text) {
  if (ui_->lstFunc->count() >= maxlistline) ui_->lstFunc->clear();
  ui_->lstFunc->addItem(FromAnsi(text));
  ui_->lstFunc->setCurrentRow(ui_->lstFunc->count() - 1);
}

}  // namespace corvane::prep
