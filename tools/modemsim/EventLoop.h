#pragma once
// The one thread that runs a bank's modems: it waits in poll() on the
// modems' pseudo-terminal masters, an inotify descriptor and a wake-up
// eventfd, and runs timers and posted tasks in order. Everything a modem
// does happens on this thread, so modem state needs no lock.
//
// Post() and Call() may be used from any thread; Call() runs the task on
// the loop thread and waits for it (inline when already there). Timers and
// fd watches are set from the loop thread only.
#include <chrono>
#include <functional>
#include <future>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace modemsim {

class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using Task = std::function<void()>;
  using FdHandler = std::function<void(short revents)>;
  using TimerId = unsigned long long;

  EventLoop();
  ~EventLoop();  // stops the thread; pending tasks and timers are dropped
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void Start();
  void Stop();
  bool OnLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  void Post(Task task);
  template <class F>
  auto Call(F f) -> decltype(f()) {
    if (OnLoopThread() || !running_) return f();
    using R = decltype(f());
    std::packaged_task<R()> job(std::move(f));
    std::future<R> done = job.get_future();
    Post([&job] { job(); });
    return done.get();
  }

  TimerId After(std::chrono::milliseconds delay, Task task);
  TimerId At(Clock::time_point when, Task task);
  void Cancel(TimerId id);

  // Watches fd for `events` (POLLIN, POLLOUT); a second call replaces the
  // watch. Remove before closing the fd.
  void Watch(int fd, short events, FdHandler handler);
  void Unwatch(int fd);

 private:
  void Run();
  void RunDueTimers();
  void RunPosted();
  int PollTimeoutMs() const;

  std::thread thread_;
  std::atomic<bool> running_{false};
  int wakeFd_ = -1;

  std::mutex postMutex_;
  std::vector<Task> posted_;
  bool stopRequested_ = false;

  struct Timer {
    TimerId id;
    Task task;
  };
  std::multimap<Clock::time_point, Timer> timers_;
  TimerId nextTimer_ = 1;

  struct FdWatch {
    short events;
    FdHandler handler;
  };
  std::map<int, FdWatch> watches_;
};

}  // namespace modemsim
