#pragma once
// Whether this test binary runs under AddressSanitizer or ThreadSanitizer:
// they reserve the address space (no memory limits then) and own the fault
// signals (they report those themselves), and they slow every thread down.
#include <chrono>

namespace corvane::testsupport {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

// How soon an unplugged modem must reach the program after its hang-up: at
// once for the operator, several times that under a sanitizer.
inline constexpr std::chrono::milliseconds kUnplugNoticeBound{kUnderSanitizer ? 500 : 100};

}  // namespace corvane::testsupport
