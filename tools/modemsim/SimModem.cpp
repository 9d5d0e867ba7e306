// The simulated modem's line: input framing, echo, command lines and the
// faults that bite on them, output timing, the reboot, and the card holder.
#include "SimModem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "AtFraming.h"
#include "SimText.h"

namespace modemsim {

namespace {

constexpr char kCtrlZ = 0x1a;
constexpr char kEsc = 0x1b;
constexpr size_t kMaxLine = 2048;

// Verbose texts for AT+CMEE=2.
const std::map<int, std::string>& CmeTexts() {
  static const std::map<int, std::string> texts = {
      {3, "operation not allowed"},
      {4, "operation not supported"},
      {10, "SIM not inserted"},
      {515, "Please wait, init or command processing in progress"},
      {518, "SIM Toolkit indication not received"},
  };
  return texts;
}

// The destination of an SMS-SUBMIT PDU (after the SMSC part), for choosing
// the scenario's answer; "" when the PDU is not one.
std::string PduDestination(const std::string& pdu) {
  if (pdu.empty()) return "";
  const size_t smscLen = static_cast<unsigned char>(pdu[0]);
  size_t i = 1 + smscLen;
  if (i + 4 > pdu.size()) return "";
  i += 2;  // first octet, message reference
  const size_t digits = static_cast<unsigned char>(pdu[i++]);
  const int type = static_cast<unsigned char>(pdu[i++]);
  std::string number = (type & 0x70) == 0x10 ? "+" : "";
  for (size_t d = 0; d < digits && i + d / 2 < pdu.size(); ++d) {
    const int octet = static_cast<unsigned char>(pdu[i + d / 2]);
    const int nibble = d % 2 == 0 ? octet & 15 : octet >> 4;
    if (nibble > 9) break;
    number += static_cast<char>('0' + nibble);
  }
  return number;
}

}  // namespace

SimModem::SimModem(int number, const Scenario& scenario, EventLoop& loop, Transcript& transcript,
                   Wiring wiring, unsigned seed)
    : number_(number),
      scenario_(scenario),
      loop_(loop),
      transcript_(transcript),
      wiring_(std::move(wiring)),
      random_(seed),
      out_(loop, [this](const std::string& bytes) { Write(bytes); }),
      profile_(scenario.ProfileFor(number)) {
  storedEcho_ = profile_.echo;
  windMask_ = profile_.windMask;
  stsfMode_ = profile_.stsfMode;
  stsfProfile_ = profile_.stsfProfile;
  stsfTimeout_ = profile_.stsfTimeout;
  stsfAutoResponse_ = profile_.stsfAutoResponse;
  storedCmgf_ = profile_.cmgf;
  rssi_ = profile_.rssi;
  ber_ = profile_.ber;
  smsc_ = profile_.smsc;
  cscs_ = profile_.cscs;  // kept across resets: hosts pick it once per session
  faults_ = scenario.FaultsFor(number);
  if (!profile_.card.empty()) {
    std::string ignored;
    InsertCard(profile_.card, true, ignored);
  }
}

// ---------------------------------------------------------------- timing

void SimModem::Later(int ms, Scope scope, std::function<void()> task) {
  const Generations g = gen_;
  loop_.After(std::chrono::milliseconds(std::max(ms, 0)), [this, g, scope, task = std::move(task)] {
    if (g.line != gen_.line) return;
    if (scope != Scope::Line && g.boot != gen_.boot) return;
    if ((scope == Scope::Sim || scope == Scope::Stk) && g.sim != gen_.sim) return;
    if (scope == Scope::Stk && g.stk != gen_.stk) return;
    if (scope == Scope::Call && g.call != gen_.call) return;
    task();
  });
}

// ---------------------------------------------------------------- output

void SimModem::Write(const std::string& bytes) {
  if (bytes.empty() || !plugged_) return;
  if (silent_) return;  // a hung modem sends nothing at all
  wiring_.write(bytes);
}

// Every byte the modem sends goes through its one output stream, shaped by
// the rule if there is one; the rule's delay counts from `start`. Returns
// when the first byte is due.
EventLoop::Clock::time_point SimModem::Emit(const std::string& bytes, const FaultRule* rule,
                                            EventLoop::Clock::time_point start,
                                            OutputStream::Done done) {
  std::vector<TimedChunk> pieces = ShapeOutput(bytes, rule);
  if (!pieces.empty()) start += pieces.front().after;
  out_.Send(start, std::move(pieces), std::move(done));
  return start;
}

void SimModem::Urc(const std::string& framedBytes) {
  if (booting_ || !plugged_) return;
  std::optional<FaultRule> rule;
  rule.swap(urcRule_);
  Emit(framedBytes, rule ? &*rule : nullptr, EventLoop::Clock::now());
}

// Sends a reply, then runs the follow-ups (the card's next step, the reboot,
// the network's answer) once its last byte is out, so their delays count
// from there. A reply that is out at once has its consequences (a reboot
// above all) take effect before the next byte from the host is looked at.
// Replies never overtake each other, however late the first one is.
void SimModem::FinishReply(const std::string& bytes, const FaultRule* rule, int extraDelayMs) {
  const auto start = std::max(EventLoop::Clock::now() + std::chrono::milliseconds(extraDelayMs), replyDue_);
  const bool hangAfter = rule && rule->hangup == FaultRule::Hangup::After;
  const int reconnectMs = rule ? rule->reconnectMs : -1;
  std::vector<std::function<void()>> followUps;
  followUps.swap(followUps_);
  const unsigned lineGen = gen_.line;
  OutputStream::Done done;
  if (!followUps.empty() || hangAfter) {
    done = [this, lineGen, followUps = std::move(followUps), hangAfter, reconnectMs] {
      if (lineGen != gen_.line) return;
      for (const auto& f : followUps) f();
      if (hangAfter) wiring_.hangUp(reconnectMs);
    };
  }
  replyDue_ = Emit(bytes, rule, start, std::move(done));
}

std::string SimModem::Final(const std::string& result) const {
  if (!verbose_) {
    static const std::map<std::string, std::string> codes = {
        {"OK", "0"}, {"NO CARRIER", "3"}, {"ERROR", "4"}, {"BUSY", "7"}, {"NO ANSWER", "8"}};
    const auto it = codes.find(result);
    if (it != codes.end()) return it->second + "\r";
  }
  return Framed(result);
}

SimModem::Outcome SimModem::CmeError(int code) const {
  if (cmee_ == 0) return Fail("ERROR");
  if (cmee_ == 2) {
    const auto it = CmeTexts().find(code);
    if (it != CmeTexts().end()) return Fail("+CME ERROR: " + it->second);
  }
  return Fail("+CME ERROR: " + std::to_string(code));
}

SimModem::Outcome SimModem::CmsError(int code) const {
  return Fail("+CMS ERROR: " + std::to_string(code));
}

// ---------------------------------------------------------------- input

void SimModem::OnInput(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool lfFollows = i + 1 < bytes.size() && bytes[i + 1] == '\n';
    if (TakeByte(bytes[i], lfFollows)) ++i;
  }
  FlushEcho();
}

