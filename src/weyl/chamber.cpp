// The mirror coordinate.
#include "weyl/chamber.hpp"

namespace accel {

Triple mirrored(double a, double b, double c) {
  // A c just below zero, within tolerance, counts as non-negative.
  bool non_negative = c > 0.0 || std::fabs(c) < kTolerance;
  double a2 = non_negative ? 0.5 - c : 0.5 + c;
  double c2 = non_negative ? a - 0.5 : 0.5 - a;
  double b2 = 0.5 - b;
  // On the face a' = 0.5 the mirror is made non-negative in c', unless c' is itself near zero.
  if (std::fabs(c2) > kTolerance && c2 < 0.0 && std::fabs(a2 - 0.5) < kTolerance) c2 = -c2;
  return Triple{a2, b2, c2};
}

}  // namespace accel
