// The four entries of NumPy's C-API table that the module calls, with their C signatures.
#pragma once

#include "frame/ref.hpp"

namespace accel::numpy {

using npy_intp = Py_ssize_t;

inline constexpr int kAbiVersionSlot = 0;       // PyArray_GetNDArrayCVersion
inline constexpr int kArrayTypeSlot = 2;        // PyTypeObject PyArray_Type
inline constexpr int kDescrFromTypeSlot = 45;   // PyArray_DescrFromType
inline constexpr int kNewFromDescrSlot = 94;    // PyArray_NewFromDescr
inline constexpr int kSetBaseObjectSlot = 282;  // PyArray_SetBaseObject

inline constexpr int kComplexDouble = 15;       // NPY_CDOUBLE
inline constexpr int kArrayWriteable = 0x0400;  // NPY_ARRAY_WRITEABLE

// The ABI versions whose tables have the four slots above, as PyArray_GetNDArrayCVersion tells.
inline constexpr unsigned kAbiNumpy1 = 0x01000009;
inline constexpr unsigned kAbiNumpy2 = 0x02000000;

using AbiVersion = unsigned (*)();
// Returns a new descriptor reference, or null with an error set.
using DescrFromType = PyObject* (*)(int type_num);
// Steals `descr`; returns a new array, or null with an error set.
using NewFromDescr = PyObject* (*)(PyTypeObject* subtype, PyObject* descr, int nd, npy_intp* dims,
                                   npy_intp* strides, void* data, int flags, PyObject* obj);
// Steals `obj`, also on failure; returns 0, or -1 with an error set.
using SetBaseObject = int (*)(PyObject* array, PyObject* obj);

}  // namespace accel::numpy
