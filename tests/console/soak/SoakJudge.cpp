#include "SoakJudge.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QListWidget>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string_view>

#include "SimText.h"
#include "uConsoleLine.h"
#include "uToolkit.h"

namespace corvane::test {

using modemsim::Direction;
using modemsim::TranscriptEntry;

namespace {

QLabel* StepLabel(TConsoleLine& l, TSoakStep s) {
  switch (s) {
    case TSoakStep::Reg: return l.lRegistrasi;
    case TSoakStep::Call: return l.lCall;
    case TSoakStep::Call2: return l.lCall2;
    case TSoakStep::Sms1: return l.lSMS1;
    case TSoakStep::Sms2: return l.lSMS2;
    case TSoakStep::CekPulsa: return l.lCekPulsa;
  }
  return nullptr;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

bool Within(TSoakTime at, TSoakTime from, TSoakTime to) { return at >= from && at <= to; }

long long Between(TSoakTime a, TSoakTime b) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

}  // namespace

namespace {

// One direction's bytes cut into lines: a byte of `ends` ends a line, one
// of `drops` throws away what came before it. Empty lines are left out.
std::vector<TSoakLine> CutLines(const TSoakEntries& t, Direction d, std::string_view ends, std::string_view drops) {
  std::vector<TSoakLine> out;
  std::string pending;
  for (const TranscriptEntry& e : t) {
    if (e.direction != d) continue;
    for (const char c : e.bytes) {
      if (drops.find(c) != std::string_view::npos) {
        pending.clear();
      } else if (ends.find(c) != std::string_view::npos) {
        if (!pending.empty()) out.push_back({e.at, pending});
        pending.clear();
      } else {
        pending += c;
      }
    }
  }
  return out;
}

}  // namespace

// What follows a Ctrl-Z or ESC (the end of an SMS text or a toolkit input)
// starts a new command; an LF the host sends after its CR leads the next.
std::vector<TSoakLine> HostCommands(const TSoakEntries& t) {
  std::vector<TSoakLine> out;
  for (TSoakLine& l : CutLines(t, Direction::ToModem, "\r", "\x1a\x1b")) {
    l.text.erase(0, std::min(l.text.size(), l.text.find_first_not_of(" \n")));
    if (l.text.size() >= 2 && std::toupper(static_cast<unsigned char>(l.text[0])) == 'A' &&
        std::toupper(static_cast<unsigned char>(l.text[1])) == 'T')
      out.push_back(std::move(l));
  }
  return out;
}

std::vector<TSoakLine> ModemLines(const TSoakEntries& t) { return CutLines(t, Direction::FromModem, "\r\n", ""); }

namespace {

// The modem refused the command: an error, or a call not put through.
bool Refusal(const std::string& line, const std::string& command) {
  if (line == "ERROR" || StartsWith(line, "+CME ERROR") || StartsWith(line, "+CMS ERROR")) return true;
  return StartsWith(command, "ATD") && (line == "BUSY" || line == "NO CARRIER" || line == "NO ANSWER");
}

// Something the modem reported of its own that gives a line reason to ask
// again at once: the card announced a screen, or came or went.
bool NewsFromTheCard(const std::string& line) { return StartsWith(line, "+STIN:") || StartsWith(line, "+WIND:"); }

bool Failure(const std::string& lowerText) {
  static const char* const kWords[] = {"fail", "gagal", "give up", "gave up", "giving up", "given up",
                                       "refused", "error", "budget", "no answer"};
  return std::any_of(std::begin(kWords), std::end(kWords),
                     [&](const char* k) { return lowerText.find(k) != std::string::npos; });
}

std::vector<const char*> Topics(TSoakStep step) {
  switch (step) {
    case TSoakStep::Reg: return {"reg"};
    case TSoakStep::Call:
    case TSoakStep::Call2: return {"call", "dial", "hang"};
    case TSoakStep::Sms1:
    case TSoakStep::Sms2: return {"sms"};
    case TSoakStep::CekPulsa: return {"pulsa", "ussd", "balance"};
  }
  return {};
}

const std::vector<TLineRecord::TTurn>* TurnsOf(const TLineRecord& r, bool lime) { return lime ? &r.limes : &r.reds; }

bool TurnedWithin(const std::vector<TLineRecord::TTurn>& turns, TSoakStep step, TSoakTime from, TSoakTime to) {
  return std::any_of(turns.begin(), turns.end(),
                     [&](const TLineRecord::TTurn& e) { return e.step == step && Within(e.at, from, to); });
}

// A label is sampled every pass of the soak's loop: the log line written
// with it stands at most this far from the sample.
constexpr long long kSampleSlackMs = 1500;

}  // namespace

TLineWatch::TLineWatch(TConsoleLine& l) : line(l) {
  QAbstractItemModel* model = l.lstFunc->model();
  QObject::connect(model, &QAbstractItemModel::rowsInserted, &l, [this, model](const QModelIndex&, int first, int last) {
    for (int row = first; row <= last; ++row)
      record.log.push_back({TSoakClock::now(), model->index(row, 0).data(Qt::UserRole).toByteArray().toStdString()});
  });
}

bool TLineWatch::Lime(TSoakStep s) const { return StaticTextColor(StepLabel(line, s)) == clLime; }
bool TLineWatch::Red(TSoakStep s) const { return StaticTextColor(StepLabel(line, s)) == clRed; }

void TLineWatch::Poll(TSoakTime now) {
  for (const TSoakStep s : kSoakSteps) {
    const auto i = static_cast<std::size_t>(s);
    const bool lime = Lime(s), red = Red(s);
    if (lime && !wasLime_[i]) record.limes.push_back({s, now});
    if (red && !wasRed_[i]) record.reds.push_back({s, now});
    wasLime_[i] = lime;
    wasRed_[i] = red;
  }
}

std::string TLineWatch::Labels() const {
  std::string shown;
  for (const TSoakStep s : kSoakSteps) shown += Lime(s) ? '+' : Red(s) ? 'x' : '-';
  return shown;
}

std::string TSoakSession::Summary() const {
  static const char* const kEnds[] = {"running", "done", "swapped", "unplugged", "never finished",
                                      "cut short by the run's limit"};
  return Name() + ": " + kEnds[static_cast<int>(how)] + ", Reg CALL CALL2 SMS1 SMS2 Pulsa " + labels;
}

std::string TSoakSession::Name() const {
  return "line " + std::to_string(line) + " card " + std::to_string(index) + " (" + card.id + ")";
}

void TSoakJudge::Add(std::string kind, int line, std::string what) {
  if (++counts_[{kind, line}] <= ListedPerKind) findings_.push_back({std::move(kind), line, std::move(what)});
}

std::vector<TSoakFinding> TSoakJudge::Findings() const {
  std::vector<TSoakFinding> all = findings_;
  for (const auto& [key, count] : counts_)
    if (count > ListedPerKind)
      all.push_back({key.first, key.second,
                     "line " + std::to_string(key.second) + ": " + std::to_string(count - ListedPerKind) +
                         " more of these"});
  return all;
}

long long TSoakJudge::Ms(TSoakTime t) const { return Between(origin_, t); }

bool TSoakJudge::Evidence(TSoakStep step, const TSoakSession& s, TSoakTime limeAt, const TSoakEntries& t,
                          std::string& why) const {
  auto event = [&](const std::string& prefix, TSoakTime from) -> const TranscriptEntry* {
    const TranscriptEntry* found = nullptr;
    for (const TranscriptEntry& e : t)
      if (e.direction == Direction::Event && Within(e.at, from, limeAt) && StartsWith(e.bytes, prefix)) found = &e;
    return found;  // the latest
  };
  // The modem's lines from `from` to the lime, in order.
  auto linesAfter = [&](TSoakTime from) {
    std::vector<std::string> lines;
    for (const TSoakLine& l : ModemLines(t))
      if (Within(l.at, from, limeAt)) lines.push_back(l.text);
    return lines;
  };
  switch (step) {
    case TSoakStep::Reg:
      if (event("card " + s.card.id + " registered", s.begin)) return true;
      why = "the card never registered";
      return false;
    case TSoakStep::Call:
    case TSoakStep::Call2: {
      const std::string number = step == TSoakStep::Call ? card_.no2dial : card_.no2dial2;
      // Connected and held: the call ended by the line's own hang-up, not by
      // the network, and it lasted about the call length.
      const TranscriptEntry* hangup = event("hang up", s.begin);
      if (!hangup) {
        why = "no call was up when the line hung up";
        return false;
      }
      const TranscriptEntry* dial = event("dial " + number, s.begin);
      if (!dial || dial->at > hangup->at) {
        why = "no dial of " + number + " before the hang-up";
        return false;
      }
      for (const TranscriptEntry& e : t)
        if (e.direction == Direction::Event && e.at > dial->at && e.at < hangup->at &&
            (StartsWith(e.bytes, "network drops") || StartsWith(e.bytes, "dial ") || StartsWith(e.bytes, "restart"))) {
          why = "the call of " + number + " was cut (" + e.bytes + ") before the hang-up";
          return false;
        }
      const long long held = Between(dial->at, hangup->at);
      if (held < card_.waktudial * 1000LL - 500) {
        why = "the call of " + number + " was held only " + std::to_string(held) + " ms";
        return false;
      }
      return true;
    }
    case TSoakStep::Sms1:
    case TSoakStep::Sms2: {
      const bool first = step == TSoakStep::Sms1;
      const std::string number = first ? card_.phpenerimasms : card_.phpenerimasms2;
      const std::string text = first ? card_.smstextsend : card_.smstextsend2;
      const TranscriptEntry* sent = event("sms to " + number + ": " + modemsim::Escape(text), s.begin);
      if (!sent) {
        why = "the modem accepted no SMS \"" + text + "\" to " + number;
        return false;
      }
      // The network's message reference, then the final OK.
      static const std::regex kReference(R"(\+CMGS: \d+)");
      const std::vector<std::string> lines = linesAfter(sent->at);
      auto ref = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return std::regex_match(l, kReference); });
      if (ref == lines.end() || std::find(ref, lines.end(), "OK") == lines.end()) {
        why = "the modem never answered +CMGS: <mr> and OK for the SMS to " + number;
        return false;
      }
      return true;
    }
    case TSoakStep::CekPulsa: {
      const TranscriptEntry* asked = event("ussd " + card_.cekpulsa, s.begin);
      if (!asked) {
        why = "the modem sent no USSD " + card_.cekpulsa;
        return false;
      }
      // Only an answer with a text, of status 0, 1 or 2, is a balance.
      static const std::regex kAnswer(R"(\+CUSD: [012],".+".*)");
      const std::vector<std::string> lines = linesAfter(asked->at);
      if (std::none_of(lines.begin(), lines.end(), [](const std::string& l) { return std::regex_match(l, kAnswer); })) {
        why = "the network's USSD answer with a balance never came";
        return false;
      }
      return true;
    }
  }
  return false;
}

