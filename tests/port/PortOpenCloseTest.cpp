// Opening and closing ports on pseudo-terminals, the open failures, and the
// data operations' limits.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QObject>

#include "PortTestSupport.h"
#include "SysError.h"

using namespace porttest;

namespace {

// A device held elsewhere: the message names it and how to find its holder.
std::string HeldMessage(const ComDir& dir, int com) {
  const std::string device = dir.LinkPath(com);
  return "ie_Open - device already open (COM" + std::to_string(com) + ": " + device +
         "; who holds it: fuser -v " + device + ")";
}

class PortOpenClose : public ::testing::Test {
 protected:
  ComDir dir;
  Modem modem{dir, 5};
  QObject window;
  TComPort* port = new TComPort(&window);
  Received received;

  void SetUp() override {
    StreamFormSettings(*port, 5);
    port->SetOnTrigger(ReadAll(*port, received));
  }

  // The modem answers `reply` to whatever the port sends.
  std::string Exchange(const std::string& command, const std::string& reply) {
    port->SendString(command);
    std::string got = modem.Read(command.size());
    const size_t before = received.bytes.size();
    modem.Write(reply);
    PumpUntil([&] { return received.bytes.size() >= before + reply.size(); });
    EXPECT_EQ(received.bytes.substr(before), reply);
    return got;
  }
};

TEST_F(PortOpenClose, OpensExchangesClosesAndReopens) {
  port->SetOpen(true);
  ASSERT_EQ(port->PortState(), psOpen);
  EXPECT_TRUE(port->Open());
  ASSERT_NE(port->PortWindow(), nullptr);
  // The line as both programs open it: 115200 8N1, raw.
  termios t{};
  ASSERT_EQ(tcgetattr(modem.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

  EXPECT_EQ(Exchange("AT\r", "\r\nOK\r\n"), "AT\r");
  port->SetOpen(false);
  EXPECT_EQ(port->PortState(), psClosed);
  EXPECT_FALSE(port->Open());
  EXPECT_EQ(port->PortWindow(), nullptr);

  port->SetOpen(true);
  ASSERT_EQ(port->PortState(), psOpen);
  EXPECT_EQ(Exchange("ATE0\r\n", "OK\r\n"), "ATE0\r\n");
}

TEST_F(PortOpenClose, OpenOnAnOpenPortAndCloseOnAClosedPortDoNothing) {
  port->SetOpen(false);
  EXPECT_EQ(port->PortState(), psClosed);
  port->SetOpen(true);
  TPortWindow* window1 = port->PortWindow();
  port->SetOpen(true);
  EXPECT_EQ(port->PortWindow(), window1);
  EXPECT_EQ(port->PortState(), psOpen);
}

TEST_F(PortOpenClose, WritersPushToAnOpenPort) {
  port->SetOpen(true);
  port->SetBaud(9600);
  termios t{};
  ASSERT_EQ(tcgetattr(modem.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  // RTS is under handshake: neither the line nor the field changes.
  port->SetRTS(true);
  EXPECT_FALSE(port->RTS());
  port->SetUseMSRShadow(false);
  EXPECT_TRUE(port->UseMSRShadow());
  // The marks follow on an open port, repaired as on a closed one.
  port->SetBufferFull(1000);
  EXPECT_EQ(port->BufferFull(), 1000);
  EXPECT_EQ(port->BufferResume(), 409);
}

TEST_F(PortOpenClose, RefusedLineSettingsRaiseAndLeaveTheLineAsItWas) {
  port->SetOpen(true);
  termios before{};
  ASSERT_EQ(tcgetattr(modem.Master(), &before), 0);
  ExpectSerialError<corvane::EBadArgument>([&] { port->SetBaud(-5); }, -1002,
                                           "Bad argument passed to function");
  port->SetBaud(115200);  // the writer kept -5; back to what the line has
  // A pseudo-terminal keeps eight data bits: 7 is refused, with the
  // system's text for 87 and no blank at its end.
  ExpectSerialError<corvane::EInOutError>([&] { port->SetDataBits(7); }, 87,
                                          platform::SystemErrorMessage(platform::kErrInvalidParameter));
  termios after{};
  ASSERT_EQ(tcgetattr(modem.Master(), &after), 0);
  EXPECT_EQ(cfgetospeed(&after), B115200);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(Exchange("AT\r", "OK\r\n"), "AT\r");
}

TEST_F(PortOpenClose, QueueSizesWrittenWhileOpenReachTheRingsAtTheNextOpen) {
  port->SetOpen(true);
  port->SetOutSize(1024);
  port->SetInSize(2048);
  EXPECT_EQ(port->OutSize(), 1024);
  EXPECT_EQ(port->InSize(), 2048);
  EXPECT_EQ(port->Dispatcher()->OutputFree(), 4096u);
  EXPECT_EQ(Exchange("AT\r", "OK\r\n"), "AT\r");
  port->SetOpen(false);
  port->SetOpen(true);
  EXPECT_EQ(port->Dispatcher()->OutputFree(), 1024u);
}

TEST_F(PortOpenClose, ComNumberOnAnOpenPortMovesToTheOtherPort) {
  Modem other(dir, 6);
  port->SetOpen(true);
  port->SetComNumber(6);
  ASSERT_EQ(port->PortState(), psOpen);
  port->SendString("AT\r");
  EXPECT_EQ(other.Read(3), "AT\r");
  other.Write("OK\r\n");
  EXPECT_TRUE(PumpUntil([&] { return received.bytes == "OK\r\n"; }));
  EXPECT_EQ(modem.Read(1, 100), "");
}

TEST_F(PortOpenClose, OpenFailuresLeaveThePortClosedEveryTime) {
  // Missing port.
  port->SetComNumber(42);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ExpectSerialError<corvane::EBadId>(
        [&] { port->SetOpen(true); }, -2001,
        "ie_BadId - Specified comport doesn't exist (COM42: no device " + dir.LinkPath(42) + ")");
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->PortState(), psClosed);
    EXPECT_EQ(port->PortWindow(), nullptr);
  }
  // ComNumber 0 without the prompt, and with a prompt that chooses nothing.
  port->SetComNumber(0);
  port->SetPromptForPort(false);
  ExpectSerialError<corvane::ENoPortSelected>([&] { port->SetOpen(true); }, -2011,
                                              "The ComNumber property of the TComPort has not been set");
  port->SetPromptForPort(true);
  ExpectSerialError<corvane::ENoPortSelected>([&] { port->SetOpen(true); }, -2011,
                                              "The ComNumber property of the TComPort has not been set");
  EXPECT_EQ(port->PortState(), psClosed);
  // Telephony mode: this system has no telephony device to open.
  port->SetComNumber(5);
  port->SetTapiMode(tmOn);
  ExpectSerialError<corvane::ENotOpenedByTapi>([&] { port->SetOpen(true); }, -2012, corvane::ErrorMessage(-2012));
  EXPECT_EQ(port->PortState(), psClosed);
  port->SetTapiMode(tmAuto);
  port->SetComNumber(0);
  // A prompt that chooses a port: the port opens on it.
  auto previous = TCustomComPort::SetPortPrompt([](TCustomComPort&) -> uint16_t { return 5; });
  port->SetOpen(true);
  TCustomComPort::SetPortPrompt(std::move(previous));
  EXPECT_EQ(port->ComNumber(), 5);
  EXPECT_EQ(port->PortState(), psOpen);
}

// A device the user may not open (root may open any, so it is raised here
// as the open raises it): the message names the device as well as the cause.
TEST_F(PortOpenClose, ARefusedPermissionNamesTheDevice) {
  try {
    corvane::RaiseOpenError(-platform::kErrPermissionRefused, 5);
    ADD_FAILURE() << "no exception";
  } catch (const corvane::EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), platform::kErrPermissionRefused);
    EXPECT_EQ(e.Message(), corvane::ErrorMessage(-platform::kErrPermissionRefused) + " (COM5: " + dir.LinkPath(5) + ")");
    EXPECT_NE(e.Message().find("dialout"), std::string::npos);
  }
  if (geteuid() == 0) return;  // the kernel's refusal itself needs a user without root
  ASSERT_EQ(chmod(modem.Slave().c_str(), 0), 0);
  ExpectSerialError<corvane::EInOutError>([&] { port->SetOpen(true); }, platform::kErrPermissionRefused,
                                          corvane::ErrorMessage(-platform::kErrPermissionRefused) + " (COM5: " +
                                              dir.LinkPath(5) + ")");
}

TEST_F(PortOpenClose, APortHeldByAnotherComponentIsAlreadyOpen) {
  port->SetOpen(true);
  TComPort second(nullptr);
  StreamFormSettings(second, 5);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ExpectSerialError<corvane::EAlreadyOpen>([&] { second.SetOpen(true); }, -2008, HeldMessage(dir, 5));
    EXPECT_FALSE(second.Open());
    EXPECT_EQ(second.PortState(), psClosed);
  }
  // The first keeps working.
  EXPECT_EQ(Exchange("AT\r", "OK\r\n"), "AT\r");
}

