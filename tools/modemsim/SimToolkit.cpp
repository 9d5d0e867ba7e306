// The card's SIM Toolkit as the modem shows it: AT+STGI, AT+STGR, AT+STIN?
// and the card's steps from its scenario menu tree. Part of SimModem.
#include "SimModem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "AtFraming.h"
#include "SimText.h"

namespace modemsim {

namespace {

bool DigitsOnly(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || c == '+';
  });
}

}  // namespace

// ---------------------------------------------------------------- SIM Toolkit

const StkNode* SimModem::Root() {
  CardState* card = Card();
  if (!card || card->spec->menu.empty()) return nullptr;
  return Resolve(scenario_.Node(card->spec->menu));
}

const StkNode* SimModem::Resolve(const StkNode* node) {
  CardState* card = Card();
  for (int hops = 0; node && card && card->registered && !node->ifRegistered.empty() && hops < 16;
       ++hops)
    node = scenario_.Node(node->ifRegistered);
  return node;
}

std::string SimModem::StkItemLine(const StkItem& item, size_t count) const {
  std::string l = "+STGI: " + std::to_string(item.id) + "," + std::to_string(count) + "," +
                  Quoted(item.label) + "," + std::to_string(item.help);
  if (item.nextAction >= 0) l += "," + std::to_string(item.nextAction);
  return l;
}

void SimModem::StkFormatScreen(const StkNode& n) {
  switch (n.kind) {
    case StkKind::SetupMenu:
      // The manual's worked example leaves the title line out.
      if (profile_.menuTitle) Info("+STGI: " + Quoted(n.text));
      for (const StkItem& item : n.items) Info(StkItemLine(item, n.items.size()));
      break;
    case StkKind::SelectItem:
      // The manual gives "<default>,<title>"; field traces show two more
      // numbers before the title.
      Info("+STGI: " + std::to_string(n.defaultItem) + (profile_.selectHeaderLong ? ",0,0," : ",") +
           Quoted(n.text));
      for (const StkItem& item : n.items) Info(StkItemLine(item, n.items.size()));
      break;
    case StkKind::DisplayText:
      Info("+STGI: " + std::to_string(n.priority) + "," + Quoted(n.text) + "," +
           std::to_string(n.clear));
      break;
    case StkKind::GetInkey:
      Info("+STGI: " + std::to_string(n.format) + "," + std::to_string(n.help) + "," + Quoted(n.text));
      break;
    case StkKind::GetInput:
      Info("+STGI: " + std::to_string(n.format) + "," + std::to_string(n.echo) + "," +
           std::to_string(n.minLength) + "," + std::to_string(n.maxLength) + "," +
           std::to_string(n.help) + "," + Quoted(n.text));
      break;
    case StkKind::SendSms:
      Info("+STGI: " + Quoted(n.text));
      break;
    case StkKind::EndSession:
      break;
  }
}

void SimModem::StkShowLater(const std::string& nodeName, const StkNode* from) {
  const StkNode* node = scenario_.Node(nodeName);
  ++gen_.stk;
  pending_ = nullptr;
  clearTimerArmed_ = false;
  if (!node) {
    StkEndSession(profile_.stepMs);
    return;
  }
  if (from) trail_.push_back(from);
  const int delay = node->delayMs ? *node->delayMs : profile_.stepMs;
  Later(delay, Scope::Stk, [this, node] { StkShow(node); });
}

void SimModem::StkAdvance(const std::string& nextName, const StkNode* from) {
  if (nextName.empty()) {
    ++gen_.stk;
    pending_ = nullptr;
    StkEndSession(profile_.stepMs);
    return;
  }
  StkShowLater(nextName, from);
}

void SimModem::StkEndSession(int delayMs) {
  ++gen_.stk;
  pending_ = nullptr;
  Later(delayMs, Scope::Stk, [this] {
    sessionOpen_ = false;
    trail_.clear();
    lastStin_ = 99;
    Urc(Framed("+STIN: 99"));
  });
}