void TSoakJudge::CheckLimes(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t) {
  for (const TLineRecord::TTurn& lime : r.limes) {
    if (!Within(lime.at, s.begin, s.end)) continue;
    std::string why;
    if (!Evidence(lime.step, s, lime.at, t, why))
      Add(std::string("false lime ") + StepName(lime.step), s.line,
          s.Name() + ": " + StepName(lime.step) + " lime at " + std::to_string(Ms(lime.at)) + " ms, but " + why);
  }
}

// A label lime or red at the end of a stay turned so during it, once the
// line has taken the card up: a colour left from the card before says
// nothing about this one. Taken up: the line sent a command after the
// modem reported the card.
void TSoakJudge::CheckCarried(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t) {
  const std::vector<TSoakLine> modem = ModemLines(t);
  auto report = std::find_if(modem.begin(), modem.end(), [&](const TSoakLine& l) {
    return Within(l.at, s.begin, s.end) && l.text == "+WIND: 1";
  });
  if (report == modem.end()) return;
  const std::vector<TSoakLine> sent = HostCommands(t);
  auto takenUp = std::find_if(sent.begin(), sent.end(), [&](const TSoakLine& c) { return Within(c.at, report->at, s.end); });
  if (takenUp == sent.end()) return;
  for (const TSoakStep step : kSoakSteps)
    for (const bool lime : {true, false}) {
      if (lime ? !s.Lime(step) : !s.Red(step)) continue;
      if (TurnedWithin(*TurnsOf(r, lime), step, s.begin, s.end)) continue;
      Add(std::string(lime ? "lime" : "red") + " carried over " + StepName(step), s.line,
          s.Name() + ": " + StepName(step) + " was " + (lime ? "lime" : "red") +
              " when the card went in and still is, though the line took the card up at " +
              std::to_string(Ms(takenUp->at)) + " ms (" + takenUp->text + ")");
    }
}

