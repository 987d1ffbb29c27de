#include "kicks/errf.h"

#include <cmath>

#include "kicks/errf_lanes.h"
#include "kicks/lanes/one_lane.h"

namespace bbtrack {

double ipow(double x, int n) {
  const unsigned int m = n < 0 ? 0u - static_cast<unsigned int>(n) : static_cast<unsigned int>(n);
  const double y = ipow_whole<OneLane, 32>(x, m);
  return n < 0 ? 1.0 / y : y;
}

void errf(double xx, double yy, double& wx, double& wy) {
  const double zx[1] = {xx}, zy[1] = {yy};
  double re[1], im[1];
  ExpQueue none{nullptr, 0};
  errf_lanes<OneLane, 1>(zx, zy, re, im, none);
  wx = re[0];
  wy = im[0];
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
