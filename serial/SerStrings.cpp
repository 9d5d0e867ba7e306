#include "SerStrings.h"

#include <array>
#include <atomic>
#include <new>

namespace corvane {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kMaxNameLength = 255;

// The manager's messages, for the time before (or without) its table.
constexpr std::array<std::string_view, 6> kManagerFallback = {
    "",
    "String not found: %d",
    "Cannot lock resource",
    "String resource not found: %s",
    "Unable to open string resource: %s",
    "Invalid string table resource",
};

std::uint32_t ReadU32(const unsigned char* p) noexcept {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

char AsciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Walks UTF-16 code units handed out one at a time by `unitAt`.
template <typename UnitAt>
std::string ConvertUtf16(std::size_t units, UnitAt unitAt) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  return out;
}

[[noreturn]] void RaiseManager(TManagerStringId id) { throw EStringResourceError(ManagerText(id)); }

[[noreturn]] void RaiseManager(TManagerStringId id, TFormatArg arg) {
  throw EStringResourceError(FormatChecked(ManagerText(id), {arg}));
}

// The manager's reader, published by the outermost unit initialisation.
std::atomic<TStringResource*> g_managerStrings{nullptr};
int g_unitNesting = 0;  // changed only during static start-up and shut-down

}  // namespace

const TResourceModule& TResourceModule::Program() noexcept {
  static const TResourceModule program(EmbeddedResources());
  return program;
}

const TEmbeddedResource* TResourceModule::Find(std::string_view name) const noexcept {
  for (const TEmbeddedResource& r : resources_)
    if (r.Name && SameName(r.Name, name)) return &r;
  return nullptr;
}

TStringResource::TStringResource(const TResourceModule& module, std::string_view name) {
  ChangeTable(module, name);
}

void TStringResource::ChangeTable(const TResourceModule& module, std::string_view name) {
  FreeTable();
  if (!name.empty()) LoadTable(module, name);
}

void TStringResource::FreeTable() noexcept {
  table_ = nullptr;
  tableSize_ = 0;
  entryCount_ = 0;
}

void TStringResource::LoadTable(const TResourceModule& module, std::string_view name) {
  name = name.substr(0, kMaxNameLength);
  const TEmbeddedResource* res = module.Find(name);
  if (!res) res = TResourceModule::Program().Find(name);
  if (!res) RaiseManager(msResourceNotFound, name);
  if (!res->Data) RaiseManager(msCannotOpen, name);

  // Checked once here so that lookups can trust every offset and length.
  const unsigned char* data = res->Data;
  const std::uint64_t size = res->Size;
  if (size < kHeaderSize || data[0] != 'S' || data[1] != 'T' || data[2] != 'R' || data[3] != '0')
    RaiseManager(msInvalidTable);
  const std::uint64_t count = ReadU32(data + 4);
  const std::uint64_t textsStart = kHeaderSize + kEntrySize * count;
  if (textsStart > size) RaiseManager(msInvalidTable);
  std::int64_t previousId = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const unsigned char* e = data + kHeaderSize + kEntrySize * i;
    const std::int64_t id = static_cast<std::int32_t>(ReadU32(e));
    const std::uint64_t offset = ReadU32(e + 4);
    const std::uint64_t length = ReadU32(e + 8);
    if (i > 0 && id <= previousId) RaiseManager(msInvalidTable);
    if (offset < textsStart || offset + 2 * length > size) RaiseManager(msInvalidTable);
    previousId = id;
  }
  table_ = data;
  tableSize_ = static_cast<std::size_t>(size);
  entryCount_ = static_cast<std::int64_t>(count);
}

// The table stays in place between lookups, so locking only means having one.
const unsigned char* TStringResource::LockTable() const {
  if (!table_) RaiseManager(msCannotLock);
  return table_;
}

TStringResource::TEntryView TStringResource::EntryAt(std::int64_t index) const noexcept {
  const unsigned char* e = table_ + kHeaderSize + kEntrySize * static_cast<std::size_t>(index);
  return {static_cast<std::int32_t>(ReadU32(e)), ReadU32(e + 4), ReadU32(e + 8)};
}

bool TStringResource::FindEntry(std::int32_t id, TEntryView& found) const noexcept {
  // Signed bounds: an empty table gives hi = -1 and no probe at all.
  std::int64_t lo = 0;
  std::int64_t hi = entryCount_ - 1;
  while (hi >= lo) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    const TEntryView e = EntryAt(mid);
    if (e.Id == id) {
      found = e;
      return true;
    }
    if (e.Id > id)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return false;
}

bool TStringResource::FindString(std::int32_t id, std::string& text) const {
  TEntryView e{};
  if (!table_ || !FindEntry(id, e)) return false;
  text = Utf16LeToUtf8(table_ + e.Offset, e.Length);
  return true;
}

std::string TStringResource::GetString(std::int32_t id) const {
  LockTable();
  std::string text;
  if (FindString(id, text)) return text;
  if (raiseIfMissing_) RaiseManager(msStringNotFound, id);
  return {};
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return ConvertUtf16(text.size(), [&](std::size_t i) { return std::uint32_t{text[i]}; });
}

std::string Utf16LeToUtf8(const unsigned char* bytes, std::size_t units) {
  return ConvertUtf16(units, [&](std::size_t i) {
    return std::uint32_t{bytes[2 * i]} | std::uint32_t{bytes[2 * i + 1]} << 8;
  });
}

void TFormatArg::AppendTo(std::string& out) const {
  if (isText_)
    out += text_;
  else
    out += std::to_string(number_);
}

std::string FormatChecked(std::string_view format, std::initializer_list<TFormatArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    const char d = i + 1 < format.size() ? format[i + 1] : '\0';
    if (c == '%' && d == '%') {
      out += '%';
      ++i;
    } else if (c == '%' && (d == 's' || d == 'd') && next != args.end()) {
      (next++)->AppendTo(out);
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string_view ManagerFallbackText(std::int32_t id) noexcept {
  if (id <= 0 || id >= static_cast<std::int32_t>(kManagerFallback.size())) return {};
  return kManagerFallback[static_cast<std::size_t>(id)];
}

std::string ManagerText(std::int32_t id) {
  std::string text;
  if (const TStringResource* manager = ManagerStrings();
      manager && manager->FindString(id, text) && !text.empty())
    return text;
  return std::string(ManagerFallbackText(id));
}

TStringResource* ManagerStrings() noexcept { return g_managerStrings.load(std::memory_order_acquire); }

TSerStringsUnit::TSerStringsUnit() {
  if (g_unitNesting++ > 0) return;
  try {
    g_managerStrings.store(new TStringResource(TResourceModule::Program(), "STRING_MANAGER_STRINGS"),
                           std::memory_order_release);
  } catch (const std::exception&) {
    // Without its table the manager still speaks through the compiled-in texts.
  }
}

TSerStringsUnit::~TSerStringsUnit() {
  if (--g_unitNesting > 0) return;
  delete g_managerStrings.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace corvane
