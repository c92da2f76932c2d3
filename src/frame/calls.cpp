// Calls into Python code made in the middle of a call.
#include "frame/calls.hpp"

#include "frame/convert.hpp"

namespace accel {

Ref call_one_or_fault(PyObject* callable, Ref value) {
  Ref call_args = new_tuple_or_fault(std::move(value));
  Ref result = Ref::steal(PyObject_Call(callable, call_args.get(), nullptr));
  if (!result) pending_error_or_fault();
  return result;
}

bool less_than_or_fault(PyObject* left, PyObject* right, bool& out) {
  Ref result = Ref::steal(PyObject_RichCompare(left, right, Py_LT));
  if (!result) return pending_error_or_fault();
  int truth = PyObject_IsTrue(result.get());
  if (truth < 0) return pending_error_or_fault();
  out = truth != 0;
  return true;
}

}  // namespace accel
