#include "uConsoleLine.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

#include <stdexcept>

#include "SerPort.h"
#include "uConstType.h"
#include "uLineLog.h"
#include "uzCorvaneV4.h"

namespace corvane {

namespace {

constexpr TLineVariant kLineVariants[LineCount] = {
    // EchoOffStep, LogsStkChunk, LogsStkGetInfoSteps, LogsQueuedAnswer
    {true, false, false, false},
    {false, false, false, true},
    {false, true, true, false},
    {false, false, false, false},
};

using L = TConsoleLine;
// Which handler takes a chunk, by the reply the line waits for. Values that
// are not listed (rtNone among them) drop the chunk.
constexpr L::TReplyRoute kReplyRoutes[] = {
    {rtIdle, &L::HandleIdle, "HandleIdle", false},
    {rtEchoOff, &L::HandleEchoOffReply, "HandleEchoOffReply", true},
    {rtSmsPrompt, &L::HandleSmsPrompt, "HandleSmsPrompt", false},
    {rtSmsSent, &L::HandleSmsSentReply, "HandleSmsSentReply", false},
    {rtUssd, &L::HandleUssdReply, "HandleUssdReply", false},
    {rtDial, &L::HandleDialReply, "HandleDialReply", false},
    {rtHangup, &L::HandleHangupReply, "HandleHangupReply", false},
    {rtStkGetInfo, &L::HandleStkInfo, "HandleStkInfo", false},
    {rtStkResponse, &L::HandleStkResponseReply, "HandleStkResponseReply", false},
    {rtStkOn, &L::HandleStkOnReply, "HandleStkOnReply", false},
    {rtReset, &L::HandleResetReply, "HandleResetReply", false},
    {rtImsi, &L::HandleImsiReply, "HandleImsiReply", false},
    {rtSignal, &L::HandleSignalReply, "HandleSignalReply", false},
    {rtSmsFormat, &L::HandleSmsFormatReply, "HandleSmsFormatReply", false},
    {rtSync, &L::HandleSyncReply, "HandleSyncReply", false},
};

}  // namespace

const TLineVariant& LineVariant(int lineNumber) {
  return kLineVariants[static_cast<std::size_t>(lineNumber - 1)];
}

TConsoleLine::TConsoleLine(TfzCorvaneV4& form, int number, TLineData& data)
    : QObject(&form), Form(form), Data(data), number_(number), variant_(LineVariant(number)) {
  setObjectName(QStringLiteral("line_%1").arg(number));
  BindWidgets();
  CreatePort();
  CreateTimers();
  CreateMenus();
  ConnectHandlers();
}

TConsoleLine::~TConsoleLine() {
  // The port goes before the line it reports to, so no notice can reach a
  // line that is gone.
  delete comVorel;
}

template <typename W>
W* TConsoleLine::Bind(const char* baseName) const {
  const QString name = QStringLiteral("%1_%2").arg(QLatin1String(baseName)).arg(number_);
  W* w = Form.findChild<W*>(name);
  if (!w) throw std::logic_error("the console form has no " + name.toStdString());
  return w;
}

void TConsoleLine::BindWidgets() {
  lNomor = Bind<QLabel>("lNomor");
  ckOn = Bind<QCheckBox>("ckOn");
  ckActive = Bind<QCheckBox>("ckActive");
  cbPort = Bind<QComboBox>("cbPort");
  btnSetPort = Bind<QPushButton>("btnSetPort");
  ckRegistrasi = Bind<QCheckBox>("ckRegistrasi");
  ckCall = Bind<QCheckBox>("ckCall");
  ckCall2 = Bind<QCheckBox>("ckCall2");
  ckSMS1 = Bind<QCheckBox>("ckSMS1");
  ckSMS2 = Bind<QCheckBox>("ckSMS2");
  ckCekPulsa = Bind<QCheckBox>("ckCekPulsa");
  lRegistrasi = Bind<QLabel>("lRegistrasi");
  lCall = Bind<QLabel>("lCall");
  lCall2 = Bind<QLabel>("lCall2");
  lSMS1 = Bind<QLabel>("lSMS1");
  lSMS2 = Bind<QLabel>("lSMS2");
  lCekPulsa = Bind<QLabel>("lCekPulsa");
  pbSignal = Bind<QProgressBar>("pbSignal");
  lSignal = Bind<QLabel>("lSignal");
  eISTM = Bind<QLineEdit>("eISTM");
  eCekPulsa = Bind<QLineEdit>("eCekPulsa");
  lstDisplay = Bind<QListWidget>("lstDisplay");
  lstFunc = Bind<QListWidget>("lstFunc");
  UseListBoxRows(lstDisplay);
  UseListBoxRows(lstFunc);
  // The balance and the log rows are wider than the form leaves them.
  for (QWidget* w : std::initializer_list<QWidget*>{lstDisplay, lstFunc, eCekPulsa, eISTM}) ShowCutTextOnHover(w);
  // What the modem sends (the signal level) and the file holds is shown as
  // it is, never read as markup: "<img src=...>" must not load a file.
  for (QLabel* label : {lNomor, lRegistrasi, lCall, lCall2, lSMS1, lSMS2, lCekPulsa, lSignal})
    label->setTextFormat(Qt::PlainText);
}

void TConsoleLine::CreatePort() {
  // The port as the form streams it: closed, numbered and speeded at start.
  comVorel = new TComPort(&Form);
  comVorel->setObjectName(QStringLiteral("comVorel_%1").arg(number_));
  comVorel->BeginLoading();
  comVorel->SetComNumber(13);
  comVorel->SetBaud(115200);
  comVorel->SetAutoOpen(false);
  comVorel->SetRTS(false);
  comVorel->SetHWFlowOptions(THWFlowOptionSet{hwfUseDTR, hwfUseRTS});
  comVorel->SetBufferFull(3072);
  comVorel->SetBufferResume(1024);
  comVorel->SetTraceName("SERIAL.TRC");
  comVorel->SetTraceHex(false);
  comVorel->SetUseEventWord(false);
  comVorel->SetOnTrigger([this](QObject* CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Count) {
    comVorelTrigger(CP, Msg, TriggerHandle, Count);
  });
  comVorel->SetOnTriggerDeviceLost([this](QObject*) { PortLost(); });
  comVorel->EndLoading();
}

void TConsoleLine::CreateTimers() {
  // Design-time state of the line's timers: name, interval, tick handler.
  // All start disabled.
  struct TTimerLayout {
    TTimer* TConsoleLine::*member;
    const char* name;
    int intervalMs;
    void (TConsoleLine::*tick)();
  };
  static constexpr TTimerLayout kTimers[] = {
      {&L::tOn, "tOn", 2000, &L::tOnTimer},
      {&L::tDial, "tDial", 10000, &L::tDialTimer},
      {&L::tHangup, "tHangup", 3000, &L::tHangupTimer},
      {&L::tWatchDog, "tWatchDog", 1000, &L::tWatchDogTimer},
      {&L::tTimeOut, "tTimeOut", 1000, &L::tTimeOutTimer},
      {&L::tMatikan, "tMatikan", 10000, &L::tMatikanTimer},
      {&L::tDelay, "tDelay", 1000, &L::tDelayTimer},
      {&L::tBringUpRetry, "tBringUpRetry", BringUpRetryPauseMs, &L::tBringUpRetryTimer},
      {&L::tAnswerGuard, "tAnswerGuard", AnswerLimitMs, &L::tAnswerGuardTimer},
      {&L::tStkRetry, "tStkRetry", StkRetryPauseMs, &L::tStkRetryTimer},
      {&L::tSmsRetry_, "tSmsRetry", SmsAfterResetMs, &L::tSmsRetryTimer},
      {&L::tResetPace, "tResetPace", ResetPaceDefaultMs, &L::tResetPaceTimer},
      {&L::tBootReport, "tBootReport", BootReportWaitDefaultMs, &L::tBootReportTimer},
  };
  for (const TTimerLayout& t : kTimers) {
    TTimer* timer = new TTimer(this, QStringLiteral("%1_%2").arg(QLatin1String(t.name)).arg(number_), t.intervalMs);
    timer->OnTimer = [this, tick = t.tick] { (this->*tick)(); };
    this->*(t.member) = timer;
  }
}

void TConsoleLine::CreateMenus() {
  struct TMenuLayout {
    QMenu* TConsoleLine::*menu;
    QAction* TConsoleLine::*item;
    QLabel* TConsoleLine::*owner;
    const char* menuName;
    const char* itemName;
    const char* caption;
    void (TConsoleLine::*click)();
  };
  static constexpr TMenuLayout kMenus[] = {
      {&L::pmCall, &L::mnCALL, &L::lCall, "pmCall", "mnCALL", "CALL", &L::mnCALLClick},
      {&L::pmCall2, &L::mnCALL2, &L::lCall2, "pmCall2", "mnCALL2", "CALL 2", &L::mnCALL2Click},
      {&L::pmSMS1, &L::mnSMS1, &L::lSMS1, "pmSMS1", "mnSMS1", "SMS 1", &L::mnSMS1Click},
      {&L::pmSMS2, &L::mnSMS2, &L::lSMS2, "pmSMS2", "mnSMS2", "SMS 2", &L::mnSMS2Click},
      {&L::pmCekPulsa, &L::mnCekPulsa, &L::lCekPulsa, "pmCekPulsa", "mnCekPulsa", "Cek Pulsa", &L::mnCekPulsaClick},
  };
  for (const TMenuLayout& m : kMenus) {
    QLabel* owner = this->*(m.owner);
    auto* menu = new QMenu(owner);
    menu->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(m.menuName)).arg(number_));
    QAction* item = menu->addAction(QString::fromLatin1(m.caption));
    item->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(m.itemName)).arg(number_));
    this->*(m.menu) = menu;
    this->*(m.item) = item;
    owner->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(owner, &QWidget::customContextMenuRequested, menu,
            [owner, menu](const QPoint& at) { menu->popup(owner->mapToGlobal(at)); });
    connect(item, &QAction::triggered, this, [this, click = m.click] { RunGuarded([&] { (this->*click)(); }); });
  }
}

