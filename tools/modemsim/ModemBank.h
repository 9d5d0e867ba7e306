#pragma once
// A bank of simulated modems, each on its own pseudo-terminal, optionally
// linked as $dir/COM<k> ... so programs open them by COM number. The public
// face of the simulator for tests (in the same process) and for the
// corvane-modemsim program.
//
//   ModemBank bank(BankOptions{.count = 2, .firstCom = 5, .scenario = s});
//   Modem& m = bank.At(0);                 // COM5
//   open(m.DevicePath()) ... talk AT ...
//   m.Transcript().WaitModem("+STIN: 0", 2s);
//   m.RemoveCard(); m.InsertCard("B");
//
// Threads: the bank runs one loop thread of its own; every Modem method may
// be called from any other thread and returns once the loop has applied it
// (output it causes may follow later, on the scenario's timing). Methods
// that are refused throw std::invalid_argument with the reason. Transcripts
// are thread-safe. The destructor stops the thread, closes every line and
// removes the links it made.
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "FaultRule.h"
#include "Scenario.h"
#include "SimModem.h"
#include "Transcript.h"

namespace modemsim {

struct BankOptions {
  int count = 1;
  int firstCom = 1;
  // Where the COM<k> links go; empty: $CORVANE_COM_DIR; no links when both
  // are empty or when makeLinks is false (tests that use DevicePath()).
  std::string comDir;
  bool makeLinks = true;
  Scenario scenario;
  // Appends every modem's traffic, one line per entry, when not empty.
  std::string transcriptFile;
  // Keep the transcripts in memory (tests read them); a long-running
  // program turns this off and uses the file.
  bool keepTranscripts = true;
  unsigned seed = 1;
};

class ModemBank;

class Modem {
 public:
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;
  ~Modem();

  int Number() const { return number_; }        // 1-based within the bank
  int ComNumber() const { return comNumber_; }
  std::string ComPath() const;     // the link, "" without links or while unplugged
  std::string DevicePath() const;  // the slave's /dev/pts path (new after Reconnect)

  void InsertCard(const std::string& cardId, bool fresh = false);
  void RemoveCard();
  void SendUnsolicited(const std::string& line);  // CR LF line CR LF
  void SendRaw(const std::string& bytes);         // as they are (noise)
  void SetSilent(bool on);
  void HangUp();     // close the master: the modem is unplugged
  void Reconnect();  // plug back in: a new line, then the power-up boot
  void AddFault(const FaultRule& rule);
  void ClearFaults();
  void SetSignal(int rssi, int ber);

  ModemStatus Status() const;
  // Polls Status() every few milliseconds until `done` holds; false on time-out.
  bool WaitFor(const std::function<bool(const ModemStatus&)>& done,
               std::chrono::milliseconds timeout) const;

  modemsim::Transcript& Transcript() { return transcript_; }
  const modemsim::Transcript& Transcript() const { return transcript_; }

 private:
  friend class ModemBank;
  Modem(ModemBank& bank, int number, int comNumber);

  // Loop thread only.
  bool Plug(std::string& error);
  void Unplug(int reconnectMs);
  void UnplugWhenRead(int reconnectMs);
  void CloseWhenRead(int reconnectMs);
  void CheckHost();
  void OnLineEvent(short revents);
  void ReadInput();
  void WriteOut(const std::string& bytes);
  void FlushOut();
  void UpdateWatch();
  void HostLeft();

  ModemBank& bank_;
  const int number_;
  const int comNumber_;
  modemsim::Transcript transcript_;
  std::unique_ptr<class PtyLine> line_;
  std::unique_ptr<SimModem> sim_;
  std::string linkPath_;
  std::string devicePath_;
  mutable std::mutex pathMutex_;
  bool attached_ = false;
  std::string outQueue_;
  int unplugTries_ = 0;
  int unplugQuiet_ = 0;
};

class ModemBank {
 public:
  // Throws std::runtime_error when a line or a link cannot be made.
  explicit ModemBank(BankOptions options);
  ~ModemBank();
  ModemBank(const ModemBank&) = delete;
  ModemBank& operator=(const ModemBank&) = delete;

  int Count() const { return static_cast<int>(modems_.size()); }
  Modem& At(int index);          // 0-based
  Modem* ByCom(int comNumber);   // nullptr when not in this bank
  const Scenario& GetScenario() const { return options_.scenario; }
  const std::string& ComDir() const { return comDir_; }

 private:
  friend class Modem;
  void OnInotify();

  BankOptions options_;
  std::string comDir_;
  EventLoop loop_;
  int inotifyFd_ = -1;
  std::vector<std::unique_ptr<Modem>> modems_;
  std::mutex fileMutex_;
  std::FILE* transcriptFile_ = nullptr;
};

}  // namespace modemsim
