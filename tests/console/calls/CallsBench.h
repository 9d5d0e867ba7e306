#pragma once
// A console window with one line in front of one simulated modem: the
// equipment of the call, SMS and balance tests. The modem sits on COM<line>
// and plays the given scenario with short delays; the window's per-card
// values are set directly, the line's boxes all start unticked and its start
// timer stopped, so a test runs exactly the steps it starts.
#include <QString>

#include <memory>
#include <string>

#include "ConsoleTestSupport.h"
#include "ModemBank.h"
#include "uConsoleLine.h"
#include "uzCorvaneV4.h"

namespace corvane::test {

// Timing keys every bench scenario starts with; a test's own keys follow in
// the same [modem] section and win.
inline const char* const kQuickModem =
    "[modem]\n"
    "restart_ms = 30\n"
    "sim_init_ms = 10\n"
    "menu_ms = 20\n"
    "step_ms = 20\n"
    "wind = 0\n"
    "card = A\n";

// Answers every test may rely on unless its scenario says otherwise.
inline const char* const kQuickNetwork =
    "[card A]\n"
    "[call *]\ndelay_ms = 20\n"
    "[sms *]\ndelay_ms = 20\n"
    "[ussd *888#]\nstatus = 0\ntext = Sisa pulsa Rp 5.000, aktif s/d 31-12-2025.\\nInfo: *888*1#\n"
    "dcs = 15\ndelay_ms = 40\n";

class TCallsBench {
 public:
  // `modemKeys` go into the [modem] section, `sections` after the network.
  explicit TCallsBench(const std::string& modemKeys = "", const std::string& sections = "", int lineNumber = 2);
  ~TCallsBench();

  // Ticks "On" and waits until the modem holds the line open; the start
  // timer is stopped again unless the test wants the chain to run.
  void SwitchOn(bool runChain = false);
  void Tick(bool call, bool call2, bool sms1, bool sms2, bool cekPulsa, bool registrasi = false);
  static void Tick(TConsoleLine& l, bool call, bool call2, bool sms1, bool sms2, bool cekPulsa,
                   bool registrasi = false);

  std::string Host() const;  // everything the console sent
  std::size_t Count(const std::string& needle) const;  // occurrences in Host()
  bool WaitHost(const std::string& needle, std::size_t times = 1, int ms = 3000) const;
  bool Logged(const std::string& needle) const;  // some log entry holds it
  std::string Log() const;                       // every log entry, one per line

  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  std::unique_ptr<modemsim::ModemBank> bank;
  std::unique_ptr<TfzCorvaneV4> window;
  TConsoleLine* line = nullptr;
  modemsim::Modem* modem = nullptr;
};

}  // namespace corvane::test
