// Binding vectorcall arguments to parameter slots by a function's signature.
#pragma once

#include <cstddef>

#include "frame/ref.hpp"

namespace accel {

// The general binder's view of a signature.
struct Parameters {
  const char* function;
  const char* const* names;
  PyObject** interned;  // the names as interned str, filled on the first keyword call
  Py_ssize_t count;
  Py_ssize_t required;
};

// A function's parameters: all positional-or-keyword, the first `required` of them required.
template <std::size_t P>
struct Signature {
  const char* function;
  const char* names[P];
  Py_ssize_t required;
  PyObject* interned[P] = {};

  Parameters parameters() { return Parameters{function, names, interned, P, required}; }
};

// The general binder: keywords and every binding error. Fills `slots` (borrowed references,
// null where not given) or sets a TypeError and returns false.
bool bind_general(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames, PyObject** slots);

// Positional calls with an acceptable count bind inline; everything else goes out of line.
template <std::size_t P>
inline bool bind(Signature<P>& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyObject* (&slots)[P]) {
  if (kwnames == nullptr && nargs >= sig.required && nargs <= static_cast<Py_ssize_t>(P))
      [[likely]] {
    for (std::size_t i = 0; i < P; ++i) {
      slots[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
    }
    return true;
  }
  return bind_general(sig.parameters(), args, nargs, kwnames, slots);
}

}  // namespace accel
