// The modem's plain AT commands: identification, settings, the reset, and
// what the network does with calls, SMS and USSD. Part of SimModem.
#include "SimModem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "AtFraming.h"
#include "SimText.h"

namespace modemsim {

// ---------------------------------------------------------------- charsets

std::string SimModem::EncodeText(const std::string& text) const {
  if (cscs_ == "HEX") return BytesToHex(text);
  if (cscs_ == "UCS2") {
    std::string wide;
    for (const char c : text) {
      wide += '\0';
      wide += c;
    }
    return BytesToHex(wide);
  }
  return text;
}

// In "HEX" the modem shows a USSD string as the octets that came over the
// air: packed septets for a 7-bit coding scheme.
std::string SimModem::EncodeUssd(const std::string& text, int dcs) const {
  if (cscs_ == "HEX" && SevenBitDcs(dcs)) return BytesToHex(PackSeptets(text));
  return EncodeText(text);
}

std::string SimModem::DecodeText(const std::string& text) const {
  if (cscs_ == "HEX") {
    const auto bytes = HexToBytes(text);
    if (!bytes) return text;
    if (Printable(*bytes)) return *bytes;
    return UnpackSeptets(*bytes);
  }
  if (cscs_ == "UCS2") {
    const auto bytes = HexToBytes(text);
    if (!bytes || bytes->size() % 2 != 0) return text;
    std::string narrow;
    for (size_t i = 1; i < bytes->size(); i += 2) narrow += (*bytes)[i];
    return narrow;
  }
  return text;
}

// ---------------------------------------------------------------- basic commands

SimModem::Outcome SimModem::CmdEcho(const AtCommand& c) {
  echo_ = c.value == 1;
  return {};
}

SimModem::Outcome SimModem::CmdVerbose(const AtCommand& c) {
  verbose_ = c.value != 0;
  return {};
}

SimModem::Outcome SimModem::CmdAccept(const AtCommand&) { return {}; }

SimModem::Outcome SimModem::CmdReset(const AtCommand&) {
  echo_ = storedEcho_;
  verbose_ = true;
  cmee_ = 0;
  cmgf_ = storedCmgf_;
  return {};
}

SimModem::Outcome SimModem::CmdFactory(const AtCommand&) {
  echo_ = true;
  verbose_ = true;
  cmee_ = 0;
  return {};
}

SimModem::Outcome SimModem::CmdStore(const AtCommand&) {
  storedEcho_ = echo_;
  storedCmgf_ = cmgf_;
  return {};
}

// ATI as this family answers it: 0 the manufacturer and model, 3 the
// revision, 4 and 5 the settings in memory and in EEPROM, 6 and 7 the data
// and voice features; any other number just OK.
SimModem::Outcome SimModem::CmdInfo(const AtCommand& c) {
  const auto settings = [this](int cmee) {
    Info(std::string("Q:0 V:") + (verbose_ ? "1" : "0") + " S0:000 S2:043 S3:013 S4:010 S5:008");
    Info("+CR:0 +CRC:0 +CMEE:" + std::to_string(cmee) + " +CBST:0,0,1");
    Info("+SPEAKER:0 +ECHO:0,1 &C:1 &D:2 %C:0");
    Info("+IPR:115200 +ICF:3,4 +IFC:2,2");
  };
  switch (c.value) {
    case -1:
    case 0:
      Info(profile_.manufacturer);
      Info(profile_.model);
      break;
    case 3: Info(profile_.revision); break;
    case 4: settings(cmee_); break;
    case 5: settings(0); break;
    case 6:
      Info("DATA RATES: AUTOBAUD,300,1200,1200/75,2400,4800,9600,14400");
      Info("DATA MODES: T/NT,ASYNCHRONOUS");
      Info("FAX CLASS 1,2");
      break;
    case 7: Info("SPEECH CODINGS: FR,EFR,HR"); break;
    default: break;
  }
  return {};
}

SimModem::Outcome SimModem::CmdIdentity(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  if (c.form != AtCommand::Form::Action) return Fail("ERROR");
  if (c.name == "+CGMI" || c.name == "+GMI") Info(profile_.manufacturer);
  else if (c.name == "+CGMM" || c.name == "+GMM") Info(profile_.model);
  else if (c.name == "+CGMR" || c.name == "+GMR") Info(profile_.revision);
  else Info(profile_.imei);
  return {};
}

SimModem::Outcome SimModem::CmdImsi(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  if (c.form != AtCommand::Form::Action) return Fail("ERROR");
  CardState* card = Card();
  if (!card) return CmeError(10);
  Info(card->imsi);
  return {};
}

SimModem::Outcome SimModem::CmdIccid(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  CardState* card = Card();
  if (!card) return CmeError(10);
  Info("+CCID: " + Quoted(card->iccid));
  return {};
}

SimModem::Outcome SimModem::CmdPin(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  if (!Card()) return CmeError(10);
  if (!simReady_) return CmeError(515);
  if (c.form == AtCommand::Form::Set) return CmeError(3);  // no PIN is asked for
  Info("+CPIN: READY");
  // This family ends the reply without a final result.
  return profile_.cpinOk ? Outcome{} : Outcome{Outcome::Kind::Deferred, ""};
}

SimModem::Outcome SimModem::CmdCmee(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+CMEE: (0-1)"); return {};
    case AtCommand::Form::Read: Info("+CMEE: " + std::to_string(cmee_)); return {};
    case AtCommand::Form::Set: {
      const auto v = ParseIntIn(c.args, 0, 2);
      if (!v) return CmeError(3);
      cmee_ = static_cast<int>(*v);
      return {};
    }
    case AtCommand::Form::Action: cmee_ = 0; return {};
  }
  return {};
}