void SimModem::StkShow(const StkNode* node) {
  node = Resolve(node);
  CardState* card = Card();
  if (!node || !card) return;
  if (node->registers && !card->registered) {
    card->registered = true;
    transcript_.Add(Direction::Event, "card " + cardId_ + " registered");
  }
  if (node->kind == StkKind::EndSession) {
    sessionOpen_ = false;
    trail_.clear();
    lastStin_ = 99;
    Urc(Framed("+STIN: 99"));
    return;
  }
  if (node->kind == StkKind::SetupMenu) {
    // The card sends its main menu again: a new SETUP MENU ends the session.
    sessionOpen_ = false;
    trail_.clear();
    menuReady_ = true;
    lastStin_ = 0;
    Urc(Framed("+STIN: 0"));
    return;
  }
  pending_ = node;
  lastStin_ = static_cast<int>(node->kind);
  std::string burst = Framed("+STIN: " + std::to_string(lastStin_));
  if (node->kind == StkKind::SendSms) {
    // The modem sends the SMS itself; with AutoResponse the host is shown
    // the text at once, and the card goes on without an answer.
    if (stsfAutoResponse_ == 1) burst += Framed("+STGI: " + Quoted(node->text));
    Urc(burst);
    const std::string next = node->next;
    Later(profile_.stepMs, Scope::Stk, [this, next, node] { StkAdvance(next, node); });
    return;
  }
  Urc(burst);
  // The user has STSF <Timeout> x 10 s to react; then the modem answers the
  // card "no response from user" and the card closes the session.
  Later(stsfTimeout_ * profile_.stkTimeoutUnitMs, Scope::Stk, [this] {
    pending_ = nullptr;
    ++gen_.stk;
    lastStin_ = 98;
    Urc(Framed("+STIN: 98"));
    StkEndSession(profile_.stepMs);
  });
}

void SimModem::StkAnswerText(const StkNode* node, const std::string& text) {
  if (!node) return;
  bool ok;
  if (!node->accept.empty()) {
    ok = std::find(node->accept.begin(), node->accept.end(), text) != node->accept.end();
  } else {
    const int len = static_cast<int>(text.size());
    ok = len >= node->minLength && len <= node->maxLength && (node->format != 0 || DigitsOnly(text));
  }
  transcript_.Add(Direction::Event, std::string("card ") + (ok ? "accepts" : "refuses") + " \"" +
                                        Escape(text) + "\"");
  StkAdvance(ok ? node->next : node->wrong, node);
}

SimModem::Outcome SimModem::CmdStgi(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) {
    Info("+STGI: (0-11)");
    return {};
  }
  if (c.form != AtCommand::Form::Set) return Fail("ERROR");
  if (!stkActive_) return CmeError(4);
  const auto type = ParseIntIn(c.args, 0, 11);
  if (!type) return CmeError(3);
  if (*type == 0) {
    const StkNode* root = menuReady_ ? Root() : nullptr;
    if (!root) return CmeError(518);
    StkFormatScreen(*root);
    return {};
  }
  if (!pending_) return CmeError(518);
  if (static_cast<int>(pending_->kind) != *type) return CmeError(3);
  StkFormatScreen(*pending_);
  if (pending_->kind == StkKind::DisplayText && pending_->clear == 0 && !clearTimerArmed_) {
    clearTimerArmed_ = true;
    const StkNode* node = pending_;
    Later(profile_.displayClearMs, Scope::Stk, [this, node] { StkAdvance(node->next, node); });
  }
  return {};
}

