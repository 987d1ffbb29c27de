// The complex error function w(z) = exp(-z^2) erfc(-i z), written once over
// the lane type: errf is its one-lane instance, the particle blocks use it
// on registers, each lane computing bit for bit what errf computes for its
// argument. Both regions' schemes run where a register's lanes need both,
// chosen per lane by a mask; the step counts of the inner region are per
// lane, the register looping as often as its longest lane needs while a
// lane whose count is done keeps its values (the steps that every lane
// takes need no mask); the real-axis rule and the other quadrants go lane
// by lane through errf_tail.
//
// Internal linkage: included by translation units compiled for different
// processors (see lanes/lane.h).
#pragma once

#include <cmath>

#include "kicks/errf.h"
#include "kicks/lanes/lane.h"

namespace bbtrack {

// The scheme of the first quadrant and its constants are those of
// W. Gautschi's algorithm (SIAM J. Numer. Anal. 7 (1970) 187; Comm. ACM 12
// (1969) 635, Algorithm 363), with his values for an absolute error of
// about 1e-10 (about 1e-9 at worst, near the corner (5.33, 4.29), as
// tests/kicks/errf_test.cpp measures): inside the rectangle y < 4.29, x < 5.33 a summed continued
// fraction whose length follows s = (1 - y/4.29) sqrt(1 - (x/5.33)^2),
// which falls from 1 at the origin to 0 on the border; outside it a
// continued fraction of nine terms. Every use (errf, the sort of its
// arguments by step count, the kick's test for the inner region) takes
// these names.
namespace errf_region {
inline constexpr double kInnerY = 4.29;  // the inner region: y < kInnerY and x < kInnerX
inline constexpr double kInnerX = 5.33;
// 1/4.29 and 1/5.33 as the algorithm writes them, by which s is multiplied
// (never divided).
inline constexpr double kRecipInnerY = 0.2331002331002331;
inline constexpr double kRecipInnerX = 0.18761726078799248;
// The step h = 1.6 s of the summation: lambda = 1/(2h) = 1/(3.2 s).
inline constexpr double kTwoH = 3.2;
// Inner region: nu = trunc(21 s) + 10 steps of the continued fraction and
// nc = trunc(23 s) + 7 summed terms (one more than the algorithm's counts
// of 9 + 21 s and 6 + 23 s, whose terms it numbers from 0).
inline constexpr double kFractionSlope = 21.0;
inline constexpr double kFractionBase = 10.0;
inline constexpr double kSumSlope = 23.0;
inline constexpr double kSumBase = 7.0;
inline constexpr int kMostFractionSteps = 31;  // at s = 1
inline constexpr int kMostSumSteps = 30;
inline constexpr int kOuterSteps = 9;  // the continued fraction outside
// 2/sqrt(pi) to the digits the algorithm gives.
inline constexpr double kTwoOverSqrtPi = 1.12837916709551;

// Lanes of x, y >= 0 inside the inner region (false for NaN).
template <class V>
M<V> inner(D<V> x, D<V> y) {
  return V::land(V::lt(y, V::set1(kInnerY)), V::lt(x, V::set1(kInnerX)));
}
}  // namespace errf_region

namespace {

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

// x^m for a whole 0 <= m < 2^kBits, the same for every lane, by
// square-and-multiply from the lowest bit of m, the factor of each set bit
// multiplied in as it comes: the sequence of roundings of ipow.
template <class V, int kBits>
D<V> ipow_whole(D<V> x, unsigned int m) {
  D<V> y = (m & 1u) ? x : V::set1(1.0);
  for (int bit = 1; bit < kBits; ++bit) {
    x = x * x;
    if ((m >> bit) & 1u) y = y * x;
  }
  return y;
}

// The same with m per lane (whole numbers below 2^kBits in a register):
// each lane takes the products of its own m, a lane whose higher bits are
// clear is not touched by them.
template <class V, int kBits>
D<V> ipow_lanes(D<V> x, D<V> m) {
  D<V> y = V::select(V::bit_set(m, 0), x, V::set1(1.0));
  D<V> p = x;
  for (int bit = 1; bit < kBits; ++bit) {
    p = p * p;
    y = V::select(V::bit_set(m, bit), y * p, y);
  }
  return y;
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

// w of K arguments per lane at once; their continued fractions are
// independent chains of divisions that the processor overlaps. `side`
// holds exponentials to be made between the steps.
template <class V, int K>
void errf_lanes(const D<V> (&xx)[K], const D<V> (&yy)[K], D<V> (&wx)[K], D<V> (&wy)[K],
                ExpQueue& side) {
  using namespace errf_region;
  const D<V> zero = V::set1(0.0);
  const D<V> one = V::set1(1.0);
  const D<V> half = V::set1(0.5);
  const D<V> cc = V::set1(kTwoOverSqrtPi);
  // Every lane is written by one of the two schemes below; starting from
  // zero keeps the compiler from seeing a read of an unset register.
  for (int k = 0; k < K; ++k) wx[k] = wy[k] = zero;

  // Per argument k: whether any of its lanes is in the inner region and
  // whether any is outside it; a scheme no lane needs is not computed.
  D<V> x[K], y[K];
  M<V> in[K];
  bool some_inner[K], some_outer[K];
  bool any_inner = false, any_outer = false;
  for (int k = 0; k < K; ++k) {
    x[k] = V::abs(xx[k]);
    y[k] = V::abs(yy[k]);
    in[k] = inner<V>(x[k], y[k]);
    some_inner[k] = V::any(in[k]);
    some_outer[k] = !V::all(in[k]);
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
      const D<V> xr = x[k] * V::set1(kRecipInnerX);
      D<V> s = (one - y[k] * V::set1(kRecipInnerY)) * V::sqrt(one - xr * xr);
      // Lanes of the outer region get a harmless s with the fewest steps
      // (nc = 7, nu = 10); their inner result is discarded.
      s = V::select(in[k], s, V::set1(0.03125));
      lambda[k] = one / (V::set1(kTwoH) * s);
      nc[k] = V::trunc(V::set1(kSumSlope) * s) + V::set1(kSumBase);
      nu[k] = V::trunc(V::set1(kFractionSlope) * s) + V::set1(kFractionBase);
      lane_range<V>(nu[k], numin[k], numax[k]);
      lane_range<V>(nc[k], ncmin[k], ncmax[k]);
      // xl = lambda^(1 - nc), one division after the products; nc - 1 has
      // five bits at most.
      constexpr int kBits = 5;
      static_assert(kMostSumSteps - 1 < (1 << kBits));
      xl[k] = one / (ncmin[k] == ncmax[k]
                         ? ipow_whole<V, kBits>(lambda[k], static_cast<unsigned int>(ncmin[k] - 1))
                         : ipow_lanes<V, kBits>(lambda[k], nc[k] - one));
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
    const int side_step = side.per_step(kOuterSteps);
    for (int n = kOuterSteps; n >= 1; --n) {
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
      wx[k] = some_inner[k] ? V::select(in[k], wx[k], cc * rx[k]) : cc * rx[k];
      wy[k] = some_inner[k] ? V::select(in[k], wy[k], cc * ry[k]) : cc * ry[k];
    }
  }

  finish_tail_lanes<V, K>(xx, yy, wx, wy);
}

}  // namespace
}  // namespace bbtrack
