// The dispatch log: its dump against golden files for each entry kind this
// system raises, the record forms it only decodes, and the ring's rules
// (whole entries only, oldest dropped first, failed write, restart).
#include <algorithm>
#include <atomic>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "SerCodes.h"
#include "SerLog.h"
#include "TraceSupport.h"

namespace {

using namespace serial;
using tracetest::Golden;
using tracetest::ReadFile;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A log on a clock the test sets.
class Log : public tracetest::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    now = 500;
    log.SetTimeBase();
    log.SetHead({"TestCC 1.0", "TestOS 1.0"});
  }
  void At(uint32_t ms, uint8_t kind, uint8_t sub, uint32_t data, const std::vector<uint8_t>& extra = {}) {
    now = 500 + ms;
    log.Add(kind, sub, data, extra.empty() ? nullptr : extra.data(), static_cast<uint32_t>(extra.size()));
  }
  // What a port with logging on sees of one "AT+CSQ" exchange, and a few
  // entries at the far ends of the time column.
  void RecordTraffic() {
    At(1234, lkDispatch, lsWriteCom, 7, Bytes("AT+CSQ\r"));
    At(1250, lkDispatch, lsReadCom, 20, Bytes("\r\n+CSQ: 21,0\r\n\r\nOK\r\n"));
    At(1251, lkTrigger, lsAvail, 20);
    At(1300, lkTrigHandlerAlloc, lsWindow, 0x12345);
    At(1400, lkTrigHandlerDispose, lsWindow, 0x12345);
    At(1500, lkTriggerDataChange, lsTrigAvail, 1);
    At(10000000, lkDispatch, lsReadCom, 0);  // a read that found nothing
    std::vector<uint8_t> many;
    for (int i = 0; i < 100; ++i) many.push_back(static_cast<uint8_t>(i * 7));
    At(10000001, lkDispatch, lsReadCom, 100, many);
  }

  std::atomic<uint32_t> now{0};
  std::recursive_mutex lock;
  TDispatchLog log{lock, [this] { return now.load(); }};
};

struct LogForm {
  const char* name;
  bool hex;
  bool allHex;
  const char* golden;
};

// The case's name stands for it in test names and failure messages.
void PrintTo(const LogForm& form, std::ostream* os) { *os << form.name; }

class LogDump : public Log, public ::testing::WithParamInterface<LogForm> {};

TEST_P(LogDump, WritesTheGoldenFile) {
  ASSERT_EQ(log.Start(4096), 0);
  RecordTraffic();
  const std::string file = File("SERIAL.LOG");
  EXPECT_EQ(log.Dump(file, GetParam().hex, GetParam().allHex), 0);
  EXPECT_EQ(ReadFile(file), Golden(GetParam().golden));
  EXPECT_FALSE(log.HasBuffer());
}

INSTANTIATE_TEST_SUITE_P(Forms, LogDump,
                         ::testing::Values(LogForm{"Hex", true, false, "traffic_hex.log"},
                                           LogForm{"Text", false, false, "traffic_text.log"},
                                           LogForm{"AllHex", false, true, "traffic_allhex.log"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Log, AnAppendedLogRepeatsTheHead) {
  const std::string file = File("SERIAL.LOG");
  log.Start(256);
  At(5, lkDispatch, lsWriteCom, 2, Bytes("AT"));
  ASSERT_EQ(log.Append(file, true, false), 0);
  log.Start(256);
  At(6, lkDispatch, lsReadCom, 2, Bytes("OK"));
  ASSERT_EQ(log.Append(file, true, false), 0);
  EXPECT_EQ(ReadFile(file), Golden("append.log"));
}

// Forms of records that this system never raises but a dump decodes.
TEST(LogRecord, DecodedForms) {
  struct Row {
    TLogEntry entry;
    const char* text;
  };
  const Row rows[] = {
      {{lkTrigAlloc, lsTrigStatus, 0, 7, {2}}, "0000.000  TrigAllc  Status        00000007  (Line status)"},
      {{lkTrigAlloc, lsTrigStatus, 0, 7, {6}}, "0000.000  TrigAllc  Status        00000007  "},
      {{lkDispatch, lsModemStatus, 0, 0x31, {'x'}},
       "0000.000  Dispatch  Modem status  00000031  x(DCTS CTS DSR)"},
      {{lkTelnet, 0, 0, 1, {}}, "0000.000  Telnet                  00000001  [Echo]"},
      {{lkTelnet, 0, 0, 43, {}}, "0000.000  Telnet                  0000002B  []"},
      {{lkUser, 0, 0, 0, {'a', 1}}, "0000.000  User                    00000000  a\x01"},
  };
  for (const Row& r : rows) EXPECT_EQ(TDispatchLog::FormatRecord(r.entry, false, r.entry.Kind == lkUser), r.text);
  EXPECT_EQ(StatusTriggerType(0x1232), 2u);
}

TEST_F(Log, AnEntryGoesInWholeOrNotAtAll) {
  log.Start(64);
  // 16 + 48 = 64 bytes: as large as the ring, not recorded.
  At(1, lkDispatch, lsReadCom, 48, std::vector<uint8_t>(48, 'a'));
  EXPECT_TRUE(log.Entries().empty());
  EXPECT_EQ(log.FreeBytes(), 64u);
  // 16 + 47 fits; the next one pushes it out whole.
  At(2, lkDispatch, lsReadCom, 47, std::vector<uint8_t>(47, 'b'));
  At(3, lkTrigger, lsAvail, 47);
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], (TLogEntry{lkTrigger, lsAvail, 3, 47, {}}));
}

