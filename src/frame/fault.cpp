// Fault reports on standard error and the process-ending abort conditions.
#include "frame/fault.hpp"

#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "frame/lock.hpp"
#include "frame/seam.hpp"
#include "frame/unwind.hpp"
#include "frame/utf8.hpp"
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
// thread of this process drains can take it, and the process ends right after. No signal handler
// can run any more: a write that signals interrupt twice with nothing written in between ends
// there, so that a standard error that nobody drains cannot keep the process from ending.
[[noreturn]] void abort_with(const char* text, std::size_t length) noexcept {
  using platform::StderrStatus;
  if (holds_lock()) (void)PyEval_SaveThread();
  bool moved = true;
  for (;;) {
    const char* before = text;
    StderrStatus status = platform::write_stderr_some(text, length);
    if (status == StderrStatus::full) status = platform::wait_stderr_writable();
    if (length == 0 || status == StderrStatus::failed) break;
    if (status == StderrStatus::interrupted && !moved && text == before) break;
    moved = text != before;
  }
  end_process();
}

// One write of the whole report. A thread name that the OS cut inside a character, or that was
// set to bytes that are no UTF-8, is repaired: a reader that decodes standard error as UTF-8 gets
// the report, not a decoding error.
void report(const Text& message, const char* file, unsigned line, unsigned column) {
  char position[32];
  std::snprintf(position, sizeof position, ":%u:%u:\n", line, column);
  char thread[64];
  const std::size_t name_length = platform::thread_name(thread, sizeof thread);
  Text text = "\nthread '";
  append_utf8(text, thread, name_length);
  text += "' panicked at ";
  text += file;
  text += position;
  text += message + "\n";
  if (!hint_written.exchange(true)) {
    text +=
        "note: run the process under gdb with 'catch throw' to display a backtrace of the "
        "fault\n";
  }
  if (!write_stderr(text.data(), text.size())) throw_error(PyErr_GetRaisedException());
}

}  // namespace

bool write_stderr(const char* text, std::size_t length) {
  using platform::StderrStatus;
  const bool attached = holds_lock();
  auto blocking = [&](auto step) {
    StderrStatus status = StderrStatus::failed;
    if (attached) {
      detached([&] { status = step(); });
    } else {
      status = step();
    }
    return status;
  };
  for (;;) {
    StderrStatus status = blocking([&] { return platform::write_stderr_some(text, length); });
    if (status == StderrStatus::full) status = blocking(platform::wait_stderr_writable);
    if (status == StderrStatus::failed || length == 0) return true;
    // Interrupted, or writable again. Without a thread state no handler can run: the write
    // goes on, as a thread's write does while the handlers wait for the main thread.
    if (status == StderrStatus::interrupted && attached && PyErr_CheckSignals() < 0) {
      return false;
    }
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
  begin_unwinding();
  // "std_exception" throws a standard exception instead, which the entry path must also turn
  // into PanicException.
  if (seam::injected("std_exception")) throw std::length_error("injected standard exception");
  throw Fault{std::move(message)};
}

void throw_error(PyObject* error) {
  begin_unwinding();
  keep_thrown_error(error);
  throw Fault{};
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
