// Optimal duration of a canonical gate under three interaction strengths.
#pragma once

#include <optional>

#include "weyl/chamber.hpp"

namespace accel {

// The duration of a normalised coordinate, scaled by gx + gy + |gz|. Degenerate strengths give
// the IEEE result.
double scaled_duration(double a, double b, double c, double gx, double gy, double gz);

// The same, or nothing when (a, b, c) is not normalised. Inline, so that callers test the
// result's presence where it is made.
inline std::optional<double> can_gate_duration(double a, double b, double c, double gx, double gy,
                                               double gz) {
  if (!is_normalised(a, b, c)) [[unlikely]]
    return std::nullopt;
  return scaled_duration(a, b, c, gx, gy, gz);
}

}  // namespace accel
