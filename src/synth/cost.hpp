// Synthesis cost of a normalised Weyl coordinate in CX, B and sqrt(iSWAP) gates.
#pragma once

#include "weyl/chamber.hpp"

namespace accel {

// The case tables, for a coordinate already known to be normalised (is_normalised).
double cx_cost(double a, double b, double c);
double sqisw_cost(double a, double b, double c);
double b_cost(double a, double b, double c);

}  // namespace accel
