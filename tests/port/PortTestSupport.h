#pragma once
// Shared pieces of the port tests: pumping the event loop until something
// happened, recording what the central exception handler would show, and a
// port configured the way both programs' forms configure theirs.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "EventWait.h"
#include "PtyFixture.h"
#include "SerExcept.h"
#include "SerPort.h"
#include "TApplication.h"

namespace porttest {

// Runs the event loop, retired port windows included, until pred holds or ms
// pass; returns pred().
inline bool PumpUntil(const std::function<bool()>& pred, int ms = 3000) {
  return corvane::testsupport::WaitUntil(pred, ms, corvane::testsupport::DeferredDeletes::Run);
}

inline void PumpFor(int ms) { corvane::testsupport::Pump(ms, corvane::testsupport::DeferredDeletes::Run); }

// Records the texts the central exception handler shows, for its lifetime.
class ShownMessages {
 public:
  ShownMessages() {
    previous_ = TApplication::SetMessageHook([this](const QString& m) { texts_.push_back(m); });
  }
  ~ShownMessages() { TApplication::SetMessageHook(std::move(previous_)); }
  const QStringList& Texts() const { return texts_; }

 private:
  QStringList texts_;
  TApplication::MessageHook previous_;
};

// The settings both programs' forms stream, in the form's order.
inline void StreamFormSettings(TCustomComPort& port, uint16_t com) {
  port.BeginLoading();
  port.SetComNumber(com);
  port.SetBaud(115200);
  port.SetAutoOpen(false);
  port.SetRTS(false);
  port.SetHWFlowOptions({hwfUseDTR, hwfUseRTS});
  port.SetBufferFull(3072);
  port.SetBufferResume(1024);
  port.SetTraceName("SERIAL.TRC");
  port.SetTraceHex(false);
  port.SetUseEventWord(false);
  port.EndLoading();
}

// Runs fn and checks that it raises E with that code and message.
template <class E>
void ExpectSerialError(const std::function<void()>& fn, int32_t code, const std::string& message) {
  try {
    fn();
    ADD_FAILURE() << "no exception, expected code " << code;
  } catch (const E& e) {
    EXPECT_EQ(e.ErrorCode(), code);
    EXPECT_EQ(e.Message(), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "wrong exception: " << e.what();
  }
}

// Collects the bytes a port's handler reads, offered count by count.
struct Received {
  std::string bytes;
  int notices = 0;
};

// An OnTrigger that reads every byte offered by a bytes-available notice,
// as both programs' handlers do.
inline TTriggerEvent ReadAll(TCustomComPort& port, Received& into) {
  return [&port, &into](QObject*, uint16_t msg, uint16_t count, uint16_t) {
    if (msg != MsgTriggerAvail) return;
    ++into.notices;
    for (uint16_t i = 0; i < count; ++i) into.bytes.push_back(port.ReceiveChar());
  };
}

}  // namespace porttest
