// The lost-device notice on pseudo-terminals: the master's close is the
// modem unplugged. A plain thread stands in for the GUI thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GuiThread.h"
#include "PollWait.h"
#include "PtyMaster.h"
#include "Sanitizers.h"
#include "SerDevice.h"

namespace {

using serial::TNoticeTicket;
using serial::TWin32Dispatcher;
using serialtest::GuiThread;
using corvane::testsupport::PollUntil;
using corvane::testsupport::PtyMaster;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;


// What the stand-in GUI thread was handed, in order: each bytes-available
// notice as the bytes its handler read, each loss as "<lost>".
class Handed {
 public:
  void Add(const std::string& what) {
    std::lock_guard lock(mutex_);
    if (what == kLost) lostAt_ = Clock::now();
    seen_.push_back(what);
  }
  std::vector<std::string> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  size_t Losses() {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(seen_.begin(), seen_.end(), kLost));
  }
  Clock::time_point LostAt() {
    std::lock_guard lock(mutex_);
    return lostAt_;
  }
  static constexpr const char* kLost = "<lost>";

 private:
  std::mutex mutex_;
  std::vector<std::string> seen_;
  Clock::time_point lostAt_{};
};

// Passes every notice on to the stand-in GUI thread and notes when a loss
// notice has been handed over.
struct LossSpy : serial::INoticeReceiver {
  explicit LossSpy(std::shared_ptr<serial::INoticeReceiver> to) : inner(std::move(to)) {}
  bool PostNotice(std::shared_ptr<TNoticeTicket> ticket) override {
    const bool loss = ticket->Msg() == serial::MsgDeviceLost;
    const bool posted = inner->PostNotice(std::move(ticket));
    if (loss) lossPosted = true;
    return posted;
  }
  std::shared_ptr<serial::INoticeReceiver> inner;
  std::atomic<bool> lossPosted{false};
};

class LostDevice : public testing::Test {
 protected:
  // Each round: a modem of its own, nothing handed yet.
  void Fresh() {
    port_.reset();
    pty_ = std::make_unique<PtyMaster>();
    ASSERT_TRUE(pty_->Ok());
    handed_ = std::make_unique<Handed>();
  }

  // Opens the slave as the port component does: its window as the receiver,
  // wanting notices, threshold 1. The handler reads all it is offered.
  void Open(std::shared_ptr<serial::INoticeReceiver> receiver,
            std::chrono::milliseconds noticeTimeout = serial::kNoticeTimeout) {
    port_ = std::make_unique<TWin32Dispatcher>(nullptr);
    port_->SetNoticeTimeout(noticeTimeout);
    ASSERT_EQ(port_->OpenChannel(pty_->SlaveName(), 115200, 0, 8, 1, 4096, 4096, true, false), 0);
    port_->AddWindowHandler(std::move(receiver));
    port_->UpdateNoticeNeed(1);
    port_->SetNoticeThreshold(1);
  }
  GuiThread::Handler Recorder() {
    return [this](TNoticeTicket& t) {
      if (t.Msg() == serial::MsgDeviceLost) {
        EXPECT_EQ(t.WParam(), 0u);
        EXPECT_EQ(t.DispatcherHandle(), port_->DispatcherHandle());
        handed_->Add(Handed::kLost);
        return;
      }
      std::string bytes;
      uint8_t c;
      for (uint32_t i = 0; i < t.WParam() && port_->TakeChar(c) == 0; ++i) bytes.push_back(static_cast<char>(c));
      handed_->Add(bytes);
    };
  }

  std::unique_ptr<PtyMaster> pty_;
  std::unique_ptr<Handed> handed_;
  std::unique_ptr<TWin32Dispatcher> port_;
};

