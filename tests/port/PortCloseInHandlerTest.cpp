// Closing a port from inside its own handler, from a timer, and destroying
// it while its close is deferred.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include "PortTestSupport.h"

using namespace porttest;

namespace {

// Counts the events it receives: shows whether a close pumped messages.
class Probe : public QObject {
 public:
  int seen = 0;
  std::function<void()> onEvent;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    ++seen;
    if (onEvent) onEvent();
    return true;
  }
  void Post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

class PortCloseInHandler : public ::testing::Test {
 protected:
  ComDir dir;
  Modem modem{dir, 9};
  QObject window;
  TComPort* port = new TComPort(&window);
  ShownMessages shown;
  std::vector<uint16_t> msgs;  // every Msg OnTrigger saw

  void SetUp() override { StreamFormSettings(*port, 9); }
  void Open() {
    port->SetOpen(true);
    ASSERT_EQ(port->PortState(), psOpen);
  }
  int Seen(uint16_t msg) const { return static_cast<int>(std::count(msgs.begin(), msgs.end(), msg)); }
};

TEST_F(PortCloseInHandler, ACloseInsideTheHandlerReturnsAtOnceAndCompletesAfterIt) {
  Probe probe;
  uint8_t stateAfterClose = 0;
  char readAfterClose = 'x';
  int probeSeenDuringClose = -1;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    msgs.push_back(msg);
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    probe.Post();
    port->SetOpen(false);
    probeSeenDuringClose = probe.seen;
    stateAfterClose = port->PortState();
    readAfterClose = port->ReceiveChar();
    port->SendString("ignored");
  });
  Open();
  modem.Write("OK\r\n");
  ASSERT_TRUE(PumpUntil([&] { return port->PortState() == psClosed; }));
  EXPECT_EQ(probeSeenDuringClose, 0) << "the close pumped a message";
  EXPECT_EQ(stateAfterClose, psClosing);
  EXPECT_EQ(readAfterClose, '\0');
  EXPECT_FALSE(port->Open());
  EXPECT_EQ(port->PortWindow(), nullptr);
  EXPECT_EQ(Seen(MsgClosePending), 1);
  EXPECT_EQ(modem.Read(1, 100), "") << "nothing is sent while closing";
  EXPECT_TRUE(shown.Texts().empty()) << shown.Texts().join("|").toStdString();
}

TEST_F(PortCloseInHandler, CloseThenOpenInsideTheHandlerReopensRightAfter) {
  bool once = true;
  std::string read;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    msgs.push_back(msg);
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) read.push_back(port->ReceiveChar());
    if (!once) return;
    once = false;
    port->SetOpen(false);
    port->SetOpen(true);
    EXPECT_TRUE(port->OpenPending());
    EXPECT_EQ(port->PortState(), psClosing);
  });
  Open();
  modem.Write("1");
  ASSERT_TRUE(PumpUntil([&] { return Seen(MsgClosePending) == 1 && port->PortState() == psOpen; }));
  EXPECT_FALSE(port->OpenPending());
  port->SendString("AT\r");
  EXPECT_EQ(modem.Read(3), "AT\r");
  modem.Write("2");
  ASSERT_TRUE(PumpUntil([&] { return read == "12"; }));
}

TEST_F(PortCloseInHandler, ClosingAgainDropsThePendingReopen) {
  bool once = true;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    msgs.push_back(msg);
    if (msg != MsgTriggerAvail || !once) return;
    once = false;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    port->SetOpen(false);
    port->SetOpen(true);
    port->SetOpen(false);
    EXPECT_FALSE(port->OpenPending());
  });
  Open();
  modem.Write("1");
  ASSERT_TRUE(PumpUntil([&] { return Seen(MsgClosePending) == 1; }));
  PumpFor(100);
  EXPECT_EQ(port->PortState(), psClosed);
}

TEST_F(PortCloseInHandler, AReopenAskedForDuringASynchronousCloseIsHonoured) {
  port->SetOnPortClosing([&](QObject*) { port->SetOpen(true); });
  Open();
  port->SetOpen(false);
  EXPECT_EQ(port->PortState(), psOpen);
  EXPECT_FALSE(port->OpenPending());
  port->SetOnPortClosing(nullptr);
  port->SetOpen(false);
  EXPECT_EQ(port->PortState(), psClosed);
}

TEST_F(PortCloseInHandler, TheCompletionWaitsForAHandlerRunningAModalLoop) {
  std::vector<uint8_t> statesInLoop;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    msgs.push_back(msg);
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    port->SetOpen(false);
    // The console's closing question runs inside the handler.
    QEventLoop loop;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { statesInLoop.push_back(port->PortState()); });
    sampler.start(20);
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
  });
  Open();
  modem.Write("x");
  ASSERT_TRUE(PumpUntil([&] { return port->PortState() == psClosed; }));
  ASSERT_FALSE(statesInLoop.empty());
  for (uint8_t s : statesInLoop) EXPECT_EQ(s, psClosing);
  EXPECT_EQ(Seen(MsgClosePending), 1) << "the completion must not circulate";
}