void SimModem::FlushEcho() {
  if (echoBuf_.empty()) return;
  std::string b;
  b.swap(echoBuf_);
  Emit(b, nullptr, EventLoop::Clock::now());
}

bool SimModem::TakeByte(char c, bool lfFollows) {
  if (!plugged_) return false;
  if (booting_) {
    // Commands sent right after AT+CFUN=1 are answered once the modem is
    // back (as in field traces of this family), unless the scenario says
    // the reboot loses them.
    if (!profile_.dropInputWhileRestarting && heldInput_.size() < 4096) heldInput_ += c;
    return false;
  }
  if (entry_.kind != Entry::Kind::None) {
    TakeEntryByte(c);
    return false;
  }
  if (echo_) echoBuf_ += c;
  if (c == '\r') {
    // The LF of a CR LF ending comes in on the heels of the CR, long before
    // the answer is ready: it is echoed with the command, then ignored.
    if (lfFollows && echo_) echoBuf_ += '\n';
    const std::string line = line_;
    const bool overflow = lineOverflow_;
    line_.clear();
    lineOverflow_ = false;
    FlushEcho();
    if (!overflow) {
      GuardedExecute(line);
    } else if (Upper(line).find("AT") != std::string::npos) {
      // More than the command buffer holds: the modem refuses the line.
      FinishReply(Final("ERROR"), nullptr, 0);
    }
    return lfFollows;
  }
  if (c == '\n' && line_.empty()) return false;  // the LF of a CR LF ending
  if (c == '\b') {
    if (!line_.empty()) line_.pop_back();
    return false;
  }
  if (line_.size() < kMaxLine) line_ += c;
  else lineOverflow_ = true;
  return false;
}

