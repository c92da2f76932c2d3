// Releasing references: at once in the normal flow, deferred while a fault unwinds.
#include "frame/ref.hpp"

#include "frame/unwind.hpp"

namespace accel {

namespace {

// True when this thread holds the interpreter lock (free-threaded: has an attached thread
// state). A thread that CPython ends at shutdown (pthread_exit while it waits for the lock)
// unwinds without it.
inline bool holds_lock() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked() != nullptr;
#else
  return _PyThreadState_UncheckedGet() != nullptr;
#endif
}

// CPython ends other threads only while the runtime finalizes.
inline bool finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace

void release_owned(PyObject* p) {
  if (finalizing() && !holds_lock()) [[unlikely]]
    return;
  // Only a thread that is unwinding a fault defers; any fault in flight anywhere sends the
  // release past this thread's own bookkeeping first.
  if (faults_in_flight.load(std::memory_order_relaxed) != 0) [[unlikely]] {
    if (defer_if_unwinding(p)) return;
  }
  Py_DECREF(p);
}

}  // namespace accel
