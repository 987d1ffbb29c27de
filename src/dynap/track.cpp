#include "dynap/track.h"

#include <cmath>
#include <limits>

#include "run/normalise.h"
#include "spectral/refined_tune.h"

namespace bbtrack {
namespace {

using cplx = std::complex<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kSignals = 4;  // two windows, two planes

// Tune difference across the fold of [0, 1): the shorter way round.
double tune_change(double a, double b) {
  double d = b - a;
  if (d > 0.5) d -= 1.0;
  if (d < -0.5) d += 1.0;
  return d;
}

}  // namespace

StudyOptics study_optics(const State& st) {
  StudyOptics o;
  const auto& tw = st.twiss;
  o.betx = tw.betx;
  o.alfx = tw.alfx;
  o.bety = tw.bety;
  o.alfy = tw.alfy;
  o.emx = st.ring.active ? st.ring.emit1 : st.bb.emit;
  o.emy = st.ring.active ? st.ring.emit2 : st.bb.emit;
  o.coupled = st.ring.active && st.ring.coupled;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      o.a[i][j] = st.ring.a[i][j];
      o.ainv[i][j] = st.ring.ainv[i][j];
    }
  o.six_d = st.ring.active && st.ring.six_d;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      o.a6[i][j] = st.ring.a6[i][j];
      o.ainv6[i][j] = st.ring.ainv6[i][j];
    }
  return o;
}

namespace {

// The r.m.s. beam sizes in x and y (m): sqrt(beta emit), or for a coupled
// ring the projections of both modes, sqrt(sum_k emit_k (A_i,2k^2 + A_i,2k+1^2)).
void beam_sizes(const StudyOptics& o, double& sx, double& sy) {
  if (!o.coupled) {
    sx = std::sqrt(o.betx * o.emx);
    sy = std::sqrt(o.bety * o.emy);
    return;
  }
  auto size = [&](int i) {
    return std::sqrt(o.emx * (o.a[i][0] * o.a[i][0] + o.a[i][1] * o.a[i][1]) +
                     o.emy * (o.a[i][2] * o.a[i][2] + o.a[i][3] * o.a[i][3]));
  };
  sx = size(0);
  sy = size(2);
}

// The six-dimensional normal coordinates z = A6^-1 x.
void normal6(const StudyOptics& o, const double (&x)[6], double (&z)[6]) {
  for (int i = 0; i < 6; ++i) {
    double s = 0.0;
    for (int j = 0; j < 6; ++j) s += o.ainv6[i][j] * x[j];
    z[i] = s;
  }
}

// Normalised coordinates in beam sizes (beam_size_units of the run, with
// each mode's emittance).
Normalised normalised(const StudyOptics& o, double x, double xp, double y, double yp) {
  if (!o.coupled)
    return in_beam_sizes(x, xp, y, yp, o.betx, o.alfx, o.bety, o.alfy, std::sqrt(o.emx),
                         std::sqrt(o.emy));
  const double c[4] = {x, xp, y, yp};
  double z[4];
  for (int i = 0; i < 4; ++i)
    z[i] = o.ainv[i][0] * c[0] + o.ainv[i][1] * c[1] + o.ainv[i][2] * c[2] + o.ainv[i][3] * c[3];
  const double sx = std::sqrt(o.emx), sy = std::sqrt(o.emy);
  return {z[0] / sx, z[1] / sx, z[2] / sy, z[3] / sy};
}

}  // namespace

// The start with synchrotron motion: z = (x1, p1, x2, p2, x3, p3) with
// x1, x2 given and p1, p2, x3, p3 from x' = y' = 0, z = p.z, delta = p.d:
// rows 2, 4, 5, 6 of A6 z, solved by Gaussian elimination.
void start_6d(const StudyOptics& o, DynapParticle& p) {
  const double x1 = p.ax * std::sqrt(o.emx), x2 = p.ay * std::sqrt(o.emy);
  const int row[4] = {1, 3, 4, 5}, col[4] = {1, 3, 4, 5};
  const double want[4] = {0.0, 0.0, p.z, p.d};
  double m[4][5];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m[r][c] = o.a6[row[r]][col[c]];
    m[r][4] = want[r] - o.a6[row[r]][0] * x1 - o.a6[row[r]][2] * x2;
  }
  for (int c = 0; c < 4; ++c) {
    int piv = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
    for (int k = 0; k < 5; ++k) std::swap(m[c][k], m[piv][k]);
    for (int r = c + 1; r < 4; ++r) {
      const double f = m[r][c] / m[c][c];
      for (int k = c; k < 5; ++k) m[r][k] -= f * m[c][k];
    }
  }
  double u[4];
  for (int r = 3; r >= 0; --r) {
    double s = m[r][4];
    for (int k = r + 1; k < 4; ++k) s -= m[r][k] * u[k];
    u[r] = s / m[r][r];
  }
  const double z[6] = {x1, u[0], x2, u[1], u[2], u[3]};
  double x[6];
  for (int i = 0; i < 6; ++i) {
    double s = 0.0;
    for (int j = 0; j < 6; ++j) s += o.a6[i][j] * z[j];
    x[i] = s;
  }
  p.x = x[0];
  p.px = 0.0;
  p.y = x[2];
  p.py = 0.0;
  p.z = x[4];
  p.d = x[5];
}