void TSoakJudge::CheckPlan(const TSoakSession& s, const TLineRecord& r) {
  // A lime left from the card before is not this card's (CheckCarried).
  for (const TSoakStep step : kSoakSteps)
    if (s.card.Expect(step) == TSoakExpect::NotLime && s.Lime(step) && TurnedWithin(r.limes, step, s.begin, s.end))
      Add(std::string("lime the plan rules out ") + StepName(step), s.line,
          s.Name() + ": " + StepName(step) + " lime, but the card or the network makes it impossible");
  // A card cut short by the run's end had less than its allowance.
  if (!s.card.CanSucceed() || s.how == TSoakSession::TEnd::CutShort) return;
  std::string missing;
  for (const TSoakStep step : kSoakSteps)
    if (s.card.Expect(step) == TSoakExpect::Lime && !s.Lime(step)) missing += std::string(missing.empty() ? "" : ", ") + StepName(step);
  if (!missing.empty())
    Add("planned lime missing", s.line,
        s.Name() + ": nothing planned stood in the way, but it ended without " + missing + " lime (labels " + s.labels + ")");
}

bool TSoakJudge::Tried(TSoakStep step, const TSoakSession& s, const TSoakEntries& t) const {
  std::vector<std::string> sent;
  for (const TSoakLine& c : HostCommands(t))
    if (Within(c.at, s.begin, s.end)) sent.push_back(c.text);
  auto any = [&](auto pred) { return std::any_of(sent.begin(), sent.end(), pred); };
  switch (step) {
    case TSoakStep::Reg: return !sent.empty();
    case TSoakStep::Call: return any([&](const std::string& c) { return StartsWith(c, "ATD" + card_.no2dial); });
    case TSoakStep::Call2: return any([&](const std::string& c) { return StartsWith(c, "ATD" + card_.no2dial2); });
    case TSoakStep::Sms1:
    case TSoakStep::Sms2: {
      const std::string number = step == TSoakStep::Sms1 ? card_.phpenerimasms : card_.phpenerimasms2;
      // A modem in PDU mode is first switched to text: that is the SMS's try too.
      return any([&](const std::string& c) {
        return StartsWith(c, "AT+CMGF") || (StartsWith(c, "AT+CMGS") && c.find(number) != std::string::npos);
      });
    }
    case TSoakStep::CekPulsa: return any([](const std::string& c) { return StartsWith(c, "AT+CUSD"); });
  }
  return false;
}

