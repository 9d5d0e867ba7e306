// Recording from several threads while the GUI thread dumps, stops and
// restarts: no entry is torn, no write lands in a freed buffer, and every
// dump reads back whole. Meant for ThreadSanitizer and AddressSanitizer.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SerLog.h"
#include "SerTrace.h"
#include "TraceSupport.h"

namespace {

using namespace serial;
using tracetest::ReadFile;

// Each record of 200 equal bytes reads back as its prefix line and
// continuation lines holding exactly those 200 bytes.
void ExpectWholeRecords(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_GE(lines.size(), 5u);
  std::string items;
  auto finish = [&items] {
    if (items.empty()) return;
    EXPECT_EQ(items.size(), 200u);
    EXPECT_EQ(items.find_first_not_of(items[0]), std::string::npos);
    items.clear();
  };
  for (size_t i = 5; i < lines.size(); ++i) {
    ASSERT_GT(lines[i].size(), 44u);
    if (lines[i][0] != ' ') finish();
    items += lines[i].substr(44);
  }
  finish();
}

using RecordingRace = tracetest::ScratchDir;

TEST_F(RecordingRace, DumpsWhileOtherThreadsRecord) {
  std::recursive_mutex generalLock;
  TTraceRing trace(generalLock);
  TDispatchLog log(generalLock);
  log.SetTimeBase();
  std::atomic<bool> stop{false};

  auto recorder = [&](char kind) {
    const std::vector<uint8_t> block(200, static_cast<uint8_t>(kind));
    while (!stop) {
      for (int i = 0; i < 50; ++i) trace.Add(kind, static_cast<uint8_t>(kind));
      log.Add(lkDispatch, kind == 'R' ? lsReadCom : lsWriteCom, 200, block.data(), 200);
    }
  };
  std::thread reader(recorder, 'R');
  std::thread writer(recorder, 'T');

  for (int round = 0; round < 40; ++round) {
    trace.Start(round % 3 == 0 ? 0 : 300);
    log.Start(round % 5 == 0 ? 16 : 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string traceFile = File("t" + std::to_string(round));
    const std::string logFile = File("l" + std::to_string(round));
    ASSERT_EQ(trace.Dump(traceFile, false, false), 0);
    ASSERT_EQ(log.Dump(logFile, true, false), 0);
    EXPECT_FALSE(trace.HasBuffer());
    EXPECT_FALSE(log.HasBuffer());
    // Every trace line holds one kind only; every log record is whole.
    if (std::filesystem::exists(traceFile)) {
      const std::string text = ReadFile(traceFile);
      EXPECT_EQ(text.find("RT"), std::string::npos);
      EXPECT_EQ(text.find("TR"), std::string::npos);
    }
    if (std::filesystem::exists(logFile)) ExpectWholeRecords(ReadFile(logFile));
  }
  stop = true;
  reader.join();
  writer.join();
}

}  // namespace