SimModem::Outcome SimModem::CmdCmgf(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+CMGF: (0-1)"); return {};
    case AtCommand::Form::Read: Info("+CMGF: " + std::to_string(cmgf_)); return {};
    case AtCommand::Form::Set: {
      const auto v = ParseIntIn(c.args, 0, 1);
      if (!v) return CmeError(3);
      cmgf_ = static_cast<int>(*v);
      return {};
    }
    case AtCommand::Form::Action: return Fail("ERROR");
  }
  return {};
}

// The SMS settings in the modem's memory: this family keeps the message
// format there (AT+CSAS), so a reset brings back whatever mode was saved
// last, by this host or another program.
SimModem::Outcome SimModem::CmdSmsSettings(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) {
    Info(c.name + ": (0)");
    return {};
  }
  if (c.form == AtCommand::Form::Read) return Fail("ERROR");
  if (c.form == AtCommand::Form::Set && !ParseIntIn(c.args, 0, 0)) return CmsError(302);
  if (c.name == "+CSAS") storedCmgf_ = cmgf_;
  else cmgf_ = storedCmgf_;
  return {};
}

SimModem::Outcome SimModem::CmdCscs(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: {
      std::string list;
      for (const std::string& s : profile_.charsets) list += (list.empty() ? "" : ",") + Quoted(s);
      Info("+CSCS: (" + list + ")");
      return {};
    }
    case AtCommand::Form::Read: Info("+CSCS: " + Quoted(cscs_)); return {};
    case AtCommand::Form::Set: {
      const std::string cs = Upper(Unquote(c.args));
      if (std::find(profile_.charsets.begin(), profile_.charsets.end(), cs) == profile_.charsets.end())
        return CmeError(3);
      cscs_ = cs;
      return {};
    }
    case AtCommand::Form::Action: return Fail("ERROR");
  }
  return {};
}

SimModem::Outcome SimModem::CmdCsq(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) {
    Info("+CSQ: (0-31,99),(0-7,99)");
    return {};
  }
  if (c.form != AtCommand::Form::Action) return Fail("ERROR");
  Info("+CSQ: " + std::to_string(rssi_) + "," + std::to_string(ber_));
  return {};
}

SimModem::Outcome SimModem::CmdCfun(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+CFUN: (0,1)"); return {};
    case AtCommand::Form::Read: Info("+CFUN: 1"); return {};
    case AtCommand::Form::Action: return Fail("ERROR");
    case AtCommand::Form::Set: break;
  }
  const std::vector<std::string> a = SplitArgs(c.args);
  const auto fun = ParseIntIn(a[0], 0, 1);
  const auto reboot = a.size() > 1 ? ParseIntIn(a[1], 0, 1) : std::optional<long>(1);
  if (!fun || !reboot || a.size() > 2) return CmeError(3);
  if (*fun == 0) return {};  // radio off: the simulated network has no radio
  if (*reboot == 0) return {};  // "without rebooting"
  transcript_.Add(Direction::Event, "restart");
  const bool okAfter = profile_.cfunOk != ModemProfile::ResetOk::Before;
  followUps_.push_back([this, okAfter] { Boot(okAfter); });
  if (okAfter) return {Outcome::Kind::Deferred, ""};
  return {};
}

