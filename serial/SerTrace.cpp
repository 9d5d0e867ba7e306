#include "SerTrace.h"

#include <new>

#include "SerCodes.h"
#include "SerDumpFile.h"

namespace serial {
namespace {

constexpr uint32_t kLastColumn = 78;

struct TStringSink {
  std::string text;
  void Write(std::string_view s) { text += s; }
  void LineBreak() { text += "\r\n"; }
  void Flush() {}
};

std::string Heading(char kind) {
  switch (kind) {
    case 'T': return "Transmit: ";
    case 'R': return "Receive: ";
    default: return std::string("Special-") + kind + ": ";
  }
}

// One block per run of the same kind: a heading line, then the items,
// wrapped before column 79. Blocks are parted by an empty line; no line
// break follows the last item, so an appended dump goes on on that line.
template <typename Sink>
void WriteEntries(Sink& sink, const std::vector<TTraceEntry>& entries, bool hex, bool allHex) {
  uint32_t column = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TTraceEntry& e = entries[i];
    if (i == 0 || e.Kind != entries[i - 1].Kind) {
      if (i != 0) {
        sink.Write("\r\n");
        sink.LineBreak();
      }
      column = 0;
      sink.Write(Heading(e.Kind));
      sink.LineBreak();
    }
    const std::string item = DumpByteItem(e.Value, hex, allHex);
    const uint32_t width = static_cast<uint32_t>(item.size());
    column += width;
    if (column > kLastColumn) {
      sink.LineBreak();
      column = width;
    }
    sink.Write(item);
    sink.Flush();
  }
}

}  // namespace

int32_t TTraceRing::Start(uint32_t entries) {
  if (entries > kMaxTraceEntries) return ecBadArgument;
  std::lock_guard lock(lock_);
  if (hasBuffer_) {
    index_ = 0;
    wrapped_ = false;
  } else {
    try {
      buffer_.assign(entries, TTraceEntry{0, 0});
    } catch (const std::bad_alloc&) {
      return ecOutOfMemory;
    }
    hasBuffer_ = true;
    index_ = 0;
    wrapped_ = false;
  }
  on_ = true;
  return 0;
}

int32_t TTraceRing::Clear() {
  std::lock_guard lock(lock_);
  index_ = 0;
  wrapped_ = false;
  return 0;
}

void TTraceRing::Stop() {
  std::lock_guard lock(lock_);
  StopLocked();
}

void TTraceRing::StopLocked() {
  on_ = false;
  hasBuffer_ = false;
  std::vector<TTraceEntry>().swap(buffer_);
  index_ = 0;
  wrapped_ = false;
}

void TTraceRing::Pause() {
  std::lock_guard lock(lock_);
  on_ = false;
}

void TTraceRing::Resume() {
  std::lock_guard lock(lock_);
  on_ = hasBuffer_;
}

bool TTraceRing::HasBuffer() {
  std::lock_guard lock(lock_);
  return hasBuffer_;
}

void TTraceRing::Add(char kind, uint8_t value) { AddBlock(kind, &value, 1); }

void TTraceRing::AddBlock(char kind, const uint8_t* values, uint32_t count) {
  if (!On() || count == 0) return;
  std::lock_guard lock(lock_);
  // A dump or a stop may have freed the buffer since the check above; a
  // ring of no entries has nowhere to put one.
  if (!on_ || !hasBuffer_ || buffer_.empty()) return;
  for (uint32_t i = 0; i < count; ++i) {
    buffer_[index_] = TTraceEntry{kind, values[i]};
    if (++index_ == buffer_.size()) {
      index_ = 0;
      wrapped_ = true;
    }
  }
}

std::vector<TTraceEntry> TTraceRing::Entries() {
  std::lock_guard lock(lock_);
  return EntriesLocked();
}

std::vector<TTraceEntry> TTraceRing::EntriesLocked() const {
  if (!wrapped_) return std::vector<TTraceEntry>(buffer_.begin(), buffer_.begin() + index_);
  // A wrapped ring holds all its entries, the oldest at index_.
  std::vector<TTraceEntry> out(buffer_.begin() + index_, buffer_.end());
  out.insert(out.end(), buffer_.begin(), buffer_.begin() + index_);
  return out;
}

std::string TTraceRing::Format(const std::vector<TTraceEntry>& entries, bool hex, bool allHex) {
  TStringSink sink;
  WriteEntries(sink, entries, hex, allHex);
  return sink.text;
}

int32_t TTraceRing::Write(const std::string& file, bool append, bool hex, bool allHex) {
  // Recording stops before the lock is taken, so that no thread queues up
  // to add to a trace that is being written.
  on_ = false;
  std::lock_guard lock(lock_);
  if (!hasBuffer_) return 0;
  std::vector<TTraceEntry> entries;
  try {
    entries = EntriesLocked();
  } catch (const std::bad_alloc&) {
    StopLocked();
    return ecOutOfMemory;
  }
  if (entries.empty()) {
    StopLocked();
    return 0;
  }
  TDumpFile out;
  if (const unsigned long err = out.Open(file, append); err != 0) {
    StopLocked();
    return -static_cast<int32_t>(err);
  }
  WriteEntries(out, entries, hex, allHex);
  const unsigned long err = out.Close();
  StopLocked();
  return -static_cast<int32_t>(err);
}

}  // namespace serial
