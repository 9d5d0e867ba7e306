// Bytes-available notices on the fake device, delivered to a plain thread
// that stands in for the GUI thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "GuiThread.h"
#include "PollWait.h"

namespace {

using serial::TNoticeTicket;
using serialtest::GuiThread;
using serialtest::TFakeDispatcher;
using corvane::testsupport::PollUntil;
using namespace std::chrono_literals;

// What the handlers saw, shared between the GUI thread and the test.
struct Record {
  std::mutex mutex;
  std::vector<uint32_t> offered;  // wParam of each notice handled
  std::string bytes;              // every byte the handlers read, in order
  size_t Notices() {
    std::lock_guard lock(mutex);
    return offered.size();
  }
  std::string Bytes() {
    std::lock_guard lock(mutex);
    return bytes;
  }
  std::vector<uint32_t> Offered() {
    std::lock_guard lock(mutex);
    return offered;
  }
};

class Notices : public testing::Test {
 protected:
  Notices() : port_(std::make_unique<TFakeDispatcher>()) {}
  ~Notices() override { port_.reset(); }  // the dispatcher goes before the GUI thread

  // Opens the port as the port component does: window receiver, its own
  // window wanting notices, threshold 1.
  void Open(GuiThread& gui, uint32_t threshold = 1) {
    ASSERT_EQ(port_->OpenChannel("COM1", 115200, 0, 8, 1, 4096, 4096, true, false), 0);
    port_->AddWindowHandler(gui.ReceiverPtr());
    port_->UpdateNoticeNeed(1);
    port_->SetNoticeThreshold(threshold);
  }
  // Reads up to n bytes in the handler; returns how many it got.
  size_t ReadInHandler(TNoticeTicket& t, size_t n) {
    std::lock_guard lock(record_.mutex);
    record_.offered.push_back(t.WParam());
    size_t got = 0;
    uint8_t c;
    while (got < n && port_->TakeChar(c) == 0) {
      record_.bytes.push_back(static_cast<char>(c));
      ++got;
    }
    return got;
  }

  // Reads whatever is there the ordinary way (no handler of a delivery).
  void ReadOrdinary() {
    std::lock_guard lock(record_.mutex);
    uint8_t c;
    while (port_->TakeChar(c) == 0) record_.bytes.push_back(static_cast<char>(c));
  }

  Record record_;
  std::unique_ptr<TFakeDispatcher> port_;
};

TEST_F(Notices, HandlerReadingAllConsumesAll) {
  GuiThread gui([&](TNoticeTicket& t) {
    EXPECT_EQ(t.Msg(), serial::MsgTriggerAvail);
    EXPECT_EQ(t.DispatcherHandle(), port_->DispatcherHandle());
    ReadInHandler(t, t.WParam());
  });
  Open(gui);
  port_->Inject("OK\r\n");
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "OK\r\n"; }));
  ASSERT_TRUE(PollUntil([&] { return port_->UnreadCount() == 0; }));
  ::usleep(150000);  // further passes, no new bytes: no notice
  EXPECT_EQ(record_.Offered(), std::vector<uint32_t>{4});
}

TEST_F(Notices, ReadingFewerLeavesTheRestForTheNextNewByte) {
  int calls = 0;
  GuiThread gui([&](TNoticeTicket& t) { ReadInHandler(t, ++calls == 1 ? 3 : t.WParam()); });
  Open(gui);
  port_->Inject("ABCDE");
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "ABC"; }));
  ::usleep(150000);  // unread bytes alone raise nothing
  EXPECT_EQ(record_.Notices(), 1u);
  EXPECT_EQ(port_->UnreadCount(), 2u);
  port_->Inject("F");
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "ABCDEF"; }));
  EXPECT_EQ(record_.Offered(), (std::vector<uint32_t>{5, 3}));
}

