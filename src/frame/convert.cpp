// Argument conversions, the argument-error wrapping and the type-mismatch message.
#include "frame/convert.hpp"

#include <climits>

namespace accel {

namespace {

// An exact TypeError becomes "argument 'NAME': <its str>" carrying the old cause (not the old
// exception itself); anything else is raised unchanged. Returns false.
[[gnu::cold]] bool raise_for_argument(Ref error, const char* name) {
  if (Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(error.release());
    return false;
  }
  Ref text = display(error.get());
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) api_failed();
  Ref cause = Ref::steal(PyException_GetCause(error.get()));
  error = Ref();
  PyErr_SetObject(PyExc_TypeError, message.get());
  Ref wrapped = Ref::steal(PyErr_GetRaisedException());
  PyException_SetCause(wrapped.get(), cause.release());
  PyErr_SetRaisedException(wrapped.release());
  return false;
}

[[gnu::cold]] bool raise_out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return false;
}

// PyLong_AsLong followed by the 32-bit range check; a pending error is left for the caller.
inline bool read_int32(PyObject* obj, std::int32_t& out, bool& failed) {
  long value = PyLong_AsLong(obj);
  failed = value == -1 && PyErr_Occurred();
  if (failed) return false;
  if (value < INT32_MIN || value > INT32_MAX) return raise_out_of_range();
  out = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

bool float_arg_slow(PyObject* obj, const char* name, double& out) {
  double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) return raise_for_argument(take_error(), name);
  out = value;
  return true;
}

bool int32_arg_slow(PyObject* obj, const char* name, std::int32_t& out) {
  bool failed;
  if (read_int32(obj, out, failed)) return true;
  if (failed) return raise_for_argument(take_error(), name);
  return false;
}

bool float_value(PyObject* obj, double& out) {
  double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) return fail_pending(), false;
  out = value;
  return true;
}

bool int32_value(PyObject* obj, std::int32_t& out) {
  bool failed;
  if (read_int32(obj, out, failed)) return true;
  if (failed) fail_pending();
  return false;
}

Ref display(PyObject* obj) {
  Ref text = Ref::steal(PyObject_Str(obj));
  if (text) return text;
  PyErr_WriteUnraisable(obj);
  Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
  if (type_name) {
    text = Ref::steal(PyUnicode_FromFormat("<unprintable %U object>", type_name.get()));
  } else {
    PyErr_Clear();
    text = Ref::steal(PyUnicode_FromString("<unprintable object>"));
  }
  if (!text) api_failed();
  return text;
}

bool type_mismatch(PyObject* obj, const char* target) {
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!qualname) {
    PyErr_Clear();
    qualname = Ref::steal(PyUnicode_FromString("<failed to extract type name>"));
    if (!qualname) api_failed();
  }
  Ref message = Ref::steal(
      PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", qualname.get(), target));
  if (!message) api_failed();
  PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

}  // namespace accel
