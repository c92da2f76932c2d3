// The canonical gate's 4x4 unitary in closed form.
#pragma once

namespace accel {

inline constexpr int kUnitaryEntries = 16;

// Returns a new 256-byte buffer of 16 complex entries (real part first), row-major, holding
// exp(-i*(pi/2)*(a*XX + b*YY + c*ZZ)). Release it with std::free. A failed allocation ends the
// process.
double* canonical_unitary_buffer(double a, double b, double c);

}  // namespace accel
