#pragma once
// Test equipment for the console tests: a private program folder, modems
// stood in for by pseudo-terminals linked as COM<n>, recorders for the
// operator's dialogs and the central exception handler, and waiting on the
// event loop.
#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uToolkit.h"

namespace corvane::test {

// Spins the event loop until pred holds or ms pass; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int ms = 3000);
// Spins the event loop for ms.
void Pump(int ms);

// A pseudo-terminal whose slave end is linked as $CORVANE_COM_DIR/COM<n>.
class TFakeModemEnd {
 public:
  TFakeModemEnd(const std::string& comDir, int comNumber);
  ~TFakeModemEnd();
  void Write(const std::string& bytes);
  std::string ReadAvailable();  // what the port sent, without waiting
  int Com() const { return com_; }

 private:
  int master_ = -1;
  int com_;
  std::string link_;
};

// Records every dialog and answers them from a script (default: Yes/OK).
class TDialogRecorder {
 public:
  TDialogRecorder();
  ~TDialogRecorder();
  std::vector<TDialogRequest> asked;
  std::deque<TModalResult> answers;
  bool AnyContains(const QString& text) const;
};

// Records what reaches the application's central exception handler.
class TCentralRecorder {
 public:
  TCentralRecorder();
  ~TCentralRecorder();
  std::vector<QString> messages;
};

// A folder for the INI files and one for the COM links, both temporary;
// CORVANE_COM_DIR points at the second.
class TConsoleFolder {
 public:
  TConsoleFolder();
  std::string Dir() const;     // program folder, trailing '/'
  std::string ComDir() const;  // COM link folder
  void WriteFile(const std::string& name, const std::string& bytes) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;
  TFakeModemEnd& AddModem(int comNumber);

 private:
  QTemporaryDir program_;
  QTemporaryDir com_;
  std::map<int, std::unique_ptr<TFakeModemEnd>> modems_;
};

std::string ReadWholeFile(const std::string& path);

}  // namespace corvane::test
