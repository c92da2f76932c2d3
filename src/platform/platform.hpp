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

// What a raw write to file descriptor 2, or a wait for it, ended with.
enum class StderrStatus {
  done,         // everything was written, or fd 2 takes bytes again
  interrupted,  // a signal arrived: the caller runs the handlers it can, then goes on
  full,         // fd 2 is non-blocking and full: wait_stderr_writable, then go on
  failed,       // fd 2 cannot be written (closed, or an error): the rest is dropped
};

// Writes as much of `text` as file descriptor 2 takes, completing short writes (one write call
// for a text that fits, as for a blocking pipe or a file), and advances `text` and `length` past
// what was written. Blocks as a plain write does; the caller decides whether the thread may block
// meanwhile.
StderrStatus write_stderr_some(const char*& text, std::size_t& length) noexcept;

// Waits until file descriptor 2 takes bytes again, or a signal arrives.
StderrStatus wait_stderr_writable() noexcept;

}  // namespace accel::platform