// The line said in its log why it gave the step up: a failure line about
// the step, or one written with the red label.
bool TSoakJudge::LoggedWhy(TSoakStep step, const TSoakSession& s, const TLineRecord& r) const {
  const std::vector<const char*> topics = Topics(step);
  for (const TLineRecord::TLogEntry& e : r.log) {
    if (!Within(e.at, s.begin, s.end)) continue;
    const std::string text = Lower(e.text);
    if (!Failure(text)) continue;
    if (std::any_of(topics.begin(), topics.end(), [&](const char* k) { return text.find(k) != std::string::npos; }))
      return true;
    for (const TLineRecord::TTurn& red : r.reds)
      if (red.step == step && Within(red.at, s.begin, s.end) && std::llabs(Between(e.at, red.at)) <= kSampleSlackMs)
        return true;
  }
  return false;
}

void TSoakJudge::CheckOutcome(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t) {
  // A red step of this card was tried for this card, and the log says why.
  for (const TSoakStep step : kSoakSteps) {
    if (!s.Red(step) || !TurnedWithin(r.reds, step, s.begin, s.end)) continue;
    if (!Tried(step, s, t))
      Add(std::string("red untried ") + StepName(step), s.line,
          s.Name() + ": " + StepName(step) + " shown red, but the line never tried it for this card");
    if (!LoggedWhy(step, s, r))
      Add(std::string("red without why ") + StepName(step), s.line,
          s.Name() + ": " + StepName(step) + " shown red with no log line saying why");
  }
  if (s.how != TSoakSession::TEnd::Finished) return;
  // The line is done with the card: every step it reached ended lime or
  // red. Past a red step, later steps may stay untouched only when the
  // card's reset budget ran out there.
  if (!s.Lime(TSoakStep::Reg)) {
    if (!s.Red(TSoakStep::Reg))
      Add("no outcome Reg", s.line, s.Name() + ": the line is done with the card, Reg neither lime nor red");
    return;
  }
  int resets = 0;
  for (const TSoakLine& c : HostCommands(t)) resets += Within(c.at, s.begin, s.end) && StartsWith(c.text, "AT+CFUN=1");
  bool budgetSpentOnRed = false;
  for (const TSoakStep step : kSoakSteps) {
    if (step == TSoakStep::Reg || s.Lime(step)) continue;
    if (s.Red(step)) {
      budgetSpentOnRed = budgetSpentOnRed || resets >= kSoakResetBudget;
      continue;
    }
    if (budgetSpentOnRed) continue;
    Add(std::string("no outcome ") + StepName(step), s.line,
        s.Name() + ": the line is done with the card, " + StepName(step) + " neither lime nor red (labels " + s.labels + ")");
  }
}

