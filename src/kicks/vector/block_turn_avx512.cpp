// Compiled with -mavx512f -mavx512dq (CMakeLists.txt); reached only through
// the run-time check in fast_turn.cpp.
#include "kicks/vector/block_turn.h"
#include "kicks/vector/simd_avx512.h"

namespace bbtrack {

static_assert(Avx512::kWidth == kAvx512Lanes);

void track_range_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                        LaneWorkspace& ws) {
  // Four registers of errf arguments in flight: their continued fractions
  // are independent chains of divisions that fill the divider.
  track_range<Avx512, 4>(plan, c, first, count, ws);
}

void errf_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_array<Avx512>(xx, yy, wx, wy, n);
}

// The same in the opt-in mode of the fast error function (BBTRACK_ERRF=fast).
void track_range_fast_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                             LaneWorkspace& ws) {
  track_range<Avx512, 4, ErrfMode::fast>(plan, c, first, count, ws);
}

void errf_fast_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n,
                            double far2) {
  errf_fast_array<Avx512>(xx, yy, wx, wy, n, far2);
}

}  // namespace bbtrack
