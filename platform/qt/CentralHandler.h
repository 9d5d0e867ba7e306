#pragma once
// The bridge to the application's central exception handler.
//
// Code that runs below the application object (the serial port window, a
// component's Loaded) must show an exception the same way an exception that
// escapes an event handler is shown, but it cannot depend on the application
// library. The application object installs itself here when it is created;
// until then (or in a program without one) the text goes to stderr.
//
// Header-only on purpose: no link dependency, one process-wide slot.
// Call ShowExceptionCentrally only on the GUI thread; it may run a modal loop.
#include <atomic>
#include <cstdio>
#include <exception>

namespace platform {

using CentralExceptionHandler = void (*)(std::exception_ptr) noexcept;

inline std::atomic<CentralExceptionHandler>& CentralExceptionSlot() noexcept {
  static std::atomic<CentralExceptionHandler> slot{nullptr};
  return slot;
}

// Installs a handler and returns the one it replaces (nullptr: none).
inline CentralExceptionHandler InstallCentralExceptionHandler(CentralExceptionHandler h) noexcept {
  return CentralExceptionSlot().exchange(h);
}

// Shows the exception through the installed handler. Never throws.
inline void ShowExceptionCentrally(std::exception_ptr e) noexcept {
  if (!e) return;
  if (CentralExceptionHandler h = CentralExceptionSlot().load()) {
    h(e);
    return;
  }
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "%s\n", ex.what());
  } catch (...) {
    std::fputs("Unknown exception\n", stderr);
  }
}

}  // namespace platform