// Test equipment must outlive whatever a host sends: a fault of the
// simulator's own on one line is recorded and answered as the modem's
// ERROR, and the bank goes on.
void SimModem::GuardedExecute(const std::string& line) {
  try {
    ExecuteLine(line);
  } catch (const std::exception& e) {
    transcript_.Add(Direction::Event, std::string("simulator fault on \"") + Escape(line) +
                                          "\": " + e.what());
    entry_ = Entry{};
    FinishReply(Final("ERROR"), nullptr, 0);
  }
}

void SimModem::TakeEntryByte(char c) {
  if (c == kEsc) {
    // Cancelled: nothing is sent; the toolkit command stays pending.
    const std::optional<FaultRule> rule = entry_.rule;
    entry_ = Entry{};
    FlushEcho();
    FinishReply(Final("OK"), rule ? &*rule : nullptr, 0);
    return;
  }
  if (c != kCtrlZ) {
    if (c == '\b') {
      if (!entry_.text.empty()) entry_.text.pop_back();
    } else if (entry_.text.size() < 4096) {
      entry_.text += c;
    }
    // Text mode answers each CR inside the message with a fresh prompt.
    if (c == '\r' && entry_.kind == Entry::Kind::SmsText) echoBuf_ += kPrompt;
    else if (echo_) echoBuf_ += c;
    return;
  }
  FlushEcho();
  Entry e = std::move(entry_);
  entry_ = Entry{};
  const FaultRule* rule = e.rule ? &*e.rule : nullptr;
  info_.clear();
  if (e.kind == Entry::Kind::StkInput) {
    const StkNode* node = pending_;
    ++gen_.stk;  // answered: the time-out no longer runs
    followUps_.clear();
    followUps_.push_back([this, node, text = e.text] { StkAnswerText(node, text); });
    FinishReply(Final("OK"), rule, 0);
    return;
  }
  std::string number = e.number;
  if (e.kind == Entry::Kind::SmsPdu) {
    const auto pdu = HexToBytes(Trim(e.text));
    const size_t smscPart = pdu && !pdu->empty() ? 1 + static_cast<unsigned char>((*pdu)[0]) : 0;
    if (!pdu || pdu->size() < smscPart || pdu->size() - smscPart != static_cast<size_t>(e.pduLength)) {
      FinishReply(Final("+CMS ERROR: 304"), rule, 0);
      return;
    }
    number = PduDestination(*pdu);
  }
  SmsSpec spec = scenario_.Sms(number);
  // The rule of the AT+CMGS line may have the network refuse this message.
  if (rule && rule->smsCms >= 0) {
    spec.result = rule->smsCms == 0 ? SmsSpec::Result::Error : SmsSpec::Result::CmsError;
    spec.code = rule->smsCms;
  }
  std::string reply;
  switch (spec.result) {
    case SmsSpec::Result::Ok:
      reply = Framed("+CMGS: " + std::to_string(messageRef_)) + Final("OK");
      messageRef_ = (messageRef_ + 1) % 256;
      ++smsSent_;
      transcript_.Add(Direction::Event, "sms to " + number + ": " + Escape(e.text));
      break;
    case SmsSpec::Result::Error:
      reply = Final("ERROR");
      break;
    case SmsSpec::Result::CmsError:
      reply = Final("+CMS ERROR: " + std::to_string(spec.code));
      break;
  }
  FinishReply(reply, rule, spec.delayMs);
}

