#pragma once
// Files for tests: whole files read and written as bytes, and a fresh
// temporary folder removed with its contents. Plain functions and a plain
// object, any thread.
#include <filesystem>
#include <string>

namespace corvane::testsupport {

// The file's bytes; "" when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Replaces the file's contents with bytes (no error reported: the test's
// later reads show a failed write).
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A fresh directory <temp>/<prefix>-XXXXXX; the constructor throws when none
// can be made, the destructor removes it with its contents.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace corvane::testsupport
