// Optimal duration of a canonical gate under three interaction strengths.
#pragma once

#include "weyl/chamber.hpp"

namespace accel {

// The duration of a coordinate already known to be normalised (is_normalised), scaled by
// gx + gy + |gz|. Degenerate strengths give the IEEE result.
double scaled_duration(double a, double b, double c, double gx, double gy, double gz);

}  // namespace accel