void SimModem::ExecuteLine(const std::string& rawLine) {
  std::string line = rawLine;
  if (Upper(Trim(line)) == "A/") line = lastLine_;
  // Anything before "AT" is line noise the modem skips.
  const std::string upper = Upper(line);
  const size_t at = upper.find("AT");
  if (at == std::string::npos) return;
  line = line.substr(at);
  lastLine_ = line;
  const std::string key = Upper(Trim(line));

  FaultRule* rule = nullptr;
  for (FaultRule& r : faults_) {
    if (r.Matches(key) && r.Consume()) {
      rule = &r;
      break;
    }
  }
  const FaultRule* replyRule = rule && rule->ShapesReply() ? rule : nullptr;
  if (rule && rule->hangup == FaultRule::Hangup::Before) {
    transcript_.Add(Direction::Event, "fault: hang-up on " + key);
    wiring_.hangUp(rule->reconnectMs);
    return;
  }
  if (rule && rule->reply != FaultRule::Reply::Normal) {
    std::string reply;
    switch (rule->reply) {
      case FaultRule::Reply::Error: reply = Final("ERROR"); break;
      case FaultRule::Reply::CmeError: reply = Final("+CME ERROR: " + std::to_string(rule->code)); break;
      case FaultRule::Reply::CmsError: reply = Final("+CMS ERROR: " + std::to_string(rule->code)); break;
      case FaultRule::Reply::Text: reply = rule->text; break;
      case FaultRule::Reply::Silent:
      case FaultRule::Reply::Normal: break;
    }
    if (rule->reply == FaultRule::Reply::Silent && rule->noise.empty() && rule->unsolicited.empty()) {
      if (rule->hangup == FaultRule::Hangup::After) wiring_.hangUp(rule->reconnectMs);
      return;
    }
    FaultRule shaped = *rule;
    FinishReply(reply, &shaped, 0);
    return;
  }

  info_.clear();
  followUps_.clear();
  replyDelayMs_ = 0;
  std::vector<AtCommand> commands;
  Outcome outcome;
  if (!ParseCommands(line.substr(2), commands)) {
    outcome = Fail("ERROR");
  } else {
    lineRule_ = rule;
    for (const AtCommand& cmd : commands) {
      outcome = Dispatch(cmd);
      if (outcome.kind != Outcome::Kind::Ok) break;
    }
    lineRule_ = nullptr;
  }
  if (rule && rule->ShapesUrc()) urcRule_ = *rule;
  if (outcome.kind == Outcome::Kind::Deferred && entry_.kind != Entry::Kind::None && rule)
    entry_.rule = *rule;

  std::string reply;
  if (!info_.empty()) {
    reply = "\r\n";
    for (const std::string& l : info_) reply += l + "\r\n";
  }
  switch (outcome.kind) {
    case Outcome::Kind::Ok: reply += Final("OK"); break;
    case Outcome::Kind::Fail: reply += Final(outcome.final); break;
    case Outcome::Kind::Deferred: break;
  }
  if (entry_.kind != Entry::Kind::None) reply += kPrompt;
  info_.clear();
  FinishReply(reply, replyRule, replyDelayMs_);
}

