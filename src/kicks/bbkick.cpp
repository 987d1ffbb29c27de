#include "kicks/bbkick.h"

#include <cmath>

#include "kicks/errf.h"

namespace bbtrack {

void bbkick(double& wr1, double& wr2, double& wi1, double& wi2, double u, double v, double a,
            double b, ErrfMode errf_mode, double u0, double v0) {
  const double s = std::sqrt(2.0 * (a * a - b * b));
  const double rho = b / a;
  if (errf_mode == ErrfMode::fast) {
    // The opt-in mode multiplies by the reciprocals of the encounter's
    // constants, computed as the particle blocks' plan computes them.
    const double rs = 1.0 / s;
    const double rrhos = 1.0 / (rho * s);
    using errf_fast_detail::far_border;
    errf_fast(u * rs, v * rs, wr1, wi1, far_border(u0 * rs, v0 * rs));
    errf_fast(rho * u * rs, v * rrhos, wr2, wi2, far_border(rho * u0 * rs, v0 * rrhos));
    return;
  }
  errf(u / s, v / s, wr1, wi1);
  errf(rho * u / s, v / (rho * s), wr2, wi2);
}

void ffrank(double x, double y, double x0, double y0, double sigx, double sigy, double& gy,
            double& gx, ErrfMode errf_mode) {
  // Turn the problem by a quarter turn when the bunch is taller than wide,
  // so that the elliptical formula always sees a >= b.
  const bool turned = sigx < sigy;
  double u, v, a, b;
  if (turned) {
    u = y - y0;
    v = -(x - x0);
    a = sigy;
    b = sigx;
  } else {
    u = x - x0;
    v = y - y0;
    a = sigx;
    b = sigy;
  }
  const double r2 = u * u + v * v;

  double hu, hv;
  if (r2 == 0.0) {
    hu = std::copysign(0.0, u);
    hv = std::copysign(0.0, v);
  } else if (std::fabs(a / b - 1.0) < 0.01) {
    const double pi = 4.0 * std::atan(1.0);
    const double q = 2.0 / std::sqrt(2.0 * pi);  // sqrt(2/pi)
    const double g = q / r2;
    // Exponent with a*b, the geometric mean of the sizes squared.
    const double c = 1.0 - std::exp(-(r2 / (2.0 * a * b)));
    hu = u * g * c;
    hv = v * g * c;
  } else {
    double wr1, wr2, wi1, wi2;
    bbkick(wr1, wr2, wi1, wi2, std::fabs(u), std::fabs(v), a, b, errf_mode,
           std::fabs(turned ? y0 : x0), std::fabs(turned ? x0 : y0));
    const bool fast = errf_mode == ErrfMode::fast;
    const double a2x2 = 2.0 * (a * a), b2x2 = 2.0 * (b * b);
    const double t = fast ? -(u * u) * (1.0 / a2x2) - (v * v) * (1.0 / b2x2)
                          : -(u * u) / a2x2 - (v * v) / b2x2;
    const double e = fast ? exp_fast(t) : std::exp(t);
    const double d = std::sqrt(a * a - b * b);
    // In the opt-in mode (w1 - E w2) is multiplied by 1/D, not divided by D.
    const double rd = fast ? 1.0 / d : 0.0;
    auto per_d = [&](double n) { return fast ? n * rd : n / d; };
    // Mathematically (w1 - E w2) vanishes with the separation; numerically it
    // leaves a rounding residue, so a zero separation gives a zero component
    // explicitly. The sign of a separation is its sign bit: -0 counts as
    // negative, which makes the zero component carry the sign of u or v as the
    // round formula's u*g*c does.
    hv = v == 0.0 ? std::copysign(0.0, v) : per_d(std::copysign(1.0, v) * (wr1 - e * wr2));
    hu = u == 0.0 ? std::copysign(0.0, u) : per_d(std::copysign(1.0, u) * (wi1 - e * wi2));
  }

  if (turned) {
    gx = -hv;
    gy = hu;
  } else {
    gx = hu;
    gy = hv;
  }
}

void kickvorn(State& st, double x, double y, double& dxp, double& dyp, int k,
              ErrfMode errf_mode) {
  const auto& bc = st.bbcoord.bbcoord;
  const double sigx = bc(k, 1);
  const double sigy = bc(k, 2);
  const double x0 = bc(k, 3);
  const double y0 = bc(k, 4);
  auto& kick0 = st.qarkick.kick0;
  if (st.qarind.kick0set(k) == 0) {
    double gy0, gx0;
    ffrank(0.0, 0.0, x0, y0, sigx, sigy, gy0, gx0, errf_mode);
    kick0(k, 1) = gy0;
    kick0(k, 2) = gx0;
    st.qarind.kick0set(k) = 1;
  }
  double gy, gx;
  ffrank(x, y, x0, y0, sigx, sigy, gy, gx, errf_mode);
  const double factor = st.vorn.factor;
  // Two products, then the difference: the reference-orbit kick is removed
  // after scaling, so a particle on the reference orbit gets exactly zero.
  dxp = factor * kick0(k, 2) - factor * gx;
  dyp = factor * kick0(k, 1) - factor * gy;
}

}  // namespace bbtrack
