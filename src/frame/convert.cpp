// Argument conversions, the argument-error wrapping and the type-mismatch message.
#include "frame/convert.hpp"

#include <climits>

namespace accel {

namespace {

// An exact TypeError becomes "argument 'NAME': <its str>" carrying the old cause (not the old
// exception itself); anything else is raised unchanged.
[[gnu::cold]] Failure raise_for_argument_or_fault(Ref error, const char* name) {
  if (Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(error.release());
    return {};
  }
  Ref text = display_or_fault(error.get());
  if (!text) return {};
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) fault_api_failed();
  Ref cause = Ref::steal(PyException_GetCause(error.get()));
  error = Ref();
  PyErr_SetObject(PyExc_TypeError, message.get());
  Ref wrapped = Ref::steal(PyErr_GetRaisedException());
  PyException_SetCause(wrapped.get(), cause.release());
  PyErr_SetRaisedException(wrapped.release());
  return {};
}

// PyLong_AsLong followed by the 32-bit range check. On failure `converting` tells whether the
// conversion itself raised (its error is pending) or the value was out of range (error set).
inline bool read_int32(PyObject* obj, std::int32_t& out, bool& converting) {
  long value = PyLong_AsLong(obj);
  converting = value == -1 && PyErr_Occurred();
  if (converting) return false;
  if (value < INT32_MIN || value > INT32_MAX) {
    return set_error(PyExc_OverflowError, "out of range integral type conversion attempted");
  }
  out = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

bool float_arg_slow_or_fault(PyObject* obj, const char* name, double& out) {
  double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    return raise_for_argument_or_fault(take_error_or_fault(), name);
  }
  out = value;
  return true;
}

bool int32_arg_slow_or_fault(PyObject* obj, const char* name, std::int32_t& out) {
  bool converting;
  if (read_int32(obj, out, converting)) return true;
  if (converting) return raise_for_argument_or_fault(take_error_or_fault(), name);
  return false;
}

bool float_value_or_fault(PyObject* obj, double& out) {
  double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) return pending_error_or_fault();
  out = value;
  return true;
}

bool int32_value_or_fault(PyObject* obj, std::int32_t& out) {
  bool converting;
  if (read_int32(obj, out, converting)) return true;
  if (converting) return pending_error_or_fault();
  return false;
}

Ref display_or_fault(PyObject* obj) {
  Ref text = Ref::steal(PyObject_Str(obj));
  if (text) return text;
  // An interrupt or an exit request must reach the caller, not become a placeholder.
  if (!PyErr_ExceptionMatches(PyExc_Exception)) {
    pending_error_or_fault();
    return Ref();
  }
  PyErr_WriteUnraisable(obj);
  Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
  if (type_name) {
    text = Ref::steal(PyUnicode_FromFormat("<unprintable %U object>", type_name.get()));
  } else {
    PyErr_Clear();
    text = Ref::steal(PyUnicode_FromString("<unprintable object>"));
  }
  if (!text) fault_api_failed();
  return text;
}

Failure type_mismatch_or_fault(PyObject* obj, const char* target) {
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!qualname) {
    PyErr_Clear();
    qualname = Ref::steal(PyUnicode_FromString("<failed to extract type name>"));
    if (!qualname) fault_api_failed();
  }
  Ref message = Ref::steal(
      PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", qualname.get(), target));
  if (!message) fault_api_failed();
  PyErr_SetObject(PyExc_TypeError, message.get());
  return {};
}

}  // namespace accel