void TConsoleLine::ConnectHandlers() {
  ConnectCheckChange(ckOn, this, [this] { ckOnClick(); });
  ConnectCheckChange(ckActive, this, [this] { ckActiveClick(); });
  ConnectCheckChange(ckRegistrasi, this, [this] { ckRegistrasiClick(); });
  ConnectCheckChange(ckCall, this, [this] { ckCallClick(); });
  ConnectCheckChange(ckCall2, this, [this] { ckCall2Click(); });
  ConnectCheckChange(ckSMS1, this, [this] { ckSMS1Click(); });
  ConnectCheckChange(ckSMS2, this, [this] { ckSMS2Click(); });
  ConnectCheckChange(ckCekPulsa, this, [this] { ckCekPulsaClick(); });
  connect(btnSetPort, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnSetPortClick(); }); });
  connect(lstFunc, &QListWidget::itemClicked, this, [this] { RunGuarded([this] { lstFuncClick(); }); });
}

const TConsoleLine::TReplyRoute* TConsoleLine::RouteFor(std::uint8_t replyType) const {
  for (const TReplyRoute& r : kReplyRoutes) {
    if (r.type != replyType) continue;
    if (r.echoOffLinesOnly && !variant_.EchoOffStep) return nullptr;
    return &r;
  }
  return nullptr;
}

