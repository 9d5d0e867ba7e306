#pragma once
// A fault to inject on the commands that match it: a wrong final result,
// silence, a late answer, a reply cut into chunks, an unsolicited line put
// before, inside or after the reply, noise bytes, a hang-up. Rules come from
// [fault ...] sections or from the control channel; the modem applies the
// first live rule whose command prefix matches the command line as sent
// (case-insensitive). Plain data plus pure shaping functions.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace modemsim {

struct FaultRule {
  enum class Reply { Normal, Error, CmeError, CmsError, Silent, Text };
  enum class Cut { Whole, Lines, Bytes, Offsets };
  enum class Where { Before, Inside, After };
  enum class Hangup { None, Before, After };
  enum class Applies { Reply, Urc, Both };

  std::string name;
  std::string command;  // upper-case prefix of the command line, e.g. "AT+CSQ"
  int modem = 0;        // 0: every modem of the bank
  int skip = 0;         // matching commands let through before the rule bites
  int times = 0;        // commands it bites; 0 = every one
  Reply reply = Reply::Normal;
  int code = 0;         // for CmeError / CmsError
  std::string text;     // for Text: the raw bytes sent instead of the reply
  int delayMs = 0;
  Cut split = Cut::Whole;
  std::vector<size_t> offsets;
  int pauseMs = 0;
  std::string unsolicited;  // a line, framed CR LF ... CR LF when sent
  Where unsolicitedAt = Where::After;
  std::string noise;        // raw bytes sent ahead of the reply
  Hangup hangup = Hangup::None;
  int reconnectMs = -1;     // >= 0: plugged back in that long after a hang-up
  Applies applies = Applies::Reply;
  // The network's side of the command the rule bites on, where it differs
  // from the scenario's [call] / [ussd] section for this one card or moment.
  int dropMs = -1;          // ATD: the network ends the call this long after its OK
  int ussdStatus = -1;      // AT+CUSD: <m> of the network's answer, -1 as the scenario says
  // AT+CMGS: the network refuses the message once its text is in: "ERROR"
  // (smsCms 0) or "+CMS ERROR: <smsCms>"; -1 as the scenario says.
  int smsCms = -1;
  std::string ussdText;     // AT+CUSD: its text (with ussdStatus; empty: the scenario's)

  // Updated by the modem that owns the copy.
  int seen = 0;

  // Sets one key ("reply", "split", "delay_ms" ...); throws ScenarioError
  // for an unknown key or a bad value. Keys are listed in README.md.
  void Set(const std::string& key, const std::string& value);

  // Counts a matching command and says whether the rule bites on it.
  bool Matches(const std::string& upperCommandLine) const;
  bool Consume();
  bool ShapesReply() const { return applies != Applies::Urc; }
  bool ShapesUrc() const { return applies != Applies::Reply; }
};

// One piece of output and how long after the previous piece it goes out.
struct TimedChunk {
  std::chrono::milliseconds after{0};
  std::string bytes;
};

// Builds the bytes of a reply under a rule (noise, unsolicited line) and cuts
// them into the chunks the rule asks for. The first chunk comes delayMs
// after the start, the others pauseMs apart. Empty input gives no chunks.
std::vector<TimedChunk> ShapeOutput(const std::string& reply, const FaultRule* rule);

// The cut positions alone (for tests and for ShapeOutput): sorted, unique,
// inside (0, size).
std::vector<size_t> CutPositions(const std::string& bytes, const FaultRule& rule);

}  // namespace modemsim