TEST_F(Notices, HandlerPastTheTimeOutGetsEveryByteExactlyOnce) {
  int calls = 0;
  GuiThread gui([&](TNoticeTicket& t) {
    if (++calls == 1) {
      ReadInHandler(t, 2);
      // The delivery gives up meanwhile; more bytes arrive.
      port_->Inject("abcdef");
      ::usleep(300000);
      ReadInHandler(t, t.WParam() - 2);  // now ordinary reads
    } else {
      ReadInHandler(t, t.WParam());
    }
  });
  port_->SetNoticeTimeout(100ms);
  Open(gui);
  port_->Inject("0123456789");
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes().size() >= 16; }));
  ::usleep(150000);
  EXPECT_EQ(record_.Bytes(), "0123456789abcdef");
  EXPECT_EQ(port_->UnreadCount(), 0u);
}

// Ordinary reads (not made by the handler of the running delivery) take the
// bytes no handler has been handed yet; together with the handlers' reads
// every byte comes out exactly once, whenever the ordinary read comes.

TEST_F(Notices, AReadRightAfterTheHandlerReturnedGetsTheNextBytes) {
  // The same thread reads on as soon as the handler has returned, before the
  // dispatch thread has woken up to consume what the handler read ahead.
  GuiThread* self = nullptr;
  GuiThread gui([&](TNoticeTicket& t) {
    ReadInHandler(t, t.WParam());
    self->Post([&] { ReadOrdinary(); });
  });
  self = &gui;
  Open(gui);
  std::string sent;
  for (int i = 0; i < 60; ++i) {
    const std::string chunk = "+CMT: " + std::to_string(1000 + i) + "\r\n";
    sent += chunk;
    port_->Inject(chunk);
    ASSERT_TRUE(PollUntil([&] { return record_.Bytes().size() >= sent.size(); })) << i;
  }
  ::usleep(100000);
  EXPECT_EQ(record_.Bytes(), sent);
  EXPECT_EQ(port_->UnreadCount(), 0u);
}

TEST_F(Notices, AReadBetweenTwoReceiversGetsTheByteAfterTheFirstOnesRead) {
  // The first receiver has finished and its reads wait to be consumed while
  // the second still runs: an ordinary read then gets the first byte no
  // receiver was handed.
  std::atomic<bool> release{false};
  std::atomic<bool> secondRunning{false};
  std::string firstSaw, secondSaw;
  GuiThread first([&](TNoticeTicket&) {
    uint8_t c;
    for (int i = 0; i < 2 && port_->TakeChar(c) == 0; ++i) firstSaw.push_back(static_cast<char>(c));
  });
  GuiThread second([&](TNoticeTicket&) {
    secondRunning = true;
    while (!release.load()) ::usleep(1000);
    uint8_t c;
    while (port_->TakeChar(c) == 0) secondSaw.push_back(static_cast<char>(c));
  });
  ASSERT_EQ(port_->OpenChannel("COM1", 115200, 0, 8, 1, 4096, 4096, true, false), 0);
  port_->UpdateNoticeNeed(2);
  port_->AddWindowHandler(first.ReceiverPtr());
  port_->AddWindowHandler(second.ReceiverPtr());
  port_->SetNoticeThreshold(1);
  port_->Inject("WXYZ");
  ASSERT_TRUE(PollUntil([&] { return secondRunning.load(); }));
  EXPECT_EQ(port_->UnreadCount(false), 2u);
  uint8_t c = 0;
  ASSERT_EQ(port_->TakeChar(c, false), 0);  // not the running handler's read
  EXPECT_EQ(c, 'Y');
  release = true;
  ASSERT_TRUE(PollUntil([&] { return !port_->NoticeRunning(); }));
  EXPECT_EQ(firstSaw, "WX");
  EXPECT_EQ(secondSaw, "Z");
  EXPECT_EQ(port_->UnreadCount(), 0u);
}

