#include "StrTable.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace corvane::strtable {
namespace {

[[noreturn]] void Fail(std::string_view file, int line, const std::string& why) {
  throw TSourceError(std::string(file) + ":" + std::to_string(line) + ": " + why);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads the id at the start of an entry line; false when it is not a
// well-formed signed 32-bit decimal number.
bool ParseId(std::string_view& rest, std::int32_t& id) {
  std::size_t i = 0;
  bool negative = false;
  if (i < rest.size() && rest[i] == '-') {
    negative = true;
    ++i;
  }
  const std::size_t digitsStart = i;
  std::int64_t value = 0;
  while (i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i]))) {
    value = value * 10 + (rest[i] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return false;
    ++i;
  }
  if (i == digitsStart) return false;
  if (negative) value = -value;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return false;
  id = static_cast<std::int32_t>(value);
  rest.remove_prefix(i);
  return true;
}

// Takes the quoted text; on success rest holds what follows the closing quote.
bool ParseQuoted(std::string_view& rest, std::string& text, std::string& why) {
  if (rest.empty() || rest.front() != '"') {
    why = "text must be in double quotes";
    return false;
  }
  for (std::size_t i = 1; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '"') {
      rest.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= rest.size() || (rest[i + 1] != '"' && rest[i + 1] != '\\')) {
        why = "unknown escape (only \\\" and \\\\ are allowed)";
        return false;
      }
      text += rest[++i];
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      why = "raw control character in text";
      return false;
    }
    text += c;
  }
  why = "missing closing quote";
  return false;
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool IsResourceName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

}  // namespace

bool Utf8ToUtf16(std::string_view utf8, std::u16string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp;
    std::size_t len;
    std::uint32_t min;
    if (b0 < 0x80) {
      cp = b0, len = 1, min = 0;
    } else if ((b0 & 0xE0) == 0xC0) {
      cp = b0 & 0x1F, len = 2, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      cp = b0 & 0x0F, len = 3, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      cp = b0 & 0x07, len = 4, min = 0x10000;
    } else {
      return false;
    }
    if (i + len > utf8.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return true;
}

std::vector<TEntry> ParseSource(std::string_view source, std::string_view fileName) {
  std::vector<TEntry> entries;
  int lineNo = 0;
  while (!source.empty()) {
    const std::size_t eol = source.find('\n');
    std::string_view line = source.substr(0, eol);
    source.remove_prefix(eol == std::string_view::npos ? source.size() : eol + 1);
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::string_view rest = line;
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (rest.empty() || rest.front() == '#') continue;

    TEntry entry{};
    if (!ParseId(rest, entry.Id)) Fail(fileName, lineNo, "id must be a signed 32-bit number");
    if (rest.empty() || !IsBlank(rest.front())) Fail(fileName, lineNo, "blank expected after the id");
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);

    std::string text;
    std::string why;
    if (!ParseQuoted(rest, text, why)) Fail(fileName, lineNo, why);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (!rest.empty()) Fail(fileName, lineNo, "unexpected characters after the closing quote");
    if (!Utf8ToUtf16(text, entry.Text)) Fail(fileName, lineNo, "text is not valid UTF-8");

    if (!entries.empty() && entry.Id <= entries.back().Id)
      Fail(fileName, lineNo,
           "id " + std::to_string(entry.Id) + " does not ascend (after " +
               std::to_string(entries.back().Id) + ")");
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::uint8_t> EncodeTable(const std::vector<TEntry>& entries) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  const std::uint64_t headerSize = 8 + 12 * std::uint64_t{entries.size()};
  std::uint64_t total = headerSize;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].Id <= entries[i - 1].Id)
      throw TSourceError("entry ids must ascend: " + std::to_string(entries[i].Id));
    total += 2 * std::uint64_t{entries[i].Text.size()};
  }
  if (total > kMax) throw TSourceError("string table exceeds 4 GiB");

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  for (char c : std::string_view("STR0")) out.push_back(static_cast<std::uint8_t>(c));
  AppendU32(out, static_cast<std::uint32_t>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(headerSize);
  for (const TEntry& e : entries) {
    AppendU32(out, static_cast<std::uint32_t>(e.Id));
    AppendU32(out, offset);
    AppendU32(out, static_cast<std::uint32_t>(e.Text.size()));
    offset += static_cast<std::uint32_t>(2 * e.Text.size());
  }
  for (const TEntry& e : entries)
    for (char16_t u : e.Text) {
      out.push_back(static_cast<std::uint8_t>(u & 0xFF));
      out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
  return out;
}

std::string EmitCpp(const std::vector<TNamedTable>& tables) {
  std::string cpp =
      "// Generated at build time from the string-table sources in resources/.\n"
      "// Do not edit: change the sources and rebuild.\n"
      "#include \"SerStrings.h\"\n\n"
      "namespace corvane {\nnamespace {\n\n";
  for (std::size_t t = 0; t < tables.size(); ++t) {
    if (!IsResourceName(tables[t].Name))
      throw TSourceError("bad resource name: " + tables[t].Name);
    cpp += "const unsigned char kTable" + std::to_string(t) + "[] = {";
    const auto& bytes = tables[t].Bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i % 16 == 0) cpp += "\n   ";
      char hex[8];
      std::snprintf(hex, sizeof hex, " 0x%02X,", bytes[i]);
      cpp += hex;
    }
    if (bytes.empty()) cpp += "0";  // no zero-length arrays; Size below stays 0
    cpp += "\n};\n\n";
  }
  cpp += "const TEmbeddedResource kResources[] = {\n";
  for (std::size_t t = 0; t < tables.size(); ++t)
    cpp += "    {\"" + tables[t].Name + "\", kTable" + std::to_string(t) + ", " +
           std::to_string(tables[t].Bytes.size()) + "},\n";
  if (tables.empty()) cpp += "    {\"\", nullptr, 0},\n";
  cpp += "};\n\n}  // namespace\n\n";
  cpp += "std::span<const TEmbeddedResource> EmbeddedResources() noexcept {\n";
  cpp += tables.empty() ? "  return {};\n" : "  return kResources;\n";
  cpp += "}\n\n}  // namespace corvane\n";
  return cpp;
}

}  // namespace corvane::strtable
