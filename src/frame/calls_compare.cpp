// Entry routines of the five tolerant comparisons.
#include "compare/fuzzy.hpp"
#include "frame/calls.hpp"

namespace accel {

namespace {

using Predicate = bool (*)(double, double, double);

template <Signature<3>& Sig, Predicate Pred>
PyObject* fuzzy(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(Sig, args, nargs, kwnames,
                    [](PyObject* a_obj, PyObject* b_obj, PyObject* atol_obj) -> PyObject* {
                      double a, b, atol;
                      if (!float_arg(a_obj, "a", a) || !float_arg(b_obj, "b", b) ||
                          !optional_float_arg(atol_obj, "atol", kTolerance, atol)) {
                        return nullptr;
                      }
                      return bool_result(Pred(a, b, atol));
                    });
}

Signature<3> equal_sig{"fuzzy_equal", {"a", "b", "atol"}, 2};
Signature<3> greater_equal_sig{"fuzzy_greater_equal", {"a", "b", "atol"}, 2};
Signature<3> greater_sig{"fuzzy_greater", {"a", "b", "atol"}, 2};
Signature<3> less_equal_sig{"fuzzy_less_equal", {"a", "b", "atol"}, 2};
Signature<3> less_sig{"fuzzy_less", {"a", "b", "atol"}, 2};

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
