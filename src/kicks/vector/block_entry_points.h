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

// One turn (all 73 sections of the plan) for particles first .. first +
// count - 1, 0-based, bit-identical to track_turn for those particles, in
// blocks of the lane count. Each needs its processor: call only when __builtin_cpu_supports says so
// (FastTurn does).
constexpr int kAvx512Lanes = 8;
void track_range_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count);
constexpr int kAvx2Lanes = 4;
void track_range_avx2(const TurnPlan& plan, const ParticleColumns& c, int first, int count);

// errf (wx[i], wy[i]) of (xx[i], yy[i]) for i < n, by the same lanes.
void errf_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n);
void errf_array_avx2(const double* xx, const double* yy, double* wx, double* wy, int n);

// The same with errf_fast in the kick (BBTRACK_ERRF=fast), bit-identical to
// track_turn in that mode; and errf_fast by the lanes.
void track_range_fast_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count);
void track_range_fast_avx2(const TurnPlan& plan, const ParticleColumns& c, int first, int count);
void errf_fast_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n);
void errf_fast_array_avx2(const double* xx, const double* yy, double* wx, double* wy, int n);

}  // namespace bbtrack
