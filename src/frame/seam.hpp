// The CPython and NumPy creation calls whose failures only test builds can provoke.
#pragma once

#include "frame/fault.hpp"
#include "frame/numpy_api.hpp"
#include "frame/ref.hpp"

namespace accel::seam {

#ifndef ACCEL_FAULT_INJECTION

inline PyObject* float_from_double(double value) {
  return PyFloat_FromDouble(value);
}
inline PyObject* long_from_long(long value) {
  return PyLong_FromLong(value);
}
inline PyObject* tuple_new(Py_ssize_t size) {
  return PyTuple_New(size);
}
inline int list_append(PyObject* list, PyObject* item) {
  return PyList_Append(list, item);
}
inline PyObject* exception_class(const char* name, const char* doc, PyObject* base) {
  return PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
}
inline PyObject* panic_message(const Text& text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}
inline PyObject* type_from_spec(PyType_Spec* spec) {
  return PyType_FromSpec(spec);
}
inline PyObject* alloc_object(PyTypeObject* type) {
  return type->tp_alloc(type, 0);
}
inline void* mem_malloc(std::size_t bytes) {
  return PyMem_Malloc(bytes);
}
inline PyObject* import(PyObject* name) {
  return PyImport_Import(name);
}
inline PyObject* descr_from_type(numpy::DescrFromType call, int type_num) {
  return call(type_num);
}
inline PyObject* new_from_descr(numpy::NewFromDescr call, PyTypeObject* subtype, PyObject* descr,
                                int nd, numpy::npy_intp* dims, numpy::npy_intp* strides, void* data,
                                int flags) {
  return call(subtype, descr, nd, dims, strides, data, flags, nullptr);
}
inline int set_base_object(numpy::SetBaseObject call, PyObject* array, PyObject* base) {
  return call(array, base);
}
// A process-wide value filled on first use; test builds can make it look empty.
template <class T>
inline T* cached(T* value, const char* /*point*/) {
  return value;
}
[[noreturn]] inline void throw_fault(Text message) {
  throw Fault{std::move(message)};
}

#else

// Test builds: each call fails as CPython or NumPy would (same ownership, an error set) while
// the ACCEL_INJECT environment variable lists its point.
PyObject* float_from_double(double value);
PyObject* long_from_long(long value);
PyObject* tuple_new(Py_ssize_t size);
int list_append(PyObject* list, PyObject* item);
PyObject* exception_class(const char* name, const char* doc, PyObject* base);
PyObject* panic_message(const Text& text);
PyObject* type_from_spec(PyType_Spec* spec);
PyObject* alloc_object(PyTypeObject* type);
void* mem_malloc(std::size_t bytes);
PyObject* import(PyObject* name);
PyObject* descr_from_type(numpy::DescrFromType call, int type_num);
PyObject* new_from_descr(numpy::NewFromDescr call, PyTypeObject* subtype, PyObject* descr, int nd,
                         numpy::npy_intp* dims, numpy::npy_intp* strides, void* data, int flags);
int set_base_object(numpy::SetBaseObject call, PyObject* array, PyObject* base);
[[noreturn]] void throw_fault(Text message);
bool injected(const char* point) noexcept;
template <class T>
inline T* cached(T* value, const char* point) {
  return injected(point) ? nullptr : value;
}

#endif

}  // namespace accel::seam
