// The lost-device notice through the port window: an unplugged modem
// reaches the program on the GUI thread, once, after the bytes before it,
// and never after the program closed the port.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <chrono>
#include <string>
#include <vector>

#include "PortTestSupport.h"
#include "Sanitizers.h"

using namespace porttest;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;


class PortDeviceLost : public ::testing::Test {
 protected:
  ComDir dir;
  Modem modem{dir, 7};
  QObject window;
  TComPort* port = new TComPort(&window);
  ShownMessages shown;
  std::vector<std::string> calls;  // in the order the handlers ran
  Clock::time_point lostAt{};
  bool onGuiThread = true;

  void SetUp() override {
    StreamFormSettings(*port, 7);
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
      lostAt = Clock::now();
      calls.push_back("OnTriggerDeviceLost");
    });
    port->SetOpen(true);
    ASSERT_EQ(port->PortState(), psOpen);
  }
};

TEST_F(PortDeviceLost, AnUnplugReachesTheHandlersOnceAfterTheBytesBeforeIt) {
  modem.Write("\r\nOK\r\n");
  ASSERT_TRUE(PumpUntil([&] { return calls.size() == 1; }));
  const Clock::time_point unplugged = Clock::now();
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
