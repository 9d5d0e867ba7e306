#pragma once
// The scenario files' INI dialect: "[section name]" headers, "key = value"
// lines, whole-line comments starting with ';' or '#'. Sections and keys keep
// file order (menu items are listed in the order they are written). A value
// is trimmed; a value in double quotes keeps its inner blanks; escapes
// (\n, \r, \xHH ...) are decoded in every value. No inline comments: menu
// texts may hold ';' and '#'.
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace modemsim {

// A malformed scenario; what() names the line.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct IniEntry {
  std::string key;
  std::string value;
  int line = 0;
};

struct IniSection {
  std::string kind;  // first word of the header, lower case ("modem", "node" ...)
  std::string name;  // the rest of the header, trimmed (may be empty)
  int line = 0;
  std::vector<IniEntry> entries;
};

// Throws ScenarioError for a line that is neither header, entry, comment nor
// blank, and for entries before the first header.
std::vector<IniSection> ParseIni(std::string_view text);

}  // namespace modemsim
