// The function table: the module functions in registration order.
#pragma once

#include <span>

#include "frame/ref.hpp"

namespace accel {

// Method definitions that live for the rest of the process, in registration order; the entry
// after the last is the null one that ends a CPython method list.
std::span<PyMethodDef> function_table();

}  // namespace accel
