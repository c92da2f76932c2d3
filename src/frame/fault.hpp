// Internal faults: abrupt ends of a call that the entry path turns into PanicException.
#pragma once

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
// throws a Fault carrying the message, which only the entry path catches.
[[noreturn, gnu::cold]] void fault(Text message, SourceSite site);
[[noreturn, gnu::cold]] void fault(Text message,
                                   std::source_location loc = std::source_location::current());
[[noreturn, gnu::cold]] void fault(const char* message,
                                   std::source_location loc = std::source_location::current());

// The primitive every fault is thrown through; alone (without a report) for a fault that comes
// back from Python code, whose report was written when it first happened.
[[noreturn, gnu::cold]] void throw_fault(Text message);

// Writes text to standard error, bypassing stdio buffering, with the lock given up while the
// write may block. Not noexcept: taking the lock back can end the thread (lock.hpp).
void write_stderr(const char* text, std::size_t length);

// Writes "uncaught panic at ffi boundary" to standard error and aborts.
[[noreturn, gnu::cold]] void abort_at_boundary() noexcept;

}  // namespace accel
