#pragma once
// TDispatchLog: the dispatch log of one dispatcher. Time-stamped records of
// what the dispatcher did (device reads, queued blocks, notices, receivers
// added and removed, threshold changes) are kept in a byte ring and written
// to a text file only when the port asks for a dump.
//
// What a caller may rely on:
//  - Every operation takes the lock given at construction (the dispatcher's
//    GeneralLock) and releases it on every path. Add may be called from any
//    thread (the dispatch thread holds InputLock then; the order is InputLock
//    before GeneralLock); it looks at the buffer again under the lock, so a
//    dump that has just freed it is no hazard. Recording allocates nothing.
//  - An entry goes into the ring whole or not at all: room is made by
//    dropping the oldest entries whole, and an entry of at least the ring's
//    size (16 bytes of head plus its extra bytes) is not recorded. So the
//    ring always reads back entry by entry.
//  - Start allocates or, when a buffer exists, empties it; both switch
//    recording on. A dump consumes what it writes and stops (frees); a dump
//    whose file cannot be opened keeps the data with recording off. The
//    ring's owner frees it when it goes.
//  - Results: 0, ecOutOfMemory, or minus the Windows error number of the
//    file (SerDumpFile.h). An empty log writes no file.
//  - Times are milliseconds since SetTimeBase, read from the clock given at
//    construction (tests give a clock of their own).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace serial {

// Entry kinds (texts 15001 + kind of the error-string table).
enum TLogKind : uint8_t {
  lkNoEvent = 0, lkDispatch = 1, lkTrigger = 2, lkError = 3, lkThread = 4,
  lkTrigAlloc = 5, lkTrigDispose = 6, lkTrigHandlerAlloc = 7, lkTrigHandlerDispose = 8,
  lkTriggerDataChange = 9, lkTelnet = 10, lkUser = 19,
};
// Subkinds this layer writes (texts 15100 + subkind; 0 = none).
enum TLogSubKind : uint8_t {
  lsNone = 0, lsReadCom = 1, lsWriteCom = 2, lsLineStatus = 3, lsModemStatus = 4,
  lsAvail = 5, lsTimer = 6, lsData = 7, lsStatus = 8,
  lsTrigStatus = 15, lsTrigAvail = 16, lsWindow = 17,
};

// Status-trigger types: 0 not active, 1 modem status, 2 line status,
// 3 output buffer free, 4 output buffer used, 5 output sent.
constexpr uint32_t StatusTriggerType(uint32_t handle) { return handle & 7; }

constexpr uint32_t kLogEntryHeadSize = 16;

struct TLogEntry {
  uint8_t Kind = 0;
  uint8_t SubKind = 0;
  uint32_t Time = 0;
  uint32_t Data = 0;
  std::vector<uint8_t> Extra;
  bool operator==(const TLogEntry&) const = default;
};

// The two version lines of a dump's head.
struct TLogHead {
  std::string Compiler;         // after "Compiler : "
  std::string OperatingSystem;  // after "Operating System : ", at most 80 characters
};
// This build's toolchain and the running system (uname: name and release).
TLogHead SystemLogHead();

using TLogClock = std::function<uint32_t()>;

class TDispatchLog {
 public:
  explicit TDispatchLog(std::recursive_mutex& lock, TLogClock clock = {});
  TDispatchLog(const TDispatchLog&) = delete;
  TDispatchLog& operator=(const TDispatchLog&) = delete;

  // The device has opened: times count from now.
  void SetTimeBase();
  uint32_t ElapsedMs();

  int32_t Start(uint32_t bytes);
  void Clear();
  void Stop();
  void Pause();
  // Switches recording on again, only while a buffer exists.
  void Resume();
  void Add(uint8_t kind, uint8_t subKind, uint32_t data, const uint8_t* extra, uint32_t length);
  int32_t Dump(const std::string& file, bool hex, bool allHex) { return Write(file, false, hex, allHex); }
  int32_t Append(const std::string& file, bool hex, bool allHex) { return Write(file, true, hex, allHex); }

  bool On() const { return on_.load(std::memory_order_relaxed); }
  bool HasBuffer();
  uint32_t FreeBytes();
  // The entries held, oldest first, without consuming them (tests).
  std::vector<TLogEntry> Entries();
  // Replaces the version lines of later dumps (tests: a fixed head).
  void SetHead(TLogHead head);

  // One record of a dump, without its line end(s): the 44-character prefix
  // and what follows it, continuation lines parted by CR LF.
  static std::string FormatRecord(const TLogEntry& entry, bool hex, bool allHex);

 private:
  int32_t Write(const std::string& file, bool append, bool hex, bool allHex);
  void StopLocked();
  void PutBytes(const uint8_t* bytes, uint32_t n);
  void CopyOut(uint32_t from, uint8_t* to, uint32_t n) const;
  uint32_t MoreLengthAt(uint32_t offset) const;
  void DropOldest();
  // Reads the oldest entry into entry (its extra bytes into entry.Extra);
  // false when the ring is empty.
  bool TakeEntry(TLogEntry& entry);

  std::recursive_mutex& lock_;
  const TLogClock clock_;
  std::atomic<bool> on_{false};
  bool hasBuffer_ = false;
  std::vector<uint8_t> ring_;
  uint32_t size_ = 0;
  uint32_t head_ = 0;  // write offset
  uint32_t tail_ = 0;  // oldest entry
  uint32_t free_ = 0;
  uint32_t timeBase_ = 0;
  TLogHead headLines_;
};

}  // namespace serial
