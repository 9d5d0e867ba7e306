#pragma once
// A plain thread standing in for the GUI thread: notices posted to its
// receiver queue up in its mailbox and run there one after the other, each
// through its ticket, as the port window would run them on the Qt event loop.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "SerDispatchNotice.h"

namespace serialtest {

class GuiThread {
 public:
  using Handler = std::function<void(serial::TNoticeTicket&)>;

  explicit GuiThread(Handler handler) : box_(std::make_shared<Mailbox>()) {
    receiver_ = std::make_shared<Receiver>(box_, std::move(handler));
    thread_ = std::thread([box = box_] { box->Run(); });
  }
  ~GuiThread() {
    box_->Close();
    thread_.join();
  }
  GuiThread(const GuiThread&) = delete;
  GuiThread& operator=(const GuiThread&) = delete;

  std::shared_ptr<serial::INoticeReceiver> ReceiverPtr() const { return receiver_; }
  // While refused, PostNotice fails as it does for a window that is gone.
  void SetRefusing(bool refusing) { receiver_->refusing = refusing; }
  // Runs job on this thread, after whatever is queued before it.
  void Post(std::function<void()> job) { box_->Push(std::move(job)); }

 private:
  class Mailbox {
   public:
    bool Push(std::function<void()> job) {
      {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        jobs_.push_back(std::move(job));
      }
      wake_.notify_all();
      return true;
    }
    void Close() {
      {
        std::lock_guard lock(mutex_);
        closed_ = true;
      }
      wake_.notify_all();
    }
    void Run() {
      for (;;) {
        std::function<void()> job;
        {
          std::unique_lock lock(mutex_);
          wake_.wait(lock, [&] { return closed_ || !jobs_.empty(); });
          if (jobs_.empty()) return;
          job = std::move(jobs_.front());
          jobs_.pop_front();
        }
        try {
          job();
        } catch (...) {
          // the port window drops what a handler throws on a foreign thread
        }
      }
    }

   private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool closed_ = false;
  };

  struct Receiver : serial::INoticeReceiver {
    Receiver(std::shared_ptr<Mailbox> b, Handler h) : box(std::move(b)), handler(std::move(h)) {}
    bool PostNotice(std::shared_ptr<serial::TNoticeTicket> ticket) override {
      if (refusing.load()) return false;
      return box->Push([ticket, h = handler] { ticket->Run([&] { h(*ticket); }); });
    }
    std::shared_ptr<Mailbox> box;
    Handler handler;
    std::atomic<bool> refusing{false};
  };

  std::shared_ptr<Mailbox> box_;
  std::shared_ptr<Receiver> receiver_;
  std::thread thread_;
};

}  // namespace serialtest
