// Fault reports on standard error and the process-ending abort conditions.
#include "frame/fault.hpp"

#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "frame/lock.hpp"
#include "frame/seam.hpp"
#include "frame/unwind.hpp"
#include "platform/platform.hpp"

#ifdef ACCEL_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace accel {

namespace {

// Once per process by contract, not per runtime: the hint is for the person reading the log.
std::atomic<bool> hint_written{false};

// Ends the process abnormally; coverage builds first save their counters, which abort skips.
[[noreturn]] void end_process() noexcept {
#ifdef ACCEL_COVERAGE
  __gcov_dump();
#endif
  std::abort();
}

// An abort's text, written with the lock given up and never taken back: a standard error that a
// thread of this process drains can take it, and the process ends right after.
[[noreturn]] void abort_with(const char* text, std::size_t length) noexcept {
  if (holds_lock()) (void)PyEval_SaveThread();
  platform::write_stderr(text, length);
  end_process();
}

void report(const Text& message, const char* file, unsigned line, unsigned column) {
  char position[32];
  std::snprintf(position, sizeof position, ":%u:%u:\n", line, column);
  char thread[64];
  platform::thread_name(thread, sizeof thread);
  Text text = "\nthread '";
  text += thread;
  text += "' panicked at ";
  text += file;
  text += position;
  text += message + "\n";
  if (!hint_written.exchange(true)) {
    text +=
        "note: run the process under gdb with 'catch throw' to display a backtrace of the "
        "fault\n";
  }
  write_stderr(text.data(), text.size());
}

}  // namespace

void write_stderr(const char* text, std::size_t length) {
  if (!holds_lock()) return platform::write_stderr(text, length);
  detached([=] { platform::write_stderr(text, length); });
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
  abort_with(text, sizeof text - 1);
}

void out_of_memory(std::size_t bytes) noexcept {
  char text[96];
  int n = std::snprintf(text, sizeof text, "memory allocation of %zu bytes failed\n", bytes);
  abort_with(text, static_cast<std::size_t>(n));
}

}  // namespace accel