SimModem::Outcome SimModem::CmdWind(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+WIND: (0-32767)"); return {};
    case AtCommand::Form::Read: Info("+WIND: " + std::to_string(windMask_)); return {};
    case AtCommand::Form::Set: {
      const auto v = ParseIntIn(c.args, 0, 32767);
      if (!v) return CmeError(3);
      windMask_ = static_cast<int>(*v);
      return {};
    }
    case AtCommand::Form::Action: return Fail("ERROR");
  }
  return {};
}

SimModem::Outcome SimModem::CmdStsf(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test:
      Info("+STSF: (0-2),(160060C01F-5FFFFFFF7F),(1-255),(0-1)");
      return {};
    case AtCommand::Form::Read:
      Info("+STSF: " + std::to_string(stsfMode_) + "," + Quoted(stsfProfile_) + "," +
           std::to_string(stsfTimeout_) + "," + std::to_string(stsfAutoResponse_));
      return {};
    case AtCommand::Form::Action: return Fail("ERROR");
    case AtCommand::Form::Set: break;
  }
  const std::vector<std::string> a = SplitArgs(c.args);
  const auto mode = ParseIntIn(a[0], 0, 2);
  if (!mode || a.size() > 4) return CmeError(3);
  std::string profile = stsfProfile_;
  int timeout = stsfTimeout_, autoResponse = stsfAutoResponse_;
  if (a.size() > 1 && !a[1].empty()) {
    profile = Upper(Unquote(a[1]));
    const auto bytes = HexToBytes(profile);
    // The terminal profile is five bytes within the documented bounds.
    if (!bytes || profile.size() != 10 || profile < "160060C01F" || profile > "5FFFFFFF7F")
      return CmeError(3);
  }
  if (a.size() > 2 && !a[2].empty()) {
    const auto t = ParseIntIn(a[2], 1, 255);
    if (!t) return CmeError(3);
    timeout = static_cast<int>(*t);
  }
  if (a.size() > 3 && !a[3].empty()) {
    const auto r = ParseIntIn(a[3], 0, 1);
    if (!r) return CmeError(3);
    autoResponse = static_cast<int>(*r);
  }
  // Activation and deactivation take effect at the next AT+CFUN=1.
  if (*mode != 2) stsfMode_ = static_cast<int>(*mode);
  stsfProfile_ = profile;
  stsfTimeout_ = timeout;
  stsfAutoResponse_ = autoResponse;
  return {};
}

// ---------------------------------------------------------------- calls, SMS, USSD

SimModem::Outcome SimModem::CmdDial(const AtCommand& c) {
  std::string number = c.args;
  const bool voice = !number.empty() && number.back() == ';';
  if (voice) number.pop_back();
  number = Trim(number);
  std::string clean;
  for (const char ch : number)
    if (ch != ' ' && ch != '-') clean += ch;
  if (clean.empty()) return Fail("ERROR");
  if (!Card()) return CmeError(10);
  if (inCall_) return CmeError(3);
  if (!voice) {
    replyDelayMs_ = scenario_.Call(clean).delayMs;
    return Fail("NO CARRIER");  // no data service on this network
  }
  const CallSpec& spec = scenario_.Call(clean);
  replyDelayMs_ = spec.delayMs;
  transcript_.Add(Direction::Event, "dial " + clean);
  switch (spec.result) {
    case CallResult::Ok: break;
    case CallResult::NoCarrier: return Fail("NO CARRIER");
    case CallResult::Busy: return Fail("BUSY");
    case CallResult::NoAnswer: return Fail("NO ANSWER");
    case CallResult::Error: return Fail("ERROR");
  }
  ++gen_.call;
  const int dropMs = lineRule_ && lineRule_->dropMs >= 0 ? lineRule_->dropMs : spec.dropMs;
  followUps_.push_back([this, dropMs] {
    inCall_ = true;
    // Call 1 is the only call there is.
    if (windMask_ & kWindCallCreated.bit) Urc(Framed("+WIND: 5,1"));
    if (dropMs >= 0) {
      Later(dropMs, Scope::Call, [this] {
        inCall_ = false;
        transcript_.Add(Direction::Event, "network drops the call");
        std::string burst = Final("NO CARRIER");
        if (windMask_ & kWindCallReleased.bit) burst += Framed("+WIND: 6,1");
        Urc(burst);
      });
    }
  });
  return {};
}

