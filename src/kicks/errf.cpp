#include "kicks/errf.h"

#include <cmath>

namespace bbtrack {

double ipow(double x, int n) {
  unsigned int m = n < 0 ? 0u - static_cast<unsigned int>(n) : static_cast<unsigned int>(n);
  double y = (m & 1u) ? x : 1.0;
  while (m >>= 1) {
    x = x * x;
    if (m & 1u) y = y * x;
  }
  return n < 0 ? 1.0 / y : y;
}

void errf(double xx, double yy, double& wx, double& wy) {
  constexpr double cc = 1.12837916709551;  // 2/sqrt(pi), to the digits used
  constexpr double ybound = 4.29;
  constexpr double xbound = 5.33;
  constexpr double rybound = 0.2331002331002331;   // 1/4.29: multiplied, never divided
  constexpr double rxbound = 0.18761726078799248;  // 1/5.33

  const double x = std::fabs(xx);
  const double y = std::fabs(yy);

  if (y < ybound && x < xbound) {
    // s falls from 1 at the origin to 0 on the region border; the number of
    // continued-fraction steps and of summed terms follows it.
    const double xr = x * rxbound;
    const double s = (1.0 - y * rybound) * std::sqrt(1.0 - xr * xr);
    const double lambda = 1.0 / (3.2 * s);
    const int nc = static_cast<int>(23.0 * s) + 7;  // truncation toward zero, s > 0
    const int nu = static_cast<int>(21.0 * s) + 10;
    double xl = ipow(lambda, 1 - nc);
    const double xh = y + 0.5 / lambda;
    const double yh = x;

    double rx[34];
    double ry[34];
    rx[nu + 1] = 0.0;
    ry[nu + 1] = 0.0;
    for (int n = nu; n >= 1; --n) {
      const double dn = n;
      const double tx = xh + dn * rx[n + 1];
      const double ty = yh - dn * ry[n + 1];
      const double tn = tx * tx + ty * ty;
      rx[n] = 0.5 * tx / tn;
      ry[n] = 0.5 * ty / tn;
    }

    double sx = 0.0;
    double sy = 0.0;
    for (int n = nc; n >= 1; --n) {
      const double saux = sx + xl;
      const double sxn = rx[n] * saux - ry[n] * sy;  // both from the old sy
      sy = rx[n] * sy + ry[n] * saux;
      sx = sxn;
      xl = xl * lambda;
    }
    wx = cc * sx;
    wy = cc * sy;
  } else {
    double rx = 0.0;
    double ry = 0.0;
    for (int n = 9; n >= 1; --n) {
      const double dn = n;
      const double tx = y + dn * rx;
      const double ty = x - dn * ry;
      const double tn = tx * tx + ty * ty;
      rx = 0.5 * tx / tn;
      ry = 0.5 * ty / tn;
    }
    wx = cc * rx;
    wy = cc * ry;
  }

  errf_tail(xx, yy, wx, wy);
}

void errf_tail(double xx, double yy, double& wx, double& wy) {
  const double x = std::fabs(xx);
  const double y = std::fabs(yy);
  // On the real axis the real part is known in closed form.
  if (y == 0.0) wx = std::exp(-(x * x));

  if (yy < 0.0) {
    // w(-z) = 2 exp(-z^2) - w(z), then the mirror in the imaginary axis.
    const double e = std::exp(y * y - x * x);
    const double arg = 2.0 * x * y;
    wx = 2.0 * e * std::cos(arg) - wx;
    wy = -2.0 * e * std::sin(arg) - wy;
    if (xx > 0.0) wy = -wy;
  } else if (xx < 0.0) {
    wy = -wy;
  }
}

}  // namespace bbtrack
