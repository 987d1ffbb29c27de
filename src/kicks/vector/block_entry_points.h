#pragma once

#include "kicks/vector/turn_plan.h"

namespace bbtrack {

// The four coordinate columns of the particle slots; index 0 is slot 1.
struct ParticleColumns {
  double* x;
  double* xp;
  double* y;
  double* yp;
};

// The scratch memory of one thread of the block kernels, for up to all
// kSlots particles: their coordinates through the turn, the per-particle
// values of the kick of one encounter, and the error-function arguments of
// that kick in the order the lanes compute them (lane_schedule.h).
struct LaneWorkspace {
  // kSlots, rounded up to whole registers, and 64 bytes more, so that no two
  // arrays start at the same place in a 4 KiB page (loads after stores to
  // addresses 4 KiB apart wait on them).
  static constexpr int kParticles = 1024 + 8;
  static constexpr int kArgs = 2 * kParticles;
  static constexpr int kSortedArgs = kArgs + 64;  // a batch of registers past the last
  alignas(64) double x[kParticles], xp[kParticles], y[kParticles], yp[kParticles];
  alignas(64) double u[kParticles], v[kParticles], r2[kParticles], e[kParticles];
  // errf of argument a: particle a (a < kParticles, z1) or a - kParticles (z2).
  alignas(64) double zx[kArgs], zy[kArgs], key[kArgs], wr[kArgs], wi[kArgs];
  alignas(64) double sorted_zx[kSortedArgs], sorted_zy[kSortedArgs];
  alignas(64) double sorted_wr[kSortedArgs], sorted_wi[kSortedArgs];
  int order[kArgs];                // argument of each sorted place
  int at[kArgs];                   // first argument of each register
  unsigned char bucket[kArgs];     // sort key of each argument
  // Per encounter: whether all its errf arguments were in the outer region
  // at the last kick (then the next is computed without sorting).
  bool outer[kSections] = {};
  // Arguments and results, in the particles' order or in sorted order.
  struct Args {
    const double *zx, *zy;
    double *wr, *wi;
  };
};
static_assert(LaneWorkspace::kParticles >= kSlots);

// One turn (all 73 sections of the plan) for particles first .. first +
// count - 1, 0-based, bit-identical to track_turn for those particles, in
// registers of the lane count, with the workspace of the calling thread.
// Each needs its processor: call only when __builtin_cpu_supports says so
// (FastTurn does).
constexpr int kAvx512Lanes = 8;
void track_range_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                        LaneWorkspace& ws);
constexpr int kAvx2Lanes = 4;
void track_range_avx2(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                      LaneWorkspace& ws);

// errf (wx[i], wy[i]) of (xx[i], yy[i]) for i < n, by the same lanes.
void errf_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n);
void errf_array_avx2(const double* xx, const double* yy, double* wx, double* wy, int n);

// The same with errf_fast in the kick (BBTRACK_ERRF=fast), bit-identical to
// track_turn in that mode; and errf_fast by the lanes, the far form from
// |z|^2 = far2 on.
void track_range_fast_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                             LaneWorkspace& ws);
void track_range_fast_avx2(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                           LaneWorkspace& ws);
void errf_fast_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n,
                            double far2);
void errf_fast_array_avx2(const double* xx, const double* yy, double* wx, double* wy, int n,
                          double far2);

}  // namespace bbtrack
