// The order in which the lanes compute the error functions of one kick.
//
// In errf's inner region an argument takes from 10 to 31 steps of its
// continued fraction (and 7 to 30 of its sum), set by its distance from the
// region's border (errf_region); outside it, 9. A register runs as many
// steps as its longest lane, so lanes filled in particle order wait on their slowest
// neighbour and compute both regions' schemes when they straddle the border.
// Here all errf arguments of the encounter (two per particle) are sorted by
// their region and step counts, once per encounter and turn, by a counting
// sort on a key that grows with the counts; consecutive arguments fill the
// lanes, so that nearly every register holds arguments of one region and one
// step count, and errf_lanes runs its steps on them without masks. Each
// argument's own arithmetic is unchanged: where it sits only decides which
// lane computes it.
//
// Internal linkage (see kicks/lanes/lane.h).
#pragma once

#include <cmath>

#include "kicks/errf_lanes.h"
#include "kicks/lanes/lane.h"
#include "kicks/vector/lane_kernels.h"

namespace bbtrack {
namespace {

// Buckets of the counting sort: the outer region, then the intervals of s
// in which the pair (nu, nc) is constant, numbered by s: s = 1 and the
// 21 + 23 steps of the two counts in (0, 1) split it into 45.
constexpr int kBuckets = 2 + static_cast<int>(errf_region::kFractionSlope) +
                         static_cast<int>(errf_region::kSumSlope);
constexpr int kKeySteps = 4096;

// The sort key of an errf argument: 0 outside the inner region, else 1 +
// s^2 of its step counts (errf_region) in steps of 1/4096, s^2 in (0, 1].
template <class V>
D<V> step_key(D<V> xx, D<V> yy) {
  using namespace errf_region;
  const D<V> one = V::set1(1.0);
  const D<V> x = V::abs(xx), y = V::abs(yy);
  const D<V> xr = x * V::set1(kRecipInnerX);
  const D<V> t = one - y * V::set1(kRecipInnerY);
  const D<V> s2 = t * t * (one - xr * xr);
  return V::select(inner<V>(x, y), V::trunc(s2 * V::set1(kKeySteps)) + one, V::set1(0.0));
}

// The bucket of each key. An argument next to the border of two intervals
// may land in its neighbour's bucket, which costs its register a masked step
// at most.
struct BucketTable {
  unsigned char b[kKeySteps + 2];
  BucketTable() {
    b[0] = 0;
    for (int i = 0; i <= kKeySteps; ++i) {
      const double s = std::sqrt((i + 0.5) / kKeySteps);
      const double c = s < 1.0 ? s : 1.0;
      b[i + 1] = static_cast<unsigned char>(1 + static_cast<int>(errf_region::kFractionSlope * c) +
                                            static_cast<int>(errf_region::kSumSlope * c));
    }
  }
  int operator()(double key) const { return b[static_cast<int>(key)]; }
};

// errf of K registers of arguments, register k at zx + at[k], zy + at[k],
// its results to wr + at[k], wi + at[k].
template <class V, int K>
void errf_batch(const LaneWorkspace::Args& a, const int* at, ExpQueue& side) {
  D<V> zx[K], zy[K], wr[K], wi[K];
  for (int k = 0; k < K; ++k) {
    zx[k] = V::load(a.zx + at[k]);
    zy[k] = V::load(a.zy + at[k]);
  }
  errf_lanes<V, K>(zx, zy, wr, wi, side);
  for (int k = 0; k < K; ++k) {
    V::store(a.wr + at[k], wr[k]);
    V::store(a.wi + at[k], wi[k]);
  }
}

// errf of the registers at[0 .. registers - 1], K at a time, and the n
// exponentials e, made between the steps of the continued fractions: as
// many as one per step in the first `outer` registers, whose nine-step
// fractions leave the processor room beside the divider, the rest spread
// evenly over the others.
template <class V, int K>
void errf_registers(const LaneWorkspace::Args& a, const int* at, int registers, int outer,
                    double* e, int n) {
  static_assert(1 <= K && K <= 4);
  constexpr int kOuter = errf_region::kOuterSteps;
  const int batches = (registers + K - 1) / K;
  const int outer_batches = outer / K;
  int done = 0;
  for (int r = 0, batch = 0; r < registers; r += K, ++batch) {
    const int left = n - done;
    // The last batch takes whatever is left, however many outer batches
    // came before it.
    const int quota = batch + 1 == batches    ? left
                      : batch < outer_batches ? (left < kOuter ? left : kOuter)
                                              : (left + (batches - batch) - 1) / (batches - batch);
    ExpQueue side{e + done, quota};
    switch (registers - r < K ? registers - r : K) {
      case 1: errf_batch<V, 1>(a, at + r, side); break;
      case 2: errf_batch<V, (K < 2 ? K : 2)>(a, at + r, side); break;
      case 3: errf_batch<V, (K < 3 ? K : 3)>(a, at + r, side); break;
      default: errf_batch<V, K>(a, at + r, side); break;
    }
    side.finish();
    done += quota;
  }
}

// errf of the arguments in the particles' order, spare lanes and all, for
// an encounter whose arguments need one step count (outer: the nine steps
// of the outer region).
template <class V, int K>
void errf_natural(LaneWorkspace& ws, int n, int np, bool outer) {
  constexpr int W = V::kWidth;
  constexpr int P = LaneWorkspace::kParticles;
  int registers = 0;
  for (int h = 0; h < 2; ++h)
    for (int i = 0; i < np; i += W) ws.at[registers++] = h * P + i;
  errf_registers<V, K>({ws.zx, ws.zy, ws.wr, ws.wi}, ws.at, registers, outer ? registers : 0,
                       ws.e, n);
  for (int i = n; i < np; ++i) ws.e[i] = ws.e[0];
}

// w(z1), w(z2) of the n particles of the workspace (zx, zy, key in; wr, wi
// out), and E = exp of their exponents e, in place; all_outer when no
// argument is in the inner region. The spare lanes up to np get the values
// of the first particle, whose copies they are. Arguments a = i (z1 of
// particle i) and P + i (z2).
template <class V, int K>
void errf_scheduled(LaneWorkspace& ws, int n, int np, bool all_outer) {
  constexpr int W = V::kWidth;
  constexpr int P = LaneWorkspace::kParticles;
  if (all_outer) return errf_natural<V, K>(ws, n, np, true);
  static const BucketTable bucket;
  // Four streams of arguments with counters of their own (runs of one
  // bucket are common, and a counter waits for its last increment): z1 and
  // z2 of the even and of the odd particles.
  constexpr int Q = 4;
  int count[Q][kBuckets] = {};
  auto each = [n](auto&& f) {
    int i = 0;
    for (; i + 1 < n; i += 2)
      for (int q = 0; q < Q; ++q) f(q, (q >> 1) * P + i + (q & 1));
    if (i < n) {
      f(0, i);
      f(2, P + i);
    }
  };
  each([&](int q, int a) {
    const int b = bucket(ws.key[a]);
    ws.bucket[a] = static_cast<unsigned char>(b);
    ++count[q][b];
  });
  const int m = 2 * n;
  int total[kBuckets];
  bool uniform = false;
  for (int b = 0; b < kBuckets; ++b) {
    total[b] = count[0][b] + count[1][b] + count[2][b] + count[3][b];
    uniform = uniform || total[b] == m;
  }
  if (uniform) return errf_natural<V, K>(ws, n, np, false);
  int next[Q][kBuckets];
  for (int b = 0, place = 0; b < kBuckets; ++b)
    for (int q = 0; q < Q; ++q) {
      next[q][b] = place;
      place += count[q][b];
    }
  each([&](int q, int a) {
    const int j = next[q][ws.bucket[a]]++;
    ws.order[j] = a;
    ws.sorted_zx[j] = ws.zx[a];
    ws.sorted_zy[j] = ws.zy[a];
  });
  const int padded = (m + W - 1) / W * W;
  for (int j = m; j < padded; ++j) {
    ws.sorted_zx[j] = ws.sorted_zx[m - 1];
    ws.sorted_zy[j] = ws.sorted_zy[m - 1];
  }
  const int registers = padded / W;
  for (int r = 0; r < registers; ++r) ws.at[r] = r * W;
  errf_registers<V, K>({ws.sorted_zx, ws.sorted_zy, ws.sorted_wr, ws.sorted_wi}, ws.at, registers,
                       total[0] / W, ws.e, n);
  for (int j = 0; j < m; ++j) {
    ws.wr[ws.order[j]] = ws.sorted_wr[j];
    ws.wi[ws.order[j]] = ws.sorted_wi[j];
  }
  for (int i = n; i < np; ++i) {
    ws.wr[i] = ws.wr[0];
    ws.wi[i] = ws.wi[0];
    ws.wr[P + i] = ws.wr[P];
    ws.wi[P + i] = ws.wi[P];
    ws.e[i] = ws.e[0];
  }
}

}  // namespace
}  // namespace bbtrack
