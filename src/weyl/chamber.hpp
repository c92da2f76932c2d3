// Weyl coordinates: the normalisation test and precondition, the mirror coordinate, pure XX.
#pragma once

#include <cmath>

#include "compare/fuzzy.hpp"

namespace accel {

struct Triple {
  double a, b, c;
};

// 0.5 >= a >= b >= |c|, each step allowed to fail by less than the tolerance; evaluated in
// that order, so NaN or an infinity anywhere makes it false.
inline bool is_normalised(double a, double b, double c) {
  return fuzzy_greater_equal(0.5, a, kTolerance) && fuzzy_greater_equal(a, b, kTolerance) &&
         fuzzy_greater_equal(b, std::fabs(c), kTolerance);
}

// The kernels below that take a coordinate expect a normalised one: their callers check with
// is_normalised first and decide how to report a coordinate that is not.

// The normalised coordinate of the same gate composed with SWAP, for a normalised (a, b, c).
Triple mirrored(double a, double b, double c);

// Whether b and c are both zero within the tolerance; a takes no part.
inline bool only_xx(double /*a*/, double b, double c) {
  return near_zero(b) && near_zero(c);
}

}  // namespace accel
