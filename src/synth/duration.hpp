// Optimal duration of a canonical gate under three interaction strengths.
#pragma once

#include <optional>

namespace accel {

// Scaled by gx + gy + |gz|; nothing when (a, b, c) is not normalised. Degenerate strengths give
// the IEEE result.
std::optional<double> can_gate_duration(double a, double b, double c, double gx, double gy,
                                        double gz);

}  // namespace accel
