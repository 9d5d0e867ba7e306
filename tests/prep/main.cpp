// The tool's tests run inside one application object on the offscreen
// platform, as the program would, with message boxes replaced by recorders.
#include <gtest/gtest.h>

#include "TApplication.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