// A handler and reads that are not its own (mayReadAhead false: a timer in
// the handler's nested event loop) take turns inside one delivery of
// "ABCDEFGH". Script: h<n> the handler reads n ahead, o<n> an ordinary read
// of n; the other read consumes at once, and each byte comes out once.
struct SharedNoticeCase {
  const char* script;
  const char* inOrder;  // every byte read, in the order read
  uint32_t leftUnread;  // after the delivery
};

// Shown by gtest for a failing case, instead of the struct's raw bytes.
void PrintTo(const SharedNoticeCase& tc, std::ostream* os) {
  *os << "script \"" << tc.script << "\", read \"" << tc.inOrder << "\", " << tc.leftUnread << " left";
}

// The case's name is its script, spaces made underscores ("h2_o1_h9").
std::string ScriptName(const testing::TestParamInfo<SharedNoticeCase>& info) {
  std::string name = info.param.script;
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

class SharedNotice : public Notices, public testing::WithParamInterface<SharedNoticeCase> {};

TEST_P(SharedNotice, EveryByteOnceAndTheOtherReadConsumes) {
  const SharedNoticeCase& tc = GetParam();
  const std::string stream = "ABCDEFGH";
  std::string read;
  std::atomic<bool> done{false};
  GuiThread gui([&](TNoticeTicket&) {
    const std::string script = tc.script;
    for (size_t i = 0; i + 1 < script.size(); i += 3) {
      const bool own = script[i] == 'h';
      for (int n = script[i + 1] - '0'; n > 0; --n) {
        uint8_t c;
        if (port_->TakeChar(c, own) != 0) break;
        read.push_back(static_cast<char>(c));
      }
      if (!own && read.size() < stream.size()) {
        uint8_t next = 0;
        ASSERT_EQ(port_->PeekAhead(next, 1), 0);
        EXPECT_EQ(next, stream[read.size()]) << "the other read consumed what was read before it";
      }
    }
    done = true;
  });
  Open(gui);
  port_->Inject(stream);
  ASSERT_TRUE(PollUntil([&] { return done.load() && !port_->NoticeRunning(); }));
  EXPECT_EQ(read, tc.inOrder);
  EXPECT_EQ(port_->UnreadCount(), tc.leftUnread);
  uint8_t c;
  if (tc.leftUnread > 0) {
    ASSERT_EQ(port_->TakeChar(c), 0);
    EXPECT_EQ(c, stream[stream.size() - tc.leftUnread]);
  }
}

INSTANTIATE_TEST_SUITE_P(Turns, SharedNotice,
                         testing::Values(SharedNoticeCase{"h2 o1 h9", "ABCDEFGH", 0},
                                         SharedNoticeCase{"o1 h9", "ABCDEFGH", 0},
                                         SharedNoticeCase{"h3 o2 h1 o1", "ABCDEFG", 1},
                                         SharedNoticeCase{"h4 o9 h9", "ABCDEFGH", 0},
                                         SharedNoticeCase{"h2 o1", "ABC", 5}),
                         ScriptName);

TEST_F(Notices, DeviceWithoutEventsIsStillReadAndNoticed) {
  std::atomic<int64_t> noticedAt{0};
  GuiThread gui([&](TNoticeTicket& t) {
    noticedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    ReadInHandler(t, t.WParam());
  });
  port_->SetEventsEnabled(false);
  Open(gui);
  ::usleep(100000);
  const auto sent = std::chrono::steady_clock::now();
  port_->Inject("+WIND: 1\r\n");
  ASSERT_TRUE(PollUntil([&] { return noticedAt.load() != 0; }, 2s));
  const auto delay = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(noticedAt.load())) - sent;
  // One 50 ms pass, with room for a loaded machine; never an event.
  EXPECT_LT(delay, 250ms);
  EXPECT_EQ(port_->EventWaitsReturned(), 0);
  EXPECT_EQ(record_.Bytes(), "+WIND: 1\r\n");
}