// The modem's last answer and then the news that it went, each once, in
// that order. Also when the GUI thread is busy past the notice time-out as
// the modem goes: the answer's notice, or the loss notice itself, reaches
// no handler at first and is handed over once the GUI thread is free.
TEST_F(LostDevice, TheLossIsToldOnceAfterTheBytesBeforeIt) {
  enum class Gui { Idle, BusyBeforeTheAnswer, BusyAfterTheAnswer };
  struct Row {
    const char* name;
    Gui gui;
  };
  for (const Row& r : {Row{"GUI thread idle", Gui::Idle},
                       Row{"busy, the answer not handed over yet", Gui::BusyBeforeTheAnswer},
                       Row{"busy, the answer handed over", Gui::BusyAfterTheAnswer}}) {
    SCOPED_TRACE(r.name);
    Fresh();
    GuiThread gui(Recorder());
    auto spy = std::make_shared<LossSpy>(gui.ReceiverPtr());
    Open(spy, 100ms);
    // Busy until a loss notice has been handed over (with the answer not
    // handed over yet it should not come: then a second), and past the
    // time-out of the notice waiting for it when the answer has been.
    const auto busy = [&] {
      gui.Post([spy, after = r.gui == Gui::BusyAfterTheAnswer ? 300ms : 0ms] {
        PollUntil([&] { return spy->lossPosted.load(); }, 1s);
        std::this_thread::sleep_for(after);
      });
    };
    if (r.gui == Gui::BusyBeforeTheAnswer) busy();
    ASSERT_TRUE(pty_->WriteAll("\r\nOK\r\n"));
    if (r.gui == Gui::BusyBeforeTheAnswer) {
      ASSERT_TRUE(PollUntil([&] { return port_->UnreadCount() == 6; }));
    } else {
      ASSERT_TRUE(PollUntil([&] { return handed_->Seen().size() == 1; }));
    }
    if (r.gui == Gui::BusyAfterTheAnswer) busy();
    const Clock::time_point unplugged = Clock::now();
    pty_->Close();
    ASSERT_TRUE(PollUntil([&] { return handed_->Losses() > 0; }));
    if (r.gui == Gui::Idle) {
      EXPECT_LT(handed_->LostAt() - unplugged, corvane::testsupport::kUnplugNoticeBound);
    }
    std::this_thread::sleep_for(400ms);  // retries, passes: nothing more
    EXPECT_EQ(handed_->Seen(), (std::vector<std::string>{"\r\nOK\r\n", Handed::kLost}));
    EXPECT_TRUE(port_->DeviceLost());
    port_->CloseChannel();
    port_.reset();
  }
}

// A port closed by its program tells no loss: neither when the modem goes
// after the close, nor when it went just before and the loss notice had not
// reached a handler yet (the GUI thread was busy) when the close came.
TEST_F(LostDevice, AClosedPortTellsNoLoss) {
  for (const bool lostBeforeTheClose : {false, true}) {
    SCOPED_TRACE(lostBeforeTheClose ? "lost, then closed" : "closed, then lost");
    Fresh();
    std::atomic<bool> busy{true};  // outlives the GUI thread that reads it
    GuiThread gui(Recorder());
    Open(gui.ReceiverPtr());
    ASSERT_TRUE(pty_->WriteAll("OK\r\n"));
    ASSERT_TRUE(PollUntil([&] { return handed_->Seen().size() == 1; }));
    if (lostBeforeTheClose) {
      gui.Post([&] { PollUntil([&] { return !busy.load(); }); });
      pty_->Close();
      ASSERT_TRUE(PollUntil([&] { return port_->DeviceLost(); }));
      std::this_thread::sleep_for(50ms);  // the loss notice is posted and waits
      port_->CloseChannel();
      busy = false;
    } else {
      port_->CloseChannel();
      pty_->Close();
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(handed_->Losses(), 0u);
    port_.reset();
  }
}

// The hang-up reaches the dispatch thread's wait, the output thread's write
// (blocked on a line the modem does not read) and the port thread's queueing
// at about the same moment; the receivers hear of it once.
TEST_F(LostDevice, AHangUpSeenByEveryThreadIsToldOnce) {
  const std::string block(1000, 'x');
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    Fresh();
    GuiThread gui(Recorder());
    Open(gui.ReceiverPtr());
    // The master reads nothing: the line fills and the output thread waits.
    while (port_->QueueBlock(block.data(), static_cast<uint32_t>(block.size())) == 0) {
    }
    std::thread unplug([&] { pty_->Close(); });
    const Clock::time_point until = Clock::now() + 50ms;
    while (Clock::now() < until) port_->QueueBlock("AT\r", 3);
    unplug.join();
    ASSERT_TRUE(PollUntil([&] { return handed_->Losses() > 0; }));
    ASSERT_TRUE(PollUntil([&] { return port_->OutputPending() == 0; }));  // dropped, not kept
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(handed_->Losses(), 1u);
    port_.reset();
  }
}

}  // namespace
