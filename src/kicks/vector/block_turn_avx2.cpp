// Compiled with -mavx2 (CMakeLists.txt); reached only through the run-time
// check in fast_turn.cpp.
#include "kicks/vector/block_turn.h"
#include "kicks/vector/simd_avx2.h"

namespace bbtrack {

static_assert(Avx2::kWidth == kAvx2Lanes);

void track_range_avx2(const TurnPlan& plan, const ParticleColumns& c, int first, int count) {
  // Pairs of blocks (see block_turn_avx512.cpp); a rest of up to 4 in one.
  for (; count >= 8; first += 8, count -= 8) track_blocks<Avx2, 2>(plan, c, first, 8);
  if (count > 4) {
    track_blocks<Avx2, 2>(plan, c, first, count);
  } else if (count > 0) {
    track_blocks<Avx2, 1>(plan, c, first, count);
  }
}

void errf_array_avx2(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_array<Avx2>(xx, yy, wx, wy, n);
}

}  // namespace bbtrack
