#pragma once
// Shared by the trace tests: a scratch directory per test, file reading and
// the golden files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "Files.h"

namespace tracetest {

using corvane::testsupport::ReadFile;

inline std::string Golden(const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(TRACE_GOLDEN_DIR) / name;
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  return ReadFile(path);
}

// A fresh directory under the system's temporary directory, removed with
// the fixture.
class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() /
          ("corvane-trace-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string File(const std::string& name) const { return (dir / name).string(); }

  std::filesystem::path dir;
};

}  // namespace tracetest
