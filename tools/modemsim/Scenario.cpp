#include "Scenario.h"

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "SimText.h"

namespace modemsim {

namespace {

std::string At(const IniEntry& e) { return "line " + std::to_string(e.line) + ": "; }

[[noreturn]] void BadValue(const IniEntry& e, const std::string& what) {
  throw ScenarioError(At(e) + "key '" + e.key + "': " + what + " (got '" + e.value + "')");
}

int IntValue(const IniEntry& e, int low, int high) {
  const auto v = ParseIntIn(e.value, low, high);
  if (!v)
    BadValue(e, "expected a number from " + std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int>(*v);
}

bool BoolValue(const IniEntry& e) { return IntValue(e, 0, 1) == 1; }

DelayRange RangeValue(const IniEntry& e) {
  const std::vector<std::string> parts = Split(e.value, '-');
  const auto lo = ParseInt(parts[0]);
  const auto hi = parts.size() == 2 ? ParseInt(parts[1]) : lo;
  if (parts.size() > 2 || !lo || !hi || *lo < 0 || *hi < *lo || *hi > 600000)
    BadValue(e, "expected milliseconds, or a range such as 1000-3000");
  return DelayRange{static_cast<int>(*lo), static_cast<int>(*hi)};
}

using ProfileSetter = std::function<void(ModemProfile&, const IniEntry&)>;

// Every [modem] key, written once; README.md lists the same keys.
const std::map<std::string, ProfileSetter>& ProfileKeys() {
  static const std::map<std::string, ProfileSetter> keys = {
      {"manufacturer", [](ModemProfile& p, const IniEntry& e) { p.manufacturer = e.value; }},
      {"model", [](ModemProfile& p, const IniEntry& e) { p.model = e.value; }},
      {"revision", [](ModemProfile& p, const IniEntry& e) { p.revision = e.value; }},
      {"imei", [](ModemProfile& p, const IniEntry& e) { p.imei = e.value; }},
      {"echo", [](ModemProfile& p, const IniEntry& e) { p.echo = BoolValue(e); }},
      {"wind", [](ModemProfile& p, const IniEntry& e) { p.windMask = IntValue(e, 0, 32767); }},
      {"stsf", [](ModemProfile& p, const IniEntry& e) { p.stsfMode = IntValue(e, 0, 1); }},
      {"stsf_profile", [](ModemProfile& p, const IniEntry& e) { p.stsfProfile = Upper(e.value); }},
      {"stsf_timeout", [](ModemProfile& p, const IniEntry& e) { p.stsfTimeout = IntValue(e, 1, 255); }},
      {"stsf_autoresponse",
       [](ModemProfile& p, const IniEntry& e) { p.stsfAutoResponse = IntValue(e, 0, 1); }},
      {"cmgf", [](ModemProfile& p, const IniEntry& e) { p.cmgf = IntValue(e, 0, 1); }},
      {"cscs", [](ModemProfile& p, const IniEntry& e) { p.cscs = Upper(e.value); }},
      {"charsets",
       [](ModemProfile& p, const IniEntry& e) {
         p.charsets.clear();
         for (const std::string& c : Split(e.value, ',')) p.charsets.push_back(Upper(Trim(c)));
       }},
      {"csq",
       [](ModemProfile& p, const IniEntry& e) {
         const std::vector<std::string> f = Split(e.value, ',');
         const auto r = ParseInt(f[0]);
         const auto b = f.size() == 2 ? ParseInt(f[1]) : std::optional<long>(99);
         if (f.size() > 2 || !r || !b || *r < 0 || *r > 99 || *b < 0 || *b > 99)
           BadValue(e, "expected <rssi>,<ber>");
         p.rssi = static_cast<int>(*r);
         p.ber = static_cast<int>(*b);
       }},
      {"smsc", [](ModemProfile& p, const IniEntry& e) { p.smsc = e.value; }},
      {"operator", [](ModemProfile& p, const IniEntry& e) { p.operatorName = e.value; }},
      {"restart_ms", [](ModemProfile& p, const IniEntry& e) { p.restartMs = RangeValue(e); }},
      {"sim_init_ms", [](ModemProfile& p, const IniEntry& e) { p.simInitMs = IntValue(e, 0, 600000); }},
      {"menu_ms", [](ModemProfile& p, const IniEntry& e) { p.menuMs = IntValue(e, 0, 600000); }},
      {"step_ms", [](ModemProfile& p, const IniEntry& e) { p.stepMs = IntValue(e, 0, 600000); }},
      {"stk_timeout_unit_ms",
       [](ModemProfile& p, const IniEntry& e) { p.stkTimeoutUnitMs = IntValue(e, 1, 600000); }},
      {"display_clear_ms",
       [](ModemProfile& p, const IniEntry& e) { p.displayClearMs = IntValue(e, 0, 600000); }},
      {"cfun_ok",
       [](ModemProfile& p, const IniEntry& e) {
         static const std::map<std::string, ModemProfile::ResetOk> places = {
             {"BEFORE", ModemProfile::ResetOk::Before},
             {"AFTER", ModemProfile::ResetOk::AfterWind},
             {"FIRST", ModemProfile::ResetOk::First},
             {"LAST", ModemProfile::ResetOk::Last}};
         const auto it = places.find(Upper(e.value));
         if (it == places.end()) BadValue(e, "expected before, after, first or last");
         p.cfunOk = it->second;
       }},
      {"restart_input",
       [](ModemProfile& p, const IniEntry& e) {
         const std::string v = Upper(e.value);
         if (v != "HOLD" && v != "DROP") BadValue(e, "expected hold or drop");
         p.dropInputWhileRestarting = v == "DROP";
       }},
      {"cpin_ok", [](ModemProfile& p, const IniEntry& e) { p.cpinOk = BoolValue(e); }},
      {"menu_title", [](ModemProfile& p, const IniEntry& e) { p.menuTitle = BoolValue(e); }},
      {"select_header",
       [](ModemProfile& p, const IniEntry& e) {
         const std::string v = Upper(e.value);
         if (v != "SHORT" && v != "LONG") BadValue(e, "expected short or long");
         p.selectHeaderLong = v == "LONG";
       }},
      {"ussd_ok",
       [](ModemProfile& p, const IniEntry& e) {
         const std::string v = Upper(e.value);
         if (v != "FIRST" && v != "LAST") BadValue(e, "expected first or last");
         p.ussdAnswerBeforeOk = v == "LAST";
       }},
      {"card", [](ModemProfile& p, const IniEntry& e) { p.card = e.value; }},
  };
  return keys;
}

StkKind KindValue(const IniEntry& e) {
  static const std::map<std::string, StkKind> kinds = {
      {"menu", StkKind::SetupMenu},     {"display", StkKind::DisplayText},
      {"inkey", StkKind::GetInkey},     {"input", StkKind::GetInput},
      {"select", StkKind::SelectItem},  {"sms", StkKind::SendSms},
      {"end", StkKind::EndSession},
  };
  const auto it = kinds.find(Trim(e.value));
  if (it == kinds.end()) BadValue(e, "expected menu, select, display, input, inkey, sms or end");
  return it->second;
}

// "item.<id> = <label> -> <next>"; help.<id> and action.<id> refine an item.
StkItem& ItemFor(StkNode& node, const IniEntry& e, int id) {
  for (StkItem& item : node.items)
    if (item.id == id) return item;
  if (!StartsWith(e.key, "item."))
    throw ScenarioError(At(e) + "'" + e.key + "' names item " + std::to_string(id) +
                        ", which is not listed (yet)");
  node.items.push_back(StkItem{});
  node.items.back().id = id;
  return node.items.back();
}

void SetNodeKey(StkNode& n, const IniEntry& e) {
  const std::string& k = e.key;
  const size_t dot = k.find('.');
  if (dot != std::string::npos) {
    const std::string head = k.substr(0, dot);
    const auto id = ParseInt(k.substr(dot + 1));
    if (!id || *id < 1 || *id > 255) throw ScenarioError(At(e) + "item ids run from 1 to 255");
    StkItem& item = ItemFor(n, e, static_cast<int>(*id));
    if (head == "item") {
      const size_t arrow = e.value.rfind("->");
      if (arrow == std::string::npos) BadValue(e, "expected '<label> -> <next node>'");
      item.label = Trim(e.value.substr(0, arrow));
      item.next = Trim(e.value.substr(arrow + 2));
    } else if (head == "help") {
      item.help = IntValue(e, 0, 1);
    } else if (head == "action") {
      item.nextAction = IntValue(e, 0, 255);
    } else {
      throw ScenarioError(At(e) + "unknown node key '" + k + "'");
    }
    return;
  }
  if (k == "type") n.kind = KindValue(e);
  else if (k == "title" || k == "text" || k == "prompt") n.text = e.value;
  else if (k == "default") n.defaultItem = IntValue(e, 0, 255);
  else if (k == "priority") n.priority = IntValue(e, 0, 1);
  else if (k == "clear") n.clear = IntValue(e, 0, 1);
  else if (k == "format") n.format = IntValue(e, 0, 4);
  else if (k == "echo") n.echo = IntValue(e, 0, 1);
  else if (k == "min") n.minLength = IntValue(e, 0, 255);
  else if (k == "max") n.maxLength = IntValue(e, 1, 255);
  else if (k == "help") n.help = IntValue(e, 0, 1);
  else if (k == "accept") {
    n.accept.clear();
    for (const std::string& a : Split(e.value, '|')) n.accept.push_back(Trim(a));
  } else if (k == "next") n.next = Trim(e.value);
  else if (k == "wrong") n.wrong = Trim(e.value);
  else if (k == "if_registered") n.ifRegistered = Trim(e.value);
  else if (k == "registers") n.registers = BoolValue(e);
  else if (k == "delay_ms") n.delayMs = IntValue(e, 0, 600000);
  else throw ScenarioError(At(e) + "unknown node key '" + k + "'");
}

void SetCardKey(CardSpec& c, const IniEntry& e) {
  if (e.key == "imsi") c.imsi = e.value;
  else if (e.key == "iccid") c.iccid = e.value;
  else if (e.key == "menu") c.menu = Trim(e.value);
  else if (e.key == "registered") c.registered = BoolValue(e);
  else throw ScenarioError(At(e) + "unknown card key '" + e.key + "'");
}

void SetCallKey(CallSpec& c, const IniEntry& e) {
  if (e.key == "result") {
    static const std::map<std::string, CallResult> results = {
        {"OK", CallResult::Ok},           {"NO CARRIER", CallResult::NoCarrier},
        {"BUSY", CallResult::Busy},       {"NO ANSWER", CallResult::NoAnswer},
        {"ERROR", CallResult::Error},
    };
    const auto it = results.find(Upper(e.value));
    if (it == results.end()) BadValue(e, "expected OK, NO CARRIER, BUSY, NO ANSWER or ERROR");
    c.result = it->second;
  } else if (e.key == "delay_ms") {
    c.delayMs = IntValue(e, 0, 600000);
  } else if (e.key == "drop_ms") {
    c.dropMs = IntValue(e, 0, 86400000);
  } else {
    throw ScenarioError(At(e) + "unknown call key '" + e.key + "'");
  }
}

void SetSmsKey(SmsSpec& s, const IniEntry& e) {
  if (e.key == "result") {
    const std::vector<std::string> w = Split(Upper(Trim(e.value)), ' ');
    if (w.size() == 1 && w[0] == "OK") s.result = SmsSpec::Result::Ok;
    else if (w.size() == 1 && w[0] == "ERROR") s.result = SmsSpec::Result::Error;
    else if (w.size() == 2 && w[0] == "CMS" && ParseInt(w[1])) {
      s.result = SmsSpec::Result::CmsError;
      s.code = static_cast<int>(*ParseInt(w[1]));
    } else {
      BadValue(e, "expected OK, ERROR or CMS <n>");
    }
  } else if (e.key == "delay_ms") {
    s.delayMs = IntValue(e, 0, 600000);
  } else {
    throw ScenarioError(At(e) + "unknown sms key '" + e.key + "'");
  }
}

void SetUssdKey(UssdSpec& u, const IniEntry& e) {
  if (e.key == "status") {
    if (Upper(Trim(e.value)) == "NONE") u.status = -1;
    else u.status = IntValue(e, 0, 5);
  } else if (e.key == "text") {
    u.text = e.value;
  } else if (e.key == "dcs") {
    u.dcs = IntValue(e, 0, 255);
  } else if (e.key == "delay_ms") {
    u.delayMs = IntValue(e, 0, 600000);
  } else {
    throw ScenarioError(At(e) + "unknown ussd key '" + e.key + "'");
  }
}

void CheckNodeRef(const std::map<std::string, StkNode>& nodes, const std::string& ref,
                  const std::string& from, int line) {
  if (!ref.empty() && !nodes.count(ref))
    throw ScenarioError("line " + std::to_string(line) + ": " + from + " refers to node '" + ref +
                        "', which is not defined");
}

}  // namespace

int DelayRange::Pick(std::mt19937& random) const {
  if (highMs <= lowMs) return lowMs;
  return std::uniform_int_distribution<int>(lowMs, highMs)(random);
}

bool ApplyProfileKey(ModemProfile& profile, const IniEntry& entry) {
  const auto& keys = ProfileKeys();
  const auto it = keys.find(entry.key);
  if (it == keys.end()) return false;
  it->second(profile, entry);
  return true;
}

Scenario Scenario::Parse(std::string_view text) {
  Scenario s;
  std::map<std::string, int> cardLines;
  for (const IniSection& sec : ParseIni(text)) {
    const std::string where = "line " + std::to_string(sec.line) + ": ";
    if (sec.kind == "modem") {
      if (sec.name.empty()) {
        for (const IniEntry& e : sec.entries)
          if (!ApplyProfileKey(s.base_, e))
            throw ScenarioError(At(e) + "unknown modem key '" + e.key + "'");
      } else {
        const auto n = ParseInt(sec.name);
        if (!n || *n < 1 || *n > 999) throw ScenarioError(where + "[modem N] needs a modem number");
        ModemProfile probe;
        for (const IniEntry& e : sec.entries)
          if (!ApplyProfileKey(probe, e))
            throw ScenarioError(At(e) + "unknown modem key '" + e.key + "'");
        auto& list = s.modemOverrides_[static_cast<int>(*n)];
        list.insert(list.end(), sec.entries.begin(), sec.entries.end());
      }
    } else if (sec.kind == "card") {
      if (sec.name.empty()) throw ScenarioError(where + "[card ID] needs an id");
      CardSpec& c = s.cards_[sec.name];
      c.id = sec.name;
      cardLines[sec.name] = sec.line;
      for (const IniEntry& e : sec.entries) SetCardKey(c, e);
    } else if (sec.kind == "node") {
      if (sec.name.empty()) throw ScenarioError(where + "[node NAME] needs a name");
      if (s.nodes_.count(sec.name)) throw ScenarioError(where + "node '" + sec.name + "' twice");
      StkNode& n = s.nodes_[sec.name];
      n.name = sec.name;
      n.fileLine = sec.line;
      bool typed = false;
      for (const IniEntry& e : sec.entries) {
        SetNodeKey(n, e);
        typed = typed || e.key == "type";
      }
      if (!typed) throw ScenarioError(where + "node '" + sec.name + "' has no type");
    } else if (sec.kind == "call" || sec.kind == "sms" || sec.kind == "ussd") {
      if (sec.name.empty())
        throw ScenarioError(where + "[" + sec.kind + " X] needs a number, a code or *");
      for (const IniEntry& e : sec.entries) {
        if (sec.kind == "call") SetCallKey(sec.name == "*" ? s.defaultCall_ : s.calls_[sec.name], e);
        else if (sec.kind == "sms") SetSmsKey(sec.name == "*" ? s.defaultSms_ : s.sms_[sec.name], e);
        else SetUssdKey(sec.name == "*" ? s.defaultUssd_ : s.UssdEntry(sec.name), e);
      }
      if (sec.entries.empty()) {  // a bare section still names the number
        if (sec.kind == "call" && sec.name != "*") s.calls_[sec.name];
        if (sec.kind == "sms" && sec.name != "*") s.sms_[sec.name];
        if (sec.kind == "ussd" && sec.name != "*") s.UssdEntry(sec.name);
      }
    } else if (sec.kind == "fault") {
      FaultRule r;
      r.name = sec.name;
      for (const IniEntry& e : sec.entries) {
        try {
          r.Set(e.key, e.value);
        } catch (const ScenarioError& err) {
          throw ScenarioError(At(e) + err.what());
        }
      }
      if (r.command.empty()) throw ScenarioError(where + "fault '" + sec.name + "' has no command");
      s.faults_.push_back(r);
    } else {
      throw ScenarioError(where + "unknown section kind '" + sec.kind + "'");
    }
  }
  // References are checked once everything is read, so order in the file is free.
  for (const auto& [name, n] : s.nodes_) {
    for (const StkItem& item : n.items)
      CheckNodeRef(s.nodes_, item.next, "item " + std::to_string(item.id) + " of '" + name + "'",
                   n.fileLine);
    CheckNodeRef(s.nodes_, n.next, "'next' of '" + name + "'", n.fileLine);
    CheckNodeRef(s.nodes_, n.wrong, "'wrong' of '" + name + "'", n.fileLine);
    CheckNodeRef(s.nodes_, n.ifRegistered, "'if_registered' of '" + name + "'", n.fileLine);
    const bool menuLike = n.kind == StkKind::SetupMenu || n.kind == StkKind::SelectItem;
    if (menuLike && n.items.empty())
      throw ScenarioError("line " + std::to_string(n.fileLine) + ": node '" + name +
                          "' is a menu without items");
    if (menuLike)
      for (const StkItem& item : n.items)
        if (item.next.empty())
          throw ScenarioError("line " + std::to_string(n.fileLine) + ": item " +
                              std::to_string(item.id) + " of '" + name + "' leads nowhere");
  }
  for (const auto& [id, c] : s.cards_) {
    CheckNodeRef(s.nodes_, c.menu, "card '" + id + "'", cardLines[id]);
    if (!c.menu.empty() && s.nodes_.at(c.menu).kind != StkKind::SetupMenu)
      throw ScenarioError("line " + std::to_string(cardLines[id]) + ": card '" + id +
                          "': its menu must be a node of type menu");
  }
  auto checkCard = [&](const ModemProfile& p, const std::string& what) {
    if (!p.card.empty() && !s.cards_.count(p.card))
      throw ScenarioError(what + " holds card '" + p.card + "', which is not defined");
  };
  checkCard(s.base_, "[modem]");
  for (const auto& [n, entries] : s.modemOverrides_) checkCard(s.ProfileFor(n), "[modem " + std::to_string(n) + "]");
  return s;
}

Scenario Scenario::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError("cannot read scenario file '" + path + "'");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return Parse(text.str());
  } catch (const ScenarioError& e) {
    throw ScenarioError(path + ": " + e.what());
  }
}

