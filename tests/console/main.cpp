// The console tests run inside one application object on the offscreen
// platform, as the program would, with message boxes replaced by recorders.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TApplication.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
