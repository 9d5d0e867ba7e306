#include "uAtLines.h"

#include <algorithm>
#include <array>

namespace corvane::at {

namespace {

// What the modem may send unasked on a console line. Only the card reports
// are acted on wherever they arrive; the others matter to the receivers that
// must not mistake them for an answer.
constexpr std::array<std::string_view, 4> kUnsolicitedPrefixes = {"+WIND:", "+STIN:", "+CMTI:", "+CUSD:"};

// Unsolicited lines no step acts on; the two with a line of text behind them.
constexpr std::array<std::string_view, 11> kForeignPrefixes = {
    "RING", "+CRING:", "+CLIP:", "+CCWA:", "+CREG:", "+CGREG:", "+CMTI:", "+CMT:", "+CBM:", "+CDS:", "+CDSI:"};
constexpr std::array<std::string_view, 2> kWithTextLine = {"+CMT:", "+CBM:"};

using modemline::IsLineEnd;
using modemline::StartsWith;
using modemline::Trim;

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Walks the complete lines of a text: f(line, offset of its first byte).
template <typename F>
void ForEachCompleteLine(std::string_view text, F&& f) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsLineEnd(text[i])) continue;
    if (i > start) f(text.substr(start, i - start), start);
    start = i + 1;
  }
}

std::string_view TrailingPartialLine(std::string_view text) {
  const std::size_t end = text.find_last_of("\r\n");
  return end == std::string_view::npos ? text : text.substr(end + 1);
}


}  // namespace

TFinalResult FindFinalResult(std::string_view text) {
  TFinalResult found;
  ForEachCompleteLine(text, [&](std::string_view line, std::size_t at) {
    if (found.kind != TFinal::None) return;
    const TFinal kind = modemline::FinalOf(line);
    if (kind == TFinal::None) return;
    found.kind = kind;
    found.lineStart = at;
    found.head = text.substr(0, at);
  });
  return found;
}

bool IsUnsolicited(std::string_view line) {
  const std::string_view t = Trim(line);
  for (std::string_view p : kUnsolicitedPrefixes)
    if (StartsWith(t, p)) return true;
  return IsForeignUnsolicited(t);
}

bool IsForeignUnsolicited(std::string_view line) {
  const std::string_view t = Trim(line);
  for (std::string_view p : kForeignPrefixes)
    if (p == "RING" ? t == p : StartsWith(t, p)) return true;
  return false;
}

std::string TUnsolicitedFilter::Feed(std::string_view chunk, std::vector<std::string>& removed) {
  std::string text = std::move(held_);
  held_.clear();
  text.append(chunk);
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsLineEnd(text[i])) continue;
    const std::string_view line(text.data() + start, i - start);
    const std::string_view t = Trim(line);
    if (bodyNext_ && !t.empty()) {
      bodyNext_ = false;
      removed.emplace_back(t);
    } else if (!t.empty() && IsForeignUnsolicited(t)) {
      removed.emplace_back(t);
      for (std::string_view p : kWithTextLine)
        if (StartsWith(t, p)) bodyNext_ = true;
    } else {
      out.append(line);
      out += text[i];
      start = i + 1;
      continue;
    }
    start = i + 1;  // the line and its line end leave the stream
  }
  const std::string_view partial(text.data() + start, text.size() - start);
  std::string_view t = partial;
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
  bool mayBecome = bodyNext_ && !t.empty();
  for (std::string_view p : kForeignPrefixes)
    if (!t.empty() && (StartsWith(t, p) || StartsWith(p, t))) mayBecome = true;
  if (mayBecome && partial.size() < MaxLine) held_.assign(partial);
  else out.append(partial);
  return out;
}

void TUnsolicitedFilter::Clear() {
  held_.clear();
  bodyNext_ = false;
}

std::optional<int> CardReport(std::string_view line) {
  static constexpr std::string_view prefix = "+WIND:";
  const std::string_view t = Trim(line);
  if (!StartsWith(t, prefix)) return std::nullopt;
  const std::string_view value = Trim(t.substr(prefix.size()));
  if (!AllDigits(value) || value.size() > 3) return std::nullopt;
  int n = 0;
  for (char c : value) n = n * 10 + (c - '0');
  if (n != 0 && n != 1) return std::nullopt;
  return n;
}

bool EndsInsideUnsolicitedLine(std::string_view text) {
  std::string_view partial = TrailingPartialLine(text);
  while (!partial.empty() && partial.front() == ' ') partial.remove_prefix(1);
  if (partial.empty()) return false;
  for (std::string_view p : kUnsolicitedPrefixes)
    if (StartsWith(partial, p) || StartsWith(p, partial)) return true;
  return false;
}

