// The object ordering and the key calls of the pair orderings.
#include "frame/sorts.hpp"

namespace accel {

namespace {

// Python's `left < right` reduced to a truth value.
bool less_than_or_fault(PyObject* left, PyObject* right, bool& out) {
  Ref result = Ref::steal(PyObject_RichCompare(left, right, Py_LT));
  if (!result) return pending_error_or_fault();
  int truth = PyObject_IsTrue(result.get());
  if (truth < 0) return pending_error_or_fault();
  out = truth != 0;
  return true;
}

// The caller's own two objects, in the given order, in a new tuple.
inline PyObject* objects_or_fault(PyObject* first, PyObject* second) {
  Ref one = Ref::borrow(first);
  Ref two = Ref::borrow(second);
  return new_tuple_or_fault(std::move(one), std::move(two));
}

// Only key(b) < key(a) swaps, so equal and unordered objects keep their order. Out of line: the
// call without a key is the hot one.
[[gnu::noinline]] PyObject* sort_objects_by_key_or_fault(PyObject* a, PyObject* b, PyObject* key) {
  if (!PyCallable_Check(key)) return set_error(PyExc_TypeError, "key argument must be a callable");
  Ref key_a = call_key_or_fault(key, Ref::borrow(a));
  if (!key_a) return nullptr;
  Ref key_b = call_key_or_fault(key, Ref::borrow(b));
  if (!key_b) return nullptr;
  bool swap;
  if (!less_than_or_fault(key_b.get(), key_a.get(), swap)) return nullptr;
  return swap ? objects_or_fault(b, a) : objects_or_fault(a, b);
}

}  // namespace

Ref call_key_or_fault(PyObject* key, Ref value) {
  Ref call_args = Ref::steal(new_tuple_or_fault(std::move(value)));
  Ref result = Ref::steal(PyObject_Call(key, call_args.get(), nullptr));
  if (!result) pending_error_or_fault();
  return result;
}

PyObject* sort_objects_or_fault(PyObject* a, PyObject* b, PyObject* key) {
  if (has_key(key)) [[unlikely]]
    return sort_objects_by_key_or_fault(a, b, key);
  bool swap;
  if (!less_than_or_fault(b, a, swap)) return nullptr;
  return swap ? objects_or_fault(b, a) : objects_or_fault(a, b);
}

}  // namespace accel
