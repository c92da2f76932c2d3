// Fills the canonical unitary from three sine-cosine pairs; the arithmetic fixes every bit.
#include "weyl/unitary.hpp"

#include "platform/platform.hpp"

namespace accel {

namespace {

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
  m[2 * (4 * row + col)] = z.re;
  m[2 * (4 * row + col) + 1] = z.im;
}

}  // namespace

void fill_canonical_unitary(double* m, double a, double b, double c) {
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
