// Opens one port the way the port component does and prints the code it
// reports; the device tests run it as a second process on a held port.
#include <cstdio>

#include "SerCodes.h"
#include "SerDevice.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  serial::TWin32Dispatcher d(nullptr);
  const int32_t code = serial::OpenResultCode(d.OpenChannel(argv[1], 115200, 0, 8, 1, 4096, 4096, true, false));
  std::printf("%d\n", code);
  return 0;
}
