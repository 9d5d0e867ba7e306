// The activation console: one window, four modem lines.
#include "ProcessEnd.h"
#include "SerSelect.h"
#include "TApplication.h"
#include "uzCorvaneV4.h"

int main(int argc, char** argv) {
  platform::InstallEndLog("Corvane");
  TApplication app(argc, argv);
  TApplication::setApplicationName(QStringLiteral("Corvane"));
  // A port numbered 0 lets the operator pick one of the ports present.
  InstallComSelectForm();
  corvane::TfzCorvaneV4 fzCorvaneV4;
  // A copy beyond the limit has raised the running one and ends unseen.
  return TApplication::RunMainWindow(fzCorvaneV4, fzCorvaneV4.Refused());
}
