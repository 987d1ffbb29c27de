// The turn kernel of every lane type (turn_kernel.h), compiled once per
// target from the one source lane_kernels.cpp; each target's build line in
// CMakeLists.txt (bbtrack_lane_target) names its lane type, its compiler
// options and the processor features it needs, and puts it in the list
// BBTRACK_LANE_TARGETS (generated: kicks/vector/lane_targets.h), widest
// first, from which the tables below are declared and the dispatch made.
#pragma once

#include <memory>
#include <span>

#include "kicks/beam_beam_6d.h"
#include "kicks/errf_fast.h"
#include "kicks/vector/lane_targets.h"
#include "kicks/vector/turn_plan.h"

namespace bbtrack {

// How a turn is computed. scalar: the one-lane instance of the turn kernel,
// one particle at a time. avx2 / avx512: blocks of 4 / 8 particles in the
// lanes of one register (avx2 with FMA, which the fast error function's
// mode uses). best: the widest block this processor runs, else scalar.
// Each target of BBTRACK_LANE_TARGETS is named here.
enum class TurnPath { scalar, avx2, avx512, best };

// The scratch memory of one thread of the block kernels, for up to all
// kSlots particles: their coordinates through the turn, the per-particle
// values of the kick of one encounter, and the error-function arguments of
// that kick in the order the lanes compute them (lane_schedule.h). The
// one-lane kernel works on the coordinates in place and needs none.
struct LaneWorkspace {
  // kSlots, rounded up to whole registers, and 64 bytes more, so that no two
  // arrays start at the same place in a 4 KiB page (loads after stores to
  // addresses 4 KiB apart wait on them).
  static constexpr int kParticles = 1024 + 8;
  static constexpr int kArgs = 2 * kParticles;
  static constexpr int kSortedArgs = kArgs + 64;  // a batch of registers past the last
  alignas(64) double x[kParticles], xp[kParticles], y[kParticles], yp[kParticles];
  alignas(64) double z[kParticles], d[kParticles];  // six-dimensional tracking only
  alignas(64) double u[kParticles], v[kParticles], r2[kParticles], e[kParticles];
  // errf of argument a: particle a (a < kParticles, z1) or a - kParticles (z2).
  alignas(64) double zx[kArgs], zy[kArgs], key[kArgs], wr[kArgs], wi[kArgs];
  alignas(64) double sorted_zx[kSortedArgs], sorted_zy[kSortedArgs];
  alignas(64) double sorted_wr[kSortedArgs], sorted_wi[kSortedArgs];
  int order[kArgs];             // argument of each sorted place
  int at[kArgs];                // first argument of each register
  unsigned char bucket[kArgs];  // sort key of each argument
  // Per section: whether all its encounter's errf arguments were in the
  // outer region at the last kick (then the next is computed without
  // sorting); sized to the plan's sections by size_outer.
  std::unique_ptr<bool[]> outer;
  std::size_t nouter = 0;
  void size_outer(std::size_t n) {
    if (n == nouter) return;
    outer = std::make_unique<bool[]>(n);  // all false
    nouter = n;
  }
  // Arguments and results, in the particles' order or in sorted order.
  struct Args {
    const double *zx, *zy;
    double *wr, *wi;
  };
};
static_assert(LaneWorkspace::kParticles >= kSlots);

// The entry points of one target.
struct LaneKernels {
  int lanes;
  // One turn (all sections of the plan) for particles first .. first +
  // count - 1, 0-based, with the workspace of the calling thread (none for
  // one lane), bit-identical to track_turn for those particles; by the
  // evaluation of w, track[static_cast<int>(ErrfMode)].
  void (*track[2])(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                   LaneWorkspace* ws);
  // errf (wx[i], wy[i]) of (xx[i], yy[i]) for i < n, by the same lanes; and
  // errf_fast, the far form from |z|^2 = far2 on.
  void (*errf_array)(const double* xx, const double* yy, double* wx, double* wy, int n);
  void (*errf_fast_array)(const double* xx, const double* yy, double* wx, double* wy, int n,
                          double far2);
  // The six-dimensional encounter on particles 0 .. n - 1 of c, by the
  // evaluation of w, bit-identical to encounter6d.
  void (*encounter6d[2])(const Encounter6d& e, const SixColumns& c, int n);
};

#define BBTRACK_DECLARE_LANE_KERNELS(name, supported) extern const LaneKernels lane_kernels_##name;
BBTRACK_LANE_TARGETS(BBTRACK_DECLARE_LANE_KERNELS)
#undef BBTRACK_DECLARE_LANE_KERNELS

// The targets, widest first, with whether this processor (and the build)
// runs each: found once, at the first call.
struct LaneTarget {
  TurnPath path;
  const char* name;
  const LaneKernels* kernels;
  bool supported;
};
std::span<const LaneTarget> lane_targets();

// The target of a path: for best, or a path the processor cannot run, the
// widest it can (the scalar one at the least).
const LaneTarget& lane_target(TurnPath path);

}  // namespace bbtrack
