// Wraps a module-allocated complex128 buffer in a NumPy array without a copy.
#pragma once

#include <cstddef>

#include "frame/ref.hpp"

namespace accel {

// A new PySliceContainer that owns a fresh buffer of `entries` complex128 values (2 * entries
// doubles); `buffer` is set to that buffer. A failed buffer allocation ends the process. Null
// when an interrupt arrived while the failure was being described.
Ref complex_owner_or_fault(std::size_t entries, double*& buffer);

// A new C-contiguous rows x columns complex128 array over the owner's buffer, with the owner as
// its base; null when an interrupt arrived while NumPy's failure was being described.
PyObject* complex_matrix_or_fault(Ref owner, double* buffer, Py_ssize_t rows, Py_ssize_t columns);

}  // namespace accel
