// Tracing and Logging of a port on a pseudo-terminal named COM<n>: what the
// port sent and received reaches the files only when asked, a running trace
// and log are written when the port closes, and a file that cannot be
// written never keeps the port from closing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "ComDir.h"
#include "EventWait.h"
#include "PtyMaster.h"
#include "SerDumpFile.h"
#include "SerExcept.h"
#include "SerPort.h"
#include "TraceSupport.h"

namespace {

namespace fs = std::filesystem;
using tracetest::Golden;
using tracetest::ReadFile;

constexpr uint16_t kCom = 9;

bool PumpUntil(const std::function<bool()>& done, int ms = 3000) {
  return corvane::testsupport::WaitUntil(done, ms);
}

class PortTrace : public tracetest::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    pty = std::make_unique<corvane::testsupport::PtyMaster>();
    ASSERT_TRUE(pty->Ok());
    com = std::make_unique<corvane::testsupport::ComDir>("corvane-trace-com");
    ASSERT_TRUE(com->Link(kCom, pty->SlaveName()));
    port = std::make_unique<TComPort>(nullptr);
    port->SetComNumber(kCom);
    port->SetBaud(115200);
    port->SetAutoOpen(false);
    port->SetTraceHex(false);
    port->SetOnTrigger([this](QObject*, uint16_t msg, uint16_t, uint16_t data) {
      if (msg != MsgTriggerAvail) return;
      for (uint16_t i = 0; i < data; ++i) received += port->ReceiveChar();
    });
  }
  void TearDown() override {
    port.reset();
    com.reset();
    pty.reset();
    ScratchDir::TearDown();
  }
  // "AT" sent, "OK" answered, as a console line does it.
  void Exchange() {
    port->SendString("AT\r");
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
      char buf[64];
      const ssize_t n = ::read(pty->Fd(), buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      return got.size() >= 3;
    }));
    ASSERT_EQ(::write(pty->Fd(), "\r\nOK\r\n", 6), 6);
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 6; }));
    EXPECT_EQ(received, "\r\nOK\r\n");
  }

  std::unique_ptr<corvane::testsupport::PtyMaster> pty;
  std::unique_ptr<corvane::testsupport::ComDir> com;
  std::unique_ptr<TComPort> port;
  std::string received;
};

TEST_F(PortTrace, WithBothOffNoFileIsEverWritten) {
  EXPECT_EQ(port->TraceName(), "SERIAL.TRC");
  EXPECT_EQ(port->LogName(), "SERIAL.LOG");
  const fs::path programDir = serial::ProgramDirectory();
  ASSERT_FALSE(fs::exists(programDir / "SERIAL.TRC"));
  ASSERT_FALSE(fs::exists(programDir / "SERIAL.LOG"));
  port->SetOpen(true);
  Exchange();
  port->SetTracing(tlDump);
  port->SetLogging(tlAppend);
  port->SetOpen(false);
  EXPECT_FALSE(fs::exists(programDir / "SERIAL.TRC"));
  EXPECT_FALSE(fs::exists(programDir / "SERIAL.LOG"));
}

TEST_F(PortTrace, ARunningTraceAndLogAreWrittenAtClose) {
  port->SetTraceName(File("SERIAL.TRC"));
  port->SetLogName(File("SERIAL.LOG"));
  port->SetTracing(tlOn);  // stored; started by the open
  port->SetLogging(tlOn);
  port->SetOpen(true);
  EXPECT_EQ(port->Tracing(), tlOn);
  Exchange();
  port->SetOpen(false);
  EXPECT_EQ(ReadFile(File("SERIAL.TRC")), Golden("at_ok_text.trc"));
  const std::string log = ReadFile(File("SERIAL.LOG"));
  EXPECT_NE(log.find("  Dispatch  WriteCom      00000003  AT[0D]\r\n"), std::string::npos) << log;
  EXPECT_EQ(port->Tracing(), tlOff);
  EXPECT_EQ(port->Logging(), tlOff);
}

TEST_F(PortTrace, ADumpAskedForWhileOpenWritesAndStops) {
  port->SetTraceName(File("SERIAL.TRC"));
  port->SetOpen(true);
  port->SetTracing(tlOn);
  Exchange();
  port->SetTracing(tlDump);
  EXPECT_EQ(port->Tracing(), tlOff);
  EXPECT_EQ(ReadFile(File("SERIAL.TRC")), Golden("at_ok_text.trc"));
  port->SetOpen(false);
  EXPECT_EQ(ReadFile(File("SERIAL.TRC")), Golden("at_ok_text.trc"));  // not written again
}

TEST_F(PortTrace, AFailedDumpAtCloseStillClosesThePort) {
  port->SetTraceName(File("missing/SERIAL.TRC"));
  port->SetLogName(File("missing/SERIAL.LOG"));
  port->SetOpen(true);
  port->SetTracing(tlOn);
  port->SetLogging(tlOn);
  Exchange();
  try {
    port->SetOpen(false);
    ADD_FAILURE() << "the failed write was not reported";
  } catch (const corvane::EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 3);  // path not found
  }
  EXPECT_EQ(port->PortState(), psClosed);
  EXPECT_FALSE(port->Open());
  // The port opens again as usual.
  port->SetOpen(true);
  EXPECT_TRUE(port->Open());
}

}  // namespace
