// A fault between its throw and the entry path's catch: each thread keeps the bookkeeping of its
// own, so faults in several threads at once never meet.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>

#include "frame/text.hpp"

namespace accel {

// How many threads are unwinding a fault right now. Every release reads it: while it is 0, as it
// nearly always is, a release is a plain decrement and no thread-local state is looked up.
inline std::atomic<int> faults_in_flight{0};

// Called as a fault is thrown: from here until the entry path catches it, this thread defers its
// releases (a finaliser must not run while the fault unwinds).
void begin_unwinding() noexcept;

// When this thread is unwinding a fault, keeps `p` for release_deferred and returns true.
// The list grows as needed: no release is ever dropped.
bool defer_if_unwinding(PyObject* p);

// Called in the entry path's catch: this thread's fault has arrived; keeps its message.
void end_unwinding(const char* message, std::size_t length) noexcept;

// After the catch, with the lock held and nothing in flight: the kept message, once.
Text take_caught_message();

// Keeps a Python error that ends this thread's call as it is, instead of a fault's
// PanicException (an interrupt that arrived where only a fault could end the call); the
// reference passes in. Called just before the throw.
void keep_thrown_error(PyObject* error) noexcept;

// After the catch: the kept error (a new reference), once; null when the call faulted.
PyObject* take_thrown_error() noexcept;

// After the catch: releases what this thread deferred, each exactly once, newest first. The list
// is taken off the thread before its first release, so a finaliser that faults again has a list
// of its own, which its own entry path drains.
void release_deferred();

}  // namespace accel
