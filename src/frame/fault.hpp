// Internal faults: abrupt ends of a call that the entry path turns into PanicException.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <source_location>

#include "frame/text.hpp"

namespace accel {

// Where a fault was raised, as shown in the fault report.
struct SourceSite {
  const char* file;
  unsigned line;
  unsigned column;
};

// Thrown to end the current call; caught only by the shared entry path.
struct Fault {
  Text message;
};

// Every routine named fault... ends the call: it writes the fault report to standard error, then
// throws a Fault carrying the message, which only the entry path catches. A signal handler that
// raises while the report waits for standard error ends the call with its exception instead
// (throw_error), as it would end a write of os.write.
[[noreturn, gnu::cold]] void fault(Text message, SourceSite site);
[[noreturn, gnu::cold]] void fault(Text message,
                                   std::source_location loc = std::source_location::current());
[[noreturn, gnu::cold]] void fault(const char* message,
                                   std::source_location loc = std::source_location::current());

// The primitive every fault is thrown through; alone (without a report) for a fault that comes
// back from Python code, whose report was written when it first happened.
[[noreturn, gnu::cold]] void throw_fault(Text message);

// Ends the call with `error` (a new reference) raised as it is, with no fault report: an
// exception that arrives where the call could otherwise only fault. Releases deferred meanwhile
// are done first.
[[noreturn, gnu::cold]] void throw_error(PyObject* error);

// Writes all of `text` to standard error, bypassing stdio buffering, as CPython's own writes do:
// with the lock given up while the write blocks, waiting while a non-blocking standard error is
// full, and running the signal handlers whenever a signal interrupts the wait. Returns false when
// a handler raised, with its exception set: the rest of the text is not written. Not noexcept:
// taking the lock back can end the thread (lock.hpp).
[[nodiscard]] bool write_stderr(const char* text, std::size_t length);

// Writes "uncaught panic at ffi boundary" to standard error and aborts.
[[noreturn, gnu::cold]] void abort_at_boundary() noexcept;

}  // namespace accel
