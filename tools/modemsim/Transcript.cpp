#include "Transcript.h"

#include <cstdio>

#include "SimText.h"

namespace modemsim {

void Transcript::Add(Direction direction, std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  TranscriptEntry e;
  e.at = Clock::now();
  e.ms = std::chrono::duration_cast<std::chrono::milliseconds>(e.at - origin_).count();
  e.direction = direction;
  e.bytes = std::move(bytes);
  Record(std::move(e));
}

void Transcript::Record(TranscriptEntry e) {
  if (sink_) sink_(e);
  if (!keep_) return;
  if (e.direction == Direction::ToModem) host_ += e.bytes;
  if (e.direction == Direction::FromModem) modem_ += e.bytes;
  entries_.push_back(std::move(e));
  changed_.notify_all();
}

void Transcript::SetKeep(bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  keep_ = keep;
}

long Transcript::AddWritten(const std::string& bytes,
                            const std::function<long(const std::string&)>& write) {
  std::lock_guard<std::mutex> lock(mutex_);
  const long n = write(bytes);
  if (n <= 0) return n;
  TranscriptEntry e;
  e.at = Clock::now();
  e.ms = std::chrono::duration_cast<std::chrono::milliseconds>(e.at - origin_).count();
  e.direction = Direction::FromModem;
  e.bytes = bytes.substr(0, static_cast<size_t>(n));
  Record(std::move(e));
  return n;
}

void Transcript::SetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
}

std::vector<TranscriptEntry> Transcript::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

std::string Transcript::HostText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_;
}

std::string Transcript::ModemText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modem_;
}

size_t Transcript::HostSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_.size();
}

size_t Transcript::ModemSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modem_.size();
}

bool Transcript::Wait(const std::string& text, std::string_view needle,
                      std::chrono::milliseconds timeout, size_t from) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return from <= text.size() && text.find(needle, from) != std::string::npos;
  });
}

bool Transcript::WaitHost(std::string_view needle, std::chrono::milliseconds timeout,
                          size_t from) const {
  return Wait(host_, needle, timeout, from);
}

bool Transcript::WaitModem(std::string_view needle, std::chrono::milliseconds timeout,
                           size_t from) const {
  return Wait(modem_, needle, timeout, from);
}

void Transcript::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  host_.clear();
  modem_.clear();
}

std::string Transcript::Format(const TranscriptEntry& e, const std::string& label) {
  static const char* const names[] = {"in ", "out", "---"};
  char head[64];
  std::snprintf(head, sizeof head, "%10lld.%03lld %s %s ", e.ms / 1000, e.ms % 1000,
                label.c_str(), names[static_cast<int>(e.direction)]);
  if (e.direction == Direction::Event) return head + e.bytes;
  return head + ("\"" + Escape(e.bytes) + "\"");
}

}  // namespace modemsim
