// Wraps a module-allocated complex buffer in a NumPy array without a copy.
#pragma once

#include "frame/ref.hpp"

namespace accel {

// Takes ownership of a 4x4 complex128 buffer (from std::malloc) and returns a new C-contiguous
// array over it whose base, a PySliceContainer, frees the buffer. Faults on any failure, with
// the buffer released.
PyObject* unitary_array(double* buffer);

}  // namespace accel
