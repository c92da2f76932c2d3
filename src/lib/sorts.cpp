// The object ordering and the key calls of the pair orderings.
#include "lib/sorts.hpp"

namespace accel {

namespace {

// The caller's own two objects, in the given order, in a new tuple.
inline PyObject* objects_or_fault(PyObject* first, PyObject* second) {
  Ref one = Ref::borrow(first);
  Ref two = Ref::borrow(second);
  return new_tuple_or_fault(std::move(one), std::move(two)).release();
}

// Only key(b) < key(a) swaps, so equal and unordered objects keep their order. Out of line: the
// call without a key is the hot one.
[[gnu::noinline]] PyObject* sort_objects_by_key_or_fault(PyObject* a, PyObject* b, PyObject* key) {
  if (!PyCallable_Check(key)) return set_error(PyExc_TypeError, "key argument must be a callable");
  Ref key_a = call_one_or_fault(key, Ref::borrow(a));
  if (!key_a) return nullptr;
  Ref key_b = call_one_or_fault(key, Ref::borrow(b));
  if (!key_b) return nullptr;
  bool swap;
  if (!less_than_or_fault(key_b.get(), key_a.get(), swap)) return nullptr;
  return swap ? objects_or_fault(b, a) : objects_or_fault(a, b);
}

}  // namespace

PyObject* sort_objects_or_fault(PyObject* a, PyObject* b, PyObject* key) {
  if (has_key(key)) [[unlikely]]
    return sort_objects_by_key_or_fault(a, b, key);
  bool swap;
  if (!less_than_or_fault(b, a, swap)) return nullptr;
  return swap ? objects_or_fault(b, a) : objects_or_fault(a, b);
}

}  // namespace accel