void dynap_start(const State& st, DynapParticle& p) {
  const StudyOptics o = study_optics(st);
  if (o.six_d) {
    start_6d(o, p);
    return;
  }
  if (!o.coupled) {
    p.x = p.ax * std::sqrt(o.betx * o.emx);
    p.px = 0.0;
    p.y = p.ay * std::sqrt(o.bety * o.emy);
    p.py = 0.0;
    return;
  }
  // z = (x1, p1, x2, p2) with x1, x2 given and p1, p2 from x' = y' = 0:
  // rows 2 and 4 of A z = 0 for (p1, p2), by Cramer's rule.
  const auto& a = o.a;
  const double x1 = p.ax * std::sqrt(o.emx), x2 = p.ay * std::sqrt(o.emy);
  const double r1 = -(a[1][0] * x1 + a[1][2] * x2), r2 = -(a[3][0] * x1 + a[3][2] * x2);
  const double det = a[1][1] * a[3][3] - a[1][3] * a[3][1];
  const double p1 = (r1 * a[3][3] - a[1][3] * r2) / det;
  const double p2 = (a[1][1] * r2 - r1 * a[3][1]) / det;
  p.x = a[0][0] * x1 + a[0][1] * p1 + a[0][2] * x2 + a[0][3] * p2;
  p.px = 0.0;
  p.y = a[2][0] * x1 + a[2][1] * p1 + a[2][2] * x2 + a[2][3] * p2;
  p.py = 0.0;
}

DynapTracker::DynapTracker(State& st, FastTurn& turner, std::int64_t turns, std::int64_t window,
                           double aperture)
    : st_(st), turner_(turner), optics_(study_optics(st)), turns_(turns), window_(window) {
  double sx, sy;
  beam_sizes(optics_, sx, sy);
  limit_x_ = aperture * sx;
  limit_y_ = aperture * sy;
}

std::size_t DynapTracker::bytes_per_particle(std::int64_t window) {
  return static_cast<std::size_t>(kSignals) * static_cast<std::size_t>(window) * sizeof(cplx);
}

std::span<const cplx> DynapTracker::sync_signal(std::size_t i) const {
  const auto n = static_cast<std::size_t>(window_);
  return {sigs_.data() + i * n, n};
}

std::span<const cplx> DynapTracker::signal(std::size_t i, int w, int plane) const {
  const auto n = static_cast<std::size_t>(window_);
  return {sig_.data() + (i * kSignals + static_cast<std::size_t>(2 * w + plane)) * n, n};
}

void DynapTracker::begin(std::span<DynapParticle> batch) {
  const int n = static_cast<int>(batch.size());
  id_.resize(static_cast<std::size_t>(n));
  for (int s = 1; s <= n; ++s) {
    const DynapParticle& p = batch[static_cast<std::size_t>(s - 1)];
    st_.coord.coord(s, 1) = p.x;
    st_.coord.coord(s, 2) = p.px;
    st_.coord.coord(s, 3) = p.y;
    st_.coord.coord(s, 4) = p.py;
    st_.lcoord.z[s - 1] = p.z;
    st_.lcoord.d[s - 1] = p.d;
    id_[static_cast<std::size_t>(s - 1)] = s - 1;
  }
  st_.np.npart = n;
  st_.np.nlost = 0;
  st_.turn.n = 0;  // every batch starts on turn 1: the same ripple and modulation
  sig_.assign(batch.size() * kSignals * static_cast<std::size_t>(window_), cplx(0.0, 0.0));
  if (optics_.six_d) sigs_.assign(batch.size() * static_cast<std::size_t>(window_), cplx(0.0, 0.0));
  for (DynapParticle& p : batch) {
    p.turns = turns_;
    p.lost = false;
  }
}

