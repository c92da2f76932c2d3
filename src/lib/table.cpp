// The function table: names, entry routines, calling convention and text signatures.
#include "lib/table.hpp"

#include "frame/calls.hpp"

namespace accel {

namespace {

// Every row uses the vectorcall convention with keywords: CPython's specialised call path for
// builtins applies to exactly these flags.
constexpr int kFlags = METH_FASTCALL | METH_KEYWORDS;

using EntryRoutine = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <EntryRoutine Entry>
constexpr PyMethodDef row(const char* name, const char* signature) {
  // PyMethodDef stores every entry as PyCFunction; CPython calls it by its flags.
  return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry)),
                     kFlags, signature};
}

// The doc of each row is only its text-signature block, so __doc__ is None.
PyMethodDef table[] = {
    row<fuzzy_equal_entry>("fuzzy_equal", "fuzzy_equal(a, b, atol=None)\n--\n\n"),
    row<fuzzy_greater_equal_entry>("fuzzy_greater_equal",
                                   "fuzzy_greater_equal(a, b, atol=None)\n--\n\n"),
    row<fuzzy_greater_entry>("fuzzy_greater", "fuzzy_greater(a, b, atol=None)\n--\n\n"),
    row<fuzzy_less_equal_entry>("fuzzy_less_equal", "fuzzy_less_equal(a, b, atol=None)\n--\n\n"),
    row<fuzzy_less_entry>("fuzzy_less", "fuzzy_less(a, b, atol=None)\n--\n\n"),
    row<check_weyl_coord_entry>("check_weyl_coord", "check_weyl_coord(a, b, c)\n--\n\n"),
    row<optimal_can_gate_duration_entry>("optimal_can_gate_duration",
                                         "optimal_can_gate_duration(a, b, c, gx, gy, gz)\n--\n\n"),
    row<mirror_weyl_coord_entry>("mirror_weyl_coord", "mirror_weyl_coord(a, b, c)\n--\n\n"),
    row<sort_two_ints_entry>("sort_two_ints", "sort_two_ints(a, b, key=None)\n--\n\n"),
    row<sort_two_floats_entry>("sort_two_floats", "sort_two_floats(a, b, key=None)\n--\n\n"),
    row<sort_two_objs_entry>("sort_two_objs", "sort_two_objs(a, b, key=None)\n--\n\n"),
    row<synth_cost_by_cx_entry>("synth_cost_by_cx", "synth_cost_by_cx(a, b, c)\n--\n\n"),
    row<synth_cost_by_sqisw_entry>("synth_cost_by_sqisw", "synth_cost_by_sqisw(a, b, c)\n--\n\n"),
    row<synth_cost_by_b_entry>("synth_cost_by_b", "synth_cost_by_b(a, b, c)\n--\n\n"),
    row<only_xx_rot_entry>("only_xx_rot", "only_xx_rot(_a, b, c)\n--\n\n"),
    row<canonical_unitary_entry>("canonical_unitary", "canonical_unitary(a, b, c)\n--\n\n"),
};

static_assert(std::size(table) == 16);

}  // namespace

std::span<PyMethodDef> function_table() {
  return table;
}

}  // namespace accel
