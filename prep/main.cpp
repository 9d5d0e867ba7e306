// The modem preparation tool: one window, one modem port.
#include "ProcessEnd.h"
#include "SerSelect.h"
#include "TApplication.h"
#include "uzInitModemV4.h"

int main(int argc, char** argv) {
  platform::InstallEndLog("Corvane_Prep");
  TApplication app(argc, argv);
  TApplication::setApplicationName(QStringLiteral("Corvane_Prep"));
  // Port number 0 lets the operator pick the modem's port when it opens.
  InstallComSelectForm();
  corvane::prep::TfzInitModem fzInitModem;
  // A second copy has brought the running tool forward and ends unseen.
  return TApplication::RunMainWindow(fzInitModem, fzInitModem.Refused());
}