bool SimModem::ParseCommands(const std::string& body, std::vector<AtCommand>& out) const {
  size_t i = 0;
  const size_t n = body.size();
  auto upperAt = [&](size_t k) { return static_cast<char>(std::toupper(static_cast<unsigned char>(body[k]))); };
  // The number of a basic command or S-register: V.25ter keeps them within
  // a byte, and a longer run of digits is a syntax error, not a number.
  auto byteFrom = [&](size_t& k, int& value) {
    std::string d;
    while (k < n && std::isdigit(static_cast<unsigned char>(body[k]))) d += body[k++];
    if (d.empty()) return true;
    const auto v = ParseIntIn(d, 0, 255);
    if (v) value = static_cast<int>(*v);
    return v.has_value();
  };
  while (i < n) {
    const char c = upperAt(i);
    AtCommand cmd;
    if (c == ' ' || c == ';') {
      ++i;
      continue;
    }
    if (c == '+' || c == '*' || c == '%' || c == '^' || c == '$') {
      size_t k = i + 1;
      while (k < n && (std::isalnum(static_cast<unsigned char>(body[k])) || body[k] == '_')) ++k;
      cmd.name = Upper(body.substr(i, k - i));
      if (k < n && body[k] == '?') {
        cmd.form = AtCommand::Form::Read;
        ++k;
      } else if (k < n && body[k] == '=') {
        ++k;
        if (k < n && body[k] == '?') {
          cmd.form = AtCommand::Form::Test;
          ++k;
        } else {
          cmd.form = AtCommand::Form::Set;
          bool quoted = false;
          size_t e = k;
          while (e < n && (quoted || body[e] != ';')) {
            if (body[e] == '"') quoted = !quoted;
            ++e;
          }
          cmd.args = Trim(body.substr(k, e - k));
          k = e;
        }
      }
      i = k;
    } else if (c == 'D') {
      cmd.name = "D";
      cmd.args = Trim(body.substr(i + 1));
      i = n;
    } else if (c == '&') {
      if (i + 1 >= n || !std::isalpha(static_cast<unsigned char>(body[i + 1]))) return false;
      cmd.name = std::string("&") + upperAt(i + 1);
      i += 2;
      if (!byteFrom(i, cmd.value)) return false;
    } else if (c == 'S') {
      ++i;
      int reg = -1;
      if (!byteFrom(i, reg) || reg < 0) return false;
      cmd.name = "S" + std::to_string(reg);
      if (i < n && body[i] == '?') {
        cmd.form = AtCommand::Form::Read;
        ++i;
      } else if (i < n && body[i] == '=') {
        ++i;
        cmd.form = AtCommand::Form::Set;
        if (!byteFrom(i, cmd.value)) return false;
      }
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      cmd.name = std::string(1, c);
      ++i;
      if (!byteFrom(i, cmd.value)) return false;
      if (i < n && body[i] == '?') {
        cmd.form = AtCommand::Form::Read;
        ++i;
      }
    } else {
      return false;
    }
    out.push_back(std::move(cmd));
  }
  return true;
}

