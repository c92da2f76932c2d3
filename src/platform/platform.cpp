// The operating system's side of the platform leaf: thread names and standard error.
#if !defined(_WIN32) && !defined(_GNU_SOURCE)
#define _GNU_SOURCE  // program_invocation_short_name, in glibc and musl alike
#endif

#include "platform/platform.hpp"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

namespace accel::platform {

namespace {

std::size_t put(char* out, std::size_t size, const char* text) noexcept {
  std::size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return n;
}

#if !defined(_WIN32)
constexpr int kStderr = 2;
#endif

}  // namespace

#if defined(__linux__)
// The system calls are used directly: gettid and pthread_getname_np would need a glibc newer
// than the wheels' manylinux baseline. A thread that was never named carries the name it
// inherited from the process, which is not its own.
std::size_t thread_name(char* out, std::size_t size) noexcept {
  if (syscall(SYS_gettid) == getpid()) return put(out, size, "main");
  char name[64] = {};
  if (prctl(PR_GET_NAME, name) != 0 || name[0] == '\0' ||
      std::strncmp(name, program_invocation_short_name, 15) == 0) {
    return put(out, size, "<unnamed>");
  }
  return put(out, size, name);
}
#elif defined(__APPLE__)
std::size_t thread_name(char* out, std::size_t size) noexcept {
  if (pthread_main_np() != 0) return put(out, size, "main");
  char name[64] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
    return put(out, size, "<unnamed>");
  }
  return put(out, size, name);
}
#else
std::size_t thread_name(char* out, std::size_t size) noexcept {
  return put(out, size, "<unnamed>");
}
#endif

#if defined(_WIN32)
StderrStatus write_stderr_some(const char*& text, std::size_t& length) noexcept {
  while (length > 0) {
    unsigned chunk = length > 0x40000000u ? 0x40000000u : static_cast<unsigned>(length);
    int n = _write(2, text, chunk);
    if (n <= 0) return StderrStatus::failed;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
  return StderrStatus::done;
}

// Windows' descriptors for standard error block; there is nothing to wait for.
StderrStatus wait_stderr_writable() noexcept {
  return StderrStatus::done;
}
#else
StderrStatus write_stderr_some(const char*& text, std::size_t& length) noexcept {
  while (length > 0) {
    ssize_t n = write(kStderr, text, length);
    if (n > 0) {
      text += n;
      length -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      return StderrStatus::interrupted;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return StderrStatus::full;
    } else {
      return StderrStatus::failed;
    }
  }
  return StderrStatus::done;
}

StderrStatus wait_stderr_writable() noexcept {
  pollfd p{kStderr, POLLOUT, 0};
  int ready = poll(&p, 1, -1);
  if (ready > 0) return (p.revents & POLLOUT) != 0 ? StderrStatus::done : StderrStatus::failed;
  return ready < 0 && errno == EINTR ? StderrStatus::interrupted : StderrStatus::failed;
}
#endif

}  // namespace accel::platform
