// Binding vectorcall arguments to parameter slots by a function's signature.
#pragma once

#include <cstddef>
#include <utility>

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

// A function's P parameters: all positional-or-keyword, the first R of them required. The
// counts are constants, so the inline binding paths compare against immediates.
template <std::size_t P, std::size_t R>
struct Signature {
  static constexpr Py_ssize_t count = P;
  static constexpr Py_ssize_t required = R;
  const char* function;
  const char* names[P];
  PyObject* interned[P] = {};

  Parameters parameters() { return Parameters{function, names, interned, count, required}; }
};

// The general binder: keywords and every binding error. Fills `slots` (borrowed references,
// null where not given) or sets a TypeError and returns false.
bool bind_general(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames, PyObject** slots);

// Binds out of line and hands the slots to `body`; kept apart so the inline path's frame
// stays small.
// `body` is taken by value: the bodies carry no state, so nothing is built for this call on
// the inline path.
template <std::size_t P, std::size_t R, class Body, std::size_t... I>
[[gnu::noinline]] PyObject* bind_then(Signature<P, R>& sig, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames, Body body, std::index_sequence<I...>) {
  PyObject* slots[P];
  if (!bind_general(sig.parameters(), args, nargs, kwnames, slots)) return nullptr;
  return body(slots[I]...);
}

// True when the keyword names are this signature's own interned names for the parameters
// right after the positional ones, in declaration order: what a call site that names its
// arguments in order passes. Before the first keyword call the names are not interned yet, so
// nothing matches and the general binder interns them.
template <std::size_t P, std::size_t R>
inline bool keywords_in_order(const Signature<P, R>& sig, Py_ssize_t nargs, PyObject* kwnames,
                              Py_ssize_t nkw) {
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    if (PyTuple_GET_ITEM(kwnames, k) != sig.interned[nargs + k]) return false;
  }
  return true;
}

// Calls `body` with one argument per parameter (a borrowed reference, or null where not given).
// Positional calls with an acceptable count, and calls whose keywords come in declaration order,
// pass the caller's array entries straight through; everything else goes to the general binder.
template <std::size_t P, std::size_t R, class Body>
inline PyObject* with_bound(Signature<P, R>& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, Body body) {
  constexpr auto indices = std::make_index_sequence<P>();
  Py_ssize_t given = nargs;
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    given += nkw;
    if (given > static_cast<Py_ssize_t>(P) || !keywords_in_order(sig, nargs, kwnames, nkw)) {
      return bind_then(sig, args, nargs, kwnames, body, indices);
    }
  }
  if (given >= sig.required && given <= static_cast<Py_ssize_t>(P)) [[likely]] {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return body((static_cast<Py_ssize_t>(I) < given ? args[I] : nullptr)...);
    }(indices);
  }
  return bind_then(sig, args, nargs, kwnames, body, indices);
}

}  // namespace accel
