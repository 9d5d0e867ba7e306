#pragma once
// Waiting on the GUI thread's event loop, for tests that drive Qt objects
// (timers, ports, windows) from the test body. GUI thread only.
#include <functional>

namespace corvane::testsupport {

// Whether a spin also deletes the objects retired with deleteLater: a loop
// spun by hand never does on its own, so tests of objects that retire
// themselves (the port window) ask for it.
enum class DeferredDeletes { Keep, Run };

// Spins the event loop until pred holds or ms pass; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int ms,
               DeferredDeletes deletes = DeferredDeletes::Keep);
// Spins the event loop for ms.
void Pump(int ms, DeferredDeletes deletes = DeferredDeletes::Keep);

}  // namespace corvane::testsupport
