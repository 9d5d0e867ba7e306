#include "FaultRule.h"

#include <algorithm>

#include "IniDoc.h"
#include "SimText.h"

namespace modemsim {

namespace {

int ToInt(const std::string& key, const std::string& value, int low) {
  const auto v = ParseIntIn(value, low, 1000000000);
  if (!v)
    throw ScenarioError("fault key '" + key + "': '" + value + "' is not a number >= " +
                        std::to_string(low));
  return static_cast<int>(*v);
}

[[noreturn]] void Bad(const std::string& key, const std::string& value) {
  throw ScenarioError("fault key '" + key + "': bad value '" + value + "'");
}

std::string Framed(const std::string& line) { return "\r\n" + line + "\r\n"; }

// Where an unsolicited line goes "inside" a reply: a modem puts one between
// whole lines of its output, never inside a line, so it follows the reply's
// first line (between an information line and the final result); a reply
// of one line has no border within it, and the line goes ahead of it, while
// the host still waits for its final result. A line ends in LF, or in a CR
// of its own (the numeric results of ATV0).
size_t InsidePosition(const std::string& reply) {
  const size_t start = StartsWith(reply, "\r\n") ? 2 : 0;
  for (size_t i = start; i < reply.size(); ++i) {
    const bool lf = reply[i] == '\n';
    const bool loneCr = reply[i] == '\r' && (i + 1 == reply.size() || reply[i + 1] != '\n');
    if (lf || loneCr) return i + 1 < reply.size() ? i + 1 : 0;
  }
  return 0;
}

}  // namespace

void FaultRule::Set(const std::string& key, const std::string& value) {
  const std::string v = Trim(value);
  const std::string lv = Upper(v);
  if (key == "command") {
    command = Upper(v);
  } else if (key == "modem") {
    modem = ToInt(key, v, 0);
  } else if (key == "skip") {
    skip = ToInt(key, v, 0);
  } else if (key == "times") {
    times = ToInt(key, v, 0);
  } else if (key == "reply") {
    const std::vector<std::string> words = Split(lv, ' ');
    const std::string& w = words[0];
    if (w == "NORMAL") reply = Reply::Normal;
    else if (w == "ERROR") reply = Reply::Error;
    else if (w == "SILENT") reply = Reply::Silent;
    else if (w == "TEXT") reply = Reply::Text;
    else if ((w == "CME" || w == "CMS") && words.size() == 2) {
      reply = w == "CME" ? Reply::CmeError : Reply::CmsError;
      code = ToInt(key, words[1], 0);
    } else {
      Bad(key, value);
    }
  } else if (key == "text") {
    text = value;
  } else if (key == "delay_ms") {
    delayMs = ToInt(key, v, 0);
  } else if (key == "split") {
    if (lv == "WHOLE") split = Cut::Whole;
    else if (lv == "LINES") split = Cut::Lines;
    else if (lv == "BYTES") split = Cut::Bytes;
    else if (StartsWith(lv, "AT ")) {
      split = Cut::Offsets;
      offsets.clear();
      for (const std::string& f : Split(v.substr(3), ',')) {
        offsets.push_back(static_cast<size_t>(ToInt(key, f, 0)));
      }
    } else {
      Bad(key, value);
    }
  } else if (key == "pause_ms") {
    pauseMs = ToInt(key, v, 0);
  } else if (key == "unsolicited") {
    unsolicited = value;
  } else if (key == "unsolicited_at") {
    if (lv == "BEFORE") unsolicitedAt = Where::Before;
    else if (lv == "INSIDE") unsolicitedAt = Where::Inside;
    else if (lv == "AFTER") unsolicitedAt = Where::After;
    else Bad(key, value);
  } else if (key == "noise") {
    noise = value;
  } else if (key == "hangup") {
    if (lv == "BEFORE") hangup = Hangup::Before;
    else if (lv == "AFTER") hangup = Hangup::After;
    else if (lv == "NONE") hangup = Hangup::None;
    else Bad(key, value);
  } else if (key == "reconnect_ms") {
    reconnectMs = ToInt(key, v, 0);
  } else if (key == "drop_ms") {
    dropMs = ToInt(key, v, 0);
  } else if (key == "ussd_status") {
    ussdStatus = ToInt(key, v, 0);
    if (ussdStatus > 5) Bad(key, value);
  } else if (key == "sms_result") {
    const std::vector<std::string> words = Split(lv, ' ');
    if (words.size() == 1 && words[0] == "ERROR") smsCms = 0;
    else if (words.size() == 2 && words[0] == "CMS") smsCms = ToInt(key, words[1], 1);
    else Bad(key, value);
  } else if (key == "ussd_text") {
    ussdText = value;
  } else if (key == "applies") {
    if (lv == "REPLY") applies = Applies::Reply;
    else if (lv == "URC") applies = Applies::Urc;
    else if (lv == "BOTH") applies = Applies::Both;
    else Bad(key, value);
  } else {
    throw ScenarioError("unknown fault key '" + key + "'");
  }
}

bool FaultRule::Matches(const std::string& upperCommandLine) const {
  return !command.empty() && StartsWith(upperCommandLine, command);
}

bool FaultRule::Consume() {
  ++seen;
  if (seen <= skip) return false;
  return times == 0 || seen - skip <= times;
}

std::vector<size_t> CutPositions(const std::string& bytes, const FaultRule& rule) {
  std::vector<size_t> cuts;
  switch (rule.split) {
    case FaultRule::Cut::Whole:
      break;
    case FaultRule::Cut::Lines:
      for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') cuts.push_back(i + 1);
      break;
    case FaultRule::Cut::Bytes:
      for (size_t i = 1; i < bytes.size(); ++i) cuts.push_back(i);
      break;
    case FaultRule::Cut::Offsets:
      cuts = rule.offsets;
      break;
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  cuts.erase(std::remove_if(cuts.begin(), cuts.end(),
                            [&](size_t c) { return c == 0 || c >= bytes.size(); }),
             cuts.end());
  return cuts;
}

std::vector<TimedChunk> ShapeOutput(const std::string& reply, const FaultRule* rule) {
  std::vector<TimedChunk> chunks;
  if (!rule) {
    if (!reply.empty()) chunks.push_back({std::chrono::milliseconds(0), reply});
    return chunks;
  }
  std::string bytes = reply;
  if (!rule->unsolicited.empty()) {
    const std::string urc = Framed(rule->unsolicited);
    switch (rule->unsolicitedAt) {
      case FaultRule::Where::Before: bytes = urc + bytes; break;
      case FaultRule::Where::Inside: bytes.insert(InsidePosition(bytes), urc); break;
      case FaultRule::Where::After: bytes += urc; break;
    }
  }
  bytes = rule->noise + bytes;
  if (bytes.empty()) return chunks;
  size_t from = 0;
  std::chrono::milliseconds after(rule->delayMs);
  for (const size_t cut : CutPositions(bytes, *rule)) {
    chunks.push_back({after, bytes.substr(from, cut - from)});
    from = cut;
    after = std::chrono::milliseconds(rule->pauseMs);
  }
  chunks.push_back({after, bytes.substr(from)});
  return chunks;
}

}  // namespace modemsim
