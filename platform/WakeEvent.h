#pragma once
// A wake-up that poll() can watch beside a device (an eventfd). Signal() from
// any thread makes the descriptor readable until Drain() on the waiting
// thread. Used where a wait must watch a device and a request at once.
namespace platform {

class WakeEvent {
 public:
  WakeEvent() = default;
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  int Create();  // 0 or errno
  void Destroy();
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Signal();
  void Drain();

 private:
  int fd_ = -1;
};

}  // namespace platform