// Every command the modem knows; a basic command's number may run from 0 to
// its highest value (ATI answers any number, with nothing for most).
const std::map<std::string, SimModem::Command>& SimModem::Commands() {
  static const std::map<std::string, Command> table = {
      {"E", {&SimModem::CmdEcho, 1}},       {"V", {&SimModem::CmdVerbose, 1}},
      {"Q", {&SimModem::CmdAccept, 1}},     {"X", {&SimModem::CmdAccept, 4}},
      {"L", {&SimModem::CmdAccept, 3}},     {"M", {&SimModem::CmdAccept, 2}},
      {"&C", {&SimModem::CmdAccept, 1}},    {"&D", {&SimModem::CmdAccept, 2}},
      {"&K", {&SimModem::CmdAccept, 4}},    {"&S", {&SimModem::CmdAccept, 1}},
      {"Z", {&SimModem::CmdReset, 0}},      {"&F", {&SimModem::CmdFactory, 0}},
      {"&W", {&SimModem::CmdStore, 0}},     {"I", {&SimModem::CmdInfo, 255}},
      {"D", {&SimModem::CmdDial}},          {"H", {&SimModem::CmdHangUp, 0}},
      {"+CHUP", {&SimModem::CmdHangUp}},    {"+CGMI", {&SimModem::CmdIdentity}},
      {"+GMI", {&SimModem::CmdIdentity}},   {"+CGMM", {&SimModem::CmdIdentity}},
      {"+GMM", {&SimModem::CmdIdentity}},   {"+CGMR", {&SimModem::CmdIdentity}},
      {"+GMR", {&SimModem::CmdIdentity}},   {"+CGSN", {&SimModem::CmdIdentity}},
      {"+GSN", {&SimModem::CmdIdentity}},   {"+CIMI", {&SimModem::CmdImsi}},
      {"+CCID", {&SimModem::CmdIccid}},     {"+CPIN", {&SimModem::CmdPin}},
      {"+CMEE", {&SimModem::CmdCmee}},      {"+CMGF", {&SimModem::CmdCmgf}},
      {"+CSAS", {&SimModem::CmdSmsSettings}}, {"+CRES", {&SimModem::CmdSmsSettings}},
      {"+CSCS", {&SimModem::CmdCscs}},      {"+CSQ", {&SimModem::CmdCsq}},
      {"+CFUN", {&SimModem::CmdCfun}},      {"+WIND", {&SimModem::CmdWind}},
      {"+STSF", {&SimModem::CmdStsf}},      {"+STGI", {&SimModem::CmdStgi}},
      {"+STGR", {&SimModem::CmdStgr}},      {"+STIN", {&SimModem::CmdStin}},
      {"+CMGS", {&SimModem::CmdCmgs}},      {"+CUSD", {&SimModem::CmdCusd}},
      {"+CREG", {&SimModem::CmdCreg}},      {"+COPS", {&SimModem::CmdCops}},
      {"+CSCA", {&SimModem::CmdCsca}},      {"+CPMS", {&SimModem::CmdCpms}},
      {"+CSMP", {&SimModem::CmdSimple}},    {"+CNMI", {&SimModem::CmdSimple}},
      {"+CPAS", {&SimModem::CmdSimple}},    {"+IPR", {&SimModem::CmdSimple}},
      {"+CMGL", {&SimModem::CmdSimple}},    {"+CMGD", {&SimModem::CmdSimple}},
      {"+CMGR", {&SimModem::CmdSimple}},    {"+CLIP", {&SimModem::CmdSimple}},
      {"+CRC", {&SimModem::CmdSimple}},     {"+CLCC", {&SimModem::CmdSimple}},
      {"+CSMS", {&SimModem::CmdSimple}},    {"+CBC", {&SimModem::CmdSimple}},
  };
  return table;
}

SimModem::Outcome SimModem::Dispatch(const AtCommand& cmd) {
  if (StartsWith(cmd.name, "S") && cmd.name.size() > 1 && cmd.name[0] == 'S' &&
      std::isdigit(static_cast<unsigned char>(cmd.name[1]))) {
    // S-registers: accepted and read back as the defaults of V.25ter.
    if (cmd.form == AtCommand::Form::Read) {
      static const std::map<std::string, int> defaults = {{"S3", 13}, {"S4", 10}, {"S5", 8}};
      const auto it = defaults.find(cmd.name);
      char buf[8];
      std::snprintf(buf, sizeof buf, "%03d", it == defaults.end() ? 0 : it->second);
      Info(buf);
    }
    return {};
  }
  const auto& table = Commands();
  const auto it = table.find(cmd.name);
  if (it == table.end() || cmd.value > it->second.maxValue) return Fail("ERROR");
  return (this->*(it->second.run))(cmd);
}

// ---------------------------------------------------------------- boot and card

void SimModem::ResetVolatile() {
  echo_ = storedEcho_;
  verbose_ = true;
  cmee_ = 0;
  cmgf_ = storedCmgf_;
  cregMode_ = 0;
  ussdMode_ = 0;
  inCall_ = false;
  entry_ = Entry{};
  line_.clear();
  lineOverflow_ = false;
  echoBuf_.clear();
  heldInput_.clear();
  simReady_ = false;
  ResetToolkit();
}

void SimModem::ResetToolkit() {
  menuReady_ = false;
  pending_ = nullptr;
  sessionOpen_ = false;
  clearTimerArmed_ = false;
  lastStin_ = -1;
  trail_.clear();
  ++gen_.stk;
}

