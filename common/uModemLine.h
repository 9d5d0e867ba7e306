#pragma once
// The modem's lines as both programs read them. Header-only; no Qt, any
// thread.
//   IsLineEnd   CR or LF: either ends a line (a modem ends its own lines in
//               CR LF, a card's text may hold a bare LF).
//   Trim        without the blanks and control bytes at both ends.
//   FinalOf     the final result a whole line (without its line end) stands
//               for: "OK", or "ERROR", "+CME ERROR: <n>", "+CMS ERROR: <n>";
//               case matters, and "OK" inside another line is none.
#include <string_view>

namespace corvane::modemline {

enum class TFinal { None, Ok, Error };

inline bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

inline bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

inline TFinal FinalOf(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t == "OK") return TFinal::Ok;
  if (t == "ERROR" || StartsWith(t, "+CME ERROR:") || StartsWith(t, "+CMS ERROR:")) return TFinal::Error;
  return TFinal::None;
}

}  // namespace corvane::modemline
