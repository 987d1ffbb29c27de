// errf_fast for a register of arguments, one per lane, bit for bit as the
// scalar errf_fast computes each: the same first-quadrant template
// (kicks/errf_fast.h) instantiated for the lane type, then the real-axis
// rule and the other quadrants lane by lane through errf_tail.
//
// Included only by the translation units compiled for a processor (see
// errf_lanes.h); internal linkage.
#pragma once

#include "kicks/errf.h"
#include "kicks/errf_fast.h"
#include "kicks/vector/errf_lanes.h"

namespace bbtrack {
namespace {

// errf_fast of K arguments per lane. The exponentials queued in `side` are
// left to the caller (side.finish()): a library call in the middle of the
// sum would spill the registers it keeps.
template <class V, int K>
void errf_fast_lanes(const D<V> (&xx)[K], const D<V> (&yy)[K], D<V> (&wx)[K], D<V> (&wy)[K]) {
  D<V> x[K], y[K];
  for (int k = 0; k < K; ++k) {
    x[k] = V::abs(xx[k]);
    y[k] = V::abs(yy[k]);
  }
  // Two arguments at a time: their four chains keep in the registers.
  for (int k = 0; k + 1 < K; k += 2) {
    const D<V> px[2] = {x[k], x[k + 1]}, py[2] = {y[k], y[k + 1]};
    D<V> qx[2], qy[2];
    errf_fast_detail::first_quadrant<V, 2>(px, py, qx, qy);
    wx[k] = qx[0], wx[k + 1] = qx[1];
    wy[k] = qy[0], wy[k + 1] = qy[1];
  }
  if (K % 2 == 1) {
    const D<V> px[1] = {x[K - 1]}, py[1] = {y[K - 1]};
    D<V> qx[1], qy[1];
    errf_fast_detail::first_quadrant<V, 1>(px, py, qx, qy);
    wx[K - 1] = qx[0];
    wy[K - 1] = qy[0];
  }

  finish_tail_lanes<V, K>(xx, yy, wx, wy);
}

// errf_fast of n arguments by errf_fast_lanes.
template <class V>
void errf_fast_array(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_array_by<V>(xx, yy, wx, wy, n, [](const D<V>(&zx)[2], const D<V>(&zy)[2],
                                         D<V>(&re)[2], D<V>(&im)[2]) {
    errf_fast_lanes<V, 2>(zx, zy, re, im);
  });
}

}  // namespace
}  // namespace bbtrack
