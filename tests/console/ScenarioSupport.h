#pragma once
// A console window whose lines sit on simulated modems (COM1 .. COMn of the
// modem simulator, linked where the console's ports look), and the readers
// the scenario tests assert with: the commands a modem was sent, the line's
// log, the times on the simulator's transcript.
#include <memory>
#include <string>
#include <vector>

#include "ConsoleTestSupport.h"
#include "ModemBank.h"
#include "uzCorvaneV4.h"

namespace corvane::test {

// Fast modems with SIM-presence reports and the SIM Toolkit switched on, as
// the preparation tool leaves them; card A in each, B and C on the shelf.
// Cards A and B have a one-item menu, so the card announces it ("+STIN: 0")
// after every reset, as real cards do.
extern const char* const kBaseScenario;

class TScenarioRig {
 public:
  // `scenarioExtra` is appended to kBaseScenario ([fault ...] sections,
  // [modem N] overrides). Lines 1..modems sit on COM1..COMmodems, with only
  // "Registrasi" ticked.
  explicit TScenarioRig(int modems = 1, const std::string& scenarioExtra = "");
  // The same on a whole scenario of the test's own.
  TScenarioRig(int modems, modemsim::Scenario scenario);
  ~TScenarioRig();

  TfzCorvaneV4& Window() { return *window_; }
  TConsoleLine& Line(int n) { return window_->Line(n); }
  modemsim::Modem& Modem(int n) { return bank_->At(n - 1); }

  // Expected IMSI of a card in modem n (the scenario's {nnn} is the modem number).
  static std::string Imsi(const std::string& card, int modem);

  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;

 private:
  std::unique_ptr<modemsim::ModemBank> bank_;
  std::unique_ptr<TfzCorvaneV4> window_;
};

// The command lines a modem was sent, in order (line ends taken off).
std::vector<std::string> HostCommands(const modemsim::Modem& m);
// The same, from the n-th command on (0-based).
std::vector<std::string> HostCommandsFrom(const modemsim::Modem& m, std::size_t first);
// At most `count` commands from the n-th on, once that many have reached
// the modem (or a few seconds have passed): what the line has sent is on
// the modem's transcript a moment later.
std::vector<std::string> FirstCommands(const modemsim::Modem& m, std::size_t from, std::size_t count);
// Milliseconds (transcript clock) at which each command starting with
// `command` reached the modem.
std::vector<long long> CommandTimes(const modemsim::Modem& m, const std::string& command);

// The line's log entries as logged (bytes, not the shown text).
std::vector<std::string> LogEntries(TConsoleLine& l);
// Index of the first entry from `from` on that contains `text`, or -1.
int LogIndex(TConsoleLine& l, const std::string& text, int from = 0);
bool Logged(TConsoleLine& l, const std::string& text);
int LogCount(TConsoleLine& l, const std::string& text);

// The line has read the IMSI and asked the card for its SIM Toolkit menu.
bool ImsiRead(TConsoleLine& l, const std::string& imsi);

}  // namespace corvane::test
