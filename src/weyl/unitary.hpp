// The canonical gate's 4x4 unitary in closed form.
#pragma once

namespace accel {

inline constexpr int kUnitaryEntries = 16;

// Fills `m` (16 complex entries, real part first, row-major: 32 doubles) with
// exp(-i*(pi/2)*(a*XX + b*YY + c*ZZ)). The eight zero entries are +0.0 + 0.0i.
void fill_canonical_unitary(double* m, double a, double b, double c);

}  // namespace accel
