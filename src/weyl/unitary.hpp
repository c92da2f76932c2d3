// The canonical gate's 4x4 unitary in closed form, from three sine-cosine pairs; the arithmetic
// fixes every bit.
#pragma once

#include "platform/platform.hpp"

namespace accel {

// The unitary's rows (and columns).
inline constexpr int kUnitaryRows = 4;

namespace unitary_parts {

constexpr double kHalfPi = 1.5707963267948966;

struct Complex {
  double re, im;
};

// r * (x + iy), two real products.
inline Complex scale(double r, Complex z) {
  return Complex{r * z.re, r * z.im};
}

// (0 - 1i) * (x + iy) with all four products, not simplified: this keeps the sign of zero
// parts that the simplified form would flip.
inline Complex rotate_minus_i(Complex z) {
  const double zr = 0.0;
  const double zi = -1.0;
  return Complex{zr * z.re - zi * z.im, zr * z.im + zi * z.re};
}

inline void put(double* m, int row, int col, Complex z) {
  m[2 * (kUnitaryRows * row + col)] = z.re;
  m[2 * (kUnitaryRows * row + col) + 1] = z.im;
}

}  // namespace unitary_parts

// Fills `m` (16 complex entries, real part first, row-major: 32 doubles) with
// exp(-i*(pi/2)*(a*XX + b*YY + c*ZZ)). The eight zero entries are +0.0 + 0.0i. Inline, so that
// the call shape that wraps it in an array keeps it in its own frame whatever the linker decides.
inline void fill_canonical_unitary(double* m, double a, double b, double c) {
  using namespace unitary_parts;
  // The eight zero positions are stored as +0.0 + 0.0i and never computed.
  constexpr Complex zero{0.0, 0.0};
  put(m, 0, 1, zero);
  put(m, 0, 2, zero);
  put(m, 1, 0, zero);
  put(m, 1, 3, zero);
  put(m, 2, 0, zero);
  put(m, 2, 3, zero);
  put(m, 3, 1, zero);
  put(m, 3, 2, zero);

  double sg, cg;
  platform::sincos(c * kHalfPi, &sg, &cg);
  double alpha = a * kHalfPi;
  double beta = b * kHalfPi;
  double sp, cp, sm, cm;
  platform::sincos(alpha + beta, &sp, &cp);
  platform::sincos(alpha - beta, &sm, &cm);

  const Complex e_minus{cg, -sg};
  const Complex e_plus{cg, sg};
  const Complex diag_outer = scale(cm, e_minus);
  const Complex diag_inner = scale(cp, e_plus);
  const Complex anti_outer = scale(sm, rotate_minus_i(e_minus));
  const Complex anti_inner = scale(sp, rotate_minus_i(e_plus));

  put(m, 0, 0, diag_outer);
  put(m, 3, 3, diag_outer);
  put(m, 1, 1, diag_inner);
  put(m, 2, 2, diag_inner);
  put(m, 0, 3, anti_outer);
  put(m, 3, 0, anti_outer);
  put(m, 1, 2, anti_inner);
  put(m, 2, 1, anti_inner);
}

}  // namespace accel
