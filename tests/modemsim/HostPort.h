#pragma once
// The host's end of a simulated modem for the tests: opens the slave of the
// modem's pseudo-terminal raw, like a program's serial port would, writes
// commands and reads the modem's bytes with time limits. One thread only.
#include <chrono>
#include <string>
#include <string_view>

namespace modemsim_test {

using namespace std::chrono_literals;

class HostPort {
 public:
  explicit HostPort(const std::string& path);
  ~HostPort();
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  void Send(std::string_view bytes);

  // Every read returns what was read up to the end of what it waited for
  // and keeps the rest for the next read; on time-out it returns all it has.
  // Reads until `needle` stands in what was read.
  std::string ReadUntil(std::string_view needle, std::chrono::milliseconds timeout = 2s);
  // Reads until a whole line starting with `prefix` (CR LF included) stands
  // in what was read.
  std::string ReadLine(std::string_view prefix, std::chrono::milliseconds timeout = 2s);
  // Reads whatever comes within `quiet`, and returns all of it.
  std::string ReadFor(std::chrono::milliseconds quiet);
  // Sends a command line and reads up to the first final result (or the
  // "> " prompt).
  std::string Command(std::string_view line, std::chrono::milliseconds timeout = 2s);
  // Reads up to the first final result (or prompt).
  std::string ReadFinal(std::chrono::milliseconds timeout = 2s);
  // True once the modem's end has gone (read gives end of file or EIO).
  bool LineGone(std::chrono::milliseconds timeout = 2s);

 private:
  bool Pump(std::chrono::milliseconds wait);
  std::string Take(size_t end);

  int fd_ = -1;
  std::string buffer_;
  bool gone_ = false;
};

// True when a final result line (or the "> " prompt) stands in `reply`.
bool HasFinalResult(const std::string& reply);

}  // namespace modemsim_test
