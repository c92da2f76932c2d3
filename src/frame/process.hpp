// Everything the module creates at most once per process, in one place.
//
// Each value is filled on first need (the module at import, the PanicException class on the first
// fault, NumPy's table and the owner type on the first array, a function's parameter names on its
// first keyword call) and then only read. Threads may race to fill one, on free-threaded builds
// truly in parallel and on the others whenever creation runs Python code: each racer builds its
// candidate and publishes it with a compare-and-swap (release); the first wins, later racers drop
// theirs and use the winner; readers load with acquire, so they see the object complete.
//
// Nothing here is ever released. When an embedding program finalizes the runtime and starts a new
// one, the objects die with the old runtime: forget_runtime() drops the pointers (without touching
// the objects) as the runtime ends, and the new runtime fills everything afresh. What is once per
// process by contract, not per runtime, lives beside what it belongs to and says so.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "frame/ft.hpp"

namespace accel {

// One pointer filled at most once.
template <class T>
class Published {
 public:
  T* get() const noexcept { return p_.load(std::memory_order_acquire); }
  // Publishes `candidate` unless another thread did first; returns the one that is published.
  T* publish(T* candidate) noexcept {
    T* expected = nullptr;
    if (p_.compare_exchange_strong(expected, candidate, std::memory_order_acq_rel,
                                   std::memory_order_acquire)) {
      return candidate;
    }
    return expected;
  }
  void forget() noexcept { p_.store(nullptr, std::memory_order_relaxed); }

 private:
  std::atomic<T*> p_{nullptr};
};

// The parameter-name slots of every declared function together (FunctionList gives each
// declaration its run of them and checks that they suffice).
inline constexpr std::size_t kParameterNameSlots = 64;

// A parameter's name as interned str, compared by identity with the keyword names of a call (so
// a relaxed load is enough for a reader).
using NameSlot = ft::NameSlot;

struct ProcessState {
  // The interpreter that first initialised the module (PyInterpreterState_GetID); -1 until then.
  std::atomic<std::int64_t> interpreter{-1};
  // The module object, returned again by every later initialisation in that interpreter.
  Published<PyObject> module;
  // The PanicException class.
  Published<PyObject> panic_class;
  // NumPy's C-API table; the capsule that holds it is kept so that the table stays valid.
  Published<void*> numpy_table;
  Published<PyObject> numpy_capsule;
  // The PySliceContainer type, owner of every array's buffer.
  Published<PyTypeObject> owner_type;
  // The functions' parameter names, interned on a function's first keyword call.
  NameSlot parameter_names[kParameterNameSlots] = {};
};

inline constinit ProcessState process;

// Drops every pointer of ProcessState; run as the runtime that made them ends.
void forget_runtime() noexcept;

}  // namespace accel
