// Releasing references: at once in the normal flow, deferred while a C++ exception unwinds.
#include "frame/ref.hpp"

#include <exception>

namespace accel {

namespace {

// True when this thread holds the interpreter lock. A thread that CPython ends at shutdown
// (pthread_exit while it waits for the lock) unwinds without it.
inline bool holds_lock() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked() != nullptr;
#else
  return _PyThreadState_UncheckedGet() != nullptr;
#endif
}

// References released while this thread unwound. Between a throw and the entry path that catches
// it only the handles of one call are destroyed, a handful at most; nested calls drain their own
// before they return. Plain storage, so that a thread ending at shutdown frees nothing here.
constexpr int kDeferredCapacity = 64;
thread_local constinit PyObject* deferred[kDeferredCapacity] = {};
thread_local constinit int deferred_count = 0;

// Whether a C++ exception is unwinding this thread. The plural std::uncaught_exceptions() would
// need a newer libstdc++ than the wheels' baseline provides; the old form answers the same
// question.
inline bool unwinding() noexcept {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return std::uncaught_exception();
#pragma GCC diagnostic pop
}

}  // namespace

void release_owned(PyObject* p) {
  if (!holds_lock()) return;
  if (unwinding()) {
    // A full list keeps the object alive rather than run its finaliser during unwinding.
    if (deferred_count < kDeferredCapacity) deferred[deferred_count++] = p;
    return;
  }
  Py_DECREF(p);
}

void release_deferred() {
  // Taken off the list before it is released: a finaliser may re-enter the module, whose entry
  // path drains this same list, or end the thread, which leaves the rest alone.
  while (deferred_count > 0) Py_DECREF(deferred[--deferred_count]);
}

}  // namespace accel