SimModem::Outcome SimModem::CmdHangUp(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  if (inCall_) {
    transcript_.Add(Direction::Event, "hang up");
    if (windMask_ & kWindCallReleased.bit) {
      followUps_.push_back([this] { Urc(Framed("+WIND: 6,1")); });
    }
  }
  inCall_ = false;
  ++gen_.call;
  return {};
}

SimModem::Outcome SimModem::CmdCmgs(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  if (c.form != AtCommand::Form::Set) return Fail("ERROR");
  if (!Card()) return CmsError(310);
  const std::vector<std::string> a = SplitArgs(c.args);
  if (cmgf_ == 1) {
    const std::string number = DecodeText(Unquote(a[0]));
    if (number.empty()) return CmsError(305);
    entry_.kind = Entry::Kind::SmsText;
    entry_.number = number;
  } else {
    // PDU mode takes a length; the text-mode form is refused.
    const auto length = ParseIntIn(a[0], 1, 200);
    if (IsQuoted(a[0]) || !length) return CmsError(304);
    entry_.kind = Entry::Kind::SmsPdu;
    entry_.pduLength = static_cast<int>(*length);
  }
  entry_.text.clear();
  return {Outcome::Kind::Deferred, ""};
}

SimModem::Outcome SimModem::CmdCusd(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+CUSD: (0-2)"); return {};
    case AtCommand::Form::Read: Info("+CUSD: " + std::to_string(ussdMode_)); return {};
    case AtCommand::Form::Action: return {};
    case AtCommand::Form::Set: break;
  }
  const std::vector<std::string> a = SplitArgs(c.args);
  const auto n = ParseIntIn(a[0], 0, 2);
  const auto dcs = a.size() > 2 ? ParseIntIn(a[2], 0, 255) : std::optional<long>(15);
  if (!n || !dcs || a.size() > 3) return CmeError(3);
  if (*n == 2) return {};  // cancel: no session is kept open here
  ussdMode_ = static_cast<int>(*n);
  if (a.size() < 2 || a[1].empty()) return {};
  if (!Card()) return CmeError(10);
  const std::string code = DecodeText(Unquote(a[1]));
  const UssdSpec& spec = scenario_.Ussd(code);
  transcript_.Add(Direction::Event, "ussd " + code);
  // A network may refuse this one card or this one request (status 4, 5)
  // and still put a text of its own in the answer.
  const bool overridden = lineRule_ && lineRule_->ussdStatus >= 0;
  const int status = overridden ? lineRule_->ussdStatus : spec.status;
  const std::string& text = overridden && !lineRule_->ussdText.empty() ? lineRule_->ussdText : spec.text;
  if (status < 0 || ussdMode_ == 0) return {};
  std::string answer = "+CUSD: " + std::to_string(status);
  if (!text.empty() || status <= 1)
    answer += "," + Quoted(EncodeUssd(text, spec.dcs)) + "," + std::to_string(spec.dcs);
  const int delay = spec.delayMs;
  if (profile_.ussdAnswerBeforeOk) {
    // Some firmware waits for the network and answers before its OK.
    Info(answer);
    replyDelayMs_ = std::max(replyDelayMs_, delay);
    return {};
  }
  followUps_.push_back([this, delay, answer] {
    Later(delay, Scope::Sim, [this, answer] { Urc(Framed(answer)); });
  });
  return {};
}

SimModem::Outcome SimModem::CmdCreg(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+CREG: (0-2)"); return {};
    case AtCommand::Form::Read:
      Info("+CREG: " + std::to_string(cregMode_) + "," + (SimUsable() ? "1" : "0"));
      return {};
    case AtCommand::Form::Set: {
      const auto v = ParseIntIn(c.args, 0, 2);
      if (!v) return CmeError(3);
      cregMode_ = static_cast<int>(*v);
      return {};
    }
    case AtCommand::Form::Action: return Fail("ERROR");
  }
  return {};
}

