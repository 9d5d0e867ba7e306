#include "SoakJudge.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QListWidget>

#include <algorithm>
#include <cctype>

#include "SimText.h"
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

bool Within(const TranscriptEntry& e, TSoakTime from, TSoakTime to) { return e.at >= from && e.at <= to; }

// The modem's bytes from `from` to `to`, joined: an answer cut into chunks
// reads whole.
std::string ModemBytes(const std::vector<TranscriptEntry>& entries, TSoakTime from, TSoakTime to) {
  std::string bytes;
  for (const TranscriptEntry& e : entries)
    if (e.direction == Direction::FromModem && Within(e, from, to)) bytes += e.bytes;
  return bytes;
}

}  // namespace

const char* StepName(TSoakStep s) {
  switch (s) {
    case TSoakStep::Reg: return "Reg";
    case TSoakStep::Call: return "CALL";
    case TSoakStep::Call2: return "CALL2";
    case TSoakStep::Sms1: return "SMS 1";
    case TSoakStep::Sms2: return "SMS 2";
    case TSoakStep::CekPulsa: return "Cek Pulsa";
  }
  return "?";
}

TLineWatch::TLineWatch(TConsoleLine& l) : line(l) {
  QAbstractItemModel* model = l.lstFunc->model();
  QObject::connect(model, &QAbstractItemModel::rowsInserted, &l, [this, model](const QModelIndex&, int first, int last) {
    for (int row = first; row <= last; ++row)
      log.push_back({TSoakClock::now(), model->index(row, 0).data(Qt::UserRole).toByteArray().toStdString()});
  });
}

bool TLineWatch::Lime(TSoakStep s) const { return StaticTextColor(StepLabel(line, s)) == clLime; }
bool TLineWatch::Red(TSoakStep s) const { return StaticTextColor(StepLabel(line, s)) == clRed; }

void TLineWatch::Poll(TSoakTime now) {
  for (const TSoakStep s : kSoakSteps) {
    const bool lime = Lime(s);
    bool& was = wasLime_[static_cast<int>(s)];
    if (lime && !was) limes.push_back({s, now});
    was = lime;
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
  findings_.push_back({std::move(kind), line, std::move(what)});
}

long long TSoakJudge::Ms(TSoakTime t) const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t - origin_).count();
}

bool TSoakJudge::Evidence(TSoakStep step, const TSoakSession& s, TSoakTime limeAt, const modemsim::Transcript& t,
                          std::string& why) const {
  const std::vector<TranscriptEntry> entries = t.Entries();
  auto event = [&](const std::string& prefix, TSoakTime from) -> const TranscriptEntry* {
    const TranscriptEntry* found = nullptr;
    for (const TranscriptEntry& e : entries)
      if (e.direction == Direction::Event && Within(e, from, limeAt) && e.bytes.rfind(prefix, 0) == 0) found = &e;
    return found;  // the latest
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
      for (const TranscriptEntry& e : entries)
        if (e.direction == Direction::Event && e.at > dial->at && e.at < hangup->at &&
            (e.bytes.rfind("network drops", 0) == 0 || e.bytes.rfind("dial ", 0) == 0 ||
             e.bytes.rfind("restart", 0) == 0)) {
          why = "the call of " + number + " was cut (" + e.bytes + ") before the hang-up";
          return false;
        }
      const long long held = std::chrono::duration_cast<std::chrono::milliseconds>(hangup->at - dial->at).count();
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
      if (ModemBytes(entries, sent->at, limeAt).find("+CMGS:") == std::string::npos) {
        why = "the modem never answered +CMGS for the SMS to " + number;
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
      if (ModemBytes(entries, asked->at, limeAt).find("+CUSD: 0,") == std::string::npos) {
        why = "the network's USSD answer never came";
        return false;
      }
      return true;
    }
  }
  return false;
}

