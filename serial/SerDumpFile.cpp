#include "SerDumpFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "SerMisc.h"
#include "SysError.h"

namespace serial {
namespace {

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.empty() ? "/" : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

}  // namespace

std::string DumpByteItem(unsigned char value, bool hex, bool allHex) {
  char text[8];
  const unsigned char lowest = hex ? '!' : ' ';
  if (!allHex && value >= lowest && value <= '~') {
    text[0] = static_cast<char>(value);
    text[1] = 0;
  } else if (allHex || hex) {
    std::snprintf(text, sizeof text, "[%02X]", value);
  } else {
    std::snprintf(text, sizeof text, "[%u]", value);
  }
  return text;
}

std::string ProgramDirectory() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  return ParentOf(std::string(buffer, static_cast<size_t>(n)));
}

std::string ResolveDumpPath(const std::string& name) {
  if (name.empty() || name.front() == '/') return name;
  return ProgramDirectory() + "/" + name;
}

TDumpFile::~TDumpFile() {
  if (file_) std::fclose(file_);
}

unsigned long TDumpFile::Open(const std::string& name, bool append) {
  error_ = 0;
  const std::string path = ResolveDumpPath(name);
  if (path.empty()) return error_ = platform::kErrFileNotFound;
  const bool appending = append && PathExists(path.c_str());
  file_ = std::fopen(path.c_str(), appending ? "ab" : "wb");
  if (!file_) {
    const int err = errno;
    // A missing directory reads as "path not found", as the operator would
    // be told for a mistyped folder.
    if (err == ENOENT && !DirectoryExists(ParentOf(path))) return error_ = platform::kErrPathNotFound;
    // Windows refuses a directory opened as a file as "access denied".
    if (err == EISDIR) return error_ = platform::kErrAccessDenied;
    return error_ = platform::WinErrorFromErrno(err);
  }
  std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
  return 0;
}

void TDumpFile::Fail(int err) {
  if (error_ == 0) error_ = platform::WinErrorFromErrno(err != 0 ? err : EIO);
}

void TDumpFile::Write(std::string_view text) {
  if (!file_ || error_ != 0 || text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Fail(errno);
}

void TDumpFile::Flush() {
  if (!file_ || error_ != 0) return;
  errno = 0;
  if (std::fflush(file_) != 0) Fail(errno);
}

unsigned long TDumpFile::Close() {
  if (file_) {
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int flushErr = errno;
    const bool closed = std::fclose(file_) == 0;
    const int closeErr = errno;
    file_ = nullptr;
    if (!flushed) Fail(flushErr);
    if (!closed) Fail(closeErr);
  }
  return error_;
}

}  // namespace serial