TEST_F(PortOpenClose, APortHeldByAnotherProcessIsAlreadyOpen) {
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const std::string path = modem.Slave();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
    (void)!write(ready[1], &ok, 1);
    char c;
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');
  ExpectSerialError<corvane::EAlreadyOpen>([&] { port->SetOpen(true); }, -2008, HeldMessage(dir, 5));
  EXPECT_EQ(port->PortState(), psClosed);
  (void)!write(release[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  port->SetOpen(true);
  EXPECT_EQ(port->PortState(), psOpen);
}

TEST_F(PortOpenClose, SendStringQueuesAllOrNothing) {
  port->SetOpen(true);
  ExpectSerialError<corvane::EOutputBufferTooSmall>([&] { port->SendString(std::string(4097, 'a')); }, -3006,
                                                    "Output buffer too small for block");
  EXPECT_EQ(modem.Read(1, 200), "");
  port->SendString("");
  const std::string block(4096, 'b');
  port->SendString(block);
  EXPECT_EQ(modem.Read(4096), block);
}

TEST_F(PortOpenClose, AClosedPortWithoutAutoOpenRaisesCommNotOpen) {
  ExpectSerialError<corvane::ECommNotOpen>([&] { port->SendString("AT\r"); }, -2007, "ie_NOpen - device not open");
  ExpectSerialError<corvane::ECommNotOpen>([&] { port->ReceiveChar(); }, -2007, "ie_NOpen - device not open");
  // With AutoOpen the first use opens it.
  port->SetAutoOpen(true);
  port->SendString("AT\r");
  EXPECT_EQ(port->PortState(), psOpen);
  EXPECT_EQ(modem.Read(3), "AT\r");
}

TEST_F(PortOpenClose, ReceiveCharOutsideANoticeConsumesAndRunsDry) {
  port->SetOnTrigger(nullptr);  // no handler: the window wants no notices
  port->SetOpen(true);
  modem.Write("xy");
  ASSERT_TRUE(PumpUntil([&] { return port->Dispatcher()->UnreadCount() == 2; }));
  EXPECT_EQ(port->ReceiveChar(), 'x');
  EXPECT_EQ(port->ReceiveChar(), 'y');
  ExpectSerialError<corvane::EBufferIsEmpty>([&] { port->ReceiveChar(); }, -3007, "Buffer is empty");
}

TEST_F(PortOpenClose, AChangedAvailThresholdSurvivesAReopen) {
  port->SetOpen(true);
  port->SetOpen(false);  // saves the registrations with threshold 1
  port->SetAvailThreshold(5);
  port->SetOpen(true);
  modem.Write("abc");
  PumpFor(200);
  EXPECT_EQ(received.notices, 0);
  modem.Write("de");
  EXPECT_TRUE(PumpUntil([&] { return received.bytes == "abcde"; }));
  EXPECT_EQ(received.notices, 1);
}

TEST_F(PortOpenClose, TwoHundredCyclesLeakNoDescriptorOrThread) {
  port->SetOpen(true);
  port->SetOpen(false);
  PumpFor(20);
  const size_t fds = OpenDescriptorCount();
  const size_t threads = ThreadCount();
  for (int i = 0; i < 200; ++i) {
    port->SetOpen(true);
    ASSERT_EQ(port->PortState(), psOpen) << "cycle " << i;
    port->SetOpen(false);
    ASSERT_EQ(port->PortState(), psClosed) << "cycle " << i;
  }
  PumpFor(20);
  EXPECT_EQ(OpenDescriptorCount(), fds);
  EXPECT_EQ(ThreadCount(), threads);
}

// A trace that cannot be written at the close: the close still completes and
// the failure reaches the caller afterwards; the destructor swallows it.
class FailingDumpPort : public TComPort {
 public:
  using TComPort::TComPort;

 protected:
  int32_t TraceLogOperation(bool log, TTraceLogOp op) override {
    if (!log && op == TTraceLogOp::Dump) return -5;
    return 0;
  }
};

TEST_F(PortOpenClose, AFailedDumpAtCloseNeverLeavesThePortHalfClosed) {
  auto* failing = new FailingDumpPort(&window);
  StreamFormSettings(*failing, 5);
  failing->SetOpen(true);
  failing->SetTracing(tlOn);
  EXPECT_EQ(failing->Tracing(), tlOn);
  ExpectSerialError<corvane::EInOutError>([&] { failing->SetOpen(false); }, 5, "File access denied");
  EXPECT_EQ(failing->PortState(), psClosed);
  EXPECT_FALSE(failing->Open());
  EXPECT_EQ(failing->Tracing(), tlOff);
  EXPECT_EQ(failing->PortWindow(), nullptr);
  failing->SetOpen(true);
  EXPECT_EQ(failing->PortState(), psOpen);
  failing->SetTracing(tlOn);
  EXPECT_NO_THROW(delete failing);
}

}  // namespace
