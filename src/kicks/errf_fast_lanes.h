// errf_fast over the lane type, each lane bit for bit as the one-lane
// instance, errf_fast itself, computes its argument: the first-quadrant
// templates of kicks/errf_fast.h (the rational and the far form, chosen per
// lane by its |z|^2 against the register's border) instantiated for the
// lane type, then the real-axis rule and the other quadrants lane by lane
// through errf_tail.
//
// Internal linkage (see lanes/lane.h).
#pragma once

#include <type_traits>

#include "kicks/errf.h"
#include "kicks/errf_fast.h"
#include "kicks/errf_lanes.h"
#include "kicks/lanes/lane.h"

namespace bbtrack {
namespace {

// Compile-time count for a run-time number 1 <= m <= K of registers:
// f(std::integral_constant<int, M>) with M = m.
template <int K, class F>
void with_count(int m, F&& f) {
  static_assert(1 <= K && K <= 4);
  switch (m) {
    case 1: f(std::integral_constant<int, 1>{}); break;
    case 2: f(std::integral_constant<int, (K < 2 ? K : 2)>{}); break;
    case 3: f(std::integral_constant<int, (K < 3 ? K : 3)>{}); break;
    default: f(std::integral_constant<int, K>{}); break;
  }
}

// The far form's number of terms of each lane of a register (near lanes of
// a mixed register count as lanes on the border; their far value is not
// used), and the register's largest and smallest count folded into top and
// bottom.
template <class V>
void far_counts(D<V> r2, M<V> near, double far2, errf_fast_detail::FarTerms<V>& terms, int& top,
                int& bottom) {
  using errf_fast_detail::far_count;
  terms = errf_fast_detail::far_terms<V>(V::select(near, V::set1(far2), r2));
  const int hi = far_count(V::any(terms.over_mid), V::any(terms.over_7));
  const int lo = far_count(V::all(terms.over_mid), V::all(terms.over_7));
  top = hi > top ? hi : top;
  bottom = lo < bottom ? lo : bottom;
}

// The first-quadrant values of K registers of x, y >= 0 with r2 = x^2 +
// y^2: a lane takes the far form when its r2 is at least its register's
// border far2 (kFar2 or kFarLong2), else the rational one, as errf_fast
// decides for each argument. Registers that need
// one form go to it whole, side by side (independent chains that the
// processor overlaps); in a mixed set each pair of registers is sorted out
// on its own, so that registers stay in place (indices known at compile
// time keep them out of memory) unless one pair itself is mixed.
template <class V, int K>
void fast_quadrant(const D<V> (&x)[K], const D<V> (&y)[K], const D<V> (&r2)[K],
                   const double (&far2)[K], D<V> (&wx)[K], D<V> (&wy)[K]) {
  M<V> near[K];
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) near[k] = V::lt(r2[k], V::set1(far2[k]));
  M<V> some = near[0];
#pragma GCC unroll 8
  for (int k = 1; k < K; ++k) some = V::lor(some, near[k]);
  if (!V::any(some)) {  // the far form for all, the usual case of long-range encounters
    errf_fast_detail::FarTerms<V> terms[K];
    int top = 0, bottom = errf_fast_detail::kFarTerms;
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) far_counts<V>(r2[k], near[k], far2[k], terms[k], top, bottom);
    return errf_fast_detail::far_quadrant<V, K>(x, y, r2, terms, top, bottom, wx, wy);
  }
  int near_at[K], far_at[K], n_near = 0, n_far = 0;
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    if (V::any(near[k])) near_at[n_near++] = k;
    if (!V::all(near[k])) far_at[n_far++] = k;
  }
  if (n_far == 0) {  // the rational form, two registers at a time
#pragma GCC unroll 4
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
    return;
  }
  if constexpr (K > 2 && K % 2 == 0) {
#pragma GCC unroll 4
    for (int k = 0; k < K; k += 2) {
      const D<V> px[2] = {x[k], x[k + 1]}, py[2] = {y[k], y[k + 1]};
      const D<V> pr[2] = {r2[k], r2[k + 1]};
      const double pb[2] = {far2[k], far2[k + 1]};
      D<V> qx[2], qy[2];
      fast_quadrant<V, 2>(px, py, pr, pb, qx, qy);
      wx[k] = qx[0], wx[k + 1] = qx[1];
      wy[k] = qy[0], wy[k + 1] = qy[1];
    }
    return;
  }
  D<V> nx[K], ny[K];  // the rational form's values, of the registers near_at
  for (int j = 0; j < n_near; j += 2) {
    with_count<2>(n_near - j, [&](auto m) {
      constexpr int Mc = decltype(m)::value;
      D<V> px[Mc], py[Mc], qx[Mc], qy[Mc];
#pragma GCC unroll 8
      for (int i = 0; i < Mc; ++i) px[i] = x[near_at[j + i]], py[i] = y[near_at[j + i]];
      errf_fast_detail::first_quadrant<V, Mc>(px, py, qx, qy);
#pragma GCC unroll 8
      for (int i = 0; i < Mc; ++i) nx[j + i] = qx[i], ny[j + i] = qy[i];
    });
  }
  with_count<K>(n_far, [&](auto m) {
    constexpr int Mc = decltype(m)::value;
    D<V> px[Mc], py[Mc], pr[Mc], qx[Mc], qy[Mc];
    errf_fast_detail::FarTerms<V> pt[Mc];
    int top = 0, bottom = errf_fast_detail::kFarTerms;
#pragma GCC unroll 8
    for (int i = 0; i < Mc; ++i) {
      const int k = far_at[i];
      px[i] = x[k], py[i] = y[k], pr[i] = r2[k];
      far_counts<V>(r2[k], near[k], far2[k], pt[i], top, bottom);
    }
    errf_fast_detail::far_quadrant<V, Mc>(px, py, pr, pt, top, bottom, qx, qy);
#pragma GCC unroll 8
    for (int i = 0; i < Mc; ++i) wx[far_at[i]] = qx[i], wy[far_at[i]] = qy[i];
  });
  for (int j = 0; j < n_near; ++j) {
    const int k = near_at[j];
    const bool mixed = !V::all(near[k]);
    wx[k] = mixed ? V::select(near[k], nx[j], wx[k]) : nx[j];
    wy[k] = mixed ? V::select(near[k], ny[j], wy[k]) : ny[j];
  }
}

// errf_fast of K arguments per lane, register k from |z|^2 = far2[k] on by
// the far form: fast_quadrant on |x|, |y|, then the real-axis rule and the
// other quadrants lane by lane through errf_tail. Unlike errf_lanes it makes
// no exponentials between its steps: a library call in the middle of the
// sums would spill the registers they keep (the kick's Gaussian factor in
// this mode is exp_nonpositive, after it).
template <class V, int K>
void errf_fast_lanes(const D<V> (&xx)[K], const D<V> (&yy)[K], const double (&far2)[K],
                     D<V> (&wx)[K], D<V> (&wy)[K]) {
  D<V> x[K], y[K], r2[K];
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    x[k] = V::abs(xx[k]);
    y[k] = V::abs(yy[k]);
    r2[k] = x[k] * x[k] + y[k] * y[k];
  }
  fast_quadrant<V, K>(x, y, r2, far2, wx, wy);
  finish_tail_lanes<V, K>(xx, yy, wx, wy);
}

}  // namespace
}  // namespace bbtrack
