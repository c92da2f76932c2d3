// Call shapes that bind the kernels to the frame: how each kind of kernel is called and how its
// result, or its failed precondition, reaches Python.
#pragma once

#include "compare/fuzzy.hpp"
#include "frame/floats.hpp"
#include "frame/numpy_bridge.hpp"
#include "weyl/chamber.hpp"

namespace accel {

// Ends the call with the Weyl-coordinate fault, reported at `site`.
[[noreturn, gnu::cold]] void fault_not_normalised(SourceSite site);

// Kernel results as Python objects.
inline PyObject* result_or_fault(bool value) {
  return bool_result(value);
}
inline PyObject* result_or_fault(double value) {
  return new_float_or_fault(value).release();
}
inline PyObject* result_or_fault(Triple t) {
  Ref a = new_float_or_fault(t.a);
  Ref b = new_float_or_fault(t.b);
  Ref c = new_float_or_fault(t.c);
  return new_tuple_or_fault(std::move(a), std::move(b), std::move(c)).release();
}

// Float parameters in, one kernel result out.
template <auto Kernel>
struct Floats {
  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_floats<F>(args, nargs, kwnames,
                          [](auto... values) { return result_or_fault(Kernel(values...)); });
  }
};

// The same for a kernel that needs a normalised Weyl coordinate (a, b, c) in its first three
// parameters: the check runs inline ahead of the kernel, and a coordinate that fails it is the
// fault, reported at the function's own line, "src/lib:LINE:5" (callers match on those
// positions, so each function keeps its own: table.cpp asserts that no two share one).
template <auto Kernel, unsigned Line>
struct NormalisedFloats {
  static_assert(Line != 0, "a kernel that checks the coordinate needs a fault line");
  static constexpr unsigned fault_line = Line;

  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_floats<F>(args, nargs, kwnames, [](double a, double b, double c, auto... more) {
      if (!is_normalised(a, b, c)) [[unlikely]]
        fault_not_normalised(SourceSite{"src/lib", Line, 5});
      return result_or_fault(Kernel(a, b, c, more...));
    });
  }
};

// The fault line of a call shape; 0 for the shapes that cannot fault on a coordinate.
template <class Shape>
constexpr unsigned fault_line_of() {
  if constexpr (requires { Shape::fault_line; }) {
    return Shape::fault_line;
  } else {
    return 0;
  }
}

// True when no two of the shapes report their faults at the same line.
template <class... Shapes>
constexpr bool distinct_fault_lines() {
  constexpr unsigned lines[] = {fault_line_of<Shapes>()...};
  for (unsigned i = 0; i < sizeof...(Shapes); ++i) {
    for (unsigned j = i + 1; j < sizeof...(Shapes); ++j) {
      if (lines[i] != 0 && lines[i] == lines[j]) return false;
    }
  }
  return true;
}

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

// Three floats in, a new Rows x Rows complex128 array out, filled by the kernel in place.
template <void (*Fill)(double*, double, double, double), int Rows>
struct ComplexMatrix {
  template <const auto& F>
  static PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_floats<F>(args, nargs, kwnames, [](double a, double b, double c) -> PyObject* {
      double* buffer;
      Ref owner = complex_owner_or_fault(Rows * Rows, buffer);
      if (!owner) [[unlikely]]
        return nullptr;
      Fill(buffer, a, b, c);
      return complex_matrix_or_fault(std::move(owner), buffer, Rows, Rows);
    });
  }
};

}  // namespace accel