void DynapTracker::step(std::span<DynapParticle> batch, std::int64_t t) {
  turner_.turn(st_);
  auto& c = st_.coord.coord;
  const bool record = t <= 2 * window_;
  const std::int64_t w = record ? (t - 1) / window_ : 0;
  const auto at = static_cast<std::size_t>(record ? (t - 1) % window_ : 0);
  const auto n = static_cast<std::size_t>(window_);
  int kept = 0;
  for (int s = 1; s <= st_.np.npart; ++s) {
    const int id = id_[static_cast<std::size_t>(s - 1)];
    // A position that is not a number fails both tests and counts as lost.
    if (!(std::fabs(c(s, 1)) <= limit_x_) || !(std::fabs(c(s, 3)) <= limit_y_)) {
      DynapParticle& p = batch[static_cast<std::size_t>(id)];
      p.lost = true;
      p.turns = t;
      continue;
    }
    ++kept;
    if (kept != s) {
      for (int m = 1; m <= 4; ++m) c(kept, m) = c(s, m);
      st_.lcoord.z[kept - 1] = st_.lcoord.z[s - 1];
      st_.lcoord.d[kept - 1] = st_.lcoord.d[s - 1];
      id_[static_cast<std::size_t>(kept - 1)] = id;
    }
    if (record && optics_.six_d) {
      // The three modes' normalised coordinates: x1 - i p1 and x2 - i p2 in
      // beam sizes, x3 - i p3 (window 1) for the synchrotron tune.
      const double x[6] = {c(kept, 1), c(kept, 2), c(kept, 3), c(kept, 4),
                           st_.lcoord.z[kept - 1], st_.lcoord.d[kept - 1]};
      double z[6];
      normal6(optics_, x, z);
      const double sx = std::sqrt(optics_.emx), sy = std::sqrt(optics_.emy);
      const std::size_t base = static_cast<std::size_t>(id) * kSignals + 2 * static_cast<std::size_t>(w);
      sig_[base * n + at] = cplx(z[0] / sx, -z[1] / sx);
      sig_[(base + 1) * n + at] = cplx(z[2] / sy, -z[3] / sy);
      if (w == 0) sigs_[static_cast<std::size_t>(id) * n + at] = cplx(z[4], -z[5]);
    } else if (record) {
      const Normalised nc = normalised(optics_, c(kept, 1), c(kept, 2), c(kept, 3), c(kept, 4));
      const std::size_t base = static_cast<std::size_t>(id) * kSignals + 2 * static_cast<std::size_t>(w);
      sig_[base * n + at] = cplx(nc.x, -nc.px);
      sig_[(base + 1) * n + at] = cplx(nc.y, -nc.py);
    }
  }
  st_.np.nlost += st_.np.npart - kept;
  st_.np.npart = kept;
}

void DynapTracker::finish(std::span<DynapParticle> batch) {
  const auto count = static_cast<std::int64_t>(batch.size());
  // Each particle's tunes are its own: the threads share the batch out
  // without changing any result.
#pragma omp parallel num_threads(turner_.threads())
  {
    TuneWork work;
#pragma omp for schedule(dynamic, 8)
    for (std::int64_t i = 0; i < count; ++i) {
      DynapParticle& p = batch[static_cast<std::size_t>(i)];
      double q[kSignals] = {kNaN, kNaN, kNaN, kNaN};
      for (int w = 0; w < 2 && window_ > 0; ++w) {
        if (p.lost && p.turns <= (w + 1) * window_) break;
        for (int plane = 0; plane < 2; ++plane)
          q[2 * w + plane] = refined_tune(signal(static_cast<std::size_t>(i), w, plane), work);
      }
      p.qx1 = q[0];
      p.qy1 = q[1];
      p.qx2 = q[2];
      p.qy2 = q[3];
      p.qs = kNaN;
      if (optics_.six_d && window_ > 0 && !(p.lost && p.turns <= window_))
        p.qs = refined_tune(sync_signal(static_cast<std::size_t>(i)), work);
      const double dx = tune_change(p.qx1, p.qx2), dy = tune_change(p.qy1, p.qy2);
      p.diffusion = std::log10(std::sqrt(dx * dx + dy * dy));  // NaN when a tune is
    }
  }
}

}  // namespace bbtrack
