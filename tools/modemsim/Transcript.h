#pragma once
// Everything that crossed one modem's line, in order, with the time it was
// read or written: bytes from the host (ToModem), bytes from the modem
// (FromModem, one entry per write, so chunk borders are visible) and events
// (hang-up, card inserted ...). Thread-safe: the bank's loop thread adds,
// tests read and wait from theirs. Waits are bounded by their time-out.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace modemsim {

enum class Direction { ToModem, FromModem, Event };

struct TranscriptEntry {
  std::chrono::steady_clock::time_point at;
  long long ms = 0;  // milliseconds since the bank started
  Direction direction = Direction::Event;
  std::string bytes;
};

class Transcript {
 public:
  using Clock = std::chrono::steady_clock;
  using Sink = std::function<void(const TranscriptEntry&)>;

  explicit Transcript(Clock::time_point origin) : origin_(origin) {}

  void Add(Direction direction, std::string bytes);
  // Runs `write` (which returns how many leading bytes went out, or < 0)
  // under the transcript's lock and records what went out as one
  // FromModem entry, so a reader never sees bytes on the line before they
  // stand in the transcript. Returns write's result.
  long AddWritten(const std::string& bytes, const std::function<long(const std::string&)>& write);
  // Called (under the transcript's lock, in order) for every entry added.
  void SetSink(Sink sink);
  // false: entries only go to the sink (a long-running program keeps no
  // history in memory); Entries() and the texts then stay empty.
  void SetKeep(bool keep);

  std::vector<TranscriptEntry> Entries() const;
  std::string HostText() const;   // all bytes the host sent, joined
  std::string ModemText() const;  // all bytes the modem sent, joined
  size_t HostSize() const;
  size_t ModemSize() const;

  // Wait until `needle` stands in the joined text at or after `from`;
  // returns false on time-out.
  bool WaitHost(std::string_view needle, std::chrono::milliseconds timeout, size_t from = 0) const;
  bool WaitModem(std::string_view needle, std::chrono::milliseconds timeout, size_t from = 0) const;

  void Clear();

  // "<ms> <label> <dir> \"<escaped bytes>\"" as the program's transcript file has it.
  static std::string Format(const TranscriptEntry& e, const std::string& label);

 private:
  void Record(TranscriptEntry e);  // with the lock held
  bool Wait(const std::string& text, std::string_view needle, std::chrono::milliseconds timeout,
            size_t from) const;

  const Clock::time_point origin_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<TranscriptEntry> entries_;
  std::string host_;
  std::string modem_;
  Sink sink_;
  bool keep_ = true;
};

}  // namespace modemsim
