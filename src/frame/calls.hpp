// The entry routines of the module functions and the helpers their wrappers share.
#pragma once

#include <optional>

#include "frame/bind.hpp"
#include "frame/convert.hpp"
#include "frame/panic.hpp"

namespace accel {

// The vectorcall-with-keywords signature of every entry routine.
#define ACCEL_ENTRY(name) \
  PyObject* name(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

ACCEL_ENTRY(fuzzy_equal_entry);
ACCEL_ENTRY(fuzzy_greater_equal_entry);
ACCEL_ENTRY(fuzzy_greater_entry);
ACCEL_ENTRY(fuzzy_less_equal_entry);
ACCEL_ENTRY(fuzzy_less_entry);
ACCEL_ENTRY(check_weyl_coord_entry);
ACCEL_ENTRY(optimal_can_gate_duration_entry);
ACCEL_ENTRY(mirror_weyl_coord_entry);
ACCEL_ENTRY(sort_two_ints_entry);
ACCEL_ENTRY(sort_two_floats_entry);
ACCEL_ENTRY(sort_two_objs_entry);
ACCEL_ENTRY(synth_cost_by_cx_entry);
ACCEL_ENTRY(synth_cost_by_sqisw_entry);
ACCEL_ENTRY(synth_cost_by_b_entry);
ACCEL_ENTRY(only_xx_rot_entry);
ACCEL_ENTRY(canonical_unitary_entry);

// A wrapper binds, converts, calls its kernel and converts the result: a new reference, or
// null with a Python error set, or a thrown fault.
using Wrapper = PyObject* (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Ends the call with the Weyl-coordinate fault, reported at `site`: each function's reports
// have always named one fixed position, and callers match on it.
[[noreturn, gnu::cold]] void weyl_fault(SourceSite site);

// A kernel result, or the Weyl-coordinate fault when the kernel found the coordinate not
// normalised.
template <class T>
inline T normalised(std::optional<T> result, SourceSite site) {
  if (!result) [[unlikely]]
    weyl_fault(site);
  return *result;
}

// The shared entry path of every module function.
template <Wrapper W>
inline PyObject* run(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] { return W(args, nargs, kwnames); });
}

// Converts P float parameters in declaration order (the first failure wins) and returns
// kernel(values...). Out of line: reached only when an argument is not an exact float.
template <auto& Sig, class Kernel, class... Objs>
[[gnu::noinline]] PyObject* convert_floats_then(Kernel kernel, Objs... objs) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) -> PyObject* {
    PyObject* const slots[] = {objs...};
    double values[sizeof...(Objs)];
    if (!(float_arg(slots[I], Sig.names[I], values[I]) && ...)) return nullptr;
    return kernel(values[I]...);
  }(std::index_sequence_for<Objs...>());
}

// Binds P float parameters and returns kernel(a, b, ...). When every argument is an exact float
// the values are read with no call in between, so they stay in registers.
template <auto& Sig, class Kernel>
inline PyObject* with_floats(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                             Kernel kernel) {
  return with_bound(Sig, args, nargs, kwnames, [kernel](auto... objs) -> PyObject* {
    if ((exact_float(objs) && ...)) [[likely]]
      return kernel(PyFloat_AS_DOUBLE(objs)...);
    return convert_floats_then<Sig>(kernel, objs...);
  });
}

}  // namespace accel
