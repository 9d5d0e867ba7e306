#include "uzCorvaneV4.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <limits>

#include "SerPort.h"
#include "TApplication.h"
#include "adpInstanceControl.h"
#include "uConstType.h"
#include "uSeting.h"
#include "ui_TfzCorvaneV4.h"

namespace {

// Call length in ms for the hang-up timers. A large call length saturates
// instead of overflowing the timer's interval; a length of 0 or less would
// leave a timer that never fires and a call that is never hung up, so the
// shortest call is one second.
int HangupIntervalMs(std::int32_t waktudial) {
  const std::int64_t ms = std::int64_t{waktudial} * 1000;
  return static_cast<int>(std::clamp<std::int64_t>(ms, 1000, std::numeric_limits<int>::max()));
}

}  // namespace

namespace corvane {

namespace {

std::string WithTrailingSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

TfzCorvaneV4::TfzCorvaneV4(TFormOptions options, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::TfzCorvaneV4>()) {
  CreateComponents(options);
  ProgramDir = options.programDir.empty() ? std::string() : WithTrailingSlash(options.programDir);
  FormCreate();
}

TfzCorvaneV4::~TfzCorvaneV4() {
  // While every line still exists: no timer of one line may fire into
  // another that is already gone while the ports are being closed.
  EndLines();
}

void TfzCorvaneV4::CreateComponents(const TFormOptions& options) {
  ResetProgramVariables();
  ui_->setupUi(this);
  // A fixed dialog-like frame: system menu and minimise, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(1008, 536);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  for (int n = 1; n <= LineCount; ++n)
    Lines[static_cast<std::size_t>(n - 1)] = std::make_unique<TConsoleLine>(*this, n, LineRecord(n));
  // Connected after the line's own handler: the title follows the port it set.
  for (auto& line : Lines)
    connect(line->btnSetPort, &QPushButton::clicked, this, [this] { ShowPortsInTitle(); });

  pmKartuAktif = new QMenu(ui_->cbKartuAktif);
  pmKartuAktif->setObjectName(QStringLiteral("pmKartuAktif"));
  mnTambahNamaKartu = pmKartuAktif->addAction(QStringLiteral("Tambah Nama Kartu"));
  mnTambahNamaKartu->setObjectName(QStringLiteral("mnTambahNamaKartu"));
  connect(ui_->cbKartuAktif, &QWidget::customContextMenuRequested, pmKartuAktif,
          [this](const QPoint& at) { pmKartuAktif->popup(ui_->cbKartuAktif->mapToGlobal(at)); });
  connect(mnTambahNamaKartu, &QAction::triggered, this, [this] { RunGuarded([this] { mnTambahNamaKartuClick(); }); });

  ConnectCheckChange(ui_->ckOn_All, this, [this] { ckOn_AllClick(); });
  // A delay typed in the window is checked as soon as the operator leaves it.
  connect(ui_->eMaxDelay, &QLineEdit::editingFinished, this, [this] { RunGuarded([this] { MaxDelayMs(); }); });
  ConnectComboChoice(ui_->cbKartuAktif, this, [this] { cbKartuAktifChange(); });
  connect(ui_->btnKeluar, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnKeluarClick(); }); });
  connect(ui_->btnSetting, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnSettingClick(); }); });

  if (options.limitInstances) {
    adpInstanceControl1 = new TadpInstanceControl(this);
    adpInstanceControl1->setObjectName(QStringLiteral("adpInstanceControl1"));
    adpInstanceControl1->SetMaxInstances(16);
    adpInstanceControl1->Loaded();
    refused_ = !adpInstanceControl1->Counted();
  }
}

void TfzCorvaneV4::FormCreate() {
  if (ProgramDir.empty()) ProgramDir = WithTrailingSlash(QCoreApplication::applicationDirPath().toStdString());
  ReplyType[0] = rtNone;
  LoadMainSettings();
  ui_->cbKartuAktif->setCurrentIndex(kartuaktif >= 0 && kartuaktif < ui_->cbKartuAktif->count() ? kartuaktif : -1);
  LoadCardSettings(kartuaktif);
  for (auto& line : Lines) line->cbPort->setEditText(QString::number(line->Data.ComPort));
  for (auto& line : Lines) ApplyComNumberAtStart(*line);
  for (auto& line : Lines) line->comVorel->SetBaud(BaudRate);
  ui_->eBaud->setText(QString::number(Line(1).comVorel->Baud()));
  ui_->eMaxLine->setText(QString::number(maxlistline));
  ui_->eMaxGagal->setText(QString::number(Card.maxgagal));
  for (auto& line : Lines) {
    line->ckRegistrasi->setChecked(line->Data.RegistrasiAktif);
    line->ckCall->setChecked(line->Data.CallAktif);
    line->ckCall2->setChecked(line->Data.Call2Aktif);
    line->ckSMS1->setChecked(line->Data.SMSAktif);
    line->ckSMS2->setChecked(line->Data.SMS2Aktif);
    line->ckCekPulsa->setChecked(line->Data.CekPulsaAktif);
  }
  Line(1).tHangup->SetInterval(HangupIntervalMs(Card.waktudial));
  for (int n = 2; n <= LineCount; ++n) Line(n).tHangup->SetInterval(Line(1).tHangup->Interval());
  caption_ = windowTitle() + QStringLiteral(" - Debug");
  ShowPortsInTitle();
  for (auto& line : Lines) line->lNomor->setText(QString::number(line->Number()));
}

