// PanicException, fetching pending Python errors, and the error side of the entry path.
#pragma once

#include <cxxabi.h>

#include "frame/fault.hpp"
#include "frame/ref.hpp"

namespace accel {

// Takes the pending exception after a CPython call reported failure (a SystemError when none
// is pending). A PanicException coming back from Python code is printed with a banner and
// resumed as a fault carrying its str().
Ref take_error();

// Takes the pending exception and makes it current again: the Python error outcome of a call.
// Always returns null, for `return fail_pending();`.
PyObject* fail_pending();

// Prints and clears the pending Python error and faults with "Python API call failed".
[[noreturn, gnu::cold]] void api_failed(std::source_location loc = std::source_location::current());

// Renders an exception for a fault message: its type, its repr and its traceback.
Text render_error(PyObject* exc);

// The entry path's handler for anything thrown out of a call: raises PanicException for a
// fault and returns null. A fault thrown while doing so ends the process; if the exception
// cannot be created, the creation's own error is raised instead.
[[gnu::cold]] PyObject* raise_thrown();

// Runs a call under the fault catcher: its result, or null with an exception set. Not
// noexcept: a thread ended by the interpreter at shutdown unwinds through here and must pass.
template <class F>
inline PyObject* guarded(F&& call) {
  try {
    return call();
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return raise_thrown();
  }
}

}  // namespace accel
