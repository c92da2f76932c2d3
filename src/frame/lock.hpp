// The calling thread and the interpreter lock: whether it holds it, and work done without it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace accel {

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

// Runs `work`, which touches no Python object and no state of the module, with the lock given
// up, as os.write does around a write that can block: a thread of this process that has to run
// for the work to finish (one draining a pipe) can, and free-threaded builds are not held in a
// stop-the-world meanwhile. Taking the lock back can end this thread when the runtime is
// finalizing, by an unwind through the caller; so the caller must not be noexcept.
template <class F>
inline void detached(F&& work) {
  PyThreadState* state = PyEval_SaveThread();
  work();
  PyEval_RestoreThread(state);
}

}  // namespace accel
