// The module functions, each declared once, in registration order.
#include "lib/table.hpp"

#include "compare/fuzzy.hpp"
#include "lib/shapes.hpp"
#include "lib/sorts.hpp"
#include "synth/cost.hpp"
#include "synth/duration.hpp"
#include "weyl/chamber.hpp"
#include "weyl/unitary.hpp"

namespace accel {

namespace {

// The Weyl-coordinate checks report their faults at the lines their callers have always seen.
constexpr Function fuzzy_equal_fn{"fuzzy_equal", {"a", "b", "atol"}, 2, Fuzzy<fuzzy_equal>{}};
constexpr Function fuzzy_greater_equal_fn{
    "fuzzy_greater_equal", {"a", "b", "atol"}, 2, Fuzzy<fuzzy_greater_equal>{}};
constexpr Function fuzzy_greater_fn{"fuzzy_greater", {"a", "b", "atol"}, 2, Fuzzy<fuzzy_greater>{}};
constexpr Function fuzzy_less_equal_fn{
    "fuzzy_less_equal", {"a", "b", "atol"}, 2, Fuzzy<fuzzy_less_equal>{}};
constexpr Function fuzzy_less_fn{"fuzzy_less", {"a", "b", "atol"}, 2, Fuzzy<fuzzy_less>{}};
constexpr Function check_weyl_coord_fn{
    "check_weyl_coord", {"a", "b", "c"}, 3, Floats<is_normalised>{}};
constexpr Function optimal_can_gate_duration_fn{"optimal_can_gate_duration",
                                                {"a", "b", "c", "gx", "gy", "gz"},
                                                6,
                                                NormalisedFloats<scaled_duration, 75>{}};
constexpr Function mirror_weyl_coord_fn{
    "mirror_weyl_coord", {"a", "b", "c"}, 3, NormalisedFloats<mirrored, 105>{}};
constexpr Function sort_two_ints_fn{"sort_two_ints", {"a", "b", "key"}, 2, SortNumbers<IntKind>{}};
constexpr Function sort_two_floats_fn{
    "sort_two_floats", {"a", "b", "key"}, 2, SortNumbers<FloatKind>{}};
constexpr Function sort_two_objs_fn{"sort_two_objs", {"a", "b", "key"}, 2, SortObjects{}};
constexpr Function synth_cost_by_cx_fn{
    "synth_cost_by_cx", {"a", "b", "c"}, 3, NormalisedFloats<cx_cost, 211>{}};
constexpr Function synth_cost_by_sqisw_fn{
    "synth_cost_by_sqisw", {"a", "b", "c"}, 3, NormalisedFloats<sqisw_cost, 235>{}};
constexpr Function synth_cost_by_b_fn{
    "synth_cost_by_b", {"a", "b", "c"}, 3, NormalisedFloats<b_cost, 255>{}};
constexpr Function only_xx_rot_fn{"only_xx_rot", {"_a", "b", "c"}, 3, Floats<only_xx>{}};
constexpr Function canonical_unitary_fn{
    "canonical_unitary", {"a", "b", "c"}, 3, ComplexMatrix<fill_canonical_unitary, kUnitaryRows>{}};

// The module's functions, whose fault lines must differ.
template <const auto&... F>
struct Registry : FunctionList<F...> {
  static_assert(distinct_fault_lines<decltype(F.shape)...>(),
                "two functions report their faults at the same line");
};

// The one list of the module's functions, in registration order.
using Functions =
    Registry<fuzzy_equal_fn, fuzzy_greater_equal_fn, fuzzy_greater_fn, fuzzy_less_equal_fn,
             fuzzy_less_fn, check_weyl_coord_fn, optimal_can_gate_duration_fn, mirror_weyl_coord_fn,
             sort_two_ints_fn, sort_two_floats_fn, sort_two_objs_fn, synth_cost_by_cx_fn,
             synth_cost_by_sqisw_fn, synth_cost_by_b_fn, only_xx_rot_fn, canonical_unitary_fn>;

}  // namespace

std::span<PyMethodDef> function_table() {
  return {Functions::methods.data(), Functions::count};
}

}  // namespace accel
