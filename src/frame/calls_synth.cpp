// Entry routines of the synthesis costs and the canonical-gate duration.
#include "frame/calls.hpp"
#include "synth/cost.hpp"
#include "synth/duration.hpp"

namespace accel {

namespace {

using Cost = double (*)(double, double, double);

template <Signature<3>& Sig, Cost Kernel>
PyObject* cost(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(Sig, args, nargs, kwnames,
                     [](const double* v) { return float_result(Kernel(v[0], v[1], v[2])); });
}

Signature<3> cx_sig{"synth_cost_by_cx", {"a", "b", "c"}, 3};
Signature<3> sqisw_sig{"synth_cost_by_sqisw", {"a", "b", "c"}, 3};
Signature<3> b_sig{"synth_cost_by_b", {"a", "b", "c"}, 3};
Signature<6> duration_sig{"optimal_can_gate_duration", {"a", "b", "c", "gx", "gy", "gz"}, 6};

PyObject* duration(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(duration_sig, args, nargs, kwnames, [](const double* v) {
    return float_result(can_gate_duration(v[0], v[1], v[2], v[3], v[4], v[5]));
  });
}

}  // namespace

ACCEL_ENTRY(synth_cost_by_cx_entry) {
  return run<cost<cx_sig, cost_by_cx>>(args, nargs, kwnames);
}
ACCEL_ENTRY(synth_cost_by_sqisw_entry) {
  return run<cost<sqisw_sig, cost_by_sqisw>>(args, nargs, kwnames);
}
ACCEL_ENTRY(synth_cost_by_b_entry) {
  return run<cost<b_sig, cost_by_b>>(args, nargs, kwnames);
}
ACCEL_ENTRY(optimal_can_gate_duration_entry) {
  return run<duration>(args, nargs, kwnames);
}

}  // namespace accel