SimModem::Outcome SimModem::CmdStgr(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) {
    Info("+STGR: (0-11,95-99)");
    return {};
  }
  if (c.form != AtCommand::Form::Set) return Fail("ERROR");
  if (!stkActive_) return CmeError(4);
  const std::vector<std::string> a = SplitArgs(c.args);
  const auto type = ParseInt(a[0]);
  const long result = a.size() > 1 ? ParseInt(a[1]).value_or(-1) : -1;  // -1: none
  const std::string data = a.size() > 2 ? Unquote(a[2]) : std::string();
  if (!type) return CmeError(3);
  auto itemOf = [&](const StkNode& n) -> const StkItem* {
    const auto id = ParseInt(data);
    if (!id) return nullptr;
    for (const StkItem& item : n.items)
      if (item.id == *id) return &item;
    return nullptr;
  };
  auto pendingIs = [&](StkKind k) { return pending_ && pending_->kind == k; };

  if (*type == 0) {
    // A main-menu choice is an envelope: possible once the menu has come.
    const StkNode* root = menuReady_ ? Root() : nullptr;
    if (!root) return CmeError(3);
    if (result == 2) return {};
    const StkItem* item = result == 1 ? itemOf(*root) : nullptr;
    if (!item) return CmeError(3);
    sessionOpen_ = true;
    trail_.clear();
    const std::string next = item->next;
    followUps_.push_back([this, next, root] { StkShowLater(next, root); });
    ++gen_.stk;
    pending_ = nullptr;
    return {};
  }
  if (*type == 6) {
    if (!pendingIs(StkKind::SelectItem)) return CmeError(3);
    const StkNode* node = pending_;
    if (result == 1) {
      const StkItem* item = itemOf(*node);
      if (!item) return CmeError(3);
      const std::string next = item->next;
      followUps_.push_back([this, next, node] { StkShowLater(next, node); });
    } else if (result == 0) {
      followUps_.push_back([this] { StkEndSession(profile_.stepMs); });
    } else if (result == 3) {
      // Back: to the list this one was chosen from; from a first-level
      // list that is the main menu, which ends the session.
      const StkNode* back = trail_.empty() ? nullptr : trail_.back();
      if (back) trail_.pop_back();
      if (back && back->kind == StkKind::SelectItem) {
        const std::string name = back->name;
        followUps_.push_back([this, name] { StkShowLater(name, nullptr); });
      } else {
        followUps_.push_back([this] { StkEndSession(profile_.stepMs); });
      }
    } else if (result != 2) {
      return CmeError(3);
    }
    if (result != 2) {
      ++gen_.stk;
      pending_ = nullptr;
    }
    return {};
  }
  if (*type == 1) {
    if (!pendingIs(StkKind::DisplayText)) return CmeError(3);
    const StkNode* node = pending_;
    ++gen_.stk;
    pending_ = nullptr;
    const std::string next = node->next;
    followUps_.push_back([this, next, node] { StkAdvance(next, node); });
    return {};
  }
  if (*type == 2 || *type == 3) {
    const StkKind kind = *type == 2 ? StkKind::GetInkey : StkKind::GetInput;
    if (!pendingIs(kind)) return CmeError(3);
    if (result == 0) {
      ++gen_.stk;
      pending_ = nullptr;
      followUps_.push_back([this] { StkEndSession(profile_.stepMs); });
      return {};
    }
    if (result == 2) return {};
    if (result != 1) return CmeError(3);
    if (kind == StkKind::GetInkey && a.size() > 2 && IsQuoted(a[2])) {
      // Get Inkey may carry its key in the command itself.
      const StkNode* node = pending_;
      ++gen_.stk;
      followUps_.push_back([this, node, key = data] { StkAnswerText(node, key); });
      return {};
    }
    entry_.kind = Entry::Kind::StkInput;
    entry_.text.clear();
    return {Outcome::Kind::Deferred, ""};
  }
  if (*type >= 95 && *type <= 99) {
    // Terminal responses that end the session (99: the user's abort).
    if (!pending_ && !sessionOpen_) return CmeError(3);
    ++gen_.stk;
    pending_ = nullptr;
    followUps_.push_back([this] { StkEndSession(profile_.stepMs); });
    return {};
  }
  return CmeError(3);
}

SimModem::Outcome SimModem::CmdStin(const AtCommand& c) {
  if (c.form == AtCommand::Form::Test) return {};
  if (c.form != AtCommand::Form::Read) return Fail("ERROR");
  if (!stkActive_) return CmeError(4);
  if (lastStin_ < 0) return CmeError(518);
  Info("+STIN: " + std::to_string(lastStin_));
  return {};
}


}  // namespace modemsim
