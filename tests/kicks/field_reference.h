// Kick function of a two-dimensional Gaussian bunch from the potential
// integral, independent of any complex error function:
//   Gx = sqrt(2/pi) u int_0^inf exp(-u^2/(2a^2+q) - v^2/(2b^2+q))
//                       / ((2a^2+q)^(3/2) (2b^2+q)^(1/2)) dq
// and Gy likewise with v and the powers exchanged (u = x - x0, v = y - y0,
// a = sigx, b = sigy). For a = b it reduces to the round-beam field
// sqrt(2/pi) u (1 - exp(-r^2/(2 sigma^2))) / r^2.
#pragma once

#include <cmath>

#include "kicks/faddeeva_reference.h"
#include "kicks/gauss_legendre.h"

namespace bbtrack::testref {

struct Field {
  long double gx, gy;
};

inline Field gaussian_field(long double u, long double v, long double a, long double b) {
  static const GaussRule rule = gauss_legendre(24);
  const long double pa = 2 * a * a, pb = 2 * b * b;
  const long double c = pa < pb ? pa : pb;
  // q = c (1 - s)/s maps (0, 1] onto [0, inf) with a bounded integrand.
  auto f = [&](long double s, bool horizontal) -> long double {
    const long double q = c * (1 - s) / s;
    const long double ea = pa + q, eb = pb + q;
    const long double e = std::exp(-u * u / ea - v * v / eb);
    const long double jac = c / (s * s);
    return e * jac / (std::sqrt(ea * eb) * (horizontal ? ea : eb));
  };
  const long double ix =
      integrate<long double>(rule, 0.0L, 1.0L, 200, [&](long double s) { return f(s, true); });
  const long double iy =
      integrate<long double>(rule, 0.0L, 1.0L, 200, [&](long double s) { return f(s, false); });
  const long double k = std::sqrt(2 / kPiL);
  return {k * u * ix, k * v * iy};
}

}  // namespace bbtrack::testref