TEST_F(PortCloseInHandler, ACloseFromATimerDuringTrafficCompletesAtOnce) {
  std::string read;
  std::atomic<bool> stop{false};
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    msgs.push_back(msg);
    EXPECT_EQ(port->PortState(), psOpen) << "a notice reached a port that is not open";
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) read.push_back(port->ReceiveChar());
  });
  Open();
  std::thread traffic([&] {
    while (!stop) {
      modem.Write("+WIND: 1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  uint8_t stateAfter = 99;
  QTimer::singleShot(300, [&] {
    port->SetOpen(false);
    stateAfter = port->PortState();
  });
  ASSERT_TRUE(PumpUntil([&] { return stateAfter != 99; }));
  const size_t noticesAtClose = msgs.size();
  PumpFor(200);
  stop = true;
  traffic.join();
  EXPECT_EQ(stateAfter, psClosed);
  EXPECT_EQ(msgs.size(), noticesAtClose) << "no notice after the close";
  EXPECT_EQ(read.find('\0'), std::string::npos);
  EXPECT_GT(read.size(), 0u);
}

TEST_F(PortCloseInHandler, NoNoticeReachesAClosingPort) {
  bool first = true;
  int availAfterClose = 0;
  bool closed = false;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    msgs.push_back(msg);
    if (closed && msg == MsgTriggerAvail) ++availAfterClose;
    if (msg != MsgTriggerAvail || !first) return;
    first = false;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    // Past the (shortened) time-out: the next notice is raised and posted
    // while this handler is still on the stack.
    modem.Write("more");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    port->SetOpen(false);
    closed = true;
  });
  Open();
  port->Dispatcher()->SetNoticeTimeout(std::chrono::milliseconds(150));
  modem.Write("x");
  ASSERT_TRUE(PumpUntil([&] { return port->PortState() == psClosed; }));
  PumpFor(100);
  EXPECT_EQ(availAfterClose, 0);
  EXPECT_EQ(Seen(MsgClosePending), 1);
}

TEST_F(PortCloseInHandler, ClosingAnotherPortFromAHandlerCompletesAtOnce) {
  Modem other(dir, 10);
  auto* second = new TComPort(&window);
  StreamFormSettings(*second, 10);
  second->SetOnTrigger([](QObject*, uint16_t, uint16_t, uint16_t) {});
  second->SetOpen(true);
  uint8_t secondState = 99;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    second->SetOpen(false);
    secondState = second->PortState();
  });
  Open();
  modem.Write("x");
  ASSERT_TRUE(PumpUntil([&] { return secondState != 99; }));
  EXPECT_EQ(secondState, psClosed);
  EXPECT_EQ(port->PortState(), psOpen);
}

TEST_F(PortCloseInHandler, DestroyingThePortInsideItsOwnHandlerIsSafe) {
  const size_t threads = ThreadCount();
  bool destroyed = false;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    delete port;
    destroyed = true;
  });
  port->SetOnTriggerAvail([](QObject*, uint16_t) { ADD_FAILURE() << "event of a destroyed port"; });
  Open();
  modem.Write("bye");
  ASSERT_TRUE(PumpUntil([&] { return destroyed; }));
  port = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() == threads; }));
  EXPECT_TRUE(shown.Texts().empty()) << shown.Texts().join("|").toStdString();
}

TEST_F(PortCloseInHandler, DestroyingAPortInsideANestedLoopOfItsHandlerIsSafe) {
  const size_t threads = ThreadCount();
  bool destroyed = false;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail || destroyed) return;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    QEventLoop loop;
    QTimer::singleShot(20, [&] {
      delete port;
      destroyed = true;
    });
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
  });
  Open();
  modem.Write("bye");
  ASSERT_TRUE(PumpUntil([&] { return destroyed; }));
  port = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() == threads; }));
}

TEST_F(PortCloseInHandler, DestroyingAPortWhoseCloseIsDeferredIsSafe) {
  const size_t threads = ThreadCount();
  Probe probe;
  bool destroyed = false;
  // Runs after the handler has returned, before the deferred close completes.
  probe.onEvent = [&] {
    EXPECT_EQ(port->PortState(), psClosing);
    delete port;
    destroyed = true;
  };
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) port->ReceiveChar();
    probe.Post();
    port->SetOpen(false);
  });
  Open();
  modem.Write("x");
  ASSERT_TRUE(PumpUntil([&] { return destroyed; }));
  port = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() == threads; }));
}

}  // namespace
