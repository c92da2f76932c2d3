// Everything that differs on free-threaded builds, in one place, each with its twin for builds
// with the GIL, so that call sites carry no #if. On free-threaded builds threads run in parallel
// and share reference counts through atomics; with the GIL every access is ordered by the lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>

namespace accel::ft {

#ifdef Py_GIL_DISABLED

// A slot of an interned parameter name: filled by one thread, read by all.
using NameSlot = std::atomic<PyObject*>;

// The module's calls share nothing mutable but what ProcessState publishes safely.
inline int declare_no_gil(PyObject* module) {
  return PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED);
}

// Every call takes and drops a reference to its function object, and to the heap type of each
// array owner it makes. Here a thread that does not own an object does that with atomics on its
// shared count, so threads calling at once contend on one cache line. Function objects that
// CPython creates itself for a module's method table use deferred reference counting, which the
// interpreter's own references skip (PyCMethod_New's do not, and no public call turns it on), so
// CPython creates and attaches them all, and each is read back by name.
inline int create_functions(PyObject* module, PyMethodDef* table) {
  return PyModule_AddFunctions(module, table);
}
inline PyObject* function_object(PyObject* module, PyObject* /*module_name*/, PyMethodDef* def) {
  return PyObject_GetAttrString(module, def->ml_name);
}

// An object kept for the rest of the process is made immortal before anyone else can see it (a
// count above UINT32_MAX does that on these builds): then no reference touches its count.
inline void make_immortal(PyObject* obj) {
  Py_SET_REFCNT(obj, static_cast<Py_ssize_t>(UINT32_MAX) + 1);
}

#else

// With the GIL every access happens under the lock, which orders them, and the keyword fast path
// reads these names on every keyword call: plain pointers behind the atomic's interface, since
// compilers neither fold nor schedule atomic loads as they do plain ones.
struct NameSlot {
  PyObject* p = nullptr;
  PyObject* load(std::memory_order) const noexcept { return p; }
  void store(PyObject* value, std::memory_order) noexcept { p = value; }
  bool compare_exchange_strong(PyObject*& expected, PyObject* desired, std::memory_order,
                               std::memory_order) noexcept {
    if (p != expected) {
      expected = p;
      return false;
    }
    p = desired;
    return true;
  }
};

inline int declare_no_gil(PyObject* /*module*/) {
  return 0;
}

// Each row creates its own function object.
inline int create_functions(PyObject* /*module*/, PyMethodDef* /*table*/) {
  return 0;
}
inline PyObject* function_object(PyObject* module, PyObject* module_name, PyMethodDef* def) {
  return PyCMethod_New(def, module, module_name, nullptr);
}

inline void make_immortal(PyObject* /*obj*/) {}

#endif

}  // namespace accel::ft
