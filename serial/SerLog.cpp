#include "SerLog.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "SerCodes.h"
#include "SerDumpFile.h"
#include "SerExcept.h"
#include "SerMisc.h"

namespace serial {
namespace {

constexpr uint32_t kLastColumn = 78;
constexpr uint32_t kFirstItemColumn = 45;
constexpr size_t kPrefixWidth = 44;
constexpr size_t kMaxSystemText = 80;
constexpr size_t kMaxModemText = 80;

// Ids in the error-string table.
constexpr int32_t kKindNameBase = 15001;
constexpr int32_t kSubKindNameBase = 15100;
constexpr int32_t kColumnsLine = 15501;
constexpr int32_t kRuleLine = 15502;
constexpr int32_t kModemBitNameBase = 15601;
constexpr int32_t kTelnetOptionBase = 15700;
constexpr uint32_t kLastTelnetOption = 42;

constexpr const char* kStatusTriggerNames[] = {
    "(Not active)", "(Modem status)", "(Line status)",
    "(Output buffer free)", "(Output buffer used)", "(Output sent)",
};

std::string TableText(int32_t id) {
  std::string text;
  if (const corvane::TStringResource* table = corvane::ErrorStrings()) table->FindString(id, text);
  return text;
}

void PutLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

std::string Trimmed(std::string s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

// "%07.7d" of the time with a point before its fifth character: seconds and
// milliseconds, 1234 ms reads 0001.234.
std::string TimeText(uint32_t ms) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07u", ms);
  std::string text = digits;
  text.insert(4, ".");
  return text;
}

std::string Prefix(const TLogEntry& e) {
  const std::string kind = TableText(kKindNameBase + e.Kind);
  const std::string sub = e.SubKind == 0 ? std::string() : TableText(kSubKindNameBase + e.SubKind);
  char text[160];
  std::snprintf(text, sizeof text, "%8s  %-8s  %-12s  %08X  ", TimeText(e.Time).c_str(), kind.c_str(),
                sub.c_str(), e.Data);
  return text;
}

std::string ModemStatusText(uint32_t data) {
  std::string names;
  for (int bit = 0; bit < 8; ++bit)
    if (data & (1u << bit)) names += TableText(kModemBitNameBase + bit);
  if (names.size() > kMaxModemText) names.resize(kMaxModemText);
  return "(" + Trimmed(names) + ")";
}

struct TStringSink {
  std::string text;
  void Write(std::string_view s) { text += s; }
  void LineBreak() { text += "\r\n"; }
  void Flush() {}
};

// One record: the prefix, then the extra bytes (continuation lines indented
// by the prefix's width) or what the kind names in place of them. No line
// end: the caller ends the record.
template <typename Sink>
void WriteRecord(Sink& sink, const TLogEntry& e, bool hex, bool allHex) {
  sink.Write(Prefix(e));
  sink.Flush();
  if (e.Extra.empty()) {
    if (e.Kind == lkTelnet) {
      const std::string option = e.Data <= kLastTelnetOption
                                     ? TableText(kTelnetOptionBase + static_cast<int32_t>(e.Data))
                                     : std::string();
      sink.Write("[" + option + "]");
    }
    return;
  }
  if (e.SubKind == lsTrigStatus && (e.Kind == lkTrigAlloc || e.Kind == lkTrigDispose)) {
    if (e.Extra[0] < std::size(kStatusTriggerNames)) sink.Write(kStatusTriggerNames[e.Extra[0]]);
  } else {
    uint32_t column = kFirstItemColumn;
    for (const uint8_t b : e.Extra) {
      const std::string item = allHex && e.Kind == lkUser ? std::string(1, static_cast<char>(b))
                                                          : DumpByteItem(b, hex, allHex);
      const uint32_t width = static_cast<uint32_t>(item.size());
      column += width;
      if (column > kLastColumn) {
        sink.LineBreak();
        sink.Write(std::string(kPrefixWidth, ' '));
        column = width + kFirstItemColumn;
      }
      sink.Write(item);
      sink.Flush();
    }
  }
  if (e.SubKind == lsModemStatus) sink.Write(ModemStatusText(e.Data));
}

std::string CompilerText() {
  char text[64];
#if defined(__clang__)
  std::snprintf(text, sizeof text, "Clang %d.%d.%d", __clang_major__, __clang_minor__, __clang_patchlevel__);
#elif defined(__GNUC__)
  std::snprintf(text, sizeof text, "GCC %d.%d.%d", __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__);
#else
  std::snprintf(text, sizeof text, "C++ %ld", static_cast<long>(__cplusplus));
#endif
  return text;
}

std::string OperatingSystemText() {
  struct utsname u;
  std::string text = ::uname(&u) == 0 ? std::string(u.sysname) + " " + u.release : "Unknown";
  if (text.size() > kMaxSystemText) text.resize(kMaxSystemText);
  return text;
}

}  // namespace

TLogHead SystemLogHead() { return {CompilerText(), OperatingSystemText()}; }

TDispatchLog::TDispatchLog(std::recursive_mutex& lock, TLogClock clock)
    : lock_(lock), clock_(clock ? std::move(clock) : TLogClock(&ClockMs)), headLines_(SystemLogHead()) {}

void TDispatchLog::SetTimeBase() {
  std::lock_guard lock(lock_);
  timeBase_ = clock_();
}

uint32_t TDispatchLog::ElapsedMs() {
  std::lock_guard lock(lock_);
  return clock_() - timeBase_;
}

void TDispatchLog::SetHead(TLogHead head) {
  std::lock_guard lock(lock_);
  if (head.OperatingSystem.size() > kMaxSystemText) head.OperatingSystem.resize(kMaxSystemText);
  headLines_ = std::move(head);
}

int32_t TDispatchLog::Start(uint32_t bytes) {
  std::lock_guard lock(lock_);
  if (!hasBuffer_) {
    try {
      ring_.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
      return ecOutOfMemory;
    }
    hasBuffer_ = true;
    size_ = bytes;
  }
  head_ = tail_ = 0;
  free_ = size_;
  // Starting again on an existing buffer restarts the recording too.
  on_ = true;
  return 0;
}

void TDispatchLog::Clear() {
  std::lock_guard lock(lock_);
  head_ = tail_ = 0;
  free_ = size_;
}

void TDispatchLog::Stop() {
  std::lock_guard lock(lock_);
  StopLocked();
}

void TDispatchLog::StopLocked() {
  on_ = false;
  hasBuffer_ = false;
  std::vector<uint8_t>().swap(ring_);
  size_ = head_ = tail_ = free_ = 0;
}

void TDispatchLog::Pause() {
  std::lock_guard lock(lock_);
  on_ = false;
}

void TDispatchLog::Resume() {
  std::lock_guard lock(lock_);
  on_ = hasBuffer_;
}

bool TDispatchLog::HasBuffer() {
  std::lock_guard lock(lock_);
  return hasBuffer_;
}

uint32_t TDispatchLog::FreeBytes() {
  std::lock_guard lock(lock_);
  return free_;
}

void TDispatchLog::PutBytes(const uint8_t* bytes, uint32_t n) {
  if (n == 0) return;
  const uint32_t first = std::min(n, size_ - head_);
  std::memcpy(ring_.data() + head_, bytes, first);
  if (n > first) std::memcpy(ring_.data(), bytes + first, n - first);
  head_ = static_cast<uint32_t>((static_cast<uint64_t>(head_) + n) % size_);
}

void TDispatchLog::CopyOut(uint32_t from, uint8_t* to, uint32_t n) const {
  if (n == 0) return;
  const uint32_t first = std::min(n, size_ - from);
  std::memcpy(to, ring_.data() + from, first);
  if (n > first) std::memcpy(to + first, ring_.data(), n - first);
}

uint32_t TDispatchLog::MoreLengthAt(uint32_t offset) const {
  uint8_t head[kLogEntryHeadSize];
  CopyOut(offset, head, kLogEntryHeadSize);
  return GetLe32(head + 12);
}

void TDispatchLog::DropOldest() {
  const uint32_t length = kLogEntryHeadSize + MoreLengthAt(tail_);
  tail_ = static_cast<uint32_t>((static_cast<uint64_t>(tail_) + length) % size_);
  free_ += length;
}

void TDispatchLog::Add(uint8_t kind, uint8_t subKind, uint32_t data, const uint8_t* extra, uint32_t length) {
  if (!On()) return;
  std::lock_guard lock(lock_);
  // A dump may have freed the buffer since the check above.
  if (!on_ || !hasBuffer_) return;
  const uint64_t total = uint64_t{kLogEntryHeadSize} + (extra ? length : 0);
  // An entry the ring cannot hold whole is not recorded at all: a head
  // without its bytes would make every later entry unreadable.
  if (total >= size_) return;
  while (total > free_) DropOldest();
  uint8_t head[kLogEntryHeadSize] = {kind, subKind, 0, 0};
  PutLe32(head + 4, clock_() - timeBase_);
  PutLe32(head + 8, data);
  PutLe32(head + 12, static_cast<uint32_t>(total - kLogEntryHeadSize));
  PutBytes(head, kLogEntryHeadSize);
  if (total > kLogEntryHeadSize) PutBytes(extra, length);
  free_ -= static_cast<uint32_t>(total);
}

bool TDispatchLog::TakeEntry(TLogEntry& entry) {
  if (!hasBuffer_ || free_ == size_) return false;
  uint8_t head[kLogEntryHeadSize];
  CopyOut(tail_, head, kLogEntryHeadSize);
  entry.Kind = head[0];
  entry.SubKind = head[1];
  entry.Time = GetLe32(head + 4);
  entry.Data = GetLe32(head + 8);
  const uint32_t more = GetLe32(head + 12);
  // Sized for this entry: a device read alone may bring 8192 bytes.
  entry.Extra.resize(more);
  CopyOut(static_cast<uint32_t>((static_cast<uint64_t>(tail_) + kLogEntryHeadSize) % size_), entry.Extra.data(),
          more);
  DropOldest();
  return true;
}

std::vector<TLogEntry> TDispatchLog::Entries() {
  std::lock_guard lock(lock_);
  std::vector<TLogEntry> out;
  const uint32_t tail = tail_, freeBytes = free_;
  TLogEntry entry;
  while (TakeEntry(entry)) out.push_back(entry);
  // Only looked at: put the read position back.
  tail_ = tail;
  free_ = freeBytes;
  return out;
}

std::string TDispatchLog::FormatRecord(const TLogEntry& entry, bool hex, bool allHex) {
  TStringSink sink;
  WriteRecord(sink, entry, hex, allHex);
  return sink.text;
}

int32_t TDispatchLog::Write(const std::string& file, bool append, bool hex, bool allHex) {
  on_ = false;
  std::lock_guard lock(lock_);
  if (!hasBuffer_ || free_ == size_) {
    StopLocked();
    return 0;
  }
  TDumpFile out;
  // Not written: the records stay for a later dump, with recording off.
  if (const unsigned long err = out.Open(file, append); err != 0) return -static_cast<int32_t>(err);
  const std::string headLines[] = {
      "SERIAL v3.00",
      "Compiler : " + headLines_.Compiler,
      "Operating System : " + headLines_.OperatingSystem,
      TableText(kColumnsLine),
      TableText(kRuleLine),
  };
  for (const std::string& line : headLines) {
    out.Write(line);
    out.LineBreak();
  }
  TLogEntry entry;
  while (TakeEntry(entry)) {
    WriteRecord(out, entry, hex, allHex);
    out.LineBreak();
  }
  const unsigned long err = out.Close();
  StopLocked();
  return -static_cast<int32_t>(err);
}

}  // namespace serial
