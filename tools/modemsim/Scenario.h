#pragma once
// What one scenario file says: the modem's identity and timing, the SIM
// cards with their SIM Toolkit menu trees, the network's answers to calls,
// SMS and USSD codes, and the faults to inject. Parsed once, then read-only;
// every modem of a bank takes its own ModemProfile (with its [modem N]
// overrides) and its own copies of the cards. The file format is documented
// in README.md.
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "FaultRule.h"
#include "IniDoc.h"

namespace modemsim {

// A delay given as "300" or as a range "1000-3000" (picked uniformly).
struct DelayRange {
  int lowMs = 0;
  int highMs = 0;
  int Pick(std::mt19937& random) const;
};

struct ModemProfile {
  std::string manufacturer = "WAVECOM MODEM";
  std::string model = "MULTIBAND  900E  1800";
  std::string revision = "641b09gg.Q2403A 1320676 061804 14:38";
  std::string imei = "3520990000000{nn}";
  bool echo = true;                  // stored default (ATE), restored by a reset
  int windMask = 0;                  // AT+WIND, kept across resets and power loss
  int stsfMode = 0;                  // stored AT+STSF activation (0 off, 1 on)
  std::string stsfProfile = "1F6BFFFF1F";
  int stsfTimeout = 3;               // units of stkTimeoutUnitMs
  int stsfAutoResponse = 1;
  int cmgf = 1;                      // stored message format restored by a reset
  std::string cscs = "GSM";
  std::vector<std::string> charsets = {"GSM", "PCCP437", "CUSTOM", "HEX"};
  int rssi = 21;
  int ber = 0;
  std::string smsc = "+6281100000";
  std::string operatorName = "CORVANE NET";
  DelayRange restartMs{1000, 3000};  // AT+CFUN=1 and power-up: silent reboot
  int simInitMs = 0;                 // "+WIND: 1" to "+WIND: 4" (0: same burst)
  int menuMs = 0;                    // SIM ready to "+STIN: 0" (0: same burst)
  int stepMs = 200;                  // accepted answer to the card's next "+STIN:"
  int stkTimeoutUnitMs = 10000;      // one unit of the STSF time-out
  int displayClearMs = 3000;         // a text with clear mode 0 clears itself
  // Where the reset's OK stands: before the reboot, or at its end after its
  // first "+WIND:" line, ahead of its lines, or behind them.
  enum class ResetOk { Before, AfterWind, First, Last } cfunOk = ResetOk::Before;
  bool dropInputWhileRestarting = false;  // default: commands wait for the reboot
  bool cpinOk = false;               // this family ends "+CPIN: READY" without OK
  bool menuTitle = true;             // AT+STGI=0 starts with the menu's title line
  bool selectHeaderLong = false;     // "+STGI: <default>,0,0,<title>" as field traces show
  bool ussdAnswerBeforeOk = false;   // firmware that holds the OK until the answer
  std::string card;                  // card in the holder at power-up
};

// One SIM Toolkit screen of a card, by the proactive command that shows it.
enum class StkKind { SetupMenu = 0, DisplayText = 1, GetInkey = 2, GetInput = 3,
                     SelectItem = 6, SendSms = 9, EndSession = 99 };

struct StkItem {
  int id = 0;
  std::string label;
  std::string next;  // node the item leads to
  int help = 0;
  int nextAction = -1;  // printed as the fifth field when >= 0
};

struct StkNode {
  std::string name;
  StkKind kind = StkKind::EndSession;
  std::string text;  // menu/select title, display text, input prompt, SMS alpha
  std::vector<StkItem> items;
  int defaultItem = 0;
  int priority = 0;
  int clear = 1;  // display: 0 clears itself after displayClearMs, 1 waits for AT+STGR=1
  int format = 0;
  int echo = 1;
  int minLength = 1;
  int maxLength = 255;
  int help = 0;
  std::vector<std::string> accept;  // accepted answers; empty = any of valid length
  std::string next;                 // after an accepted answer
  std::string wrong;                // after a refused answer
  std::string ifRegistered;         // shown instead when the card is registered
  bool registers = false;           // reaching it registers the card
  std::optional<int> delayMs;       // overrides stepMs before this node shows
  int fileLine = 0;
};

struct CardSpec {
  std::string id;
  std::string imsi = "5101099000000{nn}";
  std::string iccid = "896210990000000{nn}";
  std::string menu;  // root node (a SetupMenu); empty: a card without SIM Toolkit
  bool registered = false;
};

enum class CallResult { Ok, NoCarrier, Busy, NoAnswer, Error };

struct CallSpec {
  CallResult result = CallResult::Ok;
  int delayMs = 300;
  int dropMs = -1;  // >= 0: the network ends the call that long after OK
};

struct SmsSpec {
  enum class Result { Ok, Error, CmsError } result = Result::Ok;
  int code = 0;
  int delayMs = 500;
};

struct UssdSpec {
  int status = 4;  // +CUSD: <m>; -1 sends nothing at all
  std::string text;
  int dcs = 15;
  int delayMs = 1000;
};

class Scenario {
 public:
  // Throws ScenarioError (with the line) for unknown sections or keys, bad
  // values and references to nodes or cards that do not exist.
  static Scenario Parse(std::string_view text);
  static Scenario Load(const std::string& path);
  // The scenario the program runs without --scenario: the demo card.
  static Scenario Builtin();

  ModemProfile ProfileFor(int modemNumber) const;
  const CardSpec* Card(const std::string& id) const;
  const StkNode* Node(const std::string& name) const;
  const CallSpec& Call(const std::string& number) const;
  const SmsSpec& Sms(const std::string& number) const;
  const UssdSpec& Ussd(const std::string& code) const;
  std::vector<FaultRule> FaultsFor(int modemNumber) const;
  std::vector<std::string> CardIds() const;

 private:
  UssdSpec& UssdEntry(const std::string& code);

  ModemProfile base_;
  std::map<int, std::vector<IniEntry>> modemOverrides_;
  std::map<std::string, CardSpec> cards_;
  std::map<std::string, StkNode> nodes_;
  std::map<std::string, CallSpec> calls_;
  std::map<std::string, SmsSpec> sms_;
  std::map<std::string, UssdSpec> ussd_;
  std::vector<FaultRule> faults_;
  CallSpec defaultCall_;
  SmsSpec defaultSms_;
  UssdSpec defaultUssd_;
};

// Applies one [modem] key to a profile; false when the key is unknown.
// Throws ScenarioError for a bad value.
bool ApplyProfileKey(ModemProfile& profile, const IniEntry& entry);

}  // namespace modemsim
