// Synthesis cost of a normalised Weyl coordinate in CX, B and sqrt(iSWAP) gates.
#pragma once

namespace accel {

// Each ends the call with the normalisation fault when the coordinate is not normalised.
double cost_by_cx(double a, double b, double c);
double cost_by_sqisw(double a, double b, double c);
double cost_by_b(double a, double b, double c);

}  // namespace accel
