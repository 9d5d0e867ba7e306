#pragma once
// One simulated GSM modem of the Wavecom family with the SIM Toolkit
// extensions: it reads the host's bytes, echoes them, runs AT command lines
// and answers the way the real modems do (framing CR LF <text> CR LF, plain
// "ERROR" until AT+CMEE=1, "+WIND:" and "+STIN:" unsolicited lines, the
// reset's silent reboot, the "> " prompts of AT+CMGS and AT+STGR=3,1), plays
// the SIM card's toolkit menu and the network's answers from its scenario,
// and injects the scenario's and the control channel's faults.
//
// Lives on the bank's loop thread: every method is called there, and all
// timing runs on that loop's timers. It writes through the Wiring it is
// given and never touches the pseudo-terminal itself.
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "FaultRule.h"
#include "OutputStream.h"
#include "Scenario.h"
#include "Transcript.h"

namespace modemsim {

// A snapshot for tests and the control channel's "status".
struct ModemStatus {
  bool plugged = false;      // the line exists (not hung up)
  bool hostPresent = false;  // a host holds the slave open
  bool silent = false;
  bool booting = false;
  bool echo = false;
  int cmee = 0;
  int cmgf = 0;
  int windMask = 0;
  int stsfMode = 0;          // stored activation, shown by AT+STSF?
  std::string stsfProfile;
  int stsfTimeout = 0;
  int stsfAutoResponse = 0;
  bool stkActive = false;    // activation in effect since the last restart
  bool menuReady = false;    // the card's SETUP MENU has arrived
  int pendingStk = -1;       // proactive command awaiting an answer, -1 none
  std::string card;          // id of the card in the holder, "" none
  bool cardRegistered = false;
  bool inCall = false;
  int smsSent = 0;
  int restarts = 0;          // reboots (AT+CFUN=1, power-up) completed
  // The boot is over and the SIM (and its menu, if it has one) is ready:
  // nothing more comes from the modem unless something happens.
  bool settled = false;
};

class SimModem {
 public:
  struct Wiring {
    std::function<void(const std::string&)> write;     // bytes to the host, now
    std::function<void(int reconnectMs)> hangUp;       // unplug the line
  };

  SimModem(int number, const Scenario& scenario, EventLoop& loop, Transcript& transcript,
           Wiring wiring, unsigned seed);

  // Line events.
  void OnInput(const std::string& bytes);
  void PowerUp();    // boot after the line was (re)created
  void PowerDown();  // the line is gone: everything in flight is void

  // Control; false with `error` set when refused.
  bool InsertCard(const std::string& id, bool fresh, std::string& error);
  bool RemoveCard(std::string& error);
  void SendUnsolicited(const std::string& line);  // framed CR LF line CR LF
  void SendRaw(const std::string& bytes);
  void SetSilent(bool on);
  void AddFault(const FaultRule& rule);
  void ClearFaults();
  void SetSignal(int rssi, int ber);

  ModemStatus Status() const;
  void SetHostPresent(bool present) { hostPresent_ = present; }

 private:
  // One command of a command line, e.g. "+CSQ" with its form and arguments.
  struct AtCommand {
    enum class Form { Action, Set, Read, Test } form = Form::Action;
    std::string name;  // upper case: "+CSQ", "E", "&W", "S7", "D", "I"
    std::string args;  // after '=' for Set, the rest of the line for D
    int value = -1;    // the number of a basic command (E1 -> 1) or an S-register's new value, -1 none
  };
  // What a command leaves for the line's final result.
  struct Outcome {
    enum class Kind { Ok, Fail, Deferred } kind = Kind::Ok;
    std::string final;  // for Fail: the result line ("ERROR", "+CME ERROR: 3" ...)
  };
  using Handler = Outcome (SimModem::*)(const AtCommand&);

  // Timers die with what they belong to: a hang-up voids everything, a
  // restart voids the boot, a card change the SIM's timers, every toolkit
  // step the previous step's timers.
  enum class Scope { Line, Boot, Sim, Stk, Call };
  void Later(int ms, Scope scope, std::function<void()> task);

  // Input framing.
  bool TakeByte(char c, bool lfFollows);  // true: it took the LF after c too
  void TakeEntryByte(char c);
  void FlushEcho();
  void GuardedExecute(const std::string& line);
  void ExecuteLine(const std::string& line);
  bool ParseCommands(const std::string& body, std::vector<AtCommand>& out) const;
  Outcome Dispatch(const AtCommand& cmd);

  // Output.
  void Write(const std::string& bytes);  // the stream's sink: onto the line
  EventLoop::Clock::time_point Emit(const std::string& bytes, const FaultRule* rule,
                                    EventLoop::Clock::time_point start, OutputStream::Done done = {});
  void Urc(const std::string& framedBytes);
  void FinishReply(const std::string& bytes, const FaultRule* rule, int extraDelayMs);
  std::string Final(const std::string& result) const;
  Outcome Fail(const std::string& result) const { return {Outcome::Kind::Fail, result}; }
  Outcome CmeError(int code) const;
  Outcome CmsError(int code) const;
  void Info(const std::string& line) { info_.push_back(line); }

  // Boot, SIM, card.
  void ResetVolatile();
  void Boot(bool okAfter);
  void BootDone(bool okAfter);
  void SimReady(bool afterBoot);
  std::string HolderLines(bool cardIn) const;
  std::string SimReadyLines(bool afterBoot);
  std::string MenuNowOrLater();
  struct CardState {
    const CardSpec* spec = nullptr;
    std::string imsi;
    std::string iccid;
    bool registered = false;
  };
  CardState* Card();
  bool SimUsable() const;

