#pragma once
// The class library's exception classes that the serial layer builds on and
// raises: the root `Exception` with its message, `EInOutError` for file and
// device errors (positive system error number in ErrorCode), `EOutOfMemory`
// and `EConvertError`. Plain values: copyable, no shared state, any thread.
#include <exception>
#include <string>
#include <utility>

namespace corvane {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A file or device operation failed; ErrorCode is the (positive) system or
// file error number, Message its text.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int errorCode)
      : Exception(std::move(message)), errorCode_(errorCode) {}

  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// Memory (or a system object standing for it) could not be had. Always
// carries the library's own message, whatever the raiser knew.
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
};

// A text could not be converted to the value asked for.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace corvane
