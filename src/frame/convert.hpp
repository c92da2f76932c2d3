// Conversions of arguments to plain values and of kernel results to Python objects.
#pragma once

#include <cstdint>
#include <utility>

#include "frame/failure.hpp"
#include "frame/seam.hpp"

namespace accel {

// An exact float, whose value is read without a call.
inline bool exact_float(PyObject* obj) {
  return Py_IS_TYPE(obj, &PyFloat_Type);
}

// An exact int of one digit (below 2**30 in size): it always fits 32 bits and is read without
// a call.
inline bool small_exact_int(PyObject* obj) {
  return PyLong_CheckExact(obj) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(obj));
}
inline std::int32_t small_int_value(PyObject* obj) {
  return static_cast<std::int32_t>(
      PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(obj)));
}

// Non-float objects go through PyFloat_AsDouble; failures are attributed to `name`.
bool float_arg_slow_or_fault(PyObject* obj, const char* name, double& out);

// Reads a float parameter; an exact float is read directly, without a call.
inline bool float_arg_or_fault(PyObject* obj, const char* name, double& out) {
  if (exact_float(obj)) [[likely]] {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  return float_arg_slow_or_fault(obj, name, out);
}

// An optional float parameter: missing or None gives `fallback`.
inline bool optional_float_arg_or_fault(PyObject* obj, const char* name, double fallback,
                                        double& out) {
  if (obj == nullptr || obj == Py_None) {
    out = fallback;
    return true;
  }
  return float_arg_or_fault(obj, name, out);
}

// Non-compact ints and other objects go through PyLong_AsLong; failures name `name`.
bool int32_arg_slow_or_fault(PyObject* obj, const char* name, std::int32_t& out);

// Reads a 32-bit signed integer parameter; a small exact int is read directly.
inline bool int32_arg_or_fault(PyObject* obj, const char* name, std::int32_t& out) {
  if (small_exact_int(obj)) [[likely]] {
    out = small_int_value(obj);
    return true;
  }
  return int32_arg_slow_or_fault(obj, name, out);
}

// The same conversions for values that are not parameters (key results): errors unchanged.
bool float_value_or_fault(PyObject* obj, double& out);
bool int32_value_or_fault(PyObject* obj, std::int32_t& out);

// str(obj), or "<unprintable T object>" after reporting an Exception from str() as unraisable.
// Anything else str() raises (KeyboardInterrupt, SystemExit) is left pending: null.
Ref display_or_fault(PyObject* obj);

// Sets TypeError "'T' object cannot be converted to 'target'".
Failure type_mismatch_or_fault(PyObject* obj, const char* target);

inline PyObject* bool_result(bool value) {
  return Py_NewRef(value ? Py_True : Py_False);
}

inline Ref new_float_or_fault(double value) {
  PyObject* obj = seam::injected("result") ? seam::injected_error() : PyFloat_FromDouble(value);
  if (obj == nullptr) [[unlikely]]
    fault_api_failed();
  return Ref::steal(obj);
}

inline Ref new_int_or_fault(long value) {
  PyObject* obj = seam::injected("result") ? seam::injected_error() : PyLong_FromLong(value);
  if (obj == nullptr) [[unlikely]]
    fault_api_failed();
  return Ref::steal(obj);
}

// A tuple that takes over the given references; its items are made before the tuple.
template <class... Items>
inline Ref new_tuple_or_fault(Items... items) {
  PyObject* tuple =
      seam::injected("tuple") ? seam::injected_error() : PyTuple_New(sizeof...(Items));
  if (tuple == nullptr) [[unlikely]]
    fault_api_failed();
  Py_ssize_t i = 0;
  (PyTuple_SET_ITEM(tuple, i++, items.release()), ...);
  return Ref::steal(tuple);
}

}  // namespace accel
