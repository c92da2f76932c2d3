// Case tables of the synthesis costs: first matching row wins, conditions tested in order.
#include "synth/cost.hpp"

#include "compare/fuzzy.hpp"

namespace accel {

double cx_cost(double a, double b, double c) {
  if (!near_zero(c)) return 3.0;
  if (!near_zero(b)) return 2.0;
  if (near_zero(a)) return 0.0;
  if (near(a, 0.5)) return 1.0;
  return 2.0;
}

double sqisw_cost(double a, double b, double c) {
  if (near_zero(c) && near_zero(a) && near_zero(b)) return 0.0;
  if (near_zero(c) && near(a, 0.25) && near(b, 0.25)) return 0.75;
  double s = b + std::fabs(c);
  if (a > s || near(a, s)) return 1.5;
  return 2.25;
}

double b_cost(double a, double b, double c) {
  if (near(a, 0.5) && near(b, 0.25) && near_zero(c)) return 1.0;
  return 2.0;
}

}  // namespace accel
