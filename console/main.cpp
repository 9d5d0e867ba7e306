// The activation console: one window, four modem lines.
#include "SerSelect.h"
#include "TApplication.h"
#include "uzCorvaneV4.h"

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TApplication::setApplicationName(QStringLiteral("Corvane"));
  // A port numbered 0 lets the operator pick one of the ports present.
  InstallComSelectForm();
  corvane::TfzCorvaneV4 fzCorvaneV4;
  // A copy beyond the limit has raised the running one and ends unseen.
  if (fzCorvaneV4.Refused()) return 0;
  fzCorvaneV4.show();
  return TApplication::exec();
}
