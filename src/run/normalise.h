// Normalised coordinates at the observation point.
#pragma once

#include <cmath>

#include "run/state.h"

namespace bbtrack {

struct Normalised {
  double x, px, y, py;
};

// Beta-scaled: x / sqrt(beta), (alpha x / beta + x') sqrt(beta).
inline Normalised beta_scaled(const State& st, int32 slot) {
  const auto& c = st.coord.coord;
  const auto& tw = st.twiss;
  const double x = c(slot, 1), xp = c(slot, 2), y = c(slot, 3), yp = c(slot, 4);
  return {x / std::sqrt(tw.betx), (tw.alfx * x / tw.betx + xp) * std::sqrt(tw.betx),
          y / std::sqrt(tw.bety), (tw.alfy * y / tw.bety + yp) * std::sqrt(tw.bety)};
}

// In r.m.s. beam sizes: the beta-scaled values of the Twiss functions
// betx, alfx, bety, alfy divided by sx, sy, the square roots of the planes'
// emittances.
inline Normalised in_beam_sizes(double x, double xp, double y, double yp, double betx,
                                double alfx, double bety, double alfy, double sx, double sy) {
  return {x / (std::sqrt(betx) * sx), (alfx * x / betx + xp) * std::sqrt(betx) / sx,
          y / (std::sqrt(bety) * sy), (alfy * y / bety + yp) * std::sqrt(bety) / sy};
}

// In r.m.s. beam sizes at the run's emittance.
inline Normalised beam_size_units(const State& st, int32 slot) {
  const auto& c = st.coord.coord;
  const auto& tw = st.twiss;
  const double se = std::sqrt(st.bb.emit);
  return in_beam_sizes(c(slot, 1), c(slot, 2), c(slot, 3), c(slot, 4), tw.betx, tw.alfx, tw.bety,
                       tw.alfy, se, se);
}

}  // namespace bbtrack
