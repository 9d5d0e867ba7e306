#pragma once
// Waiting on the GUI thread's event loop, for tests that drive Qt objects
// (timers, ports, windows) from the test body. GUI thread only.
#include <functional>

namespace corvane::testsupport {

// Spins the event loop until pred holds or ms pass; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int ms);
// Spins the event loop for ms.
void Pump(int ms);

}  // namespace corvane::testsupport