TEST_F(Log, AFullRingKeepsTheNewestEntriesReadableWhateverTheirSizes) {
  constexpr uint32_t kRing = 1000;
  log.Start(kRing);
  std::mt19937 random(7);
  std::vector<TLogEntry> added;
  for (uint32_t i = 0; i < 500; ++i) {
    std::vector<uint8_t> extra(random() % 120);
    for (auto& b : extra) b = static_cast<uint8_t>(random());
    At(i, lkDispatch, lsReadCom, i, extra);
    added.push_back({lkDispatch, lsReadCom, i, i, extra});
    // What the ring holds is always the newest entries that fit, in order.
    const auto held = log.Entries();
    ASSERT_FALSE(held.empty());
    ASSERT_LE(held.size(), added.size());
    EXPECT_TRUE(std::equal(held.begin(), held.end(), added.end() - static_cast<long>(held.size())));
    uint32_t used = 0;
    for (const auto& e : held) used += 16 + static_cast<uint32_t>(e.Extra.size());
    ASSERT_EQ(used + log.FreeBytes(), kRing);
  }
}

TEST_F(Log, AWholeInputRingReadIsRecordedAndDumped) {
  // A device read fills up to the whole 8192-byte input ring at once.
  log.Start(20000);
  At(1, lkDispatch, lsReadCom, 8192, std::vector<uint8_t>(8192, 'z'));
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Extra.size(), 8192u);
  ASSERT_EQ(log.Dump(File("SERIAL.LOG"), true, false), 0);
  const std::string text = ReadFile(File("SERIAL.LOG"));
  EXPECT_EQ(std::count(text.begin(), text.end(), 'z'), 8192);
}

TEST_F(Log, SizeZeroAndEmptyLogsWriteNoFile) {
  const std::string file = File("SERIAL.LOG");
  EXPECT_EQ(log.Dump(file, true, false), 0);  // never started
  log.Start(0);
  At(1, lkTrigger, lsAvail, 1);
  EXPECT_EQ(log.Dump(file, true, false), 0);
  log.Start(100);
  EXPECT_EQ(log.Dump(file, true, false), 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(log.HasBuffer());
}

TEST_F(Log, StartingAgainSwitchesRecordingOn) {
  log.Start(256);
  At(1, lkTrigger, lsAvail, 1);
  log.Pause();
  At(2, lkTrigger, lsAvail, 2);
  EXPECT_EQ(log.Entries().size(), 1u);
  log.Start(256);  // the buffer exists: emptied, and recording again
  At(3, lkTrigger, lsAvail, 3);
  ASSERT_EQ(log.Entries().size(), 1u);
  EXPECT_EQ(log.Entries()[0].Data, 3u);
  log.Pause();
  log.Resume();
  At(4, lkTrigger, lsAvail, 4);
  EXPECT_EQ(log.Entries().size(), 2u);
  log.Clear();
  EXPECT_TRUE(log.Entries().empty());
  log.Stop();
  log.Resume();
  EXPECT_FALSE(log.On());
}

TEST_F(Log, AFailedDumpKeepsTheRecordsWithRecordingOff) {
  log.Start(256);
  At(1, lkTrigger, lsAvail, 1);
  EXPECT_EQ(log.Dump(File("missing/SERIAL.LOG"), true, false), -3);
  EXPECT_TRUE(log.HasBuffer());
  EXPECT_FALSE(log.On());
  At(2, lkTrigger, lsAvail, 2);  // not recorded
  ASSERT_EQ(log.Dump(File("SERIAL.LOG"), true, false), 0);
  const std::string text = ReadFile(File("SERIAL.LOG"));
  EXPECT_NE(text.find("0000.001  Trigger   Avail         00000001  \r\n"), std::string::npos);
  EXPECT_EQ(text.find("00000002"), std::string::npos);
}

TEST(LogHead, NamesTheCompilerAndTheSystem) {
  const TLogHead head = SystemLogHead();
  EXPECT_TRUE(head.Compiler.rfind("GCC ", 0) == 0 || head.Compiler.rfind("Clang ", 0) == 0) << head.Compiler;
  EXPECT_EQ(head.OperatingSystem.rfind("Linux ", 0), 0u) << head.OperatingSystem;
  EXPECT_LE(head.OperatingSystem.size(), 80u);
}

}  // namespace
