#pragma once
// Build-time side of the serial layer's string tables: reads a text source
// (one entry a line, id and quoted UTF-8 text), checks it, and lays it out as
// a "STR0" table, the stored form that TStringResource reads at run time.
//
// Text source, line by line:
//   blank lines and lines starting with '#' are skipped;
//   an entry is   <id> <blanks> "<text>"   with optional blanks after the
//   closing quote. Inside the quotes \" is a quote and \\ a backslash; any
//   other backslash, a raw control character or invalid UTF-8 is refused.
// Ids are signed 32-bit, strictly ascending (so unique) through the file.
//
// Every failure throws TSourceError naming the file and line.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::strtable {

struct TEntry {
  std::int32_t Id;
  std::u16string Text;  // UTF-16 code units as stored
};

class TSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Strict UTF-8 to UTF-16 (no overlong forms, no encoded surrogates, nothing
// above U+10FFFF). False on any invalid byte sequence.
bool Utf8ToUtf16(std::string_view utf8, std::u16string& out);

// Parses a whole text source; fileName only labels the errors.
std::vector<TEntry> ParseSource(std::string_view source, std::string_view fileName);

// The "STR0" layout of the entries (ids must ascend; checked again here).
std::vector<std::uint8_t> EncodeTable(const std::vector<TEntry>& entries);

struct TNamedTable {
  std::string Name;  // resource name the program looks the table up by
  std::vector<std::uint8_t> Bytes;
};

// C++ source that defines the tables as byte arrays and the program's
// resource list (EmbeddedResources, declared in SerStrings.h).
std::string EmitCpp(const std::vector<TNamedTable>& tables);

}  // namespace corvane::strtable
