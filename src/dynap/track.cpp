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

void dynap_start(const State& st, DynapParticle& p) {
  p.x = p.ax * std::sqrt(st.twiss.betx * st.bb.emit);
  p.px = 0.0;
  p.y = p.ay * std::sqrt(st.twiss.bety * st.bb.emit);
  p.py = 0.0;
}

DynapTracker::DynapTracker(State& st, FastTurn& turner, std::int64_t turns, std::int64_t window,
                           double aperture)
    : st_(st),
      turner_(turner),
      turns_(turns),
      window_(window),
      limit_x_(aperture * std::sqrt(st.twiss.betx * st.bb.emit)),
      limit_y_(aperture * std::sqrt(st.twiss.bety * st.bb.emit)) {}

std::size_t DynapTracker::bytes_per_particle(std::int64_t window) {
  return static_cast<std::size_t>(kSignals) * static_cast<std::size_t>(window) * sizeof(cplx);
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
    id_[static_cast<std::size_t>(s - 1)] = s - 1;
  }
  st_.np.npart = n;
  st_.np.nlost = 0;
  st_.turn.n = 0;  // every batch starts on turn 1: the same ripple and modulation
  sig_.assign(batch.size() * kSignals * static_cast<std::size_t>(window_), cplx(0.0, 0.0));
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
      id_[static_cast<std::size_t>(kept - 1)] = id;
    }
    if (record) {
      const Normalised nc = beam_size_units(st_, kept);
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
      const double dx = tune_change(p.qx1, p.qx2), dy = tune_change(p.qy1, p.qy2);
      p.diffusion = std::log10(std::sqrt(dx * dx + dy * dy));  // NaN when a tune is
    }
  }
}

}  // namespace bbtrack
