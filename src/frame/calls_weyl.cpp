// Entry routines of the Weyl-coordinate checks, the mirror coordinate and the unitary.
#include <stdexcept>

#include "frame/calls.hpp"
#include "frame/numpy_bridge.hpp"
#include "weyl/chamber.hpp"
#include "weyl/unitary.hpp"

namespace accel {

namespace {

Signature<3> check_sig{"check_weyl_coord", {"a", "b", "c"}, 3};
Signature<3> mirror_sig{"mirror_weyl_coord", {"a", "b", "c"}, 3};
Signature<3> only_xx_sig{"only_xx_rot", {"_a", "b", "c"}, 3};
Signature<3> unitary_sig{"canonical_unitary", {"a", "b", "c"}, 3};

PyObject* check(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(check_sig, args, nargs, kwnames,
                     [](const double* v) { return bool_result(is_normalised(v[0], v[1], v[2])); });
}

PyObject* mirror(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(mirror_sig, args, nargs, kwnames, [](const double* v) {
    Triple m = normalised(mirror_weyl(v[0], v[1], v[2]), SourceSite{"src/lib", 105, 5});
    Ref a = float_object(m.a);
    Ref b = float_object(m.b);
    Ref c = float_object(m.c);
    return tuple_result(std::move(a), std::move(b), std::move(c));
  });
}

PyObject* only_xx_rot(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(only_xx_sig, args, nargs, kwnames,
                     [](const double* v) { return bool_result(only_xx(v[1], v[2])); });
}

PyObject* unitary(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(unitary_sig, args, nargs, kwnames, [](const double* v) {
    double* buffer = new_unitary_buffer();
    fill_canonical_unitary(buffer, v[0], v[1], v[2]);
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
