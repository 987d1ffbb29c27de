// Two independent long-double evaluations of w(z) = exp(-z^2) erfc(-iz):
// the Taylor series about the origin (its terms cancel: the error is about
// 1e-19 exp(|z|^2), so it serves for |z| <= 3) and quadrature of the Fourier integral
// w(z) = 1/sqrt(pi) * int_0^inf exp(-t^2/4 + i z t) dt (any z of moderate
// size; the integrand is entire and decays like a Gaussian); and, far from
// the origin, the continued fraction of w.
#pragma once

#include <cmath>
#include <complex>

#include "kicks/gauss_legendre.h"

namespace bbtrack::testref {

using cld = std::complex<long double>;

inline constexpr long double kPiL = 3.141592653589793238462643383279502884L;

// sum_n (iz)^n / Gamma(n/2 + 1), even and odd terms by their own recurrences.
inline cld w_taylor(cld z) {
  const cld iz(-z.imag(), z.real());
  const cld iz2 = iz * iz;
  cld even = 1.0L;                          // n = 0
  cld odd = iz * (2.0L / std::sqrt(kPiL));  // n = 1, Gamma(3/2) = sqrt(pi)/2
  cld sum = even + odd;
  for (int n = 2; n < 2000; n += 2) {
    even *= iz2 / (0.5L * n);
    odd *= iz2 / (0.5L * (n + 1));
    sum += even + odd;
    if (n > 4 * std::norm(z) + 10 && std::abs(even) + std::abs(odd) < 1e-24L) break;
  }
  return sum;
}

inline cld w_quadrature(cld z) {
  static const GaussRule rule = gauss_legendre(24);
  const long double x = z.real(), y = z.imag();
  // The integrand peaks near t = max(0, -2y) and is below 1e-20 of its peak
  // 14 units beyond; unit panels hold at most 10/(2 pi) periods for |x| <= 10.
  const long double hi = std::fmax(0.0L, -2 * y) + 14.0L;
  const int panels = static_cast<int>(hi) + 1;
  cld v = integrate<cld>(rule, 0.0L, hi, panels, [&](long double t) {
    const long double m = std::exp(-0.25L * t * t - y * t);
    return cld(m * std::cos(x * t), m * std::sin(x * t));
  });
  return v / std::sqrt(kPiL);
}

// The continued fraction w(z) = (i/sqrt(pi)) / (z - (1/2)/(z - 1/(z - (3/2)/(z - ...))))
// from its 200th level up, for Im z >= 0 and |z| >= 8, where it has
// converged far below double precision.
inline cld w_continued_fraction(cld z) {
  cld t = z;
  for (int n = 200; n >= 1; --n) t = z - (0.5L * n) / t;
  return cld(0.0L, 1.0L / std::sqrt(kPiL)) / t;
}

}  // namespace bbtrack::testref
