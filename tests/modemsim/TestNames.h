#pragma once
// Readable, CTest-safe names for table rows: a row prints as its command
// with every character that a test name should not hold (CR, quotes, ';'
// which CMake would split on) shown as '_'.
#include <ostream>
#include <string>

namespace modemsim_test {

inline std::string Label(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '+' || c == '-' || c == '=' || c == ',' || c == '.' || c == '*' ||
                      c == '#' || c == '?' || c == '&';
    out += keep ? c : '_';
  }
  return out;
}

}  // namespace modemsim_test

// One PrintTo per row type, found by argument-dependent lookup.
#define MODEMSIM_ROW_NAME(Type, field)                              \
  inline void PrintTo(const Type& row, std::ostream* os) {          \
    *os << ::modemsim_test::Label(row.field);                       \
  }
