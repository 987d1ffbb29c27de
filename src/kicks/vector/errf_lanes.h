// The complex error function for a register of arguments, one per lane,
// bit for bit as errf computes it for each: both regions' schemes where the
// lanes need both, chosen per lane by a mask; the step counts of the inner
// region per lane, the register looping as often as its longest lane needs
// while a lane whose count is done keeps its values (the steps that every
// lane takes need no mask); the real-axis rule and the other quadrants lane
// by lane through errf_tail, the scalar code itself.
//
// Templated on the lane type (simd_avx2.h, simd_avx512.h) and included
// only by the translation unit compiled for that processor; internal linkage
// for the reason given in simd_avx512.h.
#pragma once

#include <cmath>

#include "kicks/errf.h"

namespace bbtrack {
namespace {

// A register of doubles and a lane mask of the lane type V.
template <class V>
using D = typename V::D;
template <class V>
using M = typename V::M;

// Exponentials of a set of lanes, computed a few at a time between the
// steps of a continued fraction: the library calls then run on the other
// execution ports while the divider works on the fraction. Each value is
// the same std::exp call as in the scalar code, whenever it is made.
struct ExpQueue {
  double* t;
  int size;
  int done = 0;
  void run(int count) {
    for (const int end = done + count < size ? done + count : size; done < end; ++done)
      t[done] = std::exp(t[done]);
  }
  void finish() { run(size); }
  // Calls per step to be done within a fraction of `steps` steps.
  int per_step(int steps) const { return (size - done + steps - 1) / steps; }
};

// The smallest and the largest lane of a register of whole numbers.
template <class V>
void lane_range(D<V> a, int& lo, int& hi) {
  alignas(64) double t[V::kWidth];
  V::store(t, a);
  double l = t[0], h = t[0];
  for (int i = 1; i < V::kWidth; ++i) {
    l = t[i] < l ? t[i] : l;
    h = t[i] > h ? t[i] : h;
  }
  lo = static_cast<int>(l);
  hi = static_cast<int>(h);
}

// lambda^(1 - nc) for nc >= 7 as ipow does it: with m = nc - 1, repeated
// squaring from the lowest bit of m, the factor of each set bit multiplied
// in as it comes, then one division. m <= 29 has five bits; a lane whose
// higher bits are clear is not touched by them.
template <class V>
D<V> ipow_negative(D<V> lambda, D<V> m) {
  D<V> y = V::select(V::bit_set(m, 0), lambda, V::set1(1.0));
  D<V> p = lambda;
  for (int bit = 1; bit < 5; ++bit) {
    p = p * p;
    y = V::select(V::bit_set(m, bit), y * p, y);
  }
  return V::set1(1.0) / y;
}

// The same for a register whose lanes all have the same m: the set bits are
// known, and each lane takes the same products as above.
template <class V>
D<V> ipow_negative(D<V> lambda, int m) {
  D<V> y = m & 1 ? lambda : V::set1(1.0);
  D<V> p = lambda;
  for (int bit = 1; bit < 5; ++bit) {
    p = p * p;
    if ((m >> bit) & 1) y = y * p;
  }
  return V::set1(1.0) / y;
}

// Lanes on the real axis or outside the first quadrant finish one by one,
// by errf's own rule (errf_tail), from their first-quadrant value in wx, wy.
template <class V, int K>
void finish_tail_lanes(const D<V> (&xx)[K], const D<V> (&yy)[K], D<V> (&wx)[K], D<V> (&wy)[K]) {
  const D<V> zero = V::set1(0.0);
  M<V> tail[K];
  for (int k = 0; k < K; ++k) tail[k] = V::lor(V::le(yy[k], zero), V::lt(xx[k], zero));
  M<V> any_tail = tail[0];
  for (int k = 1; k < K; ++k) any_tail = V::lor(any_tail, tail[k]);
  if (!V::any(any_tail)) return;
  for (int k = 0; k < K; ++k) {
    if (!V::any(tail[k])) continue;
    alignas(64) double a[V::kWidth], b[V::kWidth], re[V::kWidth], im[V::kWidth];
    V::store(a, xx[k]);
    V::store(b, yy[k]);
    V::store(re, wx[k]);
    V::store(im, wy[k]);
    for (int i = 0; i < V::kWidth; ++i)
      if (V::lane(tail[k], i)) errf_tail(a[i], b[i], re[i], im[i]);
    wx[k] = V::load(re);
    wy[k] = V::load(im);
  }
}

// errf of K arguments per lane at once; their continued fractions are
// independent chains of divisions that the processor overlaps.
template <class V, int K>
void errf_lanes(const D<V> (&xx)[K], const D<V> (&yy)[K], D<V> (&wx)[K], D<V> (&wy)[K],
                ExpQueue& side) {
  const D<V> zero = V::set1(0.0);
  const D<V> one = V::set1(1.0);
  const D<V> half = V::set1(0.5);
  const D<V> cc = V::set1(1.12837916709551);
  // Every lane is written by one of the two schemes below; starting from
  // zero keeps the compiler from seeing a read of an unset register.
  for (int k = 0; k < K; ++k) wx[k] = wy[k] = zero;

  // Per argument k: whether any of its lanes is in the inner region and
  // whether any is outside it; a scheme no lane needs is not computed.
  D<V> x[K], y[K];
  M<V> inner[K];
  bool some_inner[K], some_outer[K];
  bool any_inner = false, any_outer = false;
  for (int k = 0; k < K; ++k) {
    x[k] = V::abs(xx[k]);
    y[k] = V::abs(yy[k]);
    inner[k] = V::land(V::lt(y[k], V::set1(4.29)), V::lt(x[k], V::set1(5.33)));
    some_inner[k] = V::any(inner[k]);
    some_outer[k] = !V::all(inner[k]);
    any_inner = any_inner || some_inner[k];
    any_outer = any_outer || some_outer[k];
  }

  if (any_inner) {
    D<V> lambda[K], nc[K], nu[K], xl[K], xh[K];
    int numax[K], ncmax[K], numin[K], ncmin[K], nmax = 0;
    for (int k = 0; k < K; ++k) {
      numax[k] = ncmax[k] = numin[k] = ncmin[k] = 0;
      lambda[k] = nc[k] = nu[k] = xl[k] = xh[k] = zero;
      if (!some_inner[k]) continue;
      const D<V> xr = x[k] * V::set1(0.18761726078799248);
      D<V> s = (one - y[k] * V::set1(0.2331002331002331)) * V::sqrt(one - xr * xr);
      // Lanes of the outer region get a harmless s with the fewest steps
      // (nc = 7, nu = 10); their inner result is discarded.
      s = V::select(inner[k], s, V::set1(0.03125));
      lambda[k] = one / (V::set1(3.2) * s);
      nc[k] = V::trunc(V::set1(23.0) * s) + V::set1(7.0);
      nu[k] = V::trunc(V::set1(21.0) * s) + V::set1(10.0);
      lane_range<V>(nu[k], numin[k], numax[k]);
      lane_range<V>(nc[k], ncmin[k], ncmax[k]);
      xl[k] = ncmin[k] == ncmax[k] ? ipow_negative<V>(lambda[k], ncmin[k] - 1)
                                   : ipow_negative<V>(lambda[k], nc[k] - one);
      xh[k] = y[k] + half / lambda[k];
      nmax = numax[k] > nmax ? numax[k] : nmax;
    }
    // The continued fraction runs n = nu .. 1 and the sum n = nc .. 1 with
    // nc < nu; both descend, so the sum's step n follows right after the
    // fraction has produced rx(n), ry(n), and no table of them is kept.
    // rx, ry hold rx(n+1), ry(n+1): zero above a lane's nu.
    D<V> rx[K], ry[K], sx[K], sy[K];
    for (int k = 0; k < K; ++k) rx[k] = ry[k] = sx[k] = sy[k] = zero;
    // Step n of argument k's fraction and of its sum, for a step that all
    // its lanes take.
    auto fraction_step = [&](int k, D<V> dn) {
      const D<V> tx = xh[k] + dn * rx[k];
      const D<V> ty = x[k] - dn * ry[k];
      const D<V> tn = tx * tx + ty * ty;
      rx[k] = half * tx / tn;
      ry[k] = half * ty / tn;
    };
    auto sum_step = [&](int k) {
      const D<V> saux = sx[k] + xl[k];
      const D<V> sxn = rx[k] * saux - ry[k] * sy[k];  // both from the old sy
      const D<V> syn = rx[k] * sy[k] + ry[k] * saux;
      sx[k] = sxn;
      sy[k] = syn;
      xl[k] = xl[k] * lambda[k];
    };
    // Below the smallest counts of all K arguments every lane takes the
    // step: no masks and no tests per argument.
    int all_nu = nmax, all_nc = nmax, any_nc = 0;
    for (int k = 0; k < K; ++k) {
      all_nu = numin[k] < all_nu ? numin[k] : all_nu;
      all_nc = ncmin[k] < all_nc ? ncmin[k] : all_nc;
      any_nc = ncmax[k] > any_nc ? ncmax[k] : any_nc;
    }
    const int side_step = side.per_step(nmax);
    for (int n = nmax; n >= 1; --n) {
      side.run(side_step);
      const D<V> dn = V::set1(static_cast<double>(n));
      if (n <= all_nu && n > any_nc) {
        for (int k = 0; k < K; ++k) fraction_step(k, dn);
        continue;
      }
      if (n <= all_nu && n <= all_nc) {
        for (int k = 0; k < K; ++k) {
          fraction_step(k, dn);
          sum_step(k);
        }
        continue;
      }
      for (int k = 0; k < K; ++k) {
        if (n > numax[k]) continue;
        const D<V> tx = xh[k] + dn * rx[k];
        const D<V> ty = x[k] - dn * ry[k];
        const D<V> tn = tx * tx + ty * ty;
        const M<V> on = V::le(dn, nu[k]);
        rx[k] = V::select(on, half * tx / tn, zero);
        ry[k] = V::select(on, half * ty / tn, zero);
        if (n > ncmax[k]) continue;
        const M<V> sum = V::le(dn, nc[k]);
        const D<V> saux = sx[k] + xl[k];
        const D<V> sxn = rx[k] * saux - ry[k] * sy[k];  // both from the old sy
        const D<V> syn = rx[k] * sy[k] + ry[k] * saux;
        sx[k] = V::select(sum, sxn, sx[k]);
        sy[k] = V::select(sum, syn, sy[k]);
        xl[k] = V::select(sum, xl[k] * lambda[k], xl[k]);
      }
    }
    for (int k = 0; k < K; ++k) {
      wx[k] = cc * sx[k];
      wy[k] = cc * sy[k];
    }
  }

  if (any_outer) {
    D<V> rx[K], ry[K];
    for (int k = 0; k < K; ++k) rx[k] = ry[k] = zero;
    const int side_step = side.per_step(9);
    for (int n = 9; n >= 1; --n) {
      side.run(side_step);
      const D<V> dn = V::set1(static_cast<double>(n));
      for (int k = 0; k < K; ++k) {
        if (!some_outer[k]) continue;
        const D<V> tx = y[k] + dn * rx[k];
        const D<V> ty = x[k] - dn * ry[k];
        const D<V> tn = tx * tx + ty * ty;
        rx[k] = half * tx / tn;
        ry[k] = half * ty / tn;
      }
    }
    for (int k = 0; k < K; ++k) {
      if (!some_outer[k]) continue;
      wx[k] = some_inner[k] ? V::select(inner[k], wx[k], cc * rx[k]) : cc * rx[k];
      wy[k] = some_inner[k] ? V::select(inner[k], wy[k], cc * ry[k]) : cc * ry[k];
    }
  }

  finish_tail_lanes<V, K>(xx, yy, wx, wy);
}

// An evaluation of w by the lanes on n arguments, two registers at a time;
// the arguments past n in the last pair are copies of the first. eval(zx,
// zy, re, im) takes and fills arrays of two registers.
template <class V, class Eval>
void errf_array_by(const double* xx, const double* yy, double* wx, double* wy, int n,
                   Eval eval) {
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
    eval(zx, zy, re, im);
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

// errf of n arguments by errf_lanes (two fractions in flight).
template <class V>
void errf_array(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_array_by<V>(xx, yy, wx, wy, n, [](const D<V>(&zx)[2], const D<V>(&zy)[2], D<V>(&re)[2],
                                         D<V>(&im)[2]) {
    ExpQueue none{nullptr, 0};
    errf_lanes<V, 2>(zx, zy, re, im, none);
  });
}

}  // namespace
}  // namespace bbtrack
