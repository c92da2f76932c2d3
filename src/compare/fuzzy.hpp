// Tolerant comparisons of two doubles under an absolute tolerance.
#pragma once

#include <cmath>

namespace accel {

// The default tolerance of the comparisons and the fixed tolerance of every Weyl kernel.
inline constexpr double kTolerance = 1e-08;

// The distance is one subtraction with the sign bit cleared, so operand order does not matter.
// Every comparison is ordered: false when an operand is NaN.
inline bool fuzzy_equal(double a, double b, double atol) {
  return std::fabs(a - b) < atol;
}

inline bool fuzzy_less(double a, double b, double atol) {
  return a < b && std::fabs(a - b) > atol;
}

inline bool fuzzy_greater(double a, double b, double atol) {
  return a > b && std::fabs(a - b) > atol;
}

inline bool fuzzy_less_equal(double a, double b, double atol) {
  return a < b || std::fabs(a - b) < atol;
}

inline bool fuzzy_greater_equal(double a, double b, double atol) {
  return a > b || std::fabs(a - b) < atol;
}

// |x| < tolerance, strictly.
inline bool near_zero(double x) {
  return std::fabs(x) < kTolerance;
}

// |x - y| < tolerance, strictly.
inline bool near(double x, double y) {
  return std::fabs(x - y) < kTolerance;
}

}  // namespace accel
