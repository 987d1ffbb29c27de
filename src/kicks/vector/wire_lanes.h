// The wire kicks of one point for B blocks of particles, one particle per
// lane: the operations of wirekicks (kicks/wire.cpp) in the same order, so
// every lane rounds exactly as the scalar kick does for its particle.
// Included by block_turn.h; internal linkage as there.
#pragma once

#include "kicks/vector/errf_lanes.h"
#include "run/state.h"

namespace bbtrack {
namespace {

template <class V, int B>
void wire_kicks(const WireKick* w, int n, D<V>* x, D<V>* xp, D<V>* y, D<V>* yp) {
  for (int m = 0; m < n; ++m) {
    const D<V> xw = V::set1(w[m].xw);
    const D<V> yw = V::set1(w[m].yw);
    const D<V> kw = V::set1(w[m].kw);
    const D<V> fk1 = V::set1(w[m].fk1);
    const D<V> fk2 = V::set1(w[m].fk2);
    for (int j = 0; j < B; ++j) {
      const D<V> u = x[j] - xw;
      const D<V> v = y[j] - yw;
      const D<V> r2 = u * u + v * v;
      const D<V> gx = u / r2;
      const D<V> gy = v / r2;
      xp[j] = xp[j] + (fk2 - kw * gx);
      yp[j] = yp[j] + (fk1 - kw * gy);
    }
  }
}

}  // namespace
}  // namespace bbtrack
