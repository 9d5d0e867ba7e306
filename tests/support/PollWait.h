#pragma once
// Waiting without an event loop, for Qt-free tests whose work runs on other
// threads: cond is asked every 2 ms until it holds or limit passes. Any thread.
#include <chrono>
#include <functional>

namespace corvane::testsupport {

// True once cond held; false when limit passed first.
bool PollUntil(const std::function<bool()>& cond,
               std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace corvane::testsupport
