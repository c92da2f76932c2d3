// The module's functions over the module's own kernels, bound the way nanobind users bind them.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/tuple.h>

#include <complex>
#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "compare/fuzzy.hpp"
#include "compare/sort.hpp"
#include "synth/cost.hpp"
#include "synth/duration.hpp"
#include "weyl/chamber.hpp"
#include "weyl/unitary.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using Opt = std::optional<double>;

template <bool (*Pred)(double, double, double)>
bool fuzzy(double a, double b, Opt atol) {
  return Pred(a, b, atol.value_or(accel::kTolerance));
}

// An exception when the coordinate is not normalised, as the kernels require.
void check(double a, double b, double c) {
  if (!accel::is_normalised(a, b, c)) throw std::domain_error("Weyl coordinate not normalized");
}

template <double (*Cost)(double, double, double)>
double cost(double a, double b, double c) {
  check(a, b, c);
  return Cost(a, b, c);
}

NB_MODULE(accel_nb_twin, m) {
  m.def("fuzzy_equal", &fuzzy<accel::fuzzy_equal>, "a"_a, "b"_a, "atol"_a = nb::none());
  m.def("fuzzy_greater_equal", &fuzzy<accel::fuzzy_greater_equal>, "a"_a, "b"_a,
        "atol"_a = nb::none());
  m.def("fuzzy_greater", &fuzzy<accel::fuzzy_greater>, "a"_a, "b"_a, "atol"_a = nb::none());
  m.def("fuzzy_less_equal", &fuzzy<accel::fuzzy_less_equal>, "a"_a, "b"_a, "atol"_a = nb::none());
  m.def("fuzzy_less", &fuzzy<accel::fuzzy_less>, "a"_a, "b"_a, "atol"_a = nb::none());
  m.def("check_weyl_coord", &accel::is_normalised, "a"_a, "b"_a, "c"_a);
  m.def(
      "optimal_can_gate_duration",
      [](double a, double b, double c, double gx, double gy, double gz) {
        check(a, b, c);
        return accel::scaled_duration(a, b, c, gx, gy, gz);
      },
      "a"_a, "b"_a, "c"_a, "gx"_a, "gy"_a, "gz"_a);
  m.def(
      "mirror_weyl_coord",
      [](double a, double b, double c) {
        check(a, b, c);
        accel::Triple t = accel::mirrored(a, b, c);
        return std::make_tuple(t.a, t.b, t.c);
      },
      "a"_a, "b"_a, "c"_a);
  m.def(
      "sort_two_ints",
      [](int a, int b, std::optional<nb::object> key) {
        if (!key || key->is_none()) return accel::sort_two(a, b);
        std::pair<int, int> out;
        accel::sort_two_by_key(
            a, b, [&](int v, int& k) { return k = nb::cast<int>((*key)(v)), true; }, out);
        return out;
      },
      "a"_a, "b"_a, "key"_a = nb::none());
  m.def(
      "sort_two_floats",
      [](double a, double b, std::optional<nb::object> key) {
        if (!key || key->is_none()) return accel::sort_two(a, b);
        std::pair<double, double> out;
        accel::sort_two_by_key(
            a, b, [&](double v, double& k) { return k = nb::cast<double>((*key)(v)), true; }, out);
        return out;
      },
      "a"_a, "b"_a, "key"_a = nb::none());
  m.def(
      "sort_two_objs",
      [](nb::object a, nb::object b, std::optional<nb::object> key) {
        bool swap = (key && !key->is_none()) ? (*key)(b) < (*key)(a) : b < a;
        return swap ? std::make_tuple(b, a) : std::make_tuple(a, b);
      },
      "a"_a, "b"_a, "key"_a = nb::none());
  m.def("synth_cost_by_cx", &cost<accel::cx_cost>, "a"_a, "b"_a, "c"_a);
  m.def("synth_cost_by_sqisw", &cost<accel::sqisw_cost>, "a"_a, "b"_a, "c"_a);
  m.def("synth_cost_by_b", &cost<accel::b_cost>, "a"_a, "b"_a, "c"_a);
  m.def("only_xx_rot", &accel::only_xx, "_a"_a, "b"_a, "c"_a);
  m.def(
      "canonical_unitary",
      [](double a, double b, double c) {
        auto* m = static_cast<double*>(
            std::malloc(accel::kUnitaryRows * accel::kUnitaryRows * 2 * sizeof(double)));
        if (m == nullptr) throw std::bad_alloc();
        accel::fill_canonical_unitary(m, a, b, c);
        auto* data = reinterpret_cast<std::complex<double>*>(m);
        nb::capsule owner(data, [](void* p) noexcept { std::free(p); });
        return nb::ndarray<nb::numpy, std::complex<double>, nb::shape<4, 4>>(data, {4, 4}, owner);
      },
      "a"_a, "b"_a, "c"_a);
}
