#include "kicks/beam_beam_6d.h"

#include <cmath>

#include "kicks/beam_beam_6d_lanes.h"
#include "kicks/encounter.h"
#include "kicks/lanes/one_lane.h"

namespace bbtrack {
namespace {

// The standard normal distribution function for t <= 0, 0.5 erfc(-t/sqrt 2),
// accurate in the lower tail.
double normal_cdf(double t) {
  return 0.5 * std::erfc(-t / std::sqrt(2.0));
}

// Phi^-1(p) for 0 < p <= 1/2, by bisection to the last bit (the set-up of
// an element only: at most a few hundred evaluations per slice).
double normal_quantile_lower(double p) {
  if (p == 0.5) return 0.0;
  double lo = -40.0, hi = 0.0;
  for (;;) {
    const double mid = 0.5 * (lo + hi);
    if (mid == lo || mid == hi) return mid;
    (normal_cdf(mid) < p ? lo : hi) = mid;
  }
}

}  // namespace

std::vector<double> slice_centroids(int n) {
  // The borders t_k = Phi^-1(k/n), k = 0 .. n, from the lower half by
  // symmetry (t_0 = -infinity, whose Gaussian is 0).
  std::vector<double> g(n + 1);  // exp(-t_k^2/2)
  for (int k = 0; 2 * k <= n; ++k) {
    const double t = k == 0 ? 0.0 : normal_quantile_lower(static_cast<double>(k) / n);
    g[k] = g[n - k] = k == 0 ? 0.0 : std::exp(-0.5 * t * t);
  }
  const double pi = 4.0 * std::atan(1.0);
  const double scale = n / std::sqrt(2.0 * pi);
  // Slice k (k = 0 the lowest) has its centroid at scale (g_k - g_(k+1));
  // the head is the last.
  std::vector<double> c(n);
  for (int k = 0; 2 * k < n; ++k) {
    const double v = scale * (g[k] - g[k + 1]);  // < 0 below the centre
    c[n - 1 - k] = v;
    c[k] = -v;
  }
  if (n % 2 == 1) c[n / 2] = 0.0;
  return c;
}

Encounter6d make_encounter6d(const Encounter6dSpec& sp, ErrfMode mode) {
  Encounter6d e{};
  e.plane_y = sp.plane_y;
  // The crossing plane's frame: its quantities first.
  const double sigx = sp.plane_y ? sp.sigy : sp.sigx, sigy = sp.plane_y ? sp.sigx : sp.sigy;
  const double betx = sp.plane_y ? sp.bety : sp.betx, bety = sp.plane_y ? sp.betx : sp.bety;
  const double alfx = sp.plane_y ? sp.alfy : sp.alfx, alfy = sp.plane_y ? sp.alfx : sp.alfy;
  const double x0 = sp.plane_y ? sp.y0 : sp.x0, y0 = sp.plane_y ? sp.x0 : sp.y0;
  e.boost = sp.phi != 0.0;
  e.sphi = std::sin(sp.phi);
  e.cphi = std::cos(sp.phi);
  e.tphi = std::tan(sp.phi);
  e.rcphi = 1.0 / e.cphi;
  e.t2 = e.tphi * e.tphi;
  e.c2 = e.cphi * e.cphi;
  e.f = sp.factor / sp.slices;
  const double pi = 4.0 * std::atan(1.0);
  e.q = 2.0 / std::sqrt(2.0 * pi);  // sqrt(2/pi), as the encounter model's
  e.fq = e.f * e.q;
  e.sx2 = sigx * sigx;
  e.ax1 = -2.0 * alfx / betx;
  e.ax2 = (1.0 + alfx * alfx) / (betx * betx);
  e.ax2d = 2.0 * e.ax2;
  e.sy2 = sigy * sigy;
  e.ay1 = -2.0 * alfy / bety;
  e.ay2 = (1.0 + alfy * alfy) / (bety * bety);
  e.ay2d = 2.0 * e.ay2;
  for (const double c : slice_centroids(sp.slices)) {
    Slice6d sl{};
    const double z = c * sp.sigz;
    sl.zs = e.boost ? z * e.rcphi : z;
    sl.xc = e.boost ? x0 + sl.zs * e.sphi : x0;
    sl.yc = y0;
    // The reference particle (all six coordinates 0, also after the boost)
    // at this slice: its collision point, the sizes there, the fast mode's
    // borders from its arguments as the four-dimensional encounter takes
    // them, and its kick function and du by the kernel itself.
    const double s = (0.0 - sl.zs) * 0.5;
    const double sx = std::sqrt(e.sx2 * (1.0 + s * (e.ax1 + s * e.ax2)));
    const double sy = std::sqrt(e.sy2 * (1.0 + s * (e.ay1 + s * e.ay2)));
    const Encounter border = encounter_field(sx, sy, sl.xc, sl.yc);
    sl.far1 = border.far1;
    sl.far2 = border.far2;
    Coords6<OneLane> p[1] = {{0.0, 0.0, 0.0, 0.0, 0.0, 0.0}};
    double S[1], gx[1], gy[1], du[1];
    if (mode == ErrfMode::fast)
      slice_field<OneLane, 1, ErrfMode::fast>(e, sl, p, S, gx, gy, du);
    else
      slice_field<OneLane, 1, ErrfMode::exact>(e, sl, p, S, gx, gy, du);
    sl.fk2 = e.f * gx[0];
    sl.fk1 = e.f * gy[0];
    sl.dref = du[0];
    e.slice.push_back(sl);
  }
  return e;
}

void encounter6d(const Encounter6d& e, const SixColumns& c, int n, ErrfMode mode) {
  if (mode == ErrfMode::fast)
    encounter6d_range<OneLane, ErrfMode::fast>(e, c, n);
  else
    encounter6d_range<OneLane, ErrfMode::exact>(e, c, n);
}

}  // namespace bbtrack
