// Notices through the port window: what the handler of a bytes-available
// notice sees, read-ahead and consumption, handlers that throw, block or run
// a nested event loop; and the notice of a lost device.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PortTestSupport.h"
#include "Sanitizers.h"

using namespace porttest;

namespace {

class PortNotice : public ::testing::Test {
 protected:
  ComDir dir;
  Modem modem{dir, 7};
  QObject window;
  TComPort* port = new TComPort(&window);
  ShownMessages shown;

  void SetUp() override { StreamFormSettings(*port, 7); }
  void Open() {
    port->SetOpen(true);
    ASSERT_EQ(port->PortState(), psOpen);
  }
};

struct Call {
  std::string event;
  uint16_t msg, a, b;
};

TEST_F(PortNotice, AvailNoticeCallsOnTriggerThenOnTriggerAvailWithTheCount) {
  std::vector<Call> calls;
  std::string read;
  port->SetOnTrigger([&](QObject* cp, uint16_t msg, uint16_t handle, uint16_t data) {
    EXPECT_EQ(cp, port);
    calls.push_back({"OnTrigger", msg, handle, data});
    for (uint16_t i = 0; i < handle; ++i) read.push_back(port->ReceiveChar());
  });
  port->SetOnTriggerAvail([&](QObject*, uint16_t count) { calls.push_back({"OnTriggerAvail", 0, count, 0}); });
  Open();
  modem.Write("12345");
  ASSERT_TRUE(PumpUntil([&] { return read.size() == 5; }));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].event, "OnTrigger");
  EXPECT_EQ(calls[0].msg, MsgTriggerAvail);
  EXPECT_EQ(calls[0].a, 5);
  EXPECT_EQ(calls[0].b, 5);
  EXPECT_EQ(calls[1].event, "OnTriggerAvail");
  EXPECT_EQ(calls[1].a, 5);
  EXPECT_EQ(read, "12345");
  // Consumed: the next notice offers only what came later.
  modem.Write("6");
  ASSERT_TRUE(PumpUntil([&] { return read.size() == 6; }));
  EXPECT_EQ(calls[2].a, 1);
  EXPECT_EQ(read, "123456");
}

TEST_F(PortNotice, UnreadBytesAreOfferedAgainWithTheNextByte) {
  std::vector<uint16_t> offers;
  std::string read;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    offers.push_back(count);
    const uint16_t take = offers.size() == 1 ? 3 : count;
    for (uint16_t i = 0; i < take; ++i) read.push_back(port->ReceiveChar());
  });
  Open();
  modem.Write("abcde");
  ASSERT_TRUE(PumpUntil([&] { return offers.size() == 1; }));
  PumpFor(200);
  EXPECT_EQ(offers.size(), 1u) << "unread bytes alone raise no notice";
  modem.Write("f");
  ASSERT_TRUE(PumpUntil([&] { return read == "abcdef"; }));
  EXPECT_EQ(offers, (std::vector<uint16_t>{5, 3}));
}

TEST_F(PortNotice, WithoutAnyHandlerTheWindowGetsNoNotice) {
  Open();
  modem.Write("zz");
  ASSERT_TRUE(PumpUntil([&] { return port->Dispatcher()->UnreadCount() == 2; }));
  // Assigning a handler later: the next byte brings all three.
  Received received;
  port->SetOnTrigger(ReadAll(*port, received));
  modem.Write("!");
  ASSERT_TRUE(PumpUntil([&] { return received.bytes == "zz!"; }));
  // Unassigned again: no more notices.
  port->SetOnTrigger(nullptr);
  modem.Write("?");
  ASSERT_TRUE(PumpUntil([&] { return port->Dispatcher()->UnreadCount() == 1; }));
  EXPECT_EQ(received.bytes, "zz!");
}

TEST_F(PortNotice, AThrowingHandlerIsShownAndTheNextNoticeIsNormal) {
  std::string read;
  int avail = 0;
  bool throwOnce = true;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    for (uint16_t i = 0; i < count; ++i) read.push_back(port->ReceiveChar());
    if (throwOnce) {
      throwOnce = false;
      // One more than offered: EBufferIsEmpty.
      port->ReceiveChar();
    }
  });
  port->SetOnTriggerAvail([&](QObject*, uint16_t) { ++avail; });
  Open();
  modem.Write("OK");
  ASSERT_TRUE(PumpUntil([&] { return shown.Texts().size() == 1; }));
  EXPECT_EQ(shown.Texts()[0].toStdString(), "Buffer is empty");
  EXPECT_EQ(avail, 0) << "the rest of that notice's handling is abandoned";
  modem.Write("\r\n");
  ASSERT_TRUE(PumpUntil([&] { return read == "OK\r\n"; })) << "the bytes read before the throw were consumed";
  EXPECT_EQ(avail, 1);
  EXPECT_EQ(shown.Texts().size(), 1);
}

