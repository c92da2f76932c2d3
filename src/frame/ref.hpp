// The one owning handle for PyObject references.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace accel {

// True when this thread holds the interpreter lock. A thread that CPython ends at shutdown
// (pthread_exit while it waits for the lock) unwinds without it.
inline bool holds_lock() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked() != nullptr;
#else
  return _PyThreadState_UncheckedGet() != nullptr;
#endif
}

// Releases a reference whose owner goes out of scope: on a thread without the lock the object
// is left alone (the process is ending), since touching it would race the finalising thread.
// Like every routine here that releases a reference, it is not noexcept: a finaliser may end
// the thread, which must then unwind through it.
[[gnu::noinline]] inline void drop(PyObject* p) {
  if (holds_lock()) Py_DECREF(p);
}

// Owns one strong reference (or nothing). Move-only. reset() releases it in the normal flow of
// a call; the destructor, which also runs while a call unwinds, releases only under the lock.
class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  // Not noexcept: releasing can run a finaliser, and a thread ended at shutdown inside it
  // must unwind through here rather than terminate the process.
  ~Ref() noexcept(false) {
    if (p_ != nullptr) drop(p_);
  }

  // Takes over a new reference, which may be null.
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  // Takes a new reference to a borrowed object, which may be null.
  static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

  PyObject* get() const noexcept { return p_; }
  // Releases the reference now; only for code that runs with the lock (every normal path).
  void reset() { Py_XDECREF(std::exchange(p_, nullptr)); }
  // Hands the reference to the caller.
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace accel
