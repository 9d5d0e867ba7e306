#pragma once
// TTraceRing: the byte trace of one dispatcher. Every byte handed to a reader
// of the input ring ("R") and every byte queued for output ("T") is kept, in
// order, in a ring of (kind, byte) entries, and written to a text file only
// when the port asks for a dump.
//
// What a caller may rely on:
//  - Every operation takes the lock given at construction (the dispatcher's
//    GeneralLock) and releases it on every path. Add and AddBlock may be
//    called from any thread; their check of On() outside the lock is only a
//    shortcut, the buffer is looked at again under the lock (a dump may just
//    have freed it). A block goes in whole, with no dump in its middle.
//  - Start allocates (no buffer while stopped); Pause/Resume only switch
//    recording; Clear empties; a dump writes and stops (frees); Stop frees.
//    The ring's owner frees it when it goes.
//  - A ring of 0 entries records nothing. A full ring overwrites its oldest
//    entries, and a dump of a wrapped ring writes all of them, oldest first.
//  - Results: 0, ecBadArgument (more than kMaxTraceEntries), ecOutOfMemory,
//    or minus the Windows error number of the file (SerDumpFile.h).
//  - An empty trace writes no file; the trace is stopped after every dump,
//    also a failed one.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace serial {

constexpr uint32_t kMaxTraceEntries = 4000000;

struct TTraceEntry {
  char Kind;      // 'T' queued for output, 'R' taken from the input ring
  uint8_t Value;
  bool operator==(const TTraceEntry&) const = default;
};

class TTraceRing {
 public:
  explicit TTraceRing(std::recursive_mutex& lock) : lock_(lock) {}
  TTraceRing(const TTraceRing&) = delete;
  TTraceRing& operator=(const TTraceRing&) = delete;

  int32_t Start(uint32_t entries);
  int32_t Clear();
  void Stop();
  void Pause();
  // Switches recording on again, only while a buffer exists.
  void Resume();
  void Add(char kind, uint8_t value);
  // The bytes of one block, in order, under one taking of the lock.
  void AddBlock(char kind, const uint8_t* values, uint32_t count);
  int32_t Dump(const std::string& file, bool hex, bool allHex) { return Write(file, false, hex, allHex); }
  int32_t Append(const std::string& file, bool hex, bool allHex) { return Write(file, true, hex, allHex); }

  bool On() const { return on_.load(std::memory_order_relaxed); }
  bool HasBuffer();
  // The recorded entries, oldest first (for tests and diagnostics).
  std::vector<TTraceEntry> Entries();

  // The dump text of these entries, as Dump writes it.
  static std::string Format(const std::vector<TTraceEntry>& entries, bool hex, bool allHex);

 private:
  int32_t Write(const std::string& file, bool append, bool hex, bool allHex);
  std::vector<TTraceEntry> EntriesLocked() const;
  void StopLocked();

  std::recursive_mutex& lock_;
  std::atomic<bool> on_{false};
  bool hasBuffer_ = false;
  std::vector<TTraceEntry> buffer_;
  uint32_t index_ = 0;     // next entry to write
  bool wrapped_ = false;   // the ring has filled: the oldest entry is at index_
};

}  // namespace serial
