// Entry routines of the three pair orderings and their key calls.
#include "compare/sort.hpp"
#include "frame/calls.hpp"

namespace accel {

namespace {

Signature<3> floats_sig{"sort_two_floats", {"a", "b", "key"}, 2};
Signature<3> ints_sig{"sort_two_ints", {"a", "b", "key"}, 2};
Signature<3> objs_sig{"sort_two_objs", {"a", "b", "key"}, 2};

inline bool has_key(PyObject* key) {
  return key != nullptr && key != Py_None;
}

// key(value) through the generic call with a fresh 1-tuple; value is a new reference.
Ref call_key(PyObject* key, Ref value) {
  Ref call_args = Ref::steal(tuple_result(std::move(value)));
  Ref result = Ref::steal(PyObject_Call(key, call_args.get(), nullptr));
  if (!result) fail_pending();
  return result;
}

bool float_key(PyObject* key, double value, double& out) {
  Ref result = call_key(key, float_object(value));
  return result && float_value(result.get(), out);
}

bool int_key(PyObject* key, std::int32_t value, std::int32_t& out) {
  Ref result = call_key(key, int_object(value));
  return result && int32_value(result.get(), out);
}

PyObject* floats_bound(PyObject* a_obj, PyObject* b_obj, PyObject* key) {
  double a, b;
  if (!float_arg(a_obj, "a", a) || !float_arg(b_obj, "b", b)) return nullptr;
  std::pair<double, double> sorted;
  if (!has_key(key)) {
    sorted = sort_two(a, b);
  } else if (!sort_two_by_key(
                 a, b, [key](double v, double& k) { return float_key(key, v, k); }, sorted)) {
    return nullptr;
  }
  Ref first = float_object(sorted.first);
  Ref second = float_object(sorted.second);
  return tuple_result(std::move(first), std::move(second));
}

PyObject* ints_bound(PyObject* a_obj, PyObject* b_obj, PyObject* key) {
  std::int32_t a, b;
  if (!int32_arg(a_obj, "a", a) || !int32_arg(b_obj, "b", b)) return nullptr;
  std::pair<std::int32_t, std::int32_t> sorted;
  if (!has_key(key)) {
    sorted = sort_two(a, b);
  } else if (!sort_two_by_key(
                 a, b, [key](std::int32_t v, std::int32_t& k) { return int_key(key, v, k); },
                 sorted)) {
    return nullptr;
  }
  Ref first = int_object(sorted.first);
  Ref second = int_object(sorted.second);
  return tuple_result(std::move(first), std::move(second));
}

// Python's `left < right` reduced to a truth value; false with the error set on failure.
bool less_than(PyObject* left, PyObject* right, bool& out) {
  Ref result = Ref::steal(PyObject_RichCompare(left, right, Py_LT));
  if (!result) return fail_pending(), false;
  int truth = PyObject_IsTrue(result.get());
  if (truth < 0) return fail_pending(), false;
  out = truth != 0;
  return true;
}

PyObject* objs_bound(PyObject* a, PyObject* b, PyObject* key) {
  // Only key(b) < key(a) swaps, so equal and unordered objects keep their order.
  bool swap;
  if (!has_key(key)) {
    if (!less_than(b, a, swap)) return nullptr;
  } else {
    if (!PyCallable_Check(key)) {
      PyErr_SetString(PyExc_TypeError, "key argument must be a callable");
      return nullptr;
    }
    Ref key_a = call_key(key, Ref::borrow(a));
    if (!key_a) return nullptr;
    Ref key_b = call_key(key, Ref::borrow(b));
    if (!key_b || !less_than(key_b.get(), key_a.get(), swap)) return nullptr;
  }
  Ref first = Ref::borrow(swap ? b : a);
  Ref second = Ref::borrow(swap ? a : b);
  return tuple_result(std::move(first), std::move(second));
}

PyObject* floats(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(floats_sig, args, nargs, kwnames, floats_bound);
}

PyObject* ints(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(ints_sig, args, nargs, kwnames, ints_bound);
}

PyObject* objs(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(objs_sig, args, nargs, kwnames, objs_bound);
}

}  // namespace

ACCEL_ENTRY(sort_two_floats_entry) {
  return run<floats>(args, nargs, kwnames);
}
ACCEL_ENTRY(sort_two_ints_entry) {
  return run<ints>(args, nargs, kwnames);
}
ACCEL_ENTRY(sort_two_objs_entry) {
  return run<objs>(args, nargs, kwnames);
}

}  // namespace accel
