// Optimal duration of a canonical gate under three interaction strengths.
#pragma once

namespace accel {

// Scaled by gx + gy + |gz|; ends the call with the normalisation fault when (a, b, c) is not
// normalised. Degenerate strengths give the IEEE result.
double can_gate_duration(double a, double b, double c, double gx, double gy, double gz);

}  // namespace accel