  // SIM Toolkit.
  void ResetToolkit();
  const StkNode* Root();
  const StkNode* Resolve(const StkNode* node);
  void StkShowLater(const std::string& nodeName, const StkNode* from);
  void StkShow(const StkNode* node);
  void StkAdvance(const std::string& nextName, const StkNode* from);
  void StkEndSession(int delayMs);
  void StkAnswerText(const StkNode* node, const std::string& text);
  void StkFormatScreen(const StkNode& node);
  std::string StkItemLine(const StkItem& item, size_t count) const;

  // Charset of text parameters (AT+CSCS).
  std::string EncodeText(const std::string& text) const;
  std::string DecodeText(const std::string& text) const;
  std::string EncodeUssd(const std::string& text, int dcs) const;

  // Command handlers.
  Outcome CmdEcho(const AtCommand& c);
  Outcome CmdVerbose(const AtCommand& c);
  Outcome CmdAccept(const AtCommand& c);
  Outcome CmdReset(const AtCommand& c);
  Outcome CmdFactory(const AtCommand& c);
  Outcome CmdStore(const AtCommand& c);
  Outcome CmdInfo(const AtCommand& c);
  Outcome CmdIdentity(const AtCommand& c);
  Outcome CmdImsi(const AtCommand& c);
  Outcome CmdIccid(const AtCommand& c);
  Outcome CmdPin(const AtCommand& c);
  Outcome CmdCmee(const AtCommand& c);
  Outcome CmdCmgf(const AtCommand& c);
  Outcome CmdSmsSettings(const AtCommand& c);
  Outcome CmdCscs(const AtCommand& c);
  Outcome CmdCsq(const AtCommand& c);
  Outcome CmdCfun(const AtCommand& c);
  Outcome CmdWind(const AtCommand& c);
  Outcome CmdStsf(const AtCommand& c);
  Outcome CmdStgi(const AtCommand& c);
  Outcome CmdStgr(const AtCommand& c);
  Outcome CmdStin(const AtCommand& c);
  Outcome CmdDial(const AtCommand& c);
  Outcome CmdHangUp(const AtCommand& c);
  Outcome CmdCmgs(const AtCommand& c);
  Outcome CmdCusd(const AtCommand& c);
  Outcome CmdCreg(const AtCommand& c);
  Outcome CmdCops(const AtCommand& c);
  Outcome CmdCsca(const AtCommand& c);
  Outcome CmdCpms(const AtCommand& c);
  Outcome CmdSimple(const AtCommand& c);
  struct Command {
    Handler run;
    int maxValue = -1;  // a basic command's highest number; -1: it takes none
  };
  static const std::map<std::string, Command>& Commands();

  const int number_;
  const Scenario& scenario_;
  EventLoop& loop_;
  Transcript& transcript_;
  Wiring wiring_;
  std::mt19937 random_;
  OutputStream out_;
  ModemProfile profile_;

  // Stored in the modem's non-volatile memory: kept across resets and unplugging.
  bool storedEcho_ = true;
  int windMask_ = 0;
  int stsfMode_ = 0;
  std::string stsfProfile_;
  int stsfTimeout_ = 3;
  int stsfAutoResponse_ = 1;
  int storedCmgf_ = 1;
  int rssi_ = 0;
  int ber_ = 0;
  std::string smsc_;
  int messageRef_ = 0;

  // Volatile: set back by every restart.
  bool echo_ = true;
  bool verbose_ = true;
  int cmee_ = 0;
  int cmgf_ = 1;
  int cregMode_ = 0;
  int ussdMode_ = 0;
  std::string cscs_;
  bool stkActive_ = false;
  bool booting_ = false;
  bool simReady_ = false;
  bool inCall_ = false;

  // Line.
  bool plugged_ = false;
  bool hostPresent_ = false;
  bool silent_ = false;
  std::string line_;
  bool lineOverflow_ = false;  // the line has outgrown the command buffer
  std::string lastLine_;
  std::string echoBuf_;
  std::string heldInput_;  // what the host sent during a reboot
  EventLoop::Clock::time_point replyDue_{};  // when the last reply's first byte is due
  std::vector<std::string> info_;
  std::vector<std::function<void()>> followUps_;
  int replyDelayMs_ = 0;
  std::optional<FaultRule> urcRule_;
  const FaultRule* lineRule_ = nullptr;  // the rule biting the line under way
  std::vector<FaultRule> faults_;

  // Text typed after a "> " prompt (SMS body or toolkit input).
  struct Entry {
    enum class Kind { None, SmsText, SmsPdu, StkInput } kind = Kind::None;
    std::string text;
    std::string number;
    int pduLength = 0;
    std::optional<FaultRule> rule;
  } entry_;

  // Cards this modem has seen, by id, so a card put back remembers that it
  // was registered; and the one in the holder.
  std::map<std::string, CardState> cards_;
  std::string cardId_;

  // Toolkit session.
  bool menuReady_ = false;
  const StkNode* pending_ = nullptr;
  bool sessionOpen_ = false;
  bool clearTimerArmed_ = false;
  int lastStin_ = -1;
  std::vector<const StkNode*> trail_;

  int smsSent_ = 0;
  int restarts_ = 0;
  struct Generations {
    unsigned line = 0, boot = 0, sim = 0, stk = 0, call = 0;
  } gen_;
};

}  // namespace modemsim
