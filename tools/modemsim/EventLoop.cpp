#include "EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace modemsim {

EventLoop::EventLoop() {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
}

EventLoop::~EventLoop() {
  Stop();
  ::close(wakeFd_);
}

void EventLoop::Start() {
  if (running_) return;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

void EventLoop::Stop() {
  if (!running_) return;
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    stopRequested_ = true;
  }
  const uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  if (thread_.joinable() && !OnLoopThread()) thread_.join();
  running_ = false;
}

void EventLoop::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    posted_.push_back(std::move(task));
  }
  const uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

EventLoop::TimerId EventLoop::After(std::chrono::milliseconds delay, Task task) {
  return At(Clock::now() + delay, std::move(task));
}

EventLoop::TimerId EventLoop::At(Clock::time_point when, Task task) {
  const TimerId id = nextTimer_++;
  timers_.emplace(when, Timer{id, std::move(task)});
  return id;
}

void EventLoop::Cancel(TimerId id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.id == id) {
      timers_.erase(it);
      return;
    }
  }
}

void EventLoop::Watch(int fd, short events, FdHandler handler) {
  watches_[fd] = FdWatch{events, std::move(handler)};
}

void EventLoop::Unwatch(int fd) { watches_.erase(fd); }

int EventLoop::PollTimeoutMs() const {
  if (timers_.empty()) return -1;
  const auto wait = timers_.begin()->first - Clock::now();
  if (wait <= Clock::duration::zero()) return 0;
  // Round up so a timer is never woken for just before it is due.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void EventLoop::RunDueTimers() {
  const auto now = Clock::now();
  // Timers that a timer sets for "now" run in the next round, after I/O.
  std::vector<Task> due;
  while (!timers_.empty() && timers_.begin()->first <= now) {
    due.push_back(std::move(timers_.begin()->second.task));
    timers_.erase(timers_.begin());
  }
  for (Task& t : due) t();
}

void EventLoop::RunPosted() {
  std::vector<Task> tasks;
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    tasks.swap(posted_);
  }
  for (Task& t : tasks) t();
}

void EventLoop::Run() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      if (stopRequested_) return;
    }
    std::vector<pollfd> fds;
    fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    for (const auto& [fd, w] : watches_) fds.push_back(pollfd{fd, w.events, 0});
    const int n = ::poll(fds.data(), fds.size(), PollTimeoutMs());
    if (n < 0 && errno != EINTR) throw std::runtime_error("poll failed");
    if (n > 0 && (fds[0].revents & POLLIN)) {
      uint64_t count;
      (void)!::read(wakeFd_, &count, sizeof count);
    }
    RunPosted();
    for (size_t i = 1; n > 0 && i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      // A handler may unwatch this or another fd; look it up afresh.
      const auto it = watches_.find(fds[i].fd);
      if (it == watches_.end()) continue;
      FdHandler h = it->second.handler;
      h(fds[i].revents);
    }
    RunDueTimers();
  }
}

}  // namespace modemsim