// The modem keeps talking in small pieces from another thread.
class Chatter {
 public:
  Chatter(const Modem& modem, int pieces, int gapMs) {
    thread_ = std::thread([&modem, pieces, gapMs, this] {
      for (int i = 0; i < pieces && !stop_; ++i) {
        std::string piece = "<" + std::to_string(i) + ">";
        sent_ += piece;
        modem.Write(piece);
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
      }
      done_ = true;
    });
  }
  ~Chatter() {
    stop_ = true;
    thread_.join();
  }
  bool Done() const { return done_; }
  // Only after Done().
  const std::string& Sent() const { return sent_; }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::string sent_;
};

TEST_F(PortNotice, AHandlerThatBlocksPastTheTimeOutGetsEveryByteOnce) {
  std::string read;
  bool blockOnce = true;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    if (blockOnce) {
      blockOnce = false;
      // Past the dispatch thread's 3000 ms: it stops waiting meanwhile.
      std::this_thread::sleep_for(std::chrono::seconds(4));
    }
    for (uint16_t i = 0; i < count; ++i) read.push_back(port->ReceiveChar());
  });
  Open();
  Chatter chatter(modem, 40, 100);
  ASSERT_TRUE(PumpUntil([&] { return chatter.Done(); }, 10000));
  ASSERT_TRUE(PumpUntil([&] { return read.size() >= chatter.Sent().size(); }, 3000));
  EXPECT_EQ(read, chatter.Sent());
  EXPECT_TRUE(shown.Texts().empty()) << shown.Texts().join("|").toStdString();
}

TEST_F(PortNotice, AHandlerRunningANestedEventLoopGetsEveryByteOnce) {
  std::string read;
  int depth = 0, deepest = 0, ticks = 0;
  bool nestOnce = true;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(100);
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    ++depth;
    deepest = std::max(deepest, depth);
    for (uint16_t i = 0; i < count; ++i) read.push_back(port->ReceiveChar());
    if (nestOnce) {
      nestOnce = false;
      // A modal question: the event loop runs inside the handler.
      QEventLoop loop;
      QTimer::singleShot(5000, &loop, &QEventLoop::quit);
      loop.exec();
    }
    --depth;
  });
  Open();
  Chatter chatter(modem, 40, 100);
  ASSERT_TRUE(PumpUntil([&] { return chatter.Done() && read.size() >= chatter.Sent().size(); }, 12000));
  EXPECT_EQ(read, chatter.Sent());
  EXPECT_EQ(deepest, 2) << "notices went on inside the nested loop";
  EXPECT_GE(ticks, 20) << "so did the timers";
  EXPECT_TRUE(shown.Texts().empty()) << shown.Texts().join("|").toStdString();
}

TEST_F(PortNotice, ATimerInTheHandlersModalLoopConsumesTheNextByte) {
  std::string handlerSaw, timerSaw;
  char timerPeek = 0;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail || !handlerSaw.empty()) return;
    EXPECT_EQ(count, 4);
    handlerSaw.push_back(port->ReceiveChar());
    handlerSaw.push_back(port->ReceiveChar());
    // A modal question: a timer reads while the handler waits for it.
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
      timerSaw.push_back(port->ReceiveChar());
      uint8_t c = 0;
      port->Dispatcher()->PeekAhead(c, 1);
      timerPeek = static_cast<char>(c);
      loop.quit();
    });
    loop.exec();
    handlerSaw.push_back(port->ReceiveChar());
  });
  Open();
  modem.Write("ABCD");
  ASSERT_TRUE(PumpUntil([&] { return handlerSaw.size() == 3 && !port->Dispatcher()->NoticeRunning(); }));
  EXPECT_EQ(timerSaw, "C");
  EXPECT_EQ(timerPeek, 'D') << "the timer's read consumed, with what the handler had read before it";
  EXPECT_EQ(handlerSaw, "ABD");
  EXPECT_EQ(port->Dispatcher()->UnreadCount(), 0u);
  EXPECT_TRUE(shown.Texts().empty()) << shown.Texts().join("|").toStdString();
}

