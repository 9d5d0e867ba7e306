#include "IniDoc.h"

#include "SimText.h"

#include <cctype>

namespace modemsim {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string DecodeValue(const std::string& raw) {
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
    return Unescape(std::string_view(raw).substr(1, raw.size() - 2));
  return Unescape(raw);
}

}  // namespace

std::vector<IniSection> ParseIni(std::string_view text) {
  std::vector<IniSection> sections;
  int lineNo = 0;
  for (const std::string& rawLine : Split(text, '\n')) {
    ++lineNo;
    const std::string line = Trim(rawLine);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']')
        throw ScenarioError("line " + std::to_string(lineNo) + ": section header without ']'");
      const std::string header = Trim(std::string_view(line).substr(1, line.size() - 2));
      const size_t blank = header.find_first_of(" \t");
      IniSection s;
      s.kind = Lower(header.substr(0, blank));
      s.name = blank == std::string::npos ? std::string() : Trim(header.substr(blank));
      s.line = lineNo;
      sections.push_back(std::move(s));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0)
      throw ScenarioError("line " + std::to_string(lineNo) + ": expected 'key = value'");
    if (sections.empty())
      throw ScenarioError("line " + std::to_string(lineNo) + ": entry before the first [section]");
    IniEntry e;
    e.key = Lower(Trim(std::string_view(line).substr(0, eq)));
    e.value = DecodeValue(Trim(std::string_view(line).substr(eq + 1)));
    e.line = lineNo;
    sections.back().entries.push_back(std::move(e));
  }
  return sections;
}

}  // namespace modemsim
