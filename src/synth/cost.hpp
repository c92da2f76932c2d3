// Synthesis cost of a normalised Weyl coordinate in CX, B and sqrt(iSWAP) gates.
#pragma once

#include <optional>

#include "weyl/chamber.hpp"

namespace accel {

// The case tables, for a coordinate already known to be normalised.
double cx_cost(double a, double b, double c);
double sqisw_cost(double a, double b, double c);
double b_cost(double a, double b, double c);

// Each gives nothing when the coordinate is not normalised. Inline, so that callers test the
// result's presence where it is made: a std::optional returned from a call goes through memory.
inline std::optional<double> cost_by_cx(double a, double b, double c) {
  if (!is_normalised(a, b, c)) [[unlikely]]
    return std::nullopt;
  return cx_cost(a, b, c);
}

inline std::optional<double> cost_by_sqisw(double a, double b, double c) {
  if (!is_normalised(a, b, c)) [[unlikely]]
    return std::nullopt;
  return sqisw_cost(a, b, c);
}

inline std::optional<double> cost_by_b(double a, double b, double c) {
  if (!is_normalised(a, b, c)) [[unlikely]]
    return std::nullopt;
  return b_cost(a, b, c);
}

}  // namespace accel
