// Wraps a module-allocated complex buffer in a NumPy array without a copy.
#pragma once

#include "frame/ref.hpp"

namespace accel {

// A buffer for the 4x4 complex128 unitary, from the interpreter's allocator (call with the
// lock held). A failed allocation ends the process.
double* new_unitary_buffer();
void free_unitary_buffer(double* buffer) noexcept;

// Takes ownership of a buffer from new_unitary_buffer() and returns a new C-contiguous array
// over it whose base, a PySliceContainer, frees the buffer. Faults on any failure, with the
// buffer released.
PyObject* unitary_array(double* buffer);

}  // namespace accel