SimModem::Outcome SimModem::CmdCops(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test:
      Info("+COPS: (2," + Quoted(profile_.operatorName) + "," + Quoted(profile_.operatorName) +
           ",\"51099\")");
      return {};
    case AtCommand::Form::Read:
      if (SimUsable()) Info("+COPS: 0,0," + Quoted(profile_.operatorName));
      else Info("+COPS: 0");
      return {};
    default: return {};
  }
}

SimModem::Outcome SimModem::CmdCsca(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Read:
      if (!Card()) return CmsError(310);
      Info("+CSCA: " + Quoted(EncodeText(smsc_)) + "," + (StartsWith(smsc_, "+") ? "145" : "129"));
      return {};
    case AtCommand::Form::Set: {
      const std::vector<std::string> a = SplitArgs(c.args);
      smsc_ = DecodeText(Unquote(a[0]));
      return {};
    }
    default: return {};
  }
}

SimModem::Outcome SimModem::CmdCpms(const AtCommand& c) {
  switch (c.form) {
    case AtCommand::Form::Test: Info("+CPMS: ((\"SM\"),(\"SM\"),(\"SM\"))"); return {};
    case AtCommand::Form::Read:
      if (!Card()) return CmsError(310);
      Info("+CPMS: \"SM\",0,20,\"SM\",0,20,\"SM\",0,20");
      return {};
    case AtCommand::Form::Set:
      if (!Card()) return CmsError(310);
      if (Upper(Unquote(SplitArgs(c.args)[0])) != "SM") return CmsError(302);
      Info("+CPMS: 0,20,0,20,0,20");
      return {};
    case AtCommand::Form::Action: return Fail("ERROR");
  }
  return {};
}

namespace {

// What each argument of the unmodelled settings may be, as their test forms
// and 27.005 / 27.007 give them; the modem refuses anything else.
const std::map<std::string, std::vector<std::pair<long, long>>>& SettingRanges() {
  static const std::map<std::string, std::vector<std::pair<long, long>>> ranges = {
      {"+CSMP", {{0, 255}, {0, 255}, {0, 255}, {0, 255}}},
      {"+CNMI", {{0, 2}, {0, 3}, {0, 3}, {0, 2}, {0, 1}}},
      {"+IPR", {{0, 115200}}},
      {"+CLIP", {{0, 1}}},
      {"+CRC", {{0, 1}}},
      {"+CSMS", {{0, 1}}},
  };
  return ranges;
}

bool SettingInRange(const std::string& name, const std::string& args) {
  const auto it = SettingRanges().find(name);
  if (it == SettingRanges().end()) return true;
  const std::vector<std::string> a = SplitArgs(args);
  if (a.size() > it->second.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if ((i == 0 || !a[i].empty()) && !ParseIntIn(a[i], it->second[i].first, it->second[i].second))
      return false;
  return true;
}

}  // namespace

// Commands a host may use that this simulation accepts without modelling.
SimModem::Outcome SimModem::CmdSimple(const AtCommand& c) {
  const bool read = c.form == AtCommand::Form::Read;
  const bool test = c.form == AtCommand::Form::Test;
  if (c.form == AtCommand::Form::Set && !SettingInRange(c.name, c.args)) return CmeError(3);
  if (c.name == "+CSMP") {
    if (read) Info("+CSMP: 1,167,0,0");
  } else if (c.name == "+CNMI") {
    if (read) Info("+CNMI: 0,1,0,0,0");
    if (test) Info("+CNMI: (0-2),(0-3),(0-3),(0-2),(0-1)");
  } else if (c.name == "+CPAS") {
    if (!test) Info(inCall_ ? "+CPAS: 4" : "+CPAS: 0");
  } else if (c.name == "+IPR") {
    if (read) Info("+IPR: 115200");
    if (test) Info("+IPR: (0,2400,4800,9600,19200,38400,57600,115200),()");
  } else if (c.name == "+CMGR") {
    if (c.form == AtCommand::Form::Set) return CmsError(321);
  } else if (c.name == "+CMGL" || c.name == "+CMGD") {
    if (!Card()) return CmsError(310);
  } else if (c.name == "+CLCC") {
    if (inCall_) Info("+CLCC: 1,0,0,0,0");
  } else if (c.name == "+CSMS") {
    if (read) Info("+CSMS: 0,1,1,1");
    if (test) Info("+CSMS: (0,1)");
  } else if (c.name == "+CBC") {
    if (!test) Info("+CBC: 0,0");
  }
  return {};
}

}  // namespace modemsim
