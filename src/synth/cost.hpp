// Synthesis cost of a normalised Weyl coordinate in CX, B and sqrt(iSWAP) gates.
#pragma once

#include <optional>

namespace accel {

// Each gives nothing when the coordinate is not normalised.
std::optional<double> cost_by_cx(double a, double b, double c);
std::optional<double> cost_by_sqisw(double a, double b, double c);
std::optional<double> cost_by_b(double a, double b, double c);

}  // namespace accel
