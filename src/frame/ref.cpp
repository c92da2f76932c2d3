// Releasing references: at once in the normal flow, deferred while a fault unwinds.
#include "frame/ref.hpp"

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

// Whether a fault has been thrown and not yet caught by the entry path. A fault unwinds with the
// interpreter lock held from its throw to its catch (nothing in between runs Python code), so at
// most one is in flight, and under the lock a set flag means that this very thread is unwinding.
// Plain globals, guarded by the lock like everything here: no thread-local lookups, which
// std::uncaught_exception() and a lock test would cost every release.
bool fault_unwinding = false;

// References whose release the unwinding fault deferred. Only the handles of one call are
// destroyed between a throw and its catch, a handful at most.
constexpr int kDeferredCapacity = 64;
PyObject* deferred[kDeferredCapacity] = {};
int deferred_count = 0;

// CPython ends other threads only while the runtime finalizes.
inline bool finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace

void fault_thrown() noexcept {
  fault_unwinding = true;
}

void fault_caught() noexcept {
  fault_unwinding = false;
}

void release_owned(PyObject* p) {
  if (finalizing() && !holds_lock()) [[unlikely]]
    return;
  if (fault_unwinding) [[unlikely]] {
    // A full list keeps the object alive rather than run its finaliser during unwinding.
    if (deferred_count < kDeferredCapacity) deferred[deferred_count++] = p;
    return;
  }
  Py_DECREF(p);
}

void release_deferred() {
  // Taken off the list before it is released: a finaliser may give up the lock, and another
  // call's entry path may then drain the rest; a finaliser that ends the thread leaves the rest
  // to the next fault's entry path.
  while (deferred_count > 0) Py_DECREF(deferred[--deferred_count]);
}

}  // namespace accel
