// The dispatcher's recording on a real pseudo-terminal: what a port queues
// and reads ends up in the trace and the dispatch log, from the GUI thread
// and the dispatch thread at once, and nothing is written unless asked.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PtyMaster.h"
#include "SerDevice.h"
#include "TraceSupport.h"

namespace {

using namespace std::chrono_literals;
using tracetest::Golden;
using tracetest::ReadFile;

// The test plays the modem on the master side.
class Modem {
 public:
  const std::string& Device() const { return pty_.SlaveName(); }
  void Send(const std::string& s) { ASSERT_EQ(::write(pty_.Fd(), s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  std::string Receive(size_t want) { return pty_.ReadAtLeast(want, 5s); }

 private:
  corvane::testsupport::PtyMaster pty_;
};

class DispatcherRecording : public tracetest::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    ASSERT_FALSE(modem.Device().empty());
    ASSERT_EQ(dispatcher.OpenChannel(modem.Device(), 115200, 0, 8, 1, 4096, 4096, true, false), 0);
  }
  void TearDown() override {
    dispatcher.CloseChannel();
    ScratchDir::TearDown();
  }
  // One "AT" exchange: the command queued, the reply read byte by byte.
  std::string Exchange() {
    EXPECT_EQ(dispatcher.QueueBlock("AT\r", 3), 0);
    EXPECT_EQ(modem.Receive(3), "AT\r");
    modem.Send("\r\nOK\r\n");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (dispatcher.UnreadCount() < 6 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(5ms);
    std::string reply;
    uint8_t c;
    while (dispatcher.TakeChar(c) == 0) reply += static_cast<char>(c);
    return reply;
  }

  Modem modem;
  serial::TWin32Dispatcher dispatcher{nullptr};
};

TEST_F(DispatcherRecording, TraceHoldsWhatWasQueuedAndRead) {
  ASSERT_EQ(dispatcher.StartTrace(1000), 0);
  EXPECT_EQ(Exchange(), "\r\nOK\r\n");
  ASSERT_EQ(dispatcher.DumpTrace(File("SERIAL.TRC"), false, false), 0);
  EXPECT_EQ(ReadFile(File("SERIAL.TRC")), Golden("at_ok_text.trc"));
  EXPECT_FALSE(dispatcher.TraceOn());
}

TEST_F(DispatcherRecording, LogHoldsTheDispatchersDoings) {
  ASSERT_EQ(dispatcher.StartLog(10000), 0);
  dispatcher.SetNoticeThreshold(1);
  EXPECT_EQ(Exchange(), "\r\nOK\r\n");
  ASSERT_EQ(dispatcher.DumpLog(File("SERIAL.LOG"), true, false), 0);
  const std::string text = ReadFile(File("SERIAL.LOG"));
  // Record lines without their time column; reads that found nothing and
  // replies split over reads are folded together, as are the checks of the
  // unread count after each read.
  std::vector<std::string> records;
  std::string read, lastAvail;
  for (size_t at = text.find("---------\r\n") + 11; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    const std::string line = text.substr(at + 8, end - at - 8);
    if (line.rfind("  Dispatch  ReadCom", 0) == 0)
      read += line.substr(36);
    else if (line.rfind("  Trigger   Avail", 0) == 0)
      lastAvail = line;
    else
      records.push_back(line);
    at = end + 2;
  }
  EXPECT_EQ(records, (std::vector<std::string>{
                         "  TrDatChg  Avail         00000001  ",
                         "  Dispatch  WriteCom      00000003  AT[0D]",
                     }));
  EXPECT_EQ(read, "[0D][0A]OK[0D][0A]");
  // The last bytes-available check offered the whole reply.
  EXPECT_EQ(lastAvail, "  Trigger   Avail         00000006  ");
  EXPECT_EQ(text.rfind("SERIAL v3.00\r\nCompiler : ", 0), 0u);
}

TEST_F(DispatcherRecording, NothingIsWrittenUnlessRecordingWasStarted) {
  EXPECT_EQ(Exchange(), "\r\nOK\r\n");
  EXPECT_EQ(dispatcher.DumpTrace(File("SERIAL.TRC"), false, false), 0);
  EXPECT_EQ(dispatcher.DumpLog(File("SERIAL.LOG"), true, false), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST_F(DispatcherRecording, OpeningAgainStopsBoth) {
  dispatcher.StartTrace(100);
  dispatcher.StartLog(1000);
  Exchange();
  dispatcher.CloseChannel();
  ASSERT_EQ(dispatcher.OpenChannel(modem.Device(), 115200, 0, 8, 1, 4096, 4096, true, false), 0);
  EXPECT_FALSE(dispatcher.TraceOn());
  EXPECT_FALSE(dispatcher.LogOn());
  EXPECT_EQ(dispatcher.DumpTrace(File("SERIAL.TRC"), false, false), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
