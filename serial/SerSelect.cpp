#include "SerSelect.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "ComPath.h"
#include "SerDevice.h"
#include "SerPort.h"
#include "SysError.h"

namespace {

// A dispatcher used only to try a device: it opens and closes the handle the
// way a port would, and never starts a thread.
class TProbeDispatcher final : public serial::TWin32Dispatcher {
 public:
  TProbeDispatcher() : TWin32Dispatcher(nullptr) {}
  using TWin32Dispatcher::CloseDevice;
  using TWin32Dispatcher::OpenHandle;
};

constexpr int kClientWidth = 220;
constexpr int kClientHeight = 131;

template <typename W>
W* Place(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

QString ComItemText(unsigned number) { return QStringLiteral("COM%1").arg(number); }

}  // namespace

TComSelectForm::TComSelectForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Select Port"));
  // 8-point MS Sans Serif is 11 pixels high at the 96 dpi the layout was
  // drawn for; Liberation Sans (Arial's metrics) stands in where it is absent.
  QFont face8;
  face8.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  face8.setPixelSize(11);
  setFont(face8);
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);
  setFixedSize(kClientWidth, kClientHeight);

  Bevel1 = Place(new QFrame(this), 8, 8, 201, 42);
  Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Label1 = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
  Label1->move(18, 14);
  Label1->adjustSize();
  Label2 = new QLabel(QStringLiteral("Please choose another port."), this);
  Label2->move(18, 30);
  Label2->adjustSize();
  DeviceLabel = Place(new QLabel(this), 10, 50, 199, 14);

  OkBtn = Place(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this), 8,
                95, 85, 27);
  OkBtn->setDefault(true);
  AbortBtn = Place(
      new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this), 124,
      95, 85, 27);
  PortsComboBox = new QComboBox(this);
  PortsComboBox->setEditable(false);
  PortsComboBox->move(8, 64);
  PortsComboBox->resize(201, PortsComboBox->sizeHint().height());

  setTabOrder(OkBtn, AbortBtn);
  setTabOrder(AbortBtn, PortsComboBox);
  connect(OkBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
  connect(AbortBtn, &QPushButton::clicked, this, [this] { done(mrAbort); });
  connect(PortsComboBox, &QComboBox::currentIndexChanged, this, [this] { ShowDeviceOfSelection(); });

  FormCreate();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

void TComSelectForm::FormCreate() {
  for (unsigned number = 1; number <= kHighestPort; ++number)
    if (PortExists(number)) PortsComboBox->addItem(ComItemText(number));
  PortsComboBox->setCurrentIndex(PortsComboBox->count() > 0 ? 0 : -1);
  // Nothing to choose: OK would only turn an empty text into a number.
  OkBtn->setEnabled(PortsComboBox->count() > 0);
  ShowDeviceOfSelection();
}

void TComSelectForm::ShowDeviceOfSelection() {
  const uint16_t number = SelectedPort();
  const QString path = number == 0 ? QString() : QString::fromStdString(platform::ComDevicePath(number));
  // A long path keeps both ends visible; the tip shows it whole.
  DeviceLabel->setText(DeviceLabel->fontMetrics().elidedText(path, Qt::ElideMiddle, DeviceLabel->width()));
  DeviceLabel->setToolTip(path);
  PortsComboBox->setToolTip(path);
}

uint16_t TComSelectForm::SelectedPort() const {
  if (PortsComboBox->currentIndex() < 0) return 0;
  bool ok = false;
  const unsigned number = PortsComboBox->currentText().mid(3, 255).toUInt(&ok);
  return ok && number <= 0xFFFF ? static_cast<uint16_t>(number) : 0;
}

bool TComSelectForm::PortExists(unsigned number) {
  if (number == 0) return false;
  TProbeDispatcher probe;
  const int32_t handle = probe.OpenHandle(DeviceName(number));
  if (handle >= 0) {
    probe.CloseDevice();
    return true;
  }
  // Held by another program or component: it is there, only busy.
  return handle == -static_cast<int32_t>(platform::kErrAccessDenied);
}

std::string TComSelectForm::DeviceName(unsigned number) { return "\\\\.\\COM" + std::to_string(number); }

void InstallComSelectForm() {
  TCustomComPort::SetPortPrompt([](TCustomComPort&) -> uint16_t {
    // Made, shown and freed here; no window owns it.
    TComSelectForm form;
    return form.exec() == TComSelectForm::mrOk ? form.SelectedPort() : 0;
  });
}
