#pragma once
// The modem's output as its UART sends it: one ordered stream. A write may
// be paced out in pieces (a fault's split and pause); whatever the modem has
// to send meanwhile (echo, answers, unsolicited lines, noise) waits behind
// its last piece, so a host never sees a line broken up by another. A write
// that is due later (an answer the modem is still working on) holds nothing
// up until it is due. Runs on the bank's loop thread.
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "FaultRule.h"

namespace modemsim {

class OutputStream {
 public:
  using Clock = EventLoop::Clock;
  using Sink = std::function<void(const std::string&)>;
  using Done = std::function<void()>;

  OutputStream(EventLoop& loop, Sink sink);
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // Queues a write: its first piece goes out at `due` or once everything
  // queued ahead of it is out, whichever is later; every other piece its
  // `after` behind the one before (the first piece's `after` is not used).
  // `done` runs once the last piece is out (within the call when nothing
  // holds the write up). Writes due at the same time keep their order.
  void Send(Clock::time_point due, std::vector<TimedChunk> pieces, Done done = {});

  // The line is gone: nothing queued or waiting goes out, no `done` runs.
  void Drop();

 private:
  struct Write {
    Clock::time_point due;
    std::vector<TimedChunk> pieces;
    Done done;
  };

  void Admit();  // moves the writes that are due into the queue, in order
  void Pump();   // sends from the queue's head as far as the pacing allows

  EventLoop& loop_;
  Sink sink_;
  std::deque<Write> waiting_;  // not yet due, by due time
  std::deque<Write> queue_;    // due, in the order they go out
  size_t nextPiece_ = 0;       // of the queue's head
  bool pausing_ = false;       // the head's next piece waits for its pause
  bool pauseOver_ = false;
  bool pumping_ = false;
  unsigned generation_ = 0;  // voids the timers of a dropped stream
};

}  // namespace modemsim
