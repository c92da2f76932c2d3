// Fault reports on standard error and the process-ending abort conditions.
#include "frame/fault.hpp"

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "frame/seam.hpp"
#include "frame/unwind.hpp"

#ifdef ACCEL_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace accel {

namespace {

std::atomic<bool> hint_written{false};

// Ends the process abnormally; coverage builds first save their counters, which abort skips.
[[noreturn]] void end_process() noexcept {
#ifdef ACCEL_COVERAGE
  __gcov_dump();
#endif
  std::abort();
}

// The main thread is reported as "main"; other threads by the OS name they were given, or as
// "<unnamed>" when they only carry the name inherited from the process. The report is written
// on the faulting thread, so the calling thread's own name is the one wanted. (The system calls
// are used directly: gettid and pthread_getname_np would need a glibc newer than the wheels'
// manylinux baseline.)
Text thread_name() {
  if (syscall(SYS_gettid) == getpid()) return Text("main");
  char name[64] = {};
  if (prctl(PR_GET_NAME, name) != 0 || name[0] == '\0' ||
      std::strncmp(name, program_invocation_short_name, 15) == 0) {
    return Text("<unnamed>");
  }
  return Text(name);
}

void report(const Text& message, const char* file, unsigned line, unsigned column) {
  char position[32];
  std::snprintf(position, sizeof position, ":%u:%u:\n", line, column);
  Text text = "\nthread '" + thread_name() + "' panicked at " + file + position;
  text += message + "\n";
  if (!hint_written.exchange(true)) {
    text +=
        "note: run the process under gdb with 'catch throw' to display a backtrace of the "
        "fault\n";
  }
  write_stderr(text.data(), text.size());
}

}  // namespace

// A write interrupted by a signal gives up the rest of the text: retrying would keep the
// interpreter lock while a full pipe blocks, and no signal handler could run meanwhile.
void write_stderr(const char* text, std::size_t length) noexcept {
  while (length > 0) {
    ssize_t n = write(STDERR_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void fault(Text message, SourceSite site) {
  report(message, site.file, site.line, site.column);
  throw_fault(std::move(message));
}

void fault(Text message, std::source_location loc) {
  fault(std::move(message), SourceSite{loc.file_name(), loc.line(), loc.column()});
}

void fault(const char* message, std::source_location loc) {
  fault(Text(message), loc);
}

void throw_fault(Text message) {
  fault_thrown();
  // "std_exception" throws a standard exception instead, which the entry path must also turn
  // into PanicException.
  if (seam::injected("std_exception")) throw std::length_error("injected standard exception");
  throw Fault{std::move(message)};
}

void abort_at_boundary() noexcept {
  static const char text[] = "uncaught panic at ffi boundary\n";
  write_stderr(text, sizeof text - 1);
  end_process();
}

void out_of_memory(std::size_t bytes) noexcept {
  char text[96];
  int n = std::snprintf(text, sizeof text, "memory allocation of %zu bytes failed\n", bytes);
  write_stderr(text, static_cast<std::size_t>(n));
  end_process();
}

}  // namespace accel