// The budget and the pace belong to the card: a new card starts afresh.
void TSoakJudge::CheckResets(const TSoakSession& s, const TSoakEntries& t) {
  std::vector<TSoakTime> at;
  for (const TSoakLine& c : HostCommands(t))
    if (Within(c.at, s.begin, s.end) && StartsWith(c.text, "AT+CFUN=1")) at.push_back(c.at);
  for (std::size_t i = 1; i < at.size(); ++i)
    if (Between(at[i - 1], at[i]) < kSoakResetPaceMs)
      Add("reset pace", s.line,
          s.Name() + ": resets at " + std::to_string(Ms(at[i - 1])) + " ms and " + std::to_string(Ms(at[i])) +
              " ms, " + std::to_string(Between(at[i - 1], at[i])) + " ms apart");
  if (static_cast<int>(at.size()) <= kSoakResetBudget) return;
  std::string times;
  for (const TSoakTime a : at) times += (times.empty() ? "" : ", ") + std::to_string(Ms(a));
  Add("reset budget", s.line,
      s.Name() + ": " + std::to_string(at.size()) + " resets in one card's stay (at most " +
          std::to_string(kSoakResetBudget) + "), at " + times + " ms");
}

void TSoakJudge::CheckSession(const TSoakSession& s, const TLineRecord& r, const TSoakEntries& t) {
  CheckLimes(s, r, t);
  CheckCarried(s, r, t);
  CheckPlan(s, r);
  CheckOutcome(s, r, t);
  CheckResets(s, t);
}

