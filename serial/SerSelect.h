#pragma once
// TComSelectForm: the modal dialog a port shows when it is opened with
// ComNumber 0 and PromptForPort on. It lists the serial ports of COM1 to
// COM50 that can be opened (free, or held by another program) and lets the
// operator pick one; it also shows the Linux device the chosen number stands
// for (platform/ComPath.h), so that "COM5" is not a riddle.
//
// What a caller may rely on:
// - GUI thread only. Creating the form probes the ports once (up to 50 device
//   opens, non-blocking, each closed again at once; no thread is started).
// - exec() gives mrOk (1) for OK and mrAbort (3) for Cancel; closing the
//   window gives neither. OK cannot be pressed while the list is empty, and
//   SelectedPort is then 0 instead of a conversion error.
// - InstallComSelectForm() makes every TComPort opened with ComNumber 0 show
//   this form (TCustomComPort::SetPortPrompt): OK stores the chosen number,
//   anything else leaves the port closed with ENoPortSelected.
#include <QDialog>
#include <cstdint>
#include <string>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class TComSelectForm : public QDialog {
 public:
  enum TModalResult : int { mrOk = 1, mrCancel = 2, mrAbort = 3 };
  static constexpr unsigned kHighestPort = 50;

  explicit TComSelectForm(QWidget* owner = nullptr);

  // The number of the selected item ("COM12" gives 12); 0 when none is.
  uint16_t SelectedPort() const;
  // Whether a port of that number is present: it opens, or another program
  // or component holds it. Number 0 is never present.
  static bool PortExists(unsigned number);
  // "\\.\COM<n>", the form of name the port component opens.
  static std::string DeviceName(unsigned number);

  // Published components.
  QLabel* Label1;
  QLabel* Label2;
  QFrame* Bevel1;
  QPushButton* OkBtn;
  QPushButton* AbortBtn;
  QComboBox* PortsComboBox;
  // Where the selected number leads on this machine.
  QLabel* DeviceLabel;

 protected:
  // Fills the list with the present ports and selects the first.
  void FormCreate();

 private:
  void ShowDeviceOfSelection();
};

// Installs the form as the port-selection prompt of every TComPort.
void InstallComSelectForm();