bool TConsoleLine::ComPortUsable() const {
  return Data.ComPort >= MinComNumber && Data.ComPort <= MaxComNumber;
}

// ---------------------------------------------------------------------------
// Reply dispatch and line log

void TConsoleLine::comVorelTrigger(QObject* /*CP*/, std::uint16_t Msg, std::uint16_t /*TriggerHandle*/,
                                   std::uint16_t DataCount) {
  if (Msg != MsgTriggerAvail) return;
  std::string chunk;
  chunk.reserve(DataCount);
  for (std::uint16_t i = 0; i < DataCount; ++i) chunk += comVorel->ReceiveChar();
  DispatchChunk(chunk);
}

void TConsoleLine::DispatchChunk(const std::string& Received) {
  const TReplyRoute* route = RouteFor(Reply());
  // Unsolicited lines no step acts on leave the stream here, before any
  // handler can take them for an answer.
  std::vector<std::string> unsolicited;
  const std::string Chunk = Unsolicited.Feed(Received, unsolicited);
  try {
    if (OnDispatch) OnDispatch(route ? route->name : nullptr, Received);
    for (const std::string& line : unsolicited) AddFuncLog("F028-5 : unsolicited " + at::Readable(line));
    if (!Chunk.empty()) {
      BeforeReplyHandler(Chunk);
      WatchAnswer(Chunk);
      if (route) (this->*(route->handler))(Chunk);
    }
  } catch (...) {
    // A handler whose command could not be written still leaves the card
    // reports of this chunk to be read: a card swap in it would be lost.
    AfterReplyHandler(Chunk);
    throw;
  }
  AfterReplyHandler(Chunk);
  GuardFollowsReply();
  TimeCardStep();
}