ModemProfile Scenario::ProfileFor(int modemNumber) const {
  ModemProfile p = base_;
  const auto it = modemOverrides_.find(modemNumber);
  if (it != modemOverrides_.end())
    for (const IniEntry& e : it->second) ApplyProfileKey(p, e);
  p.imei = ExpandModemNumber(p.imei, modemNumber);
  return p;
}

const CardSpec* Scenario::Card(const std::string& id) const {
  const auto it = cards_.find(id);
  return it == cards_.end() ? nullptr : &it->second;
}

const StkNode* Scenario::Node(const std::string& name) const {
  const auto it = nodes_.find(name);
  return it == nodes_.end() ? nullptr : &it->second;
}

const CallSpec& Scenario::Call(const std::string& number) const {
  const auto it = calls_.find(number);
  return it == calls_.end() ? defaultCall_ : it->second;
}

const SmsSpec& Scenario::Sms(const std::string& number) const {
  const auto it = sms_.find(number);
  return it == sms_.end() ? defaultSms_ : it->second;
}

// A code of its own is answered by default; only unknown codes get "+CUSD: 4".
UssdSpec& Scenario::UssdEntry(const std::string& code) {
  const auto [it, fresh] = ussd_.try_emplace(code);
  if (fresh) it->second.status = 0;
  return it->second;
}

const UssdSpec& Scenario::Ussd(const std::string& code) const {
  const auto it = ussd_.find(code);
  return it == ussd_.end() ? defaultUssd_ : it->second;
}

std::vector<FaultRule> Scenario::FaultsFor(int modemNumber) const {
  std::vector<FaultRule> out;
  for (const FaultRule& r : faults_)
    if (r.modem == 0 || r.modem == modemNumber) out.push_back(r);
  return out;
}

std::vector<std::string> Scenario::CardIds() const {
  std::vector<std::string> ids;
  for (const auto& [id, c] : cards_) ids.push_back(id);
  return ids;
}

}  // namespace modemsim
