#include "OutputStream.h"

#include <algorithm>

namespace modemsim {

OutputStream::OutputStream(EventLoop& loop, Sink sink) : loop_(loop), sink_(std::move(sink)) {}

void OutputStream::Send(Clock::time_point due, std::vector<TimedChunk> pieces, Done done) {
  const auto at = std::upper_bound(waiting_.begin(), waiting_.end(), due,
                                   [](Clock::time_point t, const Write& w) { return t < w.due; });
  waiting_.insert(at, Write{due, std::move(pieces), std::move(done)});
  if (due > Clock::now()) {
    const unsigned g = generation_;
    loop_.At(due, [this, g] {
      if (g != generation_) return;
      Admit();
      Pump();
    });
  }
  Admit();
  Pump();
}

void OutputStream::Drop() {
  ++generation_;
  waiting_.clear();
  queue_.clear();
  nextPiece_ = 0;
  pausing_ = false;
  pauseOver_ = false;
}

void OutputStream::Admit() {
  const auto now = Clock::now();
  while (!waiting_.empty() && waiting_.front().due <= now) {
    queue_.push_back(std::move(waiting_.front()));
    waiting_.pop_front();
  }
}

void OutputStream::Pump() {
  // A piece written or a write finished may lead to more output (a follow-up
  // that sends, a hang-up that drops the stream): that output only queues,
  // and this loop sends it in turn.
  if (pumping_) return;
  pumping_ = true;
  while (!pausing_ && !queue_.empty()) {
    const unsigned g = generation_;
    std::vector<TimedChunk>& pieces = queue_.front().pieces;
    if (nextPiece_ < pieces.size()) {
      const auto pause = pieces[nextPiece_].after;
      if (nextPiece_ > 0 && pause.count() > 0 && !pauseOver_) {
        pausing_ = true;
        loop_.After(pause, [this, g] {
          if (g != generation_) return;
          pausing_ = false;
          pauseOver_ = true;
          Pump();
        });
        break;
      }
      pauseOver_ = false;
      const std::string bytes = std::move(pieces[nextPiece_].bytes);
      ++nextPiece_;
      sink_(bytes);
      continue;  // the sink may have dropped the stream: look again
    }
    Done done = std::move(queue_.front().done);
    queue_.pop_front();
    nextPiece_ = 0;
    if (done) done();
  }
  pumping_ = false;
}

}  // namespace modemsim
