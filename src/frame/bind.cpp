// The general binder: keyword matching and the binding error messages.
#include "frame/bind.hpp"

#include <cstring>

#include "frame/convert.hpp"
#include "frame/failure.hpp"

namespace accel {

namespace {

// Index of the parameter whose name has the same UTF-8 text as `key`, or -1. A name whose
// UTF-8 cannot be read matches nothing; its error is dropped. C callers can pass names that
// are not str at all (bytes, say): those match nothing either, and are never read as str.
Py_ssize_t find_by_text(PyObject* key, const Parameters& params) {
  if (!PyUnicode_Check(key)) return -1;
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
  for (Py_ssize_t i = 0; i < params.count; ++i) {
    const char* name = params.names[i];
    if (std::strlen(name) == static_cast<std::size_t>(size) &&
        std::memcmp(name, text, static_cast<std::size_t>(size)) == 0) {
      return i;
    }
  }
  return -1;
}

// Keyword names at call sites are interned by the compiler, so comparing with our own interned
// names by identity finds them without reading any text.
inline Py_ssize_t find_parameter(PyObject* key, const Parameters& params) {
  for (Py_ssize_t i = 0; i < params.count; ++i) {
    if (params.interned[i].load(std::memory_order_relaxed) == key) return i;
  }
  return find_by_text(key, params);
}

// Interns the parameter names once, on the first keyword call of the function. Racing threads
// intern the same str; the first to publish a slot keeps its reference for the life of the
// process, in name order, so a published last name means that all are published.
void intern_names(const Parameters& params) {
  for (Py_ssize_t i = 0; i < params.count; ++i) {
    if (params.interned[i].load(std::memory_order_acquire) != nullptr) continue;
    Ref name = Ref::steal(PyUnicode_InternFromString(params.names[i]));
    if (!name) fault_api_failed();
    PyObject* expected = nullptr;
    if (params.interned[i].compare_exchange_strong(expected, name.get(), std::memory_order_release,
                                                   std::memory_order_relaxed)) {
      (void)name.release();
    }
  }
}

// Raises TypeError with a message made by PyUnicode_FromFormat.
template <class... Args>
Failure type_error_or_fault(const char* format, Args... args) {
  Ref message = Ref::steal(PyUnicode_FromFormat(format, args...));
  if (!message) fault_api_failed();
  PyErr_SetObject(PyExc_TypeError, message.get());
  return {};
}

// 'a', 'a' and 'b', or 'a', 'b', and 'c'.
Ref name_list_or_fault(const char* const* names, Py_ssize_t n) {
  Ref out = Ref::steal(PyUnicode_FromString(""));
  if (!out) fault_api_failed();
  for (Py_ssize_t i = 0; i < n; ++i) {
    const char* sep = i == 0 ? "" : (n == 2 ? " and " : (i == n - 1 ? ", and " : ", "));
    out = Ref::steal(PyUnicode_FromFormat("%U%s'%s'", out.get(), sep, names[i]));
    if (!out) fault_api_failed();
  }
  return out;
}

Failure too_many_or_fault(const char* function, Py_ssize_t count, Py_ssize_t required,
                          Py_ssize_t nargs) {
  const char* verb = nargs == 1 ? "was" : "were";
  if (required == count) {
    return type_error_or_fault("%s() takes %zd positional arguments but %zd %s given", function,
                               count, nargs, verb);
  }
  return type_error_or_fault("%s() takes from %zd to %zd positional arguments but %zd %s given",
                             function, required, count, nargs, verb);
}

}  // namespace

bool bind_general_or_fault(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, PyObject** slots) {
  const Py_ssize_t count = params.count;
  for (Py_ssize_t i = 0; i < count; ++i) slots[i] = i < nargs ? args[i] : nullptr;
  if (nargs > count) return too_many_or_fault(params.function, count, params.required, nargs);

  if (kwnames != nullptr) {
    if (params.interned[count - 1].load(std::memory_order_acquire) == nullptr) [[unlikely]]
      intern_names(params);
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      Py_ssize_t i = find_parameter(key, params);
      if (i < 0) {
        Ref shown = display_or_fault(key);
        if (!shown) return false;
        return type_error_or_fault("%s() got an unexpected keyword argument '%U'", params.function,
                                   shown.get());
      }
      if (slots[i] != nullptr) {
        return type_error_or_fault("%s() got multiple values for argument '%s'", params.function,
                                   params.names[i]);
      }
      slots[i] = args[nargs + k];
    }
  }

  if (nargs < params.required) {
    const char* missing[kMaxParameters];
    Py_ssize_t n = 0;
    for (Py_ssize_t i = 0; i < params.required; ++i) {
      if (slots[i] == nullptr) missing[n++] = params.names[i];
    }
    if (n > 0) {
      Ref list = name_list_or_fault(missing, n);
      return type_error_or_fault("%s() missing %zd required positional %s: %U", params.function, n,
                                 n == 1 ? "argument" : "arguments", list.get());
    }
  }
  return true;
}

}  // namespace accel
