#include "SimText.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

namespace modemsim {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    const char e = text[i + 1];
    switch (e) {
      case 'r': out += '\r'; ++i; continue;
      case 'n': out += '\n'; ++i; continue;
      case 't': out += '\t'; ++i; continue;
      case 'e': out += '\x1b'; ++i; continue;
      case 'z': out += '\x1a'; ++i; continue;
      case '\\': out += '\\'; ++i; continue;
      case '"': out += '"'; ++i; continue;
      case 'x':
        if (i + 3 < text.size() && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
          out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
          i += 3;
          continue;
        }
        break;
      default:
        break;
    }
    out += c;
  }
  return out;
}

std::string Escape(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        }
    }
  }
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t p = text.find(separator, start);
    if (p == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, p - start));
    start = p + 1;
  }
}

std::vector<std::string> SplitArgs(std::string_view args) {
  std::vector<std::string> out;
  std::string field;
  bool quoted = false;
  for (const char c : args) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.push_back(Trim(field));
      field.clear();
    } else {
      field += c;
    }
  }
  out.push_back(Trim(field));
  return out;
}

bool IsQuoted(std::string_view field) {
  return field.size() >= 2 && field.front() == '"' && field.back() == '"';
}

std::string Unquote(std::string_view field) {
  if (IsQuoted(field)) return std::string(field.substr(1, field.size() - 2));
  return std::string(field);
}

std::optional<long> ParseInt(std::string_view text) {
  const std::string s = Trim(text);
  if (s.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0') return std::nullopt;
  return v;
}

std::optional<long> ParseIntIn(std::string_view text, long low, long high) {
  const auto v = ParseInt(text);
  if (!v || *v < low || *v > high) return std::nullopt;
  return v;
}

std::optional<std::string> HexToBytes(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::string BytesToHex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Septets packed into octets, as a USSD string travels over the air.
std::string PackSeptets(const std::string& text) {
  std::string septets;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '@') septets += '\x00';
    else if (c == '$') septets += '\x02';
    else if (c == '_') septets += '\x11';
    else if (c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7f && !std::strchr("[\\]^`{|}~", c)))
      septets += static_cast<char>(c);
    else septets += '?';
  }
  std::string out;
  int acc = 0, bits = 0;
  for (const char s : septets) {
    acc |= (static_cast<unsigned char>(s) & 0x7f) << bits;
    bits += 7;
    while (bits >= 8) {
      out += static_cast<char>(acc & 0xff);
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out += static_cast<char>(acc & 0xff);
  return out;
}

// GSM 7-bit packed septets (some hosts send USSD codes that way in "HEX").
std::string UnpackSeptets(const std::string& octets) {
  std::string out;
  int carry = 0, carryBits = 0;
  for (const char ch : octets) {
    const int b = static_cast<unsigned char>(ch);
    out += static_cast<char>(((b << carryBits) | carry) & 0x7f);
    carry = b >> (7 - carryBits);
    ++carryBits;
    if (carryBits == 7) {
      out += static_cast<char>(carry & 0x7f);
      carry = 0;
      carryBits = 0;
    }
  }
  while (!out.empty() && (out.back() == '\0' || out.back() == '\r')) out.pop_back();
  return out;
}

// USSD data coding schemes (3GPP 23.038) that mean the GSM 7-bit alphabet.
bool SevenBitDcs(int dcs) {
  const int group = dcs >> 4;
  if (group == 0x0 || dcs == 0x10) return true;
  if ((group & 0xC) == 0x4) return (dcs & 0x0C) == 0;  // general coding
  if (group == 0xF) return (dcs & 0x04) == 0;
  return false;
}

bool Printable(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7f;
  });
}

std::string ExpandModemNumber(std::string_view text, int number) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '{') {
      const size_t close = text.find('}', i);
      if (close != std::string_view::npos) {
        const std::string_view inner = text.substr(i + 1, close - i - 1);
        if (!inner.empty() && inner.find_first_not_of('n') == std::string_view::npos &&
            inner.size() <= 3) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "%0*d", static_cast<int>(inner.size()), number);
          out += buf;
          i = close + 1;
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace modemsim
