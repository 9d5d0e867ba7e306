// The Qt-free slot layer under the instance limiter, in one process: flock
// locks belong to open files, so two takes in one process exclude each other
// exactly as two processes do.
#include "InstanceSlots.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;
using platform::InstanceSlot;

namespace {

class InstanceSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cvs-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(InstanceSlotsTest, KeyDropsSlashesBackslashesAndBlanks) {
  struct Row {
    const char* path;
    const char* key;
  };
  const Row rows[] = {
      {"/opt/corvane/Corvane", "optcorvaneCorvane"},
      {"/opt/my corvane/Corvane", "optmycorvaneCorvane"},
      {"/opt/mycorvane/Corvane", "optmycorvaneCorvane"},  // the same key as the path with a blank
      {"C:\\Program Files\\Corvane\\Corvane.exe", "C:ProgramFilesCorvaneCorvane.exe"},
      {"/a//b\\ c", "abc"},
  };
  for (const Row& r : rows) EXPECT_EQ(platform::InstanceKey(r.path), r.key) << r.path;
}

TEST_F(InstanceSlotsTest, SlotsAreTakenUpToTheLimitAndFreedOnRelease) {
  std::vector<InstanceSlot> held(3);
  for (unsigned n = 0; n < 3; ++n) {
    ASSERT_EQ(InstanceSlot::Take("optCorvane", 3, held[n]), InstanceSlot::Outcome::Taken);
    EXPECT_EQ(held[n].Number(), n);
  }
  InstanceSlot extra;
  EXPECT_EQ(InstanceSlot::Take("optCorvane", 3, extra), InstanceSlot::Outcome::AllTaken);
  EXPECT_FALSE(extra.Held());

  EXPECT_EQ(InstanceSlot::Take("otherCorvane", 3, extra), InstanceSlot::Outcome::Taken) << "other keys count apart";
  extra.Release();

  held[1].Release();
  ASSERT_EQ(InstanceSlot::Take("optCorvane", 3, extra), InstanceSlot::Outcome::Taken);
  EXPECT_EQ(extra.Number(), 1u);
}

TEST_F(InstanceSlotsTest, TheFirstCopyIsAdmittedWhateverTheLimit) {
  InstanceSlot first, second;
  EXPECT_EQ(InstanceSlot::Take("k", 0, first), InstanceSlot::Outcome::Taken);
  EXPECT_EQ(InstanceSlot::Take("k", 0, second), InstanceSlot::Outcome::AllTaken);
}

TEST_F(InstanceSlotsTest, TheLastRegistrationIsRecorded) {
  const std::string folder = InstanceSlot::FolderFor("k");
  ASSERT_FALSE(folder.empty());
  EXPECT_FALSE(InstanceSlot::ReadLast(folder).has_value());
  InstanceSlot a, b;
  ASSERT_EQ(InstanceSlot::Take("k", 2, a), InstanceSlot::Outcome::Taken);
  ASSERT_EQ(InstanceSlot::Take("k", 2, b), InstanceSlot::Outcome::Taken);
  a.RecordAsLast();
  b.RecordAsLast();
  auto last = InstanceSlot::ReadLast(folder);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->slot, 1u);
  EXPECT_EQ(last->pid, std::uint32_t(::getpid()));
}

TEST_F(InstanceSlotsTest, LongKeysKeepSocketPathsShortAndApart) {
  const std::string a = std::string(300, 'x') + "Corvane";
  const std::string b = std::string(301, 'x') + "Corvane";
  const std::string fa = InstanceSlot::FolderFor(a), fb = InstanceSlot::FolderFor(b);
  ASSERT_FALSE(fa.empty());
  ASSERT_FALSE(fb.empty());
  EXPECT_NE(fa, fb);
  EXPECT_LT(InstanceSlot::SocketPath(fa, 15).size(), 100u);
}

}  // namespace
