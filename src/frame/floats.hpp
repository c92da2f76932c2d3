// Float parameters: bound, converted in declaration order, handed to a body as doubles.
#pragma once

#include <utility>

#include "frame/bind.hpp"
#include "frame/convert.hpp"

namespace accel {

// Converts the float parameters in declaration order (the first failure wins) and returns
// body(values...). Out of line: reached only when an argument is not an exact float.
template <const auto& F, class Body, class... Objs>
[[gnu::noinline]] PyObject* convert_floats_then(Body body, Objs... objs) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) -> PyObject* {
    PyObject* const slots[] = {objs...};
    double values[sizeof...(Objs)];
    if (!(float_arg_or_fault(slots[I], F.params[I], values[I]) && ...)) return nullptr;
    return body(values[I]...);
  }(std::index_sequence_for<Objs...>());
}

// Binds the float parameters and returns body(a, b, ...). When every argument is an exact float
// the values are read with no call in between, so they stay in registers.
template <const auto& F, class Body>
inline PyObject* with_floats(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                             Body body) {
  return with_bound<F>(args, nargs, kwnames, [body](auto... objs) -> PyObject* {
    if ((exact_float(objs) && ...)) [[likely]]
      return body(PyFloat_AS_DOUBLE(objs)...);
    return convert_floats_then<F>(body, objs...);
  });
}

}  // namespace accel
