#pragma once
// A console window with one line switched on in front of a pseudo-terminal
// that the test plays the modem on, for driving the SIM Toolkit dialogue
// chunk by chunk. The line's start timer is stopped so that the task chain
// stays out of the way; chunks go in where the port's trigger hands them
// over (DispatchChunk), and what the line sent is read back from the
// terminal.
#include <QListWidget>

#include <memory>
#include <string>
#include <vector>

#include "ConsoleTestSupport.h"
#include "SerPort.h"
#include "uConsoleLine.h"
#include "uzCorvaneV4.h"

namespace corvane::test {

// The per-card settings that walk the modem simulator's demo menu.
inline const char* const kDemoCardIni =
    "[KONFIRMASI]\r\nkatakunci1=Mohon tunggu\r\nkatakunci2=berhasil\r\nnomorkonfirmasireset=2\r\n"
    "[MENU]\r\nkatakuncimenu1=Kartu Perdana\r\njawabanmenu1=1\r\n"
    "katakuncimenu2=Registrasi Kartu\r\njawabanmenu2=1\r\n"
    "[DATA]\r\nkatakuncidata1=NIK\r\nJawabandata1=3201234567890001\r\n"
    "katakuncidata2=KK\r\nJawabandata2=3201234567890002\r\n";

// Main INI text: every line on COM<n> = n, the given boxes of every line,
// the card type "Demo" and the answer delay.
std::string MainIni(bool registrasi, const std::string& maxDelay);

class TStkLine {
 public:
  // Line `number` on COM<number>, switched on, start timer stopped.
  explicit TStkLine(int number, const std::string& maxDelay = "50");
  ~TStkLine();

  TConsoleLine& Line() { return *line_; }
  TLineData& Data() { return line_->Data; }
  TfzCorvaneV4& Window() { return *window_; }
  TCardSettings& Card() { return window_->Card; }

  void Feed(const std::string& chunk) { line_->DispatchChunk(chunk); }
  // Everything the line sent until `needle` stands in it (or ms pass).
  std::string SentUntil(const std::string& needle, int ms = 2000);
  // What the line sent within ms.
  std::string SentWithin(int ms);
  // Forgets what was sent so far.
  void Drain();

  std::vector<std::string> Log() const;  // the log entries' bytes, oldest first
  bool Logged(const std::string& part) const;
  std::vector<std::string> Display() const;

  // Requests code through the line, as the IMSI reply or a notification does,
  // and drops the command from what was sent.
  void Request(const std::string& code);

  TDialogRecorder dialogs;
  TCentralRecorder central;

 private:
  TConsoleFolder folder_;
  TFakeModemEnd* modem_ = nullptr;
  std::unique_ptr<TfzCorvaneV4> window_;
  TConsoleLine* line_ = nullptr;
};

}  // namespace corvane::test