void TSoakJudge::CheckLimes(const TSoakSession& s, const TLineWatch& w, const modemsim::Transcript& t) {
  for (const TLineWatch::TLimeEntry& lime : w.limes) {
    if (lime.at < s.begin || lime.at > s.end) continue;
    std::string why;
    if (!Evidence(lime.step, s, lime.at, t, why))
      Add(std::string("false lime ") + StepName(lime.step), s.line,
          s.Name() + ": " + StepName(lime.step) + " lime at " + std::to_string(Ms(lime.at)) + " ms, but " + why);
  }
}

// A step given up turns its label red; a give-up the line only logs counts
// too, as long as the log says which step failed.
bool TSoakJudge::FailureShown(TSoakStep step, const TSoakSession& s, const TLineWatch& w) const {
  if (w.Red(step)) return true;
  static const char* const kFailed[] = {"fail", "gagal", "give up", "gave up", "giving up", "given up"};
  std::vector<const char*> topics;
  switch (step) {
    case TSoakStep::Reg: topics = {"reg"}; break;
    case TSoakStep::Call: topics = {"call", "dial"}; break;
    case TSoakStep::Call2: topics = {"call", "dial"}; break;
    case TSoakStep::Sms1: topics = {"sms"}; break;
    case TSoakStep::Sms2: topics = {"sms"}; break;
    case TSoakStep::CekPulsa: topics = {"pulsa", "ussd", "balance"}; break;
  }
  for (const TLineWatch::TLogEntry& e : w.log) {
    if (e.at < s.begin || e.at > s.end) continue;
    const std::string text = Lower(e.text);
    const bool failed = std::any_of(std::begin(kFailed), std::end(kFailed),
                                    [&](const char* k) { return text.find(k) != std::string::npos; });
    const bool topic =
        std::any_of(topics.begin(), topics.end(), [&](const char* k) { return text.find(k) != std::string::npos; });
    if (failed && topic) return true;
  }
  return false;
}

void TSoakJudge::CheckOutcome(const TSoakSession& s, const TLineWatch& w, TSoakTime now) {
  // A lime label must have turned lime for this card: one left over from the
  // card before says nothing about this one.
  for (const TSoakStep step : kSoakSteps) {
    if (!w.Lime(step)) continue;
    const bool turned = std::any_of(w.limes.begin(), w.limes.end(), [&](const TLineWatch::TLimeEntry& e) {
      return e.step == step && e.at >= s.begin && e.at <= now;
    });
    if (!turned)
      Add(std::string("lime carried over ") + StepName(step), s.line,
          s.Name() + ": " + StepName(step) + " was lime before the card went in and still is");
  }
  if (!w.Lime(TSoakStep::Reg)) {
    if (!FailureShown(TSoakStep::Reg, s, w))
      Add("no outcome Reg", s.line, s.Name() + ": the line is done with the card, not registered and no failure shown");
    return;
  }
  for (const TSoakStep step : kSoakSteps)
    if (step != TSoakStep::Reg && !w.Lime(step) && !FailureShown(step, s, w))
      Add(std::string("no outcome ") + StepName(step), s.line,
          s.Name() + ": the line is done with the card, " + StepName(step) + " neither lime nor shown failed");
}

void TSoakJudge::CheckGaps(int line, const modemsim::Transcript& t, TSoakTime from, TSoakTime to,
                           const std::vector<std::pair<TSoakTime, TSoakTime>>& cardWaits, long long limitMs) {
  std::vector<TSoakTime> sends{from};
  for (const TranscriptEntry& e : t.Entries())
    if (e.direction == Direction::ToModem && Within(e, from, to)) sends.push_back(e.at);
  sends.push_back(to);
  for (std::size_t i = 1; i < sends.size(); ++i) {
    // The quiet stretch between two commands, less the card waits inside it:
    // the longest piece left must stay within the limit.
    TSoakTime pieceStart = sends[i - 1];
    const TSoakTime gapEnd = sends[i];
    auto check = [&](TSoakTime a, TSoakTime b) {
      const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
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
