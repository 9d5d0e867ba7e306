#include "ComDir.h"

#include <stdlib.h>
#include <unistd.h>

namespace corvane::testsupport {

ComDir::ComDir(const std::string& prefix) : dir_(prefix) {
  ::setenv("CORVANE_COM_DIR", dir_.Path().c_str(), 1);
}

ComDir::~ComDir() { ::unsetenv("CORVANE_COM_DIR"); }

std::string ComDir::LinkPath(int comNumber) const { return dir_.File("COM" + std::to_string(comNumber)); }

bool ComDir::Link(int comNumber, const std::string& target) const {
  const std::string link = LinkPath(comNumber);
  ::unlink(link.c_str());
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

}  // namespace corvane::testsupport