void TConsoleLine::AddFuncLog(std::string_view text) {
  if (lstFunc->count() >= maxlistline) lstFunc->clear();
  const std::string entry = ReplaceStgiTag(text);
  auto* item = new QListWidgetItem(VisibleLogText(entry));
  // The row shows marks for control characters; the entry keeps its bytes.
  item->setData(Qt::UserRole, QByteArray(entry.data(), static_cast<qsizetype>(entry.size())));
  lstFunc->addItem(item);
  lstFunc->setCurrentRow(lstFunc->count() - 1);
}

void TConsoleLine::lstFuncClick() {
  if (QListWidgetItem* item = lstFunc->currentItem()) {
    eCekPulsa->setText(item->text());
    eCekPulsa->setCursorPosition(0);
  }
}

// ---------------------------------------------------------------------------
// Line controls

void TConsoleLine::btnSetPortClick() {
  const std::string portText = ToAnsi(cbPort->currentText());
  const auto port = TryStrToInt(portText);
  if (!port) {
    MessageDlg(&Form, TMsgDlgType::Error, FromAnsi(InvalidIntegerMessage(portText)), false);
    return;
  }
  if (*port < MinComNumber || *port > MaxComNumber) {
    MessageDlg(&Form, TMsgDlgType::Error,
               QStringLiteral("COM%1 is not a port number (1 to 255); line %2 keeps COM%3")
                   .arg(*port).arg(number_).arg(Data.ComPort),
               false);
    return;
  }
  Data.ComPort = *port;
  const std::string baudText = ToAnsi(Form.findChild<QLineEdit*>(QStringLiteral("eBaud"))->text());
  const auto baud = TryStrToInt(baudText);
  if (!baud || *baud <= 0) {
    MessageDlg(&Form, TMsgDlgType::Error,
               baud ? QStringLiteral("%1 is not a baud rate").arg(*baud) : FromAnsi(InvalidIntegerMessage(baudText)),
               false);
    return;
  }
  Form.BaudRate = *baud;
  if (comVorel->Open()) {
    comVorel->SetOpen(false);
    comVorel->SetComNumber(static_cast<std::uint16_t>(Data.ComPort));
    comVorel->SetBaud(Form.BaudRate);
    comVorel->SetOpen(true);
  } else {
    comVorel->SetComNumber(static_cast<std::uint16_t>(Data.ComPort));
  }
}

void TConsoleLine::ckActiveClick() {
  const bool on = ckActive->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{ckOn, ckRegistrasi, ckCall, ckSMS1, ckSMS2, ckCekPulsa, cbPort,
                                                    btnSetPort})
    w->setEnabled(on);
  for (QAction* a : {mnCALL, mnSMS1, mnSMS2, mnCekPulsa}) a->setEnabled(on);
}

void TConsoleLine::ckRegistrasiClick() { Data.RegistrasiAktif = ckRegistrasi->isChecked(); }
void TConsoleLine::ckCallClick() { Data.CallAktif = ckCall->isChecked(); }
void TConsoleLine::ckCall2Click() { Data.Call2Aktif = ckCall2->isChecked(); }
void TConsoleLine::ckSMS1Click() { Data.SMSAktif = ckSMS1->isChecked(); }
void TConsoleLine::ckSMS2Click() { Data.SMS2Aktif = ckSMS2->isChecked(); }
void TConsoleLine::ckCekPulsaClick() { Data.CekPulsaAktif = ckCekPulsa->isChecked(); }

}  // namespace corvane
