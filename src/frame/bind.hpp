// Binding vectorcall arguments to the parameters of a declared function.
#pragma once

#include <cstddef>
#include <utility>

#include "frame/function.hpp"

namespace accel {

// The general binder: keywords and every binding error. Fills `slots` (borrowed references,
// null where not given), or sets a TypeError and returns false.
bool bind_general_or_fault(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, PyObject** slots);

// Binds out of line and hands the slots to `body`; kept apart so the inline path's frame
// stays small. `body` is taken by value: the bodies carry no state, so nothing is built for
// this call on the inline path.
template <const auto& F, class Body, std::size_t... I>
[[gnu::noinline]] PyObject* bind_then(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                      Body body, std::index_sequence<I...>) {
  PyObject* slots[F.count];
  if (!bind_general_or_fault(parameters<F>, args, nargs, kwnames, slots)) return nullptr;
  return body(slots[I]...);
}

// True when the keyword names are the function's own interned names for the parameters right
// after the positional ones, in declaration order: what a call site that names its arguments in
// order passes. Before the first keyword call the names are not interned yet, so nothing
// matches and the general binder interns them.
template <const auto& F>
inline bool keywords_in_order(Py_ssize_t nargs, PyObject* kwnames, Py_ssize_t nkw) {
  // The caller has checked that nargs + nkw <= F.count: the constant bound, never the one that
  // ends the loop, unrolls it.
  constexpr Py_ssize_t count = F.count;
  for (Py_ssize_t k = 0; k < count && k < nkw; ++k) {  // GCOVR_EXCL_BR_LINE
    PyObject* name = interned_names<F>()[nargs + k].load(std::memory_order_relaxed);
    if (PyTuple_GET_ITEM(kwnames, k) != name) return false;
  }
  return true;
}

// Calls `body` with one argument per parameter (a borrowed reference, or null where not given).
// Positional calls with an acceptable count, and calls whose keywords come in declaration order,
// pass the caller's array entries straight through; everything else goes to the general binder.
// The counts are constants of the declaration, so these tests compare against immediates.
template <const auto& F, class Body>
inline PyObject* with_bound(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body body) {
  constexpr Py_ssize_t count = F.count;
  constexpr Py_ssize_t required = F.required;
  constexpr auto indices = std::make_index_sequence<F.count>();
  Py_ssize_t given = nargs;
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    given += nkw;
    if (given > count || !keywords_in_order<F>(nargs, kwnames, nkw)) {
      return bind_then<F>(args, nargs, kwnames, body, indices);
    }
  }
  if (given >= required && given <= count) [[likely]] {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return body((static_cast<Py_ssize_t>(I) < given ? args[I] : nullptr)...);
    }(indices);
  }
  return bind_then<F>(args, nargs, kwnames, body, indices);
}

}  // namespace accel
