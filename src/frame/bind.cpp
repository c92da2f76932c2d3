// The general binder: keyword matching and the binding error messages.
#include "frame/bind.hpp"

#include <cstring>

#include "frame/convert.hpp"
#include "frame/panic.hpp"

namespace accel {

namespace {

// Index of the parameter that a keyword names, or -1. A name whose UTF-8 cannot be read
// matches nothing; its error is dropped.
Py_ssize_t find_parameter(PyObject* key, const char* const* names, Py_ssize_t count) {
  const char* text;
  Py_ssize_t size;
  if (PyUnicode_IS_COMPACT_ASCII(key)) {
    text = static_cast<const char*>(PyUnicode_DATA(key));
    size = PyUnicode_GET_LENGTH(key);
  } else {
    text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) {
      PyErr_Clear();
      return -1;
    }
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (std::strlen(names[i]) == static_cast<std::size_t>(size) &&
        std::memcmp(names[i], text, static_cast<std::size_t>(size)) == 0) {
      return i;
    }
  }
  return -1;
}

// Raises TypeError with a message made by PyUnicode_FromFormat.
template <class... Args>
bool type_error(const char* format, Args... args) {
  Ref message = Ref::steal(PyUnicode_FromFormat(format, args...));
  if (!message) api_failed();
  PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

// 'a', 'a' and 'b', or 'a', 'b', and 'c'.
Ref name_list(const char* const* names, Py_ssize_t n) {
  Ref out = Ref::steal(PyUnicode_FromString(""));
  if (!out) api_failed();
  for (Py_ssize_t i = 0; i < n; ++i) {
    const char* sep = i == 0 ? "" : (n == 2 ? " and " : (i == n - 1 ? ", and " : ", "));
    out = Ref::steal(PyUnicode_FromFormat("%U%s'%s'", out.get(), sep, names[i]));
    if (!out) api_failed();
  }
  return out;
}

bool too_many(const char* function, Py_ssize_t count, Py_ssize_t required, Py_ssize_t nargs) {
  const char* verb = nargs == 1 ? "was" : "were";
  if (required == count) {
    return type_error("%s() takes %zd positional arguments but %zd %s given", function, count,
                      nargs, verb);
  }
  return type_error("%s() takes from %zd to %zd positional arguments but %zd %s given", function,
                    required, count, nargs, verb);
}

}  // namespace

bool bind_general(const char* function, const char* const* names, Py_ssize_t count,
                  Py_ssize_t required, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  PyObject** slots) {
  for (Py_ssize_t i = 0; i < count; ++i) slots[i] = i < nargs ? args[i] : nullptr;
  if (nargs > count) return too_many(function, count, required, nargs);

  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t i = find_parameter(key, names, count);
    if (i < 0) {
      Ref shown = display(key);
      return type_error("%s() got an unexpected keyword argument '%U'", function, shown.get());
    }
    if (slots[i] != nullptr) {
      return type_error("%s() got multiple values for argument '%s'", function, names[i]);
    }
    slots[i] = args[nargs + k];
  }

  if (nargs < required) {
    const char* missing[8];
    Py_ssize_t n = 0;
    for (Py_ssize_t i = 0; i < required; ++i) {
      if (slots[i] == nullptr) missing[n++] = names[i];
    }
    if (n > 0) {
      Ref list = name_list(missing, n);
      return type_error("%s() missing %zd required positional %s: %U", function, n,
                        n == 1 ? "argument" : "arguments", list.get());
    }
  }
  return true;
}

}  // namespace accel
