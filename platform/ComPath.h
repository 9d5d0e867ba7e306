#pragma once
// Where COM number n lives on this machine. Both programs and the tests name
// ports by number; this is the one place that turns a number into a device.
//   1. $CORVANE_COM_DIR/COM<n> when CORVANE_COM_DIR is set (tests, simulator);
//   2. /dev/corvane/COM<n> when it exists (an operator's udev SYMLINK+= rule);
//   3. /dev/ttyS<n-1>.
// Number 0 names no port and gives an empty path. Reads the environment on
// every call, so a test may point CORVANE_COM_DIR elsewhere between opens.
#include <string>

namespace platform {

std::string ComDevicePath(unsigned comNumber);

// Parses "\\.\COM<n>" or "COM<n>" (any case of "COM"); false for anything else.
bool ParseComName(const std::string& name, unsigned& comNumber);

}  // namespace platform