TEST_F(PortNotice, AReadOutsideTheHandlerWhileANoticeIsPendingConsumes) {
  std::string handlerSaw;
  std::vector<uint16_t> offers;
  port->SetOnTrigger([&](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    offers.push_back(count);
    for (uint16_t i = 0; i < count; ++i) handlerSaw.push_back(port->ReceiveChar());
  });
  Open();
  modem.Write("ABCD");
  // No event processing: the notice is posted and waits in the queue.
  ASSERT_TRUE([&] {
    for (int i = 0; i < 200 && port->Dispatcher()->UnreadCount() < 4; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return port->Dispatcher()->UnreadCount() == 4;
  }());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // What a timer would do meanwhile: an ordinary read that consumes.
  EXPECT_EQ(port->ReceiveChar(), 'A');
  ASSERT_TRUE(PumpUntil([&] { return handlerSaw.size() == 3; }));
  EXPECT_EQ(handlerSaw, "BCD");
  EXPECT_EQ(offers, (std::vector<uint16_t>{3})) << "the notice offers what is left, not what was raised";
  EXPECT_TRUE(shown.Texts().empty()) << shown.Texts().join("|").toStdString();
  PumpFor(100);
  EXPECT_EQ(port->Dispatcher()->UnreadCount(), 0u);
  EXPECT_EQ(handlerSaw, "BCD");
}

// The lost-device notice: an unplugged modem reaches the program on the GUI
// thread, once, after the bytes before it, and never after the program
// closed the port.
class PortDeviceLost : public PortNotice {
 protected:
  std::vector<std::string> calls;  // in the order the handlers ran
  std::chrono::steady_clock::time_point lostAt{};
  bool onGuiThread = true;

  void SetUp() override {
    PortNotice::SetUp();
    port->SetOnTrigger([this](QObject*, uint16_t msg, uint16_t handle, uint16_t data) {
      onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
      if (msg == MsgDeviceLost) {
        calls.push_back("OnTrigger lost " + std::to_string(handle) + " " + std::to_string(data));
        return;
      }
      if (msg != MsgTriggerAvail) return;  // a close from a handler completes through MsgClosePending
      std::string bytes;
      for (uint16_t i = 0; i < handle; ++i) bytes.push_back(port->ReceiveChar());
      calls.push_back("OnTrigger " + bytes);
    });
    port->SetOnTriggerDeviceLost([this](QObject* cp) {
      EXPECT_EQ(cp, port);
      lostAt = std::chrono::steady_clock::now();
      calls.push_back("OnTriggerDeviceLost");
    });
    Open();
  }
};

TEST_F(PortDeviceLost, AnUnplugReachesTheHandlersOnceAfterTheBytesBeforeIt) {
  modem.Write("\r\nOK\r\n");
  ASSERT_TRUE(PumpUntil([&] { return calls.size() == 1; }));
  const auto unplugged = std::chrono::steady_clock::now();
  modem.Unplug();
  ASSERT_TRUE(PumpUntil([&] { return calls.size() >= 3; }));
  EXPECT_LT(lostAt - unplugged, corvane::testsupport::kUnplugNoticeBound);
  PumpFor(300);
  EXPECT_EQ(calls, (std::vector<std::string>{"OnTrigger \r\nOK\r\n", "OnTrigger lost 0 0", "OnTriggerDeviceLost"}));
  EXPECT_TRUE(onGuiThread);
  // The port stays open, its writes dropped, until the program closes it.
  EXPECT_TRUE(port->Open());
  EXPECT_NO_THROW(port->SendString("AT\r"));
  port->SetOpen(false);
  EXPECT_EQ(port->PortState(), psClosed);
  EXPECT_TRUE(shown.Texts().isEmpty());
}

TEST_F(PortDeviceLost, TheHandlerMayCloseThePort) {
  port->SetOnTriggerDeviceLost([this](QObject*) {
    calls.push_back("OnTriggerDeviceLost");
    port->SetOpen(false);
  });
  modem.Unplug();
  ASSERT_TRUE(PumpUntil([&] { return port->PortState() == psClosed; }));
  PumpFor(200);
  EXPECT_EQ(calls, (std::vector<std::string>{"OnTrigger lost 0 0", "OnTriggerDeviceLost"}));
  EXPECT_FALSE(port->Open());
}

TEST_F(PortDeviceLost, APortClosedByItsProgramHearsOfNoLoss) {
  modem.Write("OK\r\n");
  ASSERT_TRUE(PumpUntil([&] { return calls.size() == 1; }));
  port->SetOpen(false);
  modem.Unplug();
  PumpFor(300);
  EXPECT_EQ(calls, std::vector<std::string>{"OnTrigger OK\r\n"});
}

}  // namespace
