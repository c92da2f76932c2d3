// Entry routines of the synthesis costs and the canonical-gate duration.
#include "frame/calls.hpp"
#include "synth/cost.hpp"
#include "synth/duration.hpp"

namespace accel {

namespace {

using Cost = std::optional<double> (*)(double, double, double);

// The fault positions are the ones these functions' reports have always named.
template <Signature<3, 3>& Sig, Cost Kernel, unsigned Line>
PyObject* cost(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats<Sig>(args, nargs, kwnames, [](double a, double b, double c) {
    return float_result(normalised(Kernel(a, b, c), SourceSite{"src/lib", Line, 5}));
  });
}

Signature<3, 3> cx_sig{"synth_cost_by_cx", {"a", "b", "c"}};
Signature<3, 3> sqisw_sig{"synth_cost_by_sqisw", {"a", "b", "c"}};
Signature<3, 3> b_sig{"synth_cost_by_b", {"a", "b", "c"}};
Signature<6, 6> duration_sig{"optimal_can_gate_duration", {"a", "b", "c", "gx", "gy", "gz"}};

PyObject* duration(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_floats<duration_sig>(
      args, nargs, kwnames, [](double a, double b, double c, double gx, double gy, double gz) {
        return float_result(
            normalised(can_gate_duration(a, b, c, gx, gy, gz), SourceSite{"src/lib", 75, 5}));
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
