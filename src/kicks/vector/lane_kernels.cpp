// The entry points of one target: the turn kernel and the lanes' error
// functions for its lane type. Compiled once per target (bbtrack_lane_target
// in CMakeLists.txt) with BBTRACK_LANE_TARGET (its name), BBTRACK_LANE_TYPE
// and BBTRACK_LANE_HEADER (its lane type and that type's header) defined,
// and the target's compiler options. Reached only through lane_target(),
// which asks the processor first.
#include BBTRACK_LANE_HEADER

#include "kicks/vector/lane_kernels.h"

#include "kicks/beam_beam_6d_lanes.h"
#include "kicks/errf_fast_lanes.h"
#include "kicks/errf_lanes.h"
#include "kicks/vector/turn_kernel.h"

namespace bbtrack {
namespace {

using V = BBTRACK_LANE_TYPE;

template <ErrfMode kErrf>
void track(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
           LaneWorkspace* ws) {
  // Four registers of arguments of w in flight: their continued fractions
  // are independent chains of divisions that fill the divider.
  track_range<V, 4, kErrf>(plan, c, first, count, ws);
}

// An evaluation of w by the lanes on n arguments, two registers at a time;
// the arguments past n in the last pair are copies of the first. eval(zx,
// zy, re, im) takes and fills arrays of two registers.
template <class Eval>
void errf_array_by(const double* xx, const double* yy, double* wx, double* wy, int n, Eval eval) {
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

void errf_array(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_array_by(xx, yy, wx, wy, n,
                [](const D<V>(&zx)[2], const D<V>(&zy)[2], D<V>(&re)[2], D<V>(&im)[2]) {
                  ExpQueue none{nullptr, 0};
                  errf_lanes<V, 2>(zx, zy, re, im, none);
                });
}

void errf_fast_array(const double* xx, const double* yy, double* wx, double* wy, int n,
                     double far2) {
  errf_array_by(xx, yy, wx, wy, n,
                [far2](const D<V>(&zx)[2], const D<V>(&zy)[2], D<V>(&re)[2], D<V>(&im)[2]) {
                  const double borders[2] = {far2, far2};
                  errf_fast_lanes<V, 2>(zx, zy, borders, re, im);
                });
}

template <ErrfMode kErrf>
void encounter6d(const Encounter6d& e, const SixColumns& c, int n) {
  encounter6d_range<V, kErrf>(e, c, n);
}

}  // namespace

#define BBTRACK_CAT2(a, b) a##b
#define BBTRACK_CAT(a, b) BBTRACK_CAT2(a, b)
const LaneKernels BBTRACK_CAT(lane_kernels_, BBTRACK_LANE_TARGET) = {
    V::kWidth,
    {track<ErrfMode::exact>, track<ErrfMode::fast>},
    errf_array,
    errf_fast_array,
    {encounter6d<ErrfMode::exact>, encounter6d<ErrfMode::fast>}};

}  // namespace bbtrack
