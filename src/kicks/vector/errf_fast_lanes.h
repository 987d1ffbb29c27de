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

  const D<V> zero = V::set1(0.0);
  for (int k = 0; k < K; ++k) {
    const M<V> tail = V::lor(V::eq(y[k], zero), V::lor(V::lt(yy[k], zero), V::lt(xx[k], zero)));
    if (!V::any(tail)) continue;
    alignas(64) double a[V::kWidth], b[V::kWidth], re[V::kWidth], im[V::kWidth];
    V::store(a, xx[k]);
    V::store(b, yy[k]);
    V::store(re, wx[k]);
    V::store(im, wy[k]);
    for (int i = 0; i < V::kWidth; ++i)
      if (V::lane(tail, i)) errf_tail(a[i], b[i], re[i], im[i]);
    wx[k] = V::load(re);
    wy[k] = V::load(im);
  }
}

// errf_fast of n arguments, two registers at a time; the arguments past n in
// the last pair are copies of the first.
template <class V>
void errf_fast_array(const double* xx, const double* yy, double* wx, double* wy, int n) {
  constexpr int W = V::kWidth;
  for (int first = 0; first < n; first += 2 * W) {
    alignas(64) double a[2][2 * W], w[2][2 * W];
    for (int i = 0; i < 2 * W; ++i) {
      const int from = first + i < n ? first + i : 0;
      a[0][i] = xx[from];
      a[1][i] = yy[from];
    }
    const D<V> zx[2] = {V::load(a[0]), V::load(a[0] + W)};
    const D<V> zy[2] = {V::load(a[1]), V::load(a[1] + W)};
    D<V> re[2], im[2];
    errf_fast_lanes<V, 2>(zx, zy, re, im);
    for (int k = 0; k < 2; ++k) {
      V::store(w[0] + k * W, re[k]);
      V::store(w[1] + k * W, im[k]);
    }
    for (int i = 0; i < 2 * W && first + i < n; ++i) {
      wx[first + i] = w[0][i];
      wy[first + i] = w[1][i];
    }
  }
}

}  // namespace
}  // namespace bbtrack
