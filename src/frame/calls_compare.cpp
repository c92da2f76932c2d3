// Entry routines of the five tolerant comparisons.
#include "compare/fuzzy.hpp"
#include "frame/calls.hpp"

namespace accel {

namespace {

using Predicate = bool (*)(double, double, double);

// Converts a, b and atol in order (the first failure wins); for calls with an argument that
// is not an exact float.
template <Predicate Pred>
[[gnu::noinline]] PyObject* fuzzy_converting(PyObject* a_obj, PyObject* b_obj, PyObject* atol_obj) {
  double a, b, atol;
  if (!float_arg(a_obj, "a", a) || !float_arg(b_obj, "b", b) ||
      !optional_float_arg(atol_obj, "atol", kTolerance, atol)) {
    return nullptr;
  }
  return bool_result(Pred(a, b, atol));
}

template <Signature<3, 2>& Sig, Predicate Pred>
PyObject* fuzzy(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(
      Sig, args, nargs, kwnames,
      [](PyObject* a_obj, PyObject* b_obj, PyObject* atol_obj) -> PyObject* {
        // Exact floats are read with no call in between, so they stay in registers.
        if (exact_float(a_obj) && exact_float(b_obj)) [[likely]] {
          if (atol_obj == nullptr || atol_obj == Py_None) {
            return bool_result(
                Pred(PyFloat_AS_DOUBLE(a_obj), PyFloat_AS_DOUBLE(b_obj), kTolerance));
          }
          if (exact_float(atol_obj)) {
            return bool_result(Pred(PyFloat_AS_DOUBLE(a_obj), PyFloat_AS_DOUBLE(b_obj),
                                    PyFloat_AS_DOUBLE(atol_obj)));
          }
        }
        return fuzzy_converting<Pred>(a_obj, b_obj, atol_obj);
      });
}

Signature<3, 2> equal_sig{"fuzzy_equal", {"a", "b", "atol"}};
Signature<3, 2> greater_equal_sig{"fuzzy_greater_equal", {"a", "b", "atol"}};
Signature<3, 2> greater_sig{"fuzzy_greater", {"a", "b", "atol"}};
Signature<3, 2> less_equal_sig{"fuzzy_less_equal", {"a", "b", "atol"}};
Signature<3, 2> less_sig{"fuzzy_less", {"a", "b", "atol"}};

}  // namespace

ACCEL_ENTRY(fuzzy_equal_entry) {
  return run<fuzzy<equal_sig, fuzzy_equal>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_greater_equal_entry) {
  return run<fuzzy<greater_equal_sig, fuzzy_greater_equal>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_greater_entry) {
  return run<fuzzy<greater_sig, fuzzy_greater>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_less_equal_entry) {
  return run<fuzzy<less_equal_sig, fuzzy_less_equal>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_less_entry) {
  return run<fuzzy<less_sig, fuzzy_less>>(args, nargs, kwnames);
}

}  // namespace accel
