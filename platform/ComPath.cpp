#include "ComPath.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

namespace platform {

std::string ComDevicePath(unsigned comNumber) {
  if (comNumber == 0) return {};
  const std::string leaf = "COM" + std::to_string(comNumber);
  if (const char* dir = std::getenv("CORVANE_COM_DIR"); dir && *dir)
    return std::string(dir) + "/" + leaf;
  const std::string stable = "/dev/corvane/" + leaf;
  struct stat st;
  if (::stat(stable.c_str(), &st) == 0) return stable;
  return "/dev/ttyS" + std::to_string(comNumber - 1);
}

bool ParseComName(const std::string& name, unsigned& comNumber) {
  std::string rest = name;
  if (rest.rfind("\\\\.\\", 0) == 0) rest.erase(0, 4);
  if (rest.size() < 4) return false;
  if (std::toupper(static_cast<unsigned char>(rest[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(rest[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(rest[2])) != 'M')
    return false;
  unsigned long n = 0;
  for (size_t i = 3; i < rest.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
    n = n * 10 + static_cast<unsigned long>(rest[i] - '0');
    if (n > 65535) return false;
  }
  comNumber = static_cast<unsigned>(n);
  return true;
}

}  // namespace platform
