// The one owning handle for PyObject references, and its single release path.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace accel {

// Releases a reference that is not immortal. Releasing can run a finaliser, and a finaliser can
// give up the interpreter lock, so this never releases where that is unsafe: on a thread without
// the lock (one the interpreter is ending at shutdown) the object is left alone, and while a fault
// unwinds the release is deferred to the entry path, which does it once the fault is caught. Not
// noexcept: a thread ended inside a finaliser must unwind through here.
[[gnu::noinline]] void release_owned(PyObject* p);

// Owns one strong reference (or nothing). Move-only; every release goes through release_owned,
// except for immortal objects, whose reference count never changes.
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
  ~Ref() noexcept(false) {
    if (p_ != nullptr && !_Py_IsImmortal(p_)) release_owned(p_);
  }

  // Takes over a new reference, which may be null.
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  // Takes a new reference to a borrowed object, which may be null.
  static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

  PyObject* get() const noexcept { return p_; }
  // Hands the reference to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace accel
