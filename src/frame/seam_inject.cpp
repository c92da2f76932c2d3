// Test builds only: the creation calls of the seam, made to fail while ACCEL_INJECT names them.
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "frame/seam.hpp"

namespace accel::seam {

bool injected(const char* point) noexcept {
  const char* list = std::getenv("ACCEL_INJECT");
  if (list == nullptr) return false;
  const std::size_t n = std::strlen(point);
  for (const char* p = list; (p = std::strstr(p, point)) != nullptr; p += n) {
    bool starts = p == list || p[-1] == ',';
    bool ends = p[n] == '\0' || p[n] == ',';
    if (starts && ends) return true;
  }
  return false;
}

PyObject* float_from_double(double value) {
  return injected("result") ? PyErr_NoMemory() : PyFloat_FromDouble(value);
}

PyObject* long_from_long(long value) {
  return injected("result") ? PyErr_NoMemory() : PyLong_FromLong(value);
}

PyObject* tuple_new(Py_ssize_t size) {
  return injected("tuple") ? PyErr_NoMemory() : PyTuple_New(size);
}

int list_append(PyObject* list, PyObject* item) {
  if (injected("all_append")) return PyErr_NoMemory(), -1;
  return PyList_Append(list, item);
}

PyObject* exception_class(const char* name, const char* doc, PyObject* base) {
  return injected("panic_class") ? PyErr_NoMemory()
                                 : PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
}

// "raise" ends the raising of a PanicException itself with a fault.
PyObject* panic_message(const Text& text) {
  if (injected("raise")) fault("injected fault while raising");
  if (injected("panic_text")) return PyErr_NoMemory();
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* type_from_spec(PyType_Spec* spec) {
  if (injected("container_type")) {
    PyErr_SetString(PyExc_RuntimeError, "injected type creation failure");
    return nullptr;
  }
  return PyType_FromSpec(spec);
}

PyObject* alloc_object(PyTypeObject* type) {
  return injected("container") ? PyErr_NoMemory() : type->tp_alloc(type, 0);
}

void* mem_malloc(std::size_t bytes) {
  return injected("alloc") ? nullptr : PyMem_Malloc(bytes);
}

PyObject* import(PyObject* name) {
  if (injected("numpy")) {
    PyErr_SetString(PyExc_ImportError, "injected NumPy failure");
    return nullptr;
  }
  return PyImport_Import(name);
}

PyObject* descr_from_type(numpy::DescrFromType call, int type_num) {
  return injected("descr") ? PyErr_NoMemory() : call(type_num);
}

// The real call takes the descriptor over, also when it fails.
PyObject* new_from_descr(numpy::NewFromDescr call, PyTypeObject* subtype, PyObject* descr, int nd,
                         numpy::npy_intp* dims, numpy::npy_intp* strides, void* data, int flags) {
  if (injected("array")) {
    Py_DECREF(descr);
    return PyErr_NoMemory();
  }
  return call(subtype, descr, nd, dims, strides, data, flags, nullptr);
}

// The real call takes the base over, also when it fails.
int set_base_object(numpy::SetBaseObject call, PyObject* array, PyObject* base) {
  if (injected("base")) {
    Py_DECREF(base);
    return PyErr_NoMemory(), -1;
  }
  return call(array, base);
}

// "std_exception" turns every fault into a standard exception, which the entry path must also
// turn into PanicException.
void throw_fault(Text message) {
  if (injected("std_exception")) throw std::length_error("injected standard exception");
  throw Fault{std::move(message)};
}

}  // namespace accel::seam
