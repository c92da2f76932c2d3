// Wraps a module-allocated complex buffer in a NumPy array without a copy.
#pragma once

#include "frame/ref.hpp"

namespace accel {

// A new PySliceContainer that owns a fresh buffer for the 4x4 complex128 unitary (32 doubles);
// `buffer` is set to that buffer. A failed buffer allocation ends the process. Null when an
// interrupt arrived while the failure was being described.
Ref unitary_owner_or_fault(double*& buffer);

// A new C-contiguous 4x4 complex128 array over the owner's buffer, with the owner as its base.
PyObject* unitary_array_or_fault(Ref owner, double* buffer);

}  // namespace accel