TEST_F(Notices, UndeliveredNoticeIsOfferedAgainWithoutNewBytes) {
  GuiThread gui([&](TNoticeTicket& t) { ReadInHandler(t, t.WParam()); });
  gui.SetRefusing(true);  // the window is gone for now
  Open(gui);
  port_->Inject("RING\r\n");
  ::usleep(150000);
  EXPECT_EQ(record_.Notices(), 0u);
  EXPECT_EQ(port_->UnreadCount(), 6u);
  gui.SetRefusing(false);
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "RING\r\n"; }));
}

TEST_F(Notices, NoReceiverYetLeavesTheBytesForTheFirstOne) {
  GuiThread gui([&](TNoticeTicket& t) { ReadInHandler(t, t.WParam()); });
  ASSERT_EQ(port_->OpenChannel("COM1", 115200, 0, 8, 1, 4096, 4096, true, false), 0);
  port_->SetNoticeThreshold(1);
  port_->Inject("AT");
  ::usleep(120000);
  EXPECT_EQ(port_->UnreadCount(), 2u);
  port_->AddWindowHandler(gui.ReceiverPtr());
  port_->UpdateNoticeNeed(1);
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "AT"; }));
}

TEST_F(Notices, ThresholdZeroAndAWindowThatWantsNothingRaiseNothing) {
  GuiThread gui([&](TNoticeTicket& t) { ReadInHandler(t, t.WParam()); });
  Open(gui, 0);
  port_->Inject("12345");
  ::usleep(150000);
  EXPECT_EQ(record_.Notices(), 0u);
  port_->UpdateNoticeNeed(2);  // the port's window wants nothing: one receiver is not visited
  port_->SetNoticeThreshold(1);
  ::usleep(150000);
  EXPECT_EQ(record_.Notices(), 0u);
  EXPECT_EQ(port_->UnreadCount(), 5u);
  port_->UpdateNoticeNeed(1);
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "12345"; }));
}

TEST_F(Notices, HandlerThatThrowsStillHasWhatItReadConsumed) {
  int calls = 0;
  GuiThread gui([&](TNoticeTicket& t) {
    ReadInHandler(t, ++calls == 1 ? 2 : t.WParam());
    if (calls == 1) throw std::runtime_error("handler failed");
  });
  Open(gui);
  port_->Inject("OKAY");
  ASSERT_TRUE(PollUntil([&] { return port_->UnreadCount() == 2; }));
  port_->Inject("!");
  ASSERT_TRUE(PollUntil([&] { return record_.Bytes() == "OKAY!"; }));
}

TEST_F(Notices, RemovingItsOwnReceiverInsideTheHandler) {
  GuiThread second([&](TNoticeTicket& t) { ReadInHandler(t, t.WParam()); });
  std::shared_ptr<serial::INoticeReceiver> firstReceiver;
  GuiThread first([&](TNoticeTicket& t) {
    ReadInHandler(t, t.WParam());
    port_->RemoveWindowHandler(firstReceiver.get());
  });
  firstReceiver = first.ReceiverPtr();
  ASSERT_EQ(port_->OpenChannel("COM1", 115200, 0, 8, 1, 4096, 4096, true, false), 0);
  port_->UpdateNoticeNeed(2);  // only the two receivers want notices
  port_->AddWindowHandler(first.ReceiverPtr());
  port_->AddWindowHandler(second.ReceiverPtr());
  port_->SetNoticeThreshold(1);
  port_->Inject("xy");
  // Both receivers saw the notice from the first unread byte; "xy" consumed once.
  ASSERT_TRUE(PollUntil([&] { return record_.Notices() == 2; }));
  ASSERT_TRUE(PollUntil([&] { return !port_->NoticesWanted(); }));
  EXPECT_EQ(record_.Bytes(), "xyxy");
  EXPECT_EQ(port_->UnreadCount(), 0u);
  port_->Inject("z");
  ::usleep(150000);
  EXPECT_EQ(record_.Notices(), 2u);  // one receiver left, and its port window wants nothing
}