void TSoakJudge::CheckPacing(int line, const TSoakEntries& t) {
  const std::vector<TSoakLine> sent = HostCommands(t);
  const std::vector<TSoakLine> modem = ModemLines(t);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const TSoakLine& c = sent[i];
    // Refused: a refusal came before the next command went out.
    const TSoakTime next = i + 1 < sent.size() ? sent[i + 1].at : TSoakTime::max();
    auto refusal = std::find_if(modem.begin(), modem.end(), [&](const TSoakLine& l) {
      return l.at > c.at && l.at <= next && Refusal(l.text, c.text);
    });
    if (refusal == modem.end()) continue;
    auto again = std::find_if(sent.begin() + static_cast<std::ptrdiff_t>(i) + 1, sent.end(),
                              [&](const TSoakLine& d) { return d.text == c.text; });
    if (again == sent.end() || Between(c.at, again->at) >= kSoakRetryPaceMs) continue;
    // News since the command went out counts: a card that announces its
    // menu after the request, ahead of a late refusal, is asked at once.
    const bool news = std::any_of(modem.begin(), modem.end(), [&](const TSoakLine& l) {
      return l.at >= c.at && l.at <= again->at && NewsFromTheCard(l.text);
    });
    if (!news)
      Add("retry pace", line,
          "line " + std::to_string(line) + ": " + modemsim::Escape(c.text) + " refused (" + refusal->text + ") at " +
              std::to_string(Ms(refusal->at)) + " ms and sent again " + std::to_string(Between(c.at, again->at)) +
              " ms after the first");
  }
}

void TSoakJudge::CheckRun(const std::vector<TSoakSession>& sessions) {
  const bool registered = std::any_of(sessions.begin(), sessions.end(), [](const TSoakSession& s) { return s.Lime(TSoakStep::Reg); });
  if (!registered) {
    Add("empty run", 0, "no card of the run ended registered");
    return;
  }
  const bool stepDone = std::any_of(sessions.begin(), sessions.end(), [](const TSoakSession& s) {
    return s.Lime(TSoakStep::Reg) && std::any_of(std::begin(kSoakSteps) + 1, std::end(kSoakSteps),
                                                 [&](TSoakStep step) { return s.Lime(step); });
  });
  if (!stepDone) Add("empty run", 0, "no step after a registration ended lime in the whole run");
}

void TSoakJudge::CheckGaps(int line, const TSoakEntries& t, TSoakTime from, TSoakTime to,
                           const std::vector<std::pair<TSoakTime, TSoakTime>>& cardWaits, long long limitMs) {
  std::vector<TSoakTime> sends{from};
  for (const TranscriptEntry& e : t)
    if (e.direction == Direction::ToModem && Within(e.at, from, to)) sends.push_back(e.at);
  sends.push_back(to);
  for (std::size_t i = 1; i < sends.size(); ++i) {
    // The quiet stretch between two commands, less the card waits inside it:
    // the longest piece left must stay within the limit.
    TSoakTime pieceStart = sends[i - 1];
    const TSoakTime gapEnd = sends[i];
    auto check = [&](TSoakTime a, TSoakTime b) {
      const long long ms = Between(a, b);
      if (ms > limitMs)
        Add("stall", line,
            "line " + std::to_string(line) + " sent nothing from " + std::to_string(Ms(a)) + " ms to " +
                std::to_string(Ms(b)) + " ms (" + std::to_string(ms) + " ms) without waiting for a card");
    };
    std::vector<std::pair<TSoakTime, TSoakTime>> waits;
    for (const auto& w : cardWaits)
      if (w.second > pieceStart && w.first < gapEnd) waits.push_back(w);
    std::sort(waits.begin(), waits.end());
    for (const auto& [a, b] : waits) {
      if (a > pieceStart) check(pieceStart, a);
      pieceStart = std::max(pieceStart, b);
    }
    if (gapEnd > pieceStart) check(pieceStart, gapEnd);
  }
}

}  // namespace corvane::test