void SimModem::PowerUp() {
  plugged_ = true;
  replyDue_ = {};
  transcript_.Add(Direction::Event, "power up");
  Boot(false);
}

void SimModem::PowerDown() {
  if (!plugged_) return;
  ++gen_.line;
  out_.Drop();
  plugged_ = false;
  booting_ = false;
  urcRule_.reset();
  ResetVolatile();
  transcript_.Add(Direction::Event, "line closed");
}

void SimModem::Boot(bool okAfter) {
  ++gen_.boot;
  ++gen_.sim;
  ++gen_.call;
  ResetVolatile();
  booting_ = true;
  stkActive_ = stsfMode_ == 1;
  Later(profile_.restartMs.Pick(random_), Scope::Boot, [this, okAfter] { BootDone(okAfter); });
}

void SimModem::BootDone(bool okAfter) {
  booting_ = false;
  ++restarts_;
  // What the host sent during the reboot waited in the modem's input and is
  // read before the modem reports anything: its echo never stands behind
  // lines that came after it.
  std::string held;
  held.swap(heldInput_);
  if (!held.empty()) OnInput(held);
  if (booting_ || !plugged_) return;  // it asked for another reboot
  // Firmware that answers the reset late puts its OK at one of three places
  // among the lines of the reboot.
  using Place = ModemProfile::ResetOk;
  const Place place = okAfter ? profile_.cfunOk : Place::Before;
  std::string burst;
  if (place == Place::First) burst += Final("OK");
  burst += HolderLines(Card() != nullptr);
  if (place == Place::AfterWind) burst += Final("OK");
  // Without a SIM init delay the modem reports the SIM ready, and the card
  // its menu, in the same breath as its presence.
  if (profile_.simInitMs == 0) burst += SimReadyLines(true) + MenuNowOrLater();
  else Later(profile_.simInitMs, Scope::Sim, [this] { SimReady(true); });
  if (place == Place::Last) burst += Final("OK");
  if (!burst.empty()) Urc(burst);
}

// The card holder's report, as the AT+WIND mask enables it: the rack
// (closed with a card put in, open with it taken out), then the SIM's
// presence.
std::string SimModem::HolderLines(bool cardIn) const {
  std::string lines;
  for (const WindEvent& w : {cardIn ? kWindRackClosed : kWindRackOpen,
                             cardIn ? kWindSimInserted : kWindSimRemoved})
    if (windMask_ & w.bit) lines += Framed("+WIND: " + std::to_string(w.event));
  return lines;
}

std::string SimModem::SimReadyLines(bool afterBoot) {
  std::string burst;
  auto add = [&](const WindEvent& w) {
    if (windMask_ & w.bit) burst += Framed("+WIND: " + std::to_string(w.event));
  };
  if (afterBoot) {
    add(kWindEmergencyReady);
    add(kWindEmergencyNetwork);
  }
  if (Card()) {
    simReady_ = true;
    add(kWindInitDone);
    add(kWindSmsReady);
  } else if (afterBoot) {
    add(kWindInitDone);
  }
  return burst;
}

// The card's SETUP MENU, once its SIM Toolkit has been set up: now (as
// lines to send with the caller's) or after menuMs.
std::string SimModem::MenuNowOrLater() {
  if (!Card() || !stkActive_ || !Root()) return "";
  if (profile_.menuMs == 0) {
    menuReady_ = true;
    lastStin_ = 0;
    return Framed("+STIN: 0");
  }
  Later(profile_.menuMs, Scope::Sim, [this] {
    menuReady_ = true;
    lastStin_ = 0;
    Urc(Framed("+STIN: 0"));
  });
  return "";
}

void SimModem::SimReady(bool afterBoot) {
  const std::string burst = SimReadyLines(afterBoot) + MenuNowOrLater();
  if (!burst.empty()) Urc(burst);
}

