#include "uStkText.h"

#include <limits>

namespace corvane::stk {

namespace {

constexpr std::string_view kStgiTag = "+STGI:";

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlankOrControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrControl(s.back())) s.remove_suffix(1);
  return s;
}

// The text between the first two double quotes; "" with fewer than two.
std::string_view BetweenFirstQuotes(std::string_view s) {
  const std::size_t open = s.find('"');
  if (open == std::string_view::npos) return {};
  s.remove_prefix(open + 1);
  const std::size_t close = s.find('"');
  return close == std::string_view::npos ? std::string_view{} : s.substr(0, close);
}

// A copy in which the line feeds inside a quoted card text are blanks. A
// card may put line breaks into its texts (the modem passes them as bare
// LF); the modem's own lines end in CR LF, so a CR also closes a quote that
// was left open, and one broken line cannot hide the rest of the reply.
std::string WithoutQuotedLineFeeds(std::string_view text) {
  std::string out(text);
  bool quoted = false;
  for (char& c : out) {
    if (c == '"') quoted = !quoted;
    else if (c == '\r') quoted = false;
    else if (c == '\n' && quoted) c = ' ';
  }
  return out;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

bool SplitStgiItems(std::string_view Text, std::vector<std::string>& List) {
  if (Text.size() < 4) return false;
  std::string acc;
  for (char c : Text) {
    if (c != '\r') {
      acc += c;
      continue;
    }
    // Text before a "+STGI:" line (an echo, line feeds) stays in the
    // accumulator and is passed over with the next "+STGI:" line.
    const std::size_t tag = acc.find(kStgiTag);
    if (tag == std::string::npos) continue;
    List.emplace_back(BetweenFirstQuotes(std::string_view(acc).substr(tag + kStgiTag.size())));
    acc.clear();
  }
  if (!acc.empty()) List.push_back(acc);
  return true;
}

std::string StgiQuotedText(std::string_view reply) {
  const std::size_t p = reply.find(kStgiTag);
  if (p == std::string_view::npos) return {};
  const std::size_t from = p + kStgiTag.size();
  if (reply.size() <= from + 1) return {};
  std::string_view part = reply.substr(from, reply.size() - from - 1);  // without the last character
  const std::size_t open = part.find('"');
  if (open == std::string_view::npos) return {};
  part.remove_prefix(open + 1);
  if (part.empty()) return {};
  part.remove_suffix(1);
  const std::size_t close = part.find('"');
  return close == std::string_view::npos ? std::string{} : std::string(part.substr(0, close));
}

int FirstMatchingKeyword(std::span<const std::string> keywords, std::string_view text) {
  for (std::size_t k = 0; k < keywords.size(); ++k)
    if (!keywords[k].empty() && text.find(keywords[k]) != std::string_view::npos) return static_cast<int>(k + 1);
  return 0;
}

at::TFinal ReplyFinal(std::string_view reply) {
  const std::string masked = WithoutQuotedLineFeeds(reply);
  const std::string_view text = masked;
  bool error = false;
  // One pass, line by line: a reply may hold thousands of error lines (a
  // card that keeps refusing), and each is looked at once. "OK" anywhere
  // wins over an earlier "ERROR": a reply that holds both is taken as
  // answered.
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsLineEnd(text[i])) continue;
    switch (at::FindFinalResult(text.substr(start, i + 1 - start)).kind) {
      case at::TFinal::Ok: return at::TFinal::Ok;
      case at::TFinal::Error: error = true; break;
      case at::TFinal::None: break;
    }
    start = i + 1;
  }
  return error ? at::TFinal::Error : at::TFinal::None;
}

bool HasInputPrompt(std::string_view reply) {
  for (std::size_t at = reply.find("> "); at != std::string_view::npos; at = reply.find("> ", at + 1))
    if (at == 0 || IsLineEnd(reply[at - 1])) return true;
  return false;
}

std::string StinCode(std::string_view text, std::size_t p) {
  std::string_view seg = text.substr(p, 13);
  const std::size_t cr = seg.find('\r');
  if (cr == std::string_view::npos) return {};
  seg = seg.substr(0, cr + 1);
  if (seg.size() <= 7) return {};
  return std::string(Trim(seg.substr(6, seg.size() - 7)));
}

std::string StinReplyDigits(std::string_view rest) {
  std::string digits;
  bool quoted = false;
  std::size_t lineStart = 0;
  bool skipLine = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (i == lineStart) {
      // The text right after "+STIN:" belongs to the notification itself.
      const std::size_t end = rest.find_first_of("\r\n", i);
      const std::string_view line = rest.substr(i, end == std::string_view::npos ? end : end - i);
      skipLine = i > 0 && at::IsUnsolicited(line) && Trim(line).substr(0, 6) != "+STIN:";
    }
    if (IsLineEnd(c)) {
      lineStart = i + 1;
      if (c == '\r') quoted = false;
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && !skipLine && c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

std::optional<int> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int>::max() + 1LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<char> CommandBreakingByte(std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return c;
  }
  return std::nullopt;
}

}  // namespace corvane::stk