// Up to sixteen copies side by side in the taskbar all carry the same
// caption; their four ports, first, tell them apart.
void TfzCorvaneV4::ShowPortsInTitle() {
  QStringList ports;
  for (const auto& line : Lines) ports << QStringLiteral("COM%1").arg(line->Data.ComPort);
  setWindowTitle(ports.join(QLatin1Char(' ')) + QStringLiteral(" - ") + caption_);
}

void TfzCorvaneV4::ApplyComNumberAtStart(TConsoleLine& line) {
  if (line.ComPortUsable()) {
    line.comVorel->SetComNumber(static_cast<std::uint16_t>(line.Data.ComPort));
    return;
  }
  // A number the port cannot take never reaches it; the line refuses to be
  // switched on until "Set" gives it a proper one.
  Warn(QStringLiteral("comport_%1 = %2 in %3 is not a port number (1 to 255); line %1 stays off until a "
                      "port is set")
           .arg(line.Number())
           .arg(line.Data.ComPort)
           .arg(QString::fromStdString(MainIniPath())));
}

void TfzCorvaneV4::Warn(const QString& text) {
  if (!refused_) MessageDlg(this, TMsgDlgType::Warning, text, false);
}

void TfzCorvaneV4::closeEvent(QCloseEvent* event) {
  // Once the operator has said Yes, nothing of a line may act any more, and
  // the program ends as soon as the ports are closed.
  TApplication::CloseMainWindow(*this, *event, closed_, [this] { return FormClose(); }, [this] { EndLines(); });
}

void TfzCorvaneV4::EndLines() noexcept {
  for (TTimer* timer : findChildren<TTimer*>()) timer->SetEnabled(false);
  for (auto& line : Lines) {
    if (!line || !line->comVorel) continue;
    try {
      line->comVorel->SetOpen(false);
    } catch (const std::exception& e) {
      // The close itself is complete; only a trace or log write failed.
      TApplication::LogEndFailure(e.what());
    }
  }
}

bool TfzCorvaneV4::FormClose() {
  if (MessageDlg(this, TMsgDlgType::Confirmation, QStringLiteral("ANDA YAKIN AKAN MENUTUP APLIKASI INI?"), true) !=
      TModalResult::Yes)
    return false;
  try {
    SaveMainSettings();
    return true;
  } catch (const std::exception& e) {
    // Whatever went wrong with the file, the operator decides: close anyway
    // or keep the window (and the settings) to try again.
    const QString text = QString::fromUtf8(e.what()) + QStringLiteral("\n\nClose without saving?");
    return MessageDlg(this, TMsgDlgType::Error, text, true) == TModalResult::Yes;
  }
}

void TfzCorvaneV4::btnKeluarClick() { close(); }

void TfzCorvaneV4::ckOn_AllClick() {
  for (auto& line : Lines)
    if (line->ckActive->isChecked()) line->ckOn->setChecked(ui_->ckOn_All->isChecked());
}

// --- settings dialog and card types (uSeting) ---


void TfzCorvaneV4::btnSettingClick() {
  // Freed on every path, also when the save below raises.
  const auto dialog = std::make_unique<TfSeting>(this);
  CopyEditedValues(Card, dialog->Values);
  if (dialog->exec() != QDialog::Accepted) return;
  CopyEditedValues(dialog->Values, Card);
  // The confirmed values are in force from here on, also if the file cannot
  // be written: the call length with them.
  for (auto& line : Lines) line->tHangup->SetInterval(HangupIntervalMs(Card.waktudial));
  SaveCardSettings(kartuaktif);
}

void TfzCorvaneV4::mnTambahNamaKartuClick() {
  const QString name = InputBox(this, QStringLiteral("Masukkan nama kartu yg baru (usahakan tidak memakai spasi)"),
                                QStringLiteral("Kartu Baru"), QString());
  QStringList listed;
  for (int i = 0; i < ui_->cbKartuAktif->count(); ++i) listed << ui_->cbKartuAktif->itemText(i);
  const TNewCardName verdict = JudgeNewCardName(name, listed);
  if (verdict != TNewCardName::Usable) {
    if (verdict != TNewCardName::Empty) Warn(NewCardNameMessage(verdict, name));
    return;
  }
  ui_->cbKartuAktif->addItem(name);
  ui_->cbKartuAktif->setCurrentIndex(ui_->cbKartuAktif->count() - 1);
  kartuaktif = ui_->cbKartuAktif->currentIndex();
  LoadCardSettings(kartuaktif);
}

void TfzCorvaneV4::cbKartuAktifChange() {
  kartuaktif = ui_->cbKartuAktif->currentIndex();
  LoadCardSettings(kartuaktif);
}

}  // namespace corvane
