// The duration kernel; operand order fixes rounding, NaN handling and the sign of zero.
#include "synth/duration.hpp"

#include <cmath>

namespace accel {

namespace {

constexpr double kHalfPi = 1.5707963267948966;

// NaN operands are passed over; ties go to the second operand.
inline double max2(double x, double y) {
  return (std::isnan(y) || x > y) ? x : y;
}
inline double min2(double x, double y) {
  return (std::isnan(y) || x < y) ? x : y;
}

inline double bound(double p1, double p2, double p3) {
  return max2(max2(p1, p2), p3);
}

}  // namespace

double scaled_duration(double a, double b, double c, double gx, double gy, double gz) {
  double A = a * kHalfPi;
  double B = b * kHalfPi;
  double C = c * kHalfPi;
  double S = gx + gy;
  double F = std::fabs(gz) + S;
  double Dm = S - gz;
  double Dp = S + gz;
  double t1 = bound(A / gx, ((A + B) - C) / Dm, ((A + B) + C) / Dp);
  // The reflected coordinate (h - A, B, -C), from the already scaled A.
  double R = kHalfPi - A;
  double t2 = bound(R / gx, ((R + B) + C) / Dm, ((R + B) - C) / Dp);
  return min2(t1, t2) * F;
}

}  // namespace accel