TEST_F(Notices, CloseFromInsideTheHandlerIsFinishedByTheDispatchThread) {
  std::atomic<bool> deferred{false};
  GuiThread gui([&](TNoticeTicket& t) {
    ReadInHandler(t, 1);
    port_->CloseChannel();
    deferred = port_->CloseDeferred();
  });
  Open(gui);
  port_->Inject("NO CARRIER");
  ASSERT_TRUE(PollUntil([&] { return !port_->ThreadsRunning(); }));
  EXPECT_TRUE(deferred.load());
  EXPECT_EQ(record_.Notices(), 1u);
  EXPECT_EQ(port_->UnreadCount(), 0u);  // the rings are gone
  EXPECT_EQ(port_->QueueBlock("AT", 2), serial::ecCommNotOpen);
  port_.reset();  // whoever frees the dispatcher closes the device once
}

TEST(NoticeTicket, StatesOfBothSides) {
  {
    TNoticeTicket t(serial::MsgTriggerAvail, 3, 0x00020003);
    EXPECT_EQ(t.DispatcherHandle(), 2);
    EXPECT_TRUE(t.Begin());
    EXPECT_FALSE(t.Begin());
    t.Complete();
    EXPECT_EQ(t.WaitFor(0ms), TNoticeTicket::State::Done);
    EXPECT_EQ(t.Close(), TNoticeTicket::State::Done);
  }
  {
    TNoticeTicket t(serial::MsgTriggerAvail, 1, 0);
    EXPECT_EQ(t.WaitFor(10ms), TNoticeTicket::State::Pending);
    EXPECT_EQ(t.Close(), TNoticeTicket::State::TimedOut);
    EXPECT_FALSE(t.Begin());  // too late: the handler must not run
  }
  {
    TNoticeTicket t(serial::MsgTriggerAvail, 1, 0);
    ASSERT_TRUE(t.Begin());
    EXPECT_EQ(t.Close(), TNoticeTicket::State::Abandoned);
    t.Complete();
    EXPECT_EQ(t.CurrentState(), TNoticeTicket::State::Abandoned);
  }
  {
    TNoticeTicket t(serial::MsgTriggerAvail, 1, 0);
    t.Cancel();
    EXPECT_EQ(t.WaitFor(1s), TNoticeTicket::State::Cancelled);
    bool ran = false;
    EXPECT_FALSE(t.Run([&] { ran = true; }));
    EXPECT_FALSE(ran);
  }
}

TEST(NoticeNeed, ModesAndReceivers) {
  TFakeDispatcher d;
  EXPECT_FALSE(d.NoticesWanted());
  d.UpdateNoticeNeed(1);
  EXPECT_TRUE(d.PortWindowInstalled());
  EXPECT_TRUE(d.NoticesWanted());
  d.UpdateNoticeNeed(2);
  EXPECT_FALSE(d.PortWindowInstalled());
  EXPECT_FALSE(d.NoticesWanted());
  GuiThread a([](TNoticeTicket&) {}), b([](TNoticeTicket&) {});
  d.AddWindowHandler(a.ReceiverPtr());
  d.AddWindowHandler(b.ReceiverPtr());
  d.UpdateNoticeNeed(0);
  EXPECT_TRUE(d.NoticesWanted());  // more than one window receiver
  d.RemoveWindowHandler(b.ReceiverPtr().get());
  d.UpdateNoticeNeed(0);
  EXPECT_FALSE(d.NoticesWanted());
  d.RemoveWindowHandler(b.ReceiverPtr().get());  // not there: recompute only
  EXPECT_FALSE(d.NoticesWanted());
  serial::TSavedTriggers saved;
  d.SetNoticeThreshold(1);
  d.SaveTriggers(saved);
  d.ClearTriggers();
  d.RestoreTriggers(saved);
  EXPECT_EQ(saved.Threshold, 1u);
}

}  // namespace
