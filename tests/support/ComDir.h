#pragma once
// A private folder of COM<n> links for the program under test: made fresh,
// named in CORVANE_COM_DIR for the object's lifetime, removed with its links
// afterwards (and the variable with it). The constructor throws when no folder
// can be made. One per process at a time; one thread at a time.
#include <string>

#include "Files.h"

namespace corvane::testsupport {

class ComDir {
 public:
  explicit ComDir(const std::string& prefix = "corvane-com");
  ~ComDir();
  ComDir(const ComDir&) = delete;
  ComDir& operator=(const ComDir&) = delete;

  const std::string& Path() const { return dir_.Path(); }
  // Where COM<n> lives in the folder.
  std::string LinkPath(int comNumber) const;
  // Points COM<n> at target, replacing an earlier link; false when the link
  // could not be made.
  bool Link(int comNumber, const std::string& target) const;

 private:
  TempDir dir_;
};

}  // namespace corvane::testsupport
