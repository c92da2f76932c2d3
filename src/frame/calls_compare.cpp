// Entry routines of the five tolerant comparisons.
#include "compare/fuzzy.hpp"
#include "frame/calls.hpp"

namespace accel {

namespace {

using Predicate = bool (*)(double, double, double);

template <const Signature<3>& Sig, Predicate Pred>
PyObject* fuzzy(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* slots[3];
  if (!bind(Sig, args, nargs, kwnames, slots)) return nullptr;
  double a, b, atol;
  if (!float_arg(slots[0], "a", a) || !float_arg(slots[1], "b", b) ||
      !optional_float_arg(slots[2], "atol", kTolerance, atol)) {
    return nullptr;
  }
  return bool_result(Pred(a, b, atol));
}

constexpr Signature<3> kEqual{"fuzzy_equal", {"a", "b", "atol"}, 2};
constexpr Signature<3> kGreaterEqual{"fuzzy_greater_equal", {"a", "b", "atol"}, 2};
constexpr Signature<3> kGreater{"fuzzy_greater", {"a", "b", "atol"}, 2};
constexpr Signature<3> kLessEqual{"fuzzy_less_equal", {"a", "b", "atol"}, 2};
constexpr Signature<3> kLess{"fuzzy_less", {"a", "b", "atol"}, 2};

}  // namespace

ACCEL_ENTRY(fuzzy_equal_entry) {
  return run<fuzzy<kEqual, fuzzy_equal>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_greater_equal_entry) {
  return run<fuzzy<kGreaterEqual, fuzzy_greater_equal>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_greater_entry) {
  return run<fuzzy<kGreater, fuzzy_greater>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_less_equal_entry) {
  return run<fuzzy<kLessEqual, fuzzy_less_equal>>(args, nargs, kwnames);
}
ACCEL_ENTRY(fuzzy_less_entry) {
  return run<fuzzy<kLess, fuzzy_less>>(args, nargs, kwnames);
}

}  // namespace accel
