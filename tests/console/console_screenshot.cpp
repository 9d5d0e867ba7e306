// Takes the picture of the console window for the docs:
//   xvfb-run -s "-screen 0 1280x800x24" console_screenshot docs/console.png
// The window starts as an operator's would, with lines 1 to 4 on COM1..COM4
// and the card type "Demo", from INI files in a temporary folder.
#include <QPixmap>
#include <QThread>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

#include "TApplication.h"
#include "uzCorvaneV4.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <picture.png>\n", argv[0]);
    return 2;
  }
  TApplication app(argc, argv);
  QTemporaryDir dir;
  {
    std::ofstream ini(dir.path().toStdString() + "/Corvane_v4.ini", std::ios::binary);
    ini << "[Corvane_V4]\r\nKARTU=Demo;IM3;XL;\r\nkartuaktif=0\r\nSMS2Aktif_1=0\r\nSMS2Aktif_2=0\r\n"
           "SMS2Aktif_3=0\r\nSMS2Aktif_4=0\r\n";
    for (int n = 1; n <= 4; ++n) ini << "comport_" << n << "=" << n << "\r\n";
  }
  corvane::TfzCorvaneV4 window(corvane::TFormOptions{dir.path().toStdString(), false});
  window.show();
  for (int i = 0; i < 20; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
