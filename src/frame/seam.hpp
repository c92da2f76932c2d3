// Failure points that only test builds can provoke: CPython and NumPy creation calls that do not
// fail in practice. Each call site asks injected("point") once, where the real call is made, and
// in a test build (ACCEL_FAULT_INJECTION) while the ACCEL_INJECT environment variable lists that
// point it fails as the real call would: the same ownership, an error set. Production builds
// compile the question to false, and the failing branch away.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace accel::seam {

#ifdef ACCEL_FAULT_INJECTION
bool injected(const char* point) noexcept;
#else
constexpr bool injected(const char* /*point*/) noexcept {
  return false;
}
#endif

// The error that an injected failure sets, returning null as the creation calls do: MemoryError,
// or KeyboardInterrupt while ACCEL_INJECT lists "interrupt" too, as if a signal handler had run
// inside the call (every call that can run Python code can end that way).
inline PyObject* injected_error() noexcept {
  if (injected("interrupt")) {
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  return PyErr_NoMemory();
}

}  // namespace accel::seam
