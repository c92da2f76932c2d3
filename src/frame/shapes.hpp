// Call shapes over float kernels: bind, convert in parameter order, call, convert the result.
#pragma once

#include <optional>

#include "frame/bind.hpp"
#include "frame/convert.hpp"
#include "frame/numpy_bridge.hpp"
#include "weyl/chamber.hpp"

namespace accel {

// Ends the call with the Weyl-coordinate fault, reported at `site`.
[[noreturn, gnu::cold]] void fault_not_normalised(SourceSite site);

// Kernel results as Python objects. A kernel that checks the Weyl coordinate gives nothing when
// it is not normalised: that is the fault, reported at the function's own line.
template <const auto& F>
inline PyObject* result_or_fault(bool value) {
  return bool_result(value);
}
template <const auto& F>
inline PyObject* result_or_fault(double value) {
  return new_float_or_fault(value).release();
}
template <const auto& F>
inline PyObject* result_or_fault(Triple t) {
  Ref a = new_float_or_fault(t.a);
  Ref b = new_float_or_fault(t.b);
  Ref c = new_float_or_fault(t.c);
  return new_tuple_or_fault(std::move(a), std::move(b), std::move(c));
}
template <const auto& F, class T>
inline PyObject* result_or_fault(std::optional<T> value) {
  static_assert(F.fault_line != 0, "a kernel that checks the coordinate needs a fault line");
  if (!value) [[unlikely]]
    fault_not_normalised(SourceSite{"src/lib", F.fault_line, 5});
  return result_or_fault<F>(*value);
}

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

// Float parameters in, one kernel result out.
template <auto Kernel>
struct Floats {
  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_floats<F>(args, nargs, kwnames,
                          [](auto... values) { return result_or_fault<F>(Kernel(values...)); });
  }
};

// a and b as floats, atol an optional float defaulting to the tolerance; a bool out.
template <bool (*Pred)(double, double, double)>
struct Fuzzy {
  // For calls with an argument that is not an exact float.
  template <const auto& F>
  [[gnu::noinline]] static PyObject* converting(PyObject* a_obj, PyObject* b_obj,
                                                PyObject* atol_obj) {
    double a, b, atol;
    if (!float_arg_or_fault(a_obj, F.params[0], a) || !float_arg_or_fault(b_obj, F.params[1], b) ||
        !optional_float_arg_or_fault(atol_obj, F.params[2], kTolerance, atol)) {
      return nullptr;
    }
    return bool_result(Pred(a, b, atol));
  }

  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_bound<F>(args, nargs, kwnames, [](PyObject* a, PyObject* b, PyObject* atol) {
      // Exact floats are read with no call in between, so they stay in registers.
      if (exact_float(a) && exact_float(b)) [[likely]] {
        if (atol == nullptr || atol == Py_None) {
          return bool_result(Pred(PyFloat_AS_DOUBLE(a), PyFloat_AS_DOUBLE(b), kTolerance));
        }
        if (exact_float(atol)) {
          return bool_result(
              Pred(PyFloat_AS_DOUBLE(a), PyFloat_AS_DOUBLE(b), PyFloat_AS_DOUBLE(atol)));
        }
      }
      return converting<F>(a, b, atol);
    });
  }
};

// Three floats in, a new 4x4 complex128 array out, filled by the kernel in place.
template <void (*Fill)(double*, double, double, double)>
struct ComplexMatrix {
  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_floats<F>(args, nargs, kwnames, [](double a, double b, double c) {
      double* buffer;
      Ref owner = unitary_owner_or_fault(buffer);
      if (!owner) return static_cast<PyObject*>(nullptr);
      Fill(buffer, a, b, c);
      return unitary_array_or_fault(std::move(owner), buffer);
    });
  }
};

}  // namespace accel
