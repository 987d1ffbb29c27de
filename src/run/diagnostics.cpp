#include "run/diagnostics.h"

#include <algorithm>
#include <cmath>

namespace bbtrack {

void overflow(State& st) {
  auto& c = st.coord.coord;
  auto& fp = st.fp;
  auto& fmap = st.fmap;
  const int32 n = st.np.npart;
  int32 kept = 0;
  for (int32 s = 1; s <= n; ++s) {
    const double x = c(s, 1), y = c(s, 3);
    if (!(std::fabs(x) <= kAmax && std::fabs(y) <= kAmax)) {
      ++st.np.nlost;
      continue;
    }
    ++kept;
    if (kept == s) continue;
    for (int m = 1; m <= 4; ++m) c(kept, m) = c(s, m);
    fp.fpidx(kept, 1) = fp.fpidx(s, 1);
    fp.fpidx(kept, 2) = fp.fpidx(s, 2);
    fp.owner(kept) = fp.owner(s);
    if (s <= fmap.nslot) {
      // A turn-by-turn row is the history of one particle: it moves with it.
      auto from = fmap.v.begin() + static_cast<std::ptrdiff_t>((s - 1)) * fmap.nsample * 4;
      auto to = fmap.v.begin() + static_cast<std::ptrdiff_t>((kept - 1)) * fmap.nsample * 4;
      std::copy(from, from + static_cast<std::ptrdiff_t>(fmap.nsample) * 4, to);
    }
  }
  st.np.npart = kept;
}

void varwire(State& st, double& varx, double& vary) {
  const auto& c = st.coord.coord;
  const auto& tw = st.twiss;
  const int32 n = st.np.npart;
  if (n <= 0) {
    // No particle left: no spread (rather than 0/0).
    varx = 0.0;
    vary = 0.0;
    return;
  }
  double s1 = 0.0, s2 = 0.0, q1 = 0.0, q2 = 0.0;
  for (int32 i = 1; i <= n; ++i) {
    const double x = c(i, 1), xp = c(i, 2), y = c(i, 3), yp = c(i, 4);
    const double px = tw.alfx * x / tw.betx + xp;
    const double py = tw.alfy * y / tw.bety + yp;
    const double wx = x * x / tw.betx + tw.betx * (px * px);
    const double wy = y * y / tw.bety + tw.bety * (py * py);
    s1 = s1 + wx;
    s2 = s2 + wy;
    q1 = q1 + wx * wx;
    q2 = q2 + wy * wy;
  }
  const double dn = static_cast<double>(n);
  const double m1 = s1 / dn, m2 = s2 / dn, e1 = q1 / dn, e2 = q2 / dn;
  varx = std::sqrt(std::fabs(e1 - m1 * m1)) / st.bb.emit;
  vary = std::sqrt(std::fabs(e2 - m2 * m2)) / st.bb.emit;
}

void runav(State& st, double varx, double vary, double& avx, double& avy, int32 iturn) {
  auto& ave = st.ave.ave;
  const int32 r = iturn % 1000 + 1;
  if (iturn == 1) ave.fill(0.0);
  ave(r, 1) = varx;
  ave(r, 2) = vary;
  if (iturn < 1000) {
    avx = 0.0;
    avy = 0.0;
    return;
  }
  // Summed afresh every turn, in row order: no running sum is carried.
  double sx = 0.0, sy = 0.0;
  for (int32 row = 1; row <= 1000; ++row) sx = sx + ave(row, 1);
  for (int32 row = 1; row <= 1000; ++row) sy = sy + ave(row, 2);
  avx = 0.001 * sx;
  avy = 0.001 * sy;
}

}  // namespace bbtrack
