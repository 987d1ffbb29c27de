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

// In r.m.s. beam sizes: the beta-scaled values divided by sqrt(emit).
inline Normalised beam_size_units(const State& st, int32 slot) {
  const auto& c = st.coord.coord;
  const auto& tw = st.twiss;
  const double se = std::sqrt(st.bb.emit);
  const double x = c(slot, 1), xp = c(slot, 2), y = c(slot, 3), yp = c(slot, 4);
  return {x / (std::sqrt(tw.betx) * se), (tw.alfx * x / tw.betx + xp) * std::sqrt(tw.betx) / se,
          y / (std::sqrt(tw.bety) * se), (tw.alfy * y / tw.bety + yp) * std::sqrt(tw.bety) / se};
}

}  // namespace bbtrack
