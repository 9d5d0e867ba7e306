#include "ControlChannel.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "IniDoc.h"
#include "SimText.h"

namespace modemsim {

namespace {

const char* const kHelp =
    "OK commands: list | status <m> | insert <m> <card> [fresh] | remove <m> | "
    "unsolicited <m> <line> | raw <m> <bytes> | silent <m> on|off | hangup <m> | "
    "reconnect <m> | fault <m> key=value... | clear-faults <m> | signal <m> <rssi> <ber> | "
    "quit   (<m>: modem number 1..N or COM<k>)";

// The text after the first `skip` words, as typed (for unsolicited/raw).
std::string RestAfterWords(const std::string& line, int skip) {
  size_t i = 0;
  for (int w = 0; w < skip; ++w) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  }
  if (i < line.size()) ++i;  // one separating blank
  return line.substr(std::min(i, line.size()));
}

}  // namespace

std::vector<std::string> ControlChannel::Tokenize(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, any = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any || !cur.empty()) out.push_back(Unescape(cur));
      cur.clear();
      any = false;
    } else if (c == '\\' && i + 1 < line.size()) {
      cur += c;
      cur += line[++i];
    } else {
      cur += c;
    }
  }
  if (any || !cur.empty()) out.push_back(Unescape(cur));
  return out;
}

Modem& ControlChannel::Target(const std::string& token) {
  const std::string t = Upper(token);
  if (StartsWith(t, "COM")) {
    const auto com = ParseInt(t.substr(3));
    Modem* m = com ? bank_.ByCom(static_cast<int>(*com)) : nullptr;
    if (!m) throw std::invalid_argument("no modem on " + token);
    return *m;
  }
  const auto n = ParseIntIn(t, 1, bank_.Count());
  if (!n)
    throw std::invalid_argument("no modem '" + token + "' (1.." + std::to_string(bank_.Count()) + ")");
  return bank_.At(static_cast<int>(*n) - 1);
}

std::string ControlChannel::StatusLine(Modem& m) {
  const ModemStatus s = m.Status();
  auto b = [](bool v) { return v ? "1" : "0"; };
  return "COM" + std::to_string(m.ComNumber()) + " device=" + m.DevicePath() +
         " plugged=" + b(s.plugged) + " host=" + b(s.hostPresent) + " silent=" + b(s.silent) +
         " booting=" + b(s.booting) + " card=" + (s.card.empty() ? "-" : s.card) +
         " registered=" + b(s.cardRegistered) + " echo=" + b(s.echo) +
         " cmgf=" + std::to_string(s.cmgf) + " wind=" + std::to_string(s.windMask) + " stsf=" + std::to_string(s.stsfMode) +
         " stk=" + b(s.stkActive) + " menu=" + b(s.menuReady) +
         " pending=" + std::to_string(s.pendingStk) + " call=" + b(s.inCall) +
         " sms=" + std::to_string(s.smsSent) + " restarts=" + std::to_string(s.restarts);
}

std::string ControlChannel::Run(const std::string& rawLine) {
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  const std::vector<std::string> w = Tokenize(line);
  if (w.empty() || StartsWith(w[0], "#")) return "";
  const std::string cmd = Upper(w[0]);
  auto need = [&](size_t n) {
    if (w.size() < n) throw std::invalid_argument("'" + w[0] + "' needs more arguments (try help)");
  };
  try {
    if (cmd == "HELP") return kHelp;
    if (cmd == "QUIT" || cmd == "EXIT") {
      quit_ = true;
      return "OK bye";
    }
    if (cmd == "LIST") {
      std::string out = "OK";
      for (int i = 0; i < bank_.Count(); ++i) {
        Modem& m = bank_.At(i);
        out += " COM" + std::to_string(m.ComNumber()) + "=" + m.DevicePath();
      }
      return out;
    }
    static const std::vector<std::string> perModem = {
        "STATUS", "INSERT", "REMOVE", "UNSOLICITED", "URC", "RAW", "NOISE", "SILENT",
        "HANGUP", "RECONNECT", "FAULT", "CLEAR-FAULTS", "SIGNAL"};
    if (std::find(perModem.begin(), perModem.end(), cmd) == perModem.end())
      return "ERROR unknown command '" + w[0] + "' (try help)";
    need(2);
    Modem& m = Target(w[1]);
    if (cmd == "STATUS") return "OK " + StatusLine(m);
    if (cmd == "INSERT") {
      need(3);
      const bool fresh = w.size() > 3 && Upper(w[3]) == "FRESH";
      m.InsertCard(w[2], fresh);
    } else if (cmd == "REMOVE") {
      m.RemoveCard();
    } else if (cmd == "UNSOLICITED" || cmd == "URC") {
      need(3);
      m.SendUnsolicited(Unescape(RestAfterWords(line, 2)));
    } else if (cmd == "RAW" || cmd == "NOISE") {
      need(3);
      m.SendRaw(Unescape(RestAfterWords(line, 2)));
    } else if (cmd == "SILENT") {
      need(3);
      const std::string v = Upper(w[2]);
      if (v != "ON" && v != "OFF") throw std::invalid_argument("silent takes on or off");
      m.SetSilent(v == "ON");
    } else if (cmd == "HANGUP") {
      m.HangUp();
    } else if (cmd == "RECONNECT") {
      m.Reconnect();
    } else if (cmd == "FAULT") {
      need(3);
      FaultRule rule;
      rule.name = "control";
      for (size_t i = 2; i < w.size(); ++i) {
        const size_t eq = w[i].find('=');
        if (eq == std::string::npos) throw std::invalid_argument("expected key=value, got '" + w[i] + "'");
        std::string key = w[i].substr(0, eq);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        rule.Set(key, w[i].substr(eq + 1));
      }
      if (rule.command.empty()) throw std::invalid_argument("a fault needs command=<prefix>");
      m.AddFault(rule);
    } else if (cmd == "CLEAR-FAULTS") {
      m.ClearFaults();
    } else if (cmd == "SIGNAL") {
      need(4);
      const auto r = ParseInt(w[2]), b = ParseInt(w[3]);
      if (!r || !b || *r < 0 || *r > 99 || *b < 0 || *b > 99)
        throw std::invalid_argument("signal takes <rssi> <ber>, 0..99 each");
      m.SetSignal(static_cast<int>(*r), static_cast<int>(*b));
    } else {
      return "ERROR unknown command '" + w[0] + "' (try help)";
    }
    return "OK";
  } catch (const std::exception& e) {
    return std::string("ERROR ") + e.what();
  }
}

}  // namespace modemsim
