// Entry routines of the synthesis costs and the canonical-gate duration.
#include "frame/calls.hpp"
#include "synth/cost.hpp"
#include "synth/duration.hpp"

namespace accel {

namespace {

using Cost = std::optional<double> (*)(double, double, double);

// The fault positions are the ones these functions' reports have always named.
template <Signature<3>& Sig, Cost Kernel, unsigned Line>
PyObject* cost(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(Sig, args, nargs, kwnames, [](const double* v) {
    return float_result(normalised(Kernel(v[0], v[1], v[2]), SourceSite{"src/lib", Line, 5}));
  });
}

Signature<3> cx_sig{"synth_cost_by_cx", {"a", "b", "c"}, 3};
Signature<3> sqisw_sig{"synth_cost_by_sqisw", {"a", "b", "c"}, 3};
Signature<3> b_sig{"synth_cost_by_b", {"a", "b", "c"}, 3};
Signature<6> duration_sig{"optimal_can_gate_duration", {"a", "b", "c", "gx", "gy", "gz"}, 6};

PyObject* duration(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats(duration_sig, args, nargs, kwnames, [](const double* v) {
    return float_result(normalised(can_gate_duration(v[0], v[1], v[2], v[3], v[4], v[5]),
                                   SourceSite{"src/lib", 75, 5}));
  });
}

}  // namespace

ACCEL_ENTRY(synth_cost_by_cx_entry) {
  return run<cost<cx_sig, cost_by_cx, 211>>(args, nargs, kwnames);
}
ACCEL_ENTRY(synth_cost_by_sqisw_entry) {
  return run<cost<sqisw_sig, cost_by_sqisw, 235>>(args, nargs, kwnames);
}
ACCEL_ENTRY(synth_cost_by_b_entry) {
  return run<cost<b_sig, cost_by_b, 255>>(args, nargs, kwnames);
}
ACCEL_ENTRY(optimal_can_gate_duration_entry) {
  return run<duration>(args, nargs, kwnames);
}

}  // namespace accel
