// Entry routines of the three pair orderings and their key calls.
#include "compare/sort.hpp"
#include "frame/calls.hpp"

namespace accel {

namespace {

Signature<3, 2> floats_sig{"sort_two_floats", {"a", "b", "key"}};
Signature<3, 2> ints_sig{"sort_two_ints", {"a", "b", "key"}};
Signature<3, 2> objs_sig{"sort_two_objs", {"a", "b", "key"}};

inline bool has_key(PyObject* key) {
  return key != nullptr && key != Py_None;
}

// key(value) through the generic call with a fresh 1-tuple; value is a new reference.
Ref call_key(PyObject* key, Ref value) {
  Ref call_args = Ref::steal(tuple_result(std::move(value)));
  Ref result = Ref::steal(PyObject_Call(key, call_args.get(), nullptr));
  call_args.reset();
  if (!result) fail_pending();
  return result;
}

// How each typed sort reads its numbers and boxes them again.
struct FloatKind {
  using Value = double;
  static bool exact(PyObject* obj) { return exact_float(obj); }
  static double read(PyObject* obj) { return PyFloat_AS_DOUBLE(obj); }
  static bool arg(PyObject* obj, const char* name, double& out) {
    return float_arg(obj, name, out);
  }
  static bool value(PyObject* obj, double& out) { return float_value(obj, out); }
  static Ref box(double value) { return float_object(value); }
};

struct IntKind {
  using Value = std::int32_t;
  static bool exact(PyObject* obj) { return small_exact_int(obj); }
  static std::int32_t read(PyObject* obj) { return small_int_value(obj); }
  static bool arg(PyObject* obj, const char* name, std::int32_t& out) {
    return int32_arg(obj, name, out);
  }
  static bool value(PyObject* obj, std::int32_t& out) { return int32_value(obj, out); }
  static Ref box(std::int32_t value) { return int_object(value); }
};

// Orders a and b by key(new number); false with the error set when a key step failed. Out of
// line: the call without a key is the hot one.
template <class Kind, class T = typename Kind::Value>
[[gnu::noinline]] bool sort_by_key(PyObject* key, T a, T b, std::pair<T, T>& sorted) {
  auto key_of = [key](T v, T& k) {
    Ref result = call_key(key, Kind::box(v));
    if (!result) return false;
    bool converted = Kind::value(result.get(), k);
    result.reset();
    return converted;
  };
  return sort_two_by_key(a, b, key_of, sorted);
}

// Two new numbers in a new tuple.
template <class Kind, class T = typename Kind::Value>
inline PyObject* pair_result(std::pair<T, T> sorted) {
  Ref first = Kind::box(sorted.first);
  Ref second = Kind::box(sorted.second);
  return tuple_result(std::move(first), std::move(second));
}

// Converts a and b in order, orders them (by key when given), returns two new numbers. Out of
// line: for keys and for arguments that need a conversion call.
template <class Kind>
[[gnu::noinline]] PyObject* typed_converting(PyObject* a_obj, PyObject* b_obj, PyObject* key) {
  using T = typename Kind::Value;
  T a, b;
  if (!Kind::arg(a_obj, "a", a) || !Kind::arg(b_obj, "b", b)) return nullptr;
  std::pair<T, T> sorted;
  if (!has_key(key)) {
    sorted = sort_two(a, b);
  } else if (!sort_by_key<Kind>(key, a, b, sorted)) {
    return nullptr;
  }
  return pair_result<Kind>(sorted);
}

// Without a key, exact numbers are read with no call in between, so they stay in registers.
template <class Kind>
[[gnu::always_inline]] inline PyObject* typed_bound(PyObject* a_obj, PyObject* b_obj,
                                                    PyObject* key) {
  if (Kind::exact(a_obj) && Kind::exact(b_obj) && !has_key(key)) [[likely]]
    return pair_result<Kind>(sort_two(Kind::read(a_obj), Kind::read(b_obj)));
  return typed_converting<Kind>(a_obj, b_obj, key);
}

// Python's `left < right` reduced to a truth value; false with the error set on failure.
bool less_than(PyObject* left, PyObject* right, bool& out) {
  Ref result = Ref::steal(PyObject_RichCompare(left, right, Py_LT));
  if (!result) return fail_pending(), false;
  int truth = PyObject_IsTrue(result.get());
  result.reset();
  if (truth < 0) return fail_pending(), false;
  out = truth != 0;
  return true;
}

// The caller's own two objects, in the given order, in a new tuple.
inline PyObject* objects_result(PyObject* first, PyObject* second) {
  Ref one = Ref::borrow(first);
  Ref two = Ref::borrow(second);
  return tuple_result(std::move(one), std::move(two));
}

// Only key(b) < key(a) swaps, so equal and unordered objects keep their order. Out of line:
// the call without a key is the hot one.
[[gnu::noinline]] PyObject* objs_by_key(PyObject* a, PyObject* b, PyObject* key) {
  if (!PyCallable_Check(key)) {
    PyErr_SetString(PyExc_TypeError, "key argument must be a callable");
    return nullptr;
  }
  Ref key_a = call_key(key, Ref::borrow(a));
  if (!key_a) return nullptr;
  Ref key_b = call_key(key, Ref::borrow(b));
  bool swap;
  if (!key_b || !less_than(key_b.get(), key_a.get(), swap)) return nullptr;
  key_a.reset();
  key_b.reset();
  return swap ? objects_result(b, a) : objects_result(a, b);
}

PyObject* objs_bound(PyObject* a, PyObject* b, PyObject* key) {
  if (has_key(key)) [[unlikely]]
    return objs_by_key(a, b, key);
  bool swap;
  if (!less_than(b, a, swap)) return nullptr;
  return swap ? objects_result(b, a) : objects_result(a, b);
}

PyObject* floats(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(floats_sig, args, nargs, kwnames, [](PyObject* a, PyObject* b, PyObject* key) {
    return typed_bound<FloatKind>(a, b, key);
  });
}

PyObject* ints(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_bound(ints_sig, args, nargs, kwnames, [](PyObject* a, PyObject* b, PyObject* key) {
    return typed_bound<IntKind>(a, b, key);
  });
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
