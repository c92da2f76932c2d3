// Calls into Python code made in the middle of a call: a one-argument call and `<`.
#pragma once

#include "frame/failure.hpp"

namespace accel {

// callable(value) through the generic call with a fresh 1-tuple; null with the error set.
Ref call_one_or_fault(PyObject* callable, Ref value);

// Python's `left < right` reduced to a truth value; false with the error set on failure.
bool less_than_or_fault(PyObject* left, PyObject* right, bool& out);

}  // namespace accel
