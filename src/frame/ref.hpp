// The one owning handle for PyObject references.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace accel {

// Owns one strong reference (or nothing). Move-only; released on destruction, also while a
// fault unwinds the call.
class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  // Takes over a new reference, which may be null.
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  // Takes a new reference to a borrowed object, which may be null.
  static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

  PyObject* get() const noexcept { return p_; }
  // Hands the reference to the caller.
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace accel
