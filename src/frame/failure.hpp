// The failure core: the two roads of failure and the entry path that ends both.
//
// Every failure in a call ends as a Python exception raised from that call; nothing else reaches
// the caller. There are two roads, and a routine's name says which it can take:
//
//  1. An ordinary error (a binding or conversion error, a non-callable key, an exception raised by
//     Python code the call runs) travels back as a Python error: the routine sets it and returns
//     `Failure` (false, or null), and its caller checks on the next line and returns in turn. The
//     entry path finds the error set and returns null.
//
//  2. An internal fault (a violated kernel precondition, an object the frame cannot create, an
//     unusable NumPy) ends the call at once: fault() writes the fault report to standard error and
//     throw_fault() throws a `Fault`, which only the entry path catches. Meanwhile the handles
//     being unwound defer their releases (unwind.hpp). The entry path then raises PanicException
//     with the fault's message, the one place where "panic" is a name: the Python class.
//
// Names: a routine named fault...() never returns: it ends the call with a fault, or, when
// Python code that it runs raises an interrupt or a signal handler raises while the report waits
// for standard error, with that exception as it is (throw_error). One named ..._or_fault() can
// take either road (it returns its result, or Failure with an error set, or faults); any other
// routine takes the ordinary road only, or cannot fail. Constructors of new references return a
// `Ref`.
//
// An abort ends the process instead, with its text on standard error: a fault that escapes the
// entry path's own bookkeeping ("uncaught panic at ffi boundary") and a failed native allocation
// ("memory allocation of N bytes failed"). Nothing else aborts.
#pragma once

#include <exception>

#include "frame/fault.hpp"
#include "frame/ref.hpp"

namespace accel {

// What a routine on the ordinary road returns when it failed: false, or a null pointer.
struct Failure {
  constexpr operator bool() const noexcept { return false; }
  template <class T>
  constexpr operator T*() const noexcept {
    return nullptr;
  }
};

// Sets `type` with the message as its value.
Failure set_error(PyObject* type, const char* message);

// After a CPython call reported failure: takes the pending exception (a SystemError when none is
// pending). A PanicException coming back from Python code is printed with a banner and resumed
// as a fault carrying its str() (unless str() raises an interrupt, which is then the error).
Ref take_error_or_fault();

// The same, leaving the error pending: the ordinary failure of the calling routine.
Failure pending_error_or_fault();

// Prints and clears the pending Python error (print_error), then faults with `message`. An
// interrupt, pending or raised while printing, ends the call as itself instead (throw_error).
[[noreturn, gnu::cold]] void fault_after_printing(
    const char* message, std::source_location loc = std::source_location::current());

// fault_after_printing with "Python API call failed": an object the frame creates cannot be.
[[noreturn, gnu::cold]] void fault_api_failed(
    std::source_location loc = std::source_location::current());

// Faults with `prefix`, ": " and a rendering of `error` (its type, its repr and its traceback).
// An interrupt raised during this call, `error` or one that it was raised from or while handling
// (printing.hpp), is not rendered: it is left pending and the call fails the ordinary way, as it
// does when rendering, which runs Python code, raises one. The exception that the caller was
// handling when the call began, and whatever is chained behind it, is no such interrupt. A null
// `error` (its taking already failed the ordinary way) fails the same way.
[[gnu::cold]] Failure render_error_or_fault(
    const char* prefix, Ref error, std::source_location loc = std::source_location::current());

// The entry path's handlers for what a call threw, run inside the catch: keep the message of a
// fault (or of a standard exception) for raise_caught. No Python code runs here.
[[gnu::cold]] void keep_caught(const Fault& caught) noexcept;
[[gnu::cold]] void keep_caught(const std::exception& error) noexcept;

// Run by the entry path after its catch, with no exception in flight: releases what unwinding
// deferred, raises PanicException with the kept message and returns null. A fault thrown while
// doing so ends the process; if the exception cannot be created, the creation's own error is
// raised instead.
[[gnu::cold]] PyObject* raise_caught();

// The shared entry path: runs a call under the fault catcher and returns its result, or null
// with an exception set. Only the module's own exceptions are caught: the forced unwind of a
// thread that the interpreter ends at shutdown passes through, as it must.
template <class F>
inline PyObject* guarded(F&& call) {
  try {
    return call();
  } catch (const Fault& caught) {
    keep_caught(caught);
  } catch (const std::exception& error) {
    keep_caught(error);
  }
  return raise_caught();
}

}  // namespace accel
