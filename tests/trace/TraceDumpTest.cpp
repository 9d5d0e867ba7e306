// The trace ring and its dump: every form of the dump against golden files,
// and the ring's rules (size limit, empty trace, wrap, failed write).
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "SerCodes.h"
#include "SerDumpFile.h"
#include "SerTrace.h"
#include "TraceSupport.h"

namespace {

using serial::TTraceEntry;
using serial::TTraceRing;
using tracetest::Golden;
using tracetest::ReadFile;

struct Traffic {
  char kind;
  std::string bytes;
};

void Record(TTraceRing& ring, const std::vector<Traffic>& traffic) {
  for (const Traffic& t : traffic)
    for (const char c : t.bytes) ring.Add(t.kind, static_cast<uint8_t>(c));
}

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

const std::vector<Traffic> kCsq = {{'T', "AT+CSQ\r"}, {'R', "\r\n+CSQ: 21,0\r\n\r\nOK\r\n"}};

struct DumpCase {
  const char* name;
  uint32_t size;
  std::vector<Traffic> traffic;
  bool hex;
  bool allHex;
  const char* golden;
};

// The case's name stands for it in test names and failure messages.
void PrintTo(const DumpCase& c, std::ostream* os) { *os << c.name; }

const DumpCase kDumpCases[] = {
    {"AtOkText", 100, {{'T', "AT\r"}, {'R', "\r\nOK\r\n"}}, false, false, "at_ok_text.trc"},
    {"CsqText", 100, kCsq, false, false, "csq_text.trc"},
    {"CsqHex", 100, kCsq, true, false, "csq_hex.trc"},
    {"CsqAllHex", 100, kCsq, false, true, "csq_allhex.trc"},
    // Three entries after five: the last three, oldest first.
    {"Wrapped", 3, {{'T', "ABCDE"}}, false, false, "wrapped.trc"},
    // Items of width 1, 3, 4 and 5 wrapping before column 79, and a kind of
    // its own.
    {"WidthsText", 1000, {{'R', AllBytes()}, {'X', "z"}}, false, false, "widths_text.trc"},
    // 19 items of width 4 fill 76 columns; the 20th starts a new line.
    {"WidthsHex", 100, {{'R', std::string(25, '\x01')}}, true, false, "widths_hex.trc"},
};

class TraceDump : public tracetest::ScratchDir, public ::testing::WithParamInterface<DumpCase> {
 protected:
  std::recursive_mutex lock;
  TTraceRing ring{lock};
};

TEST_P(TraceDump, WritesTheGoldenFile) {
  const DumpCase& c = GetParam();
  ASSERT_EQ(ring.Start(c.size), 0);
  Record(ring, c.traffic);
  const std::string file = File("SERIAL.TRC");
  EXPECT_EQ(ring.Dump(file, c.hex, c.allHex), 0);
  EXPECT_EQ(ReadFile(file), Golden(c.golden));
  // A dump stops the trace.
  EXPECT_FALSE(ring.HasBuffer());
  EXPECT_FALSE(ring.On());
}

INSTANTIATE_TEST_SUITE_P(Forms, TraceDump, ::testing::ValuesIn(kDumpCases),
                         [](const auto& info) { return std::string(info.param.name); });

using TraceRing = tracetest::ScratchDir;

TEST_F(TraceRing, AnAppendedDumpGoesOnOnTheLastLine) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  const std::string file = File("SERIAL.TRC");
  ring.Start(10);
  Record(ring, {{'T', "AT\r"}});
  ASSERT_EQ(ring.Append(file, false, false), 0);  // no file yet: created
  ring.Start(10);
  Record(ring, {{'R', "OK"}});
  ASSERT_EQ(ring.Append(file, false, false), 0);
  EXPECT_EQ(ReadFile(file), Golden("append.trc"));
  // A dump (not an append) starts the file again.
  ring.Start(10);
  Record(ring, {{'T', "AT\r"}});
  ASSERT_EQ(ring.Dump(file, false, false), 0);
  EXPECT_EQ(ReadFile(file), "Transmit: \r\nAT[13]");
}

TEST_F(TraceRing, AnEmptyTraceWritesNoFileAndStops) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  const std::string file = File("SERIAL.TRC");
  EXPECT_EQ(ring.Dump(file, false, false), 0);  // never started
  ring.Start(10);
  EXPECT_EQ(ring.Dump(file, false, false), 0);
  EXPECT_FALSE(ring.HasBuffer());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(TraceRing, SizeZeroRecordsNothing) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  ASSERT_EQ(ring.Start(0), 0);
  Record(ring, {{'T', "AT\r"}});
  EXPECT_TRUE(ring.Entries().empty());
  EXPECT_EQ(ring.Dump(File("SERIAL.TRC"), false, false), 0);
  EXPECT_FALSE(std::filesystem::exists(File("SERIAL.TRC")));
}

TEST_F(TraceRing, MoreThanFourMillionEntriesIsABadArgument) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  EXPECT_EQ(ring.Start(serial::kMaxTraceEntries + 1), serial::ecBadArgument);
  EXPECT_FALSE(ring.HasBuffer());
  ring.Start(4);
  Record(ring, {{'T', "AB"}});
  EXPECT_EQ(ring.Start(serial::kMaxTraceEntries + 1), serial::ecBadArgument);
  EXPECT_EQ(ring.Entries().size(), 2u);  // nothing changed
}

TEST_F(TraceRing, PauseResumeClearAndRestart) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  ring.Resume();  // no buffer: stays off
  EXPECT_FALSE(ring.On());
  ring.Start(8);
  Record(ring, {{'T', "A"}});
  ring.Pause();
  Record(ring, {{'T', "B"}});
  ring.Resume();
  Record(ring, {{'R', "C"}});
  EXPECT_EQ(ring.Entries(), (std::vector<TTraceEntry>{{'T', 'A'}, {'R', 'C'}}));
  ring.Clear();
  EXPECT_TRUE(ring.Entries().empty());
  EXPECT_TRUE(ring.On());
  Record(ring, {{'T', "D"}});
  ring.Start(8);  // a buffer exists: emptied, recording on
  EXPECT_TRUE(ring.Entries().empty());
  EXPECT_TRUE(ring.On());
  ring.Stop();
  EXPECT_FALSE(ring.HasBuffer());
  Record(ring, {{'T', "E"}});
  EXPECT_TRUE(ring.Entries().empty());
}

TEST_F(TraceRing, AFileThatCannotBeOpenedStopsTheTrace) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  ring.Start(8);
  Record(ring, {{'T', "AT"}});
  EXPECT_EQ(ring.Dump(File("missing/SERIAL.TRC"), false, false), -3);  // path not found
  EXPECT_FALSE(ring.HasBuffer());
  ring.Start(8);
  Record(ring, {{'T', "AT"}});
  std::filesystem::create_directory(File("adir"));
  EXPECT_LT(ring.Dump(File("adir"), false, false), 0);  // a directory is no file
  EXPECT_FALSE(ring.HasBuffer());
}

TEST_F(TraceRing, ARelativeNameIsTakenFromTheProgramDirectory) {
  std::recursive_mutex lock;
  TTraceRing ring(lock);
  const std::string name = "trace-relative-" + std::to_string(::getpid()) + ".trc";
  const std::filesystem::path expected = std::filesystem::path(serial::ProgramDirectory()) / name;
  ring.Start(8);
  Record(ring, {{'T', "AT"}});
  ASSERT_EQ(ring.Dump(name, false, false), 0);
  EXPECT_EQ(ReadFile(expected), "Transmit: \r\nAT");
  std::filesystem::remove(expected);
}

}  // namespace