SimModem::CardState* SimModem::Card() {
  if (cardId_.empty()) return nullptr;
  const auto it = cards_.find(cardId_);
  return it == cards_.end() ? nullptr : &it->second;
}

bool SimModem::SimUsable() const { return !cardId_.empty() && simReady_; }

bool SimModem::InsertCard(const std::string& id, bool fresh, std::string& error) {
  const CardSpec* spec = scenario_.Card(id);
  if (!spec) {
    error = "no card '" + id + "' in the scenario";
    return false;
  }
  if (!cardId_.empty()) {
    error = "card '" + cardId_ + "' is still in the holder";
    return false;
  }
  auto it = cards_.find(id);
  if (it == cards_.end() || fresh) {
    CardState c;
    c.spec = spec;
    c.imsi = ExpandModemNumber(spec->imsi, number_);
    c.iccid = ExpandModemNumber(spec->iccid, number_);
    c.registered = spec->registered;
    cards_[id] = c;
  }
  cardId_ = id;
  ++gen_.sim;
  transcript_.Add(Direction::Event, "card " + id + " inserted");
  if (!plugged_ || booting_) return true;  // the boot reports it
  ResetToolkit();
  simReady_ = false;
  std::string burst = HolderLines(true);
  if (profile_.simInitMs == 0) burst += SimReadyLines(false) + MenuNowOrLater();
  else Later(profile_.simInitMs, Scope::Sim, [this] { SimReady(false); });
  if (!burst.empty()) Urc(burst);
  return true;
}

bool SimModem::RemoveCard(std::string& error) {
  if (cardId_.empty()) {
    error = "no card in the holder";
    return false;
  }
  transcript_.Add(Direction::Event, "card " + cardId_ + " removed");
  cardId_.clear();
  ++gen_.sim;
  ResetToolkit();
  simReady_ = false;
  if (!plugged_ || booting_) return true;
  std::string burst = HolderLines(false);
  if (inCall_) {
    // Without its SIM the network clears the call.
    inCall_ = false;
    ++gen_.call;
    burst += Final("NO CARRIER");
  }
  if (!burst.empty()) Urc(burst);
  return true;
}

void SimModem::SendUnsolicited(const std::string& line) { Urc(Framed(line)); }

void SimModem::SendRaw(const std::string& bytes) { Emit(bytes, nullptr, EventLoop::Clock::now()); }

void SimModem::SetSilent(bool on) {
  silent_ = on;
  transcript_.Add(Direction::Event, on ? "silent" : "talking again");
}

void SimModem::AddFault(const FaultRule& rule) { faults_.push_back(rule); }

void SimModem::ClearFaults() { faults_.clear(); }

void SimModem::SetSignal(int rssi, int ber) {
  rssi_ = rssi;
  ber_ = ber;
}

ModemStatus SimModem::Status() const {
  ModemStatus s;
  s.plugged = plugged_;
  s.hostPresent = hostPresent_;
  s.silent = silent_;
  s.booting = booting_;
  s.echo = echo_;
  s.cmee = cmee_;
  s.cmgf = cmgf_;
  s.windMask = windMask_;
  s.stsfMode = stsfMode_;
  s.stsfProfile = stsfProfile_;
  s.stsfTimeout = stsfTimeout_;
  s.stsfAutoResponse = stsfAutoResponse_;
  s.stkActive = stkActive_;
  s.menuReady = menuReady_;
  s.pendingStk = pending_ ? static_cast<int>(pending_->kind) : -1;
  s.card = cardId_;
  if (!cardId_.empty()) s.cardRegistered = cards_.at(cardId_).registered;
  s.inCall = inCall_;
  s.smsSent = smsSent_;
  s.restarts = restarts_;
  const bool cardHere = !cardId_.empty();
  const bool hasMenu = cardHere && stkActive_ && !cards_.at(cardId_).spec->menu.empty();
  s.settled = plugged_ && !booting_ && (!cardHere || simReady_) && (!hasMenu || menuReady_);
  return s;
}


}  // namespace modemsim
