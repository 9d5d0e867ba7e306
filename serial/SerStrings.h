#pragma once
// String tables of the serial layer: numbered texts stored in the "STR0"
// layout and built into the program (see tools/strtable and resources/).
//
// What a caller may rely on:
//  - A TStringResource holds either no table or one table that passed a full
//    check when it was loaded (signature, entry count, every text inside the
//    data, ids ascending). A table that fails the check is not kept.
//  - GetString only reads: any number of threads may call it on one object at
//    once, as long as nobody calls ChangeTable or FreeTable meanwhile.
//  - Texts come back as UTF-8.
//  - No text of a table is ever used as a format string by this unit: the
//    string-manager messages are filled by FormatChecked (only %s and %d).
//  - ManagerStrings() is the reader of "STRING_MANAGER_STRINGS", alive from
//    the first initialisation of this unit to the last finalisation (a
//    counter of nested initialisations, one per including file); it may be
//    null then, or if that table failed to load. ManagerText never depends on
//    it: the five texts are also compiled in.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "SerBaseExcept.h"

namespace corvane {

// One named raw-data blob of a module.
struct TEmbeddedResource {
  const char* Name;
  const unsigned char* Data;
  std::size_t Size;
};

// The tables built into this program (generated from resources/*.txt).
std::span<const TEmbeddedResource> EmbeddedResources() noexcept;

// A set of named raw-data resources; stands in for a module's resources.
// Holds no copies: the blobs must outlive the module and every table read
// from it.
class TResourceModule {
 public:
  constexpr explicit TResourceModule(std::span<const TEmbeddedResource> resources) noexcept
      : resources_(resources) {}

  // The program's own module: the tables of EmbeddedResources().
  static const TResourceModule& Program() noexcept;

  // The resource of that name (ASCII letters compared without case), or null.
  const TEmbeddedResource* Find(std::string_view name) const noexcept;

 private:
  std::span<const TEmbeddedResource> resources_;
};

// Raised when a table cannot be found, locked or read, and for a missing id
// when RaiseIfMissing is on. The message comes from the string manager.
class EStringResourceError : public Exception {
 public:
  using Exception::Exception;
};

class TStringResource {
 public:
  // Opens the table `name` of `module` (or, lacking it there, of the
  // program's own module). Raises EStringResourceError when it cannot.
  TStringResource(const TResourceModule& module, std::string_view name);
  ~TStringResource() { FreeTable(); }
  TStringResource(const TStringResource&) = delete;
  TStringResource& operator=(const TStringResource&) = delete;

  // Drops the current table, then opens `name` unless it is empty. When the
  // open raises, the object is left without a table.
  void ChangeTable(const TResourceModule& module, std::string_view name);
  void FreeTable() noexcept;
  bool HasTable() const noexcept { return table_ != nullptr; }

  // Text of `id` as UTF-8; empty when the id is absent (or, with
  // RaiseIfMissing, EStringResourceError "String not found: <id>").
  // Without a table: EStringResourceError "Cannot lock resource".
  std::string GetString(std::int32_t id) const;
  // The text of `id`, or false when there is no table or no such id. Never
  // raises apart from running out of memory.
  bool FindString(std::int32_t id, std::string& text) const;

  bool RaiseIfMissing() const noexcept { return raiseIfMissing_; }
  void SetRaiseIfMissing(bool on) noexcept { raiseIfMissing_ = on; }

 private:
  struct TEntryView {
    std::int32_t Id;
    std::uint32_t Offset;
    std::uint32_t Length;  // UTF-16 code units
  };

  void LoadTable(const TResourceModule& module, std::string_view name);
  const unsigned char* LockTable() const;
  TEntryView EntryAt(std::int64_t index) const noexcept;
  bool FindEntry(std::int32_t id, TEntryView& found) const noexcept;

  bool raiseIfMissing_ = false;
  const unsigned char* table_ = nullptr;  // checked table, or null
  std::size_t tableSize_ = 0;
  std::int64_t entryCount_ = 0;
};

// UTF-16 to UTF-8; surrogate pairs combine, a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// The same for `units` little-endian code units at `bytes`.
std::string Utf16LeToUtf8(const unsigned char* bytes, std::size_t units);

// One argument of FormatChecked: a text or a whole number.
class TFormatArg {
 public:
  TFormatArg(std::string_view text) noexcept : text_(text), isText_(true) {}
  TFormatArg(const char* text) noexcept : TFormatArg(std::string_view(text ? text : "")) {}
  TFormatArg(const std::string& text) noexcept : TFormatArg(std::string_view(text)) {}
  template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
  TFormatArg(T number) noexcept : number_(static_cast<long long>(number)) {}

  void AppendTo(std::string& out) const;

 private:
  std::string_view text_;
  long long number_ = 0;
  bool isText_ = false;
};

// Fills `format` from left to right: %s and %d each take the next argument
// (written as what it is, text or number), %% is a percent sign. Anything
// else, and a directive without an argument left, is copied as it stands.
// Never reads past the arguments, whatever the format holds.
std::string FormatChecked(std::string_view format, std::initializer_list<TFormatArg> args);

// Ids of the string manager's own messages ("STRING_MANAGER_STRINGS").
enum TManagerStringId : std::int32_t {
  msStringNotFound = 1,     // "String not found: %d"
  msCannotLock = 2,         // "Cannot lock resource"
  msResourceNotFound = 3,   // "String resource not found: %s"
  msCannotOpen = 4,         // "Unable to open string resource: %s"
  msInvalidTable = 5,       // "Invalid string table resource"
};

// The compiled-in text of a manager message (empty for other ids).
std::string_view ManagerFallbackText(std::int32_t id) noexcept;
// The manager message from ManagerStrings, else the compiled-in text.
std::string ManagerText(std::int32_t id);

// The reader of "STRING_MANAGER_STRINGS"; null outside the unit's lifetime.
TStringResource* ManagerStrings() noexcept;

// Unit initialisation and finalisation: every file that includes this header
// holds one, so the table reader exists before any of them runs code and
// outlives them all. Only the outermost pair creates and frees it.
class TSerStringsUnit {
 public:
  TSerStringsUnit();
  ~TSerStringsUnit();
  TSerStringsUnit(const TSerStringsUnit&) = delete;
  TSerStringsUnit& operator=(const TSerStringsUnit&) = delete;
};
static const TSerStringsUnit serStringsUnit;

}  // namespace corvane
