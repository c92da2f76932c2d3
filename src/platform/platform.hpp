// What differs between the operating systems and C libraries the module is built for: the
// mathematics library's spellings, the calling thread's name and the raw standard error. Nothing
// else in the sources names a platform; this leaf includes only the C and C++ libraries.
#pragma once

#include <cmath>
#include <cstddef>

#if defined(__APPLE__)
// Apple's libm spells it with two underscores and declares it in <math.h> only.
#include <math.h>
#endif

namespace accel::platform {

// sin(x) and cos(x) in one call where the C library has one. glibc's sincos and Apple's
// __sincos return the same bits as their sin and cos; elsewhere the two are called apart.
inline void sincos(double x, double* s, double* c) noexcept {
#if defined(__GLIBC__)
  ::sincos(x, s, c);
#elif defined(__APPLE__)
  ::__sincos(x, s, c);
#else
  *s = std::sin(x);
  *c = std::cos(x);
#endif
}

// The calling thread's name for the fault report: "main" for the process's main thread, the
// name the OS keeps for any other thread that was given one, else "<unnamed>" (also wherever
// the platform cannot tell). `out` receives a NUL-terminated text; returns its length.
std::size_t thread_name(char* out, std::size_t size) noexcept;

// Writes all of `text` to file descriptor 2, blocking as long as it takes, and completing short
// writes. A write interrupted by a signal is retried while standard error takes bytes within a
// short grace; one that stays full then gives up the rest, so that the signal's handler gets to
// run at all. The caller decides whether the thread may block meanwhile.
void write_stderr(const char* text, std::size_t length) noexcept;

}  // namespace accel::platform
