// Entry routines of the Weyl-coordinate checks, the mirror coordinate and the unitary.
#include <stdexcept>

#include "frame/calls.hpp"
#include "frame/numpy_bridge.hpp"
#include "weyl/chamber.hpp"
#include "weyl/unitary.hpp"

namespace accel {

namespace {

Signature<3, 3> check_sig{"check_weyl_coord", {"a", "b", "c"}};
Signature<3, 3> mirror_sig{"mirror_weyl_coord", {"a", "b", "c"}};
Signature<3, 3> only_xx_sig{"only_xx_rot", {"_a", "b", "c"}};
Signature<3, 3> unitary_sig{"canonical_unitary", {"a", "b", "c"}};

PyObject* check(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats<check_sig>(args, nargs, kwnames, [](double a, double b, double c) {
    return bool_result(is_normalised(a, b, c));
  });
}

PyObject* mirror(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats<mirror_sig>(args, nargs, kwnames, [](double a, double b, double c) {
    Triple m = normalised(mirror_weyl(a, b, c), SourceSite{"src/lib", 105, 5});
    Ref first = float_object(m.a);
    Ref second = float_object(m.b);
    Ref third = float_object(m.c);
    return tuple_result(std::move(first), std::move(second), std::move(third));
  });
}

PyObject* only_xx_rot(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats<only_xx_sig>(
      args, nargs, kwnames, [](double, double b, double c) { return bool_result(only_xx(b, c)); });
}

PyObject* unitary(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats<unitary_sig>(args, nargs, kwnames, [](double a, double b, double c) {
    double* buffer = new_unitary_buffer();
    fill_canonical_unitary(buffer, a, b, c);
    return unitary_array(buffer);
  });
}

}  // namespace

void weyl_fault(SourceSite site) {
  if (injected("std_exception")) throw std::length_error("injected standard exception");
  fault(Text("Weyl coordinate must be normalized to satisfy 0.5 >= a >= b >= |c|"), site);
}

ACCEL_ENTRY(check_weyl_coord_entry) {
  return run<check>(args, nargs, kwnames);
}
ACCEL_ENTRY(mirror_weyl_coord_entry) {
  return run<mirror>(args, nargs, kwnames);
}
ACCEL_ENTRY(only_xx_rot_entry) {
  return run<only_xx_rot>(args, nargs, kwnames);
}
ACCEL_ENTRY(canonical_unitary_entry) {
  return run<unitary>(args, nargs, kwnames);
}

}  // namespace accel