std::size_t SignificantLength(std::string_view text, std::string_view commandEcho) {
  const std::string_view echo = Trim(commandEcho);
  auto counts = [&](std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t == echo || IsUnsolicited(t)) return std::size_t{0};
    return t.size();
  };
  std::size_t n = 0;
  ForEachCompleteLine(text, [&](std::string_view line, std::size_t) { n += counts(line); });
  // An unfinished line counts unless it is, or may become, the echo or an
  // unsolicited line.
  const std::string_view partial = TrailingPartialLine(text);
  if (!EndsInsideUnsolicitedLine(text) && !StartsWith(echo, Trim(partial))) n += counts(partial);
  return n;
}

std::string SignalLevel(std::string_view head) {
  static constexpr std::string_view tag = "+CSQ:";
  std::string level;
  bool found = false;
  ForEachCompleteLine(head, [&](std::string_view line, std::size_t) {
    if (found) return;
    const std::size_t at = line.find(tag);
    if (at == std::string_view::npos) return;
    found = true;
    const std::string_view rest = line.substr(at + tag.size());
    const std::size_t comma = rest.find(',');
    level = std::string(Trim(comma == std::string_view::npos ? std::string_view{} : rest.substr(0, comma)));
  });
  return level;
}

std::string ImsiIn(std::string_view head) {
  std::string imsi;
  ForEachCompleteLine(head, [&](std::string_view line, std::size_t) {
    const std::string_view t = Trim(line);
    if (imsi.empty() && t.size() >= 5 && t.size() <= 15 && AllDigits(t)) imsi = std::string(t);
  });
  return imsi;
}

std::string Readable(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  return std::string(text.substr(0, limit)) + "...(" + std::to_string(text.size() - limit) + " more)";
}

std::vector<int> TCardReportReader::Feed(std::string_view chunk) {
  std::vector<int> reports;
  for (char c : chunk) {
    if (IsLineEnd(c)) {
      if (!discarding_)
        if (const auto r = CardReport(partial_)) reports.push_back(*r);
      partial_.clear();
      discarding_ = false;
    } else if (!discarding_) {
      if (partial_.size() < MaxLine) {
        partial_ += c;
      } else {
        partial_.clear();
        discarding_ = true;
      }
    }
  }
  return reports;
}

void TCardReportReader::Clear() {
  partial_.clear();
  discarding_ = false;
}

// --- Answers to the call, SMS and balance commands.

std::string CallSetupFailure(std::string_view text) {
  static constexpr std::array<std::string_view, 4> kFailures = {"NO CARRIER", "BUSY", "NO ANSWER", "NO DIALTONE"};
  std::string found;
  ForEachCompleteLine(text, [&](std::string_view line, std::size_t) {
    if (!found.empty()) return;
    const std::string_view t = Trim(line);
    for (std::string_view f : kFailures)
      if (t == f) found = std::string(f);
  });
  return found;
}

bool HasInputPrompt(std::string_view text) {
  std::size_t start = 0;
  for (;;) {
    std::size_t i = start;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && text[i] == '>') return true;
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

TUssdReport FindUssdReport(std::string_view text) {
  static constexpr std::string_view tag = "+CUSD:";
  TUssdReport r;
  const std::size_t at = text.find(tag);
  if (at == std::string_view::npos) {
    // The tag itself may still be on its way.
    for (std::size_t n = std::min(text.size(), tag.size() - 1); n > 0; --n)
      if (text.substr(text.size() - n) == tag.substr(0, n)) {
        r.started = true;
        break;
      }
    return r;
  }
  r.started = true;
  r.begin = at;
  // With the one line end that frames it (CR LF), not blank lines before it.
  for (int n = 0; n < 2 && r.begin > 0 && IsLineEnd(text[r.begin - 1]); ++n) --r.begin;
  // A quoted text may hold line breaks; the report ends at the first line
  // end outside the quotes.
  bool quoted = false;
  std::size_t i = at + tag.size();
  for (; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    else if (!quoted && IsLineEnd(text[i])) break;
  }
  if (i < text.size()) {
    r.complete = true;
    r.end = i + 1;
    if (text[i] == '\r' && r.end < text.size() && text[r.end] == '\n') ++r.end;
  } else if (text.size() - at >= UssdReportLimit) {
    r.complete = true;
    r.end = text.size();
  }
  return r;
}

}  // namespace corvane::at
