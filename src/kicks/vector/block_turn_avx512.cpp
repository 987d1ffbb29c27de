// Compiled with -mavx512f -mavx512dq (CMakeLists.txt); reached only through
// the run-time check in fast_turn.cpp.
#include "kicks/vector/block_turn.h"
#include "kicks/vector/simd_avx2.h"
#include "kicks/vector/simd_avx512.h"

namespace bbtrack {

static_assert(Avx512::kWidth == kAvx512Lanes);

void track_range_avx512(const TurnPlan& plan, const ParticleColumns& c, int first, int count) {
  // Pairs of 8-lane blocks, two blocks so that one fills the divider while
  // the other waits. A rest of up to 8 particles goes into a pair of 4-lane
  // blocks, whose divisions take half as long, or, up to 4, into one.
  for (; count >= 16; first += 16, count -= 16) track_blocks<Avx512, 2>(plan, c, first, 16);
  if (count > 8) {
    track_blocks<Avx512, 2>(plan, c, first, count);
  } else if (count > 4) {
    track_blocks<Avx2, 2>(plan, c, first, count);
  } else if (count > 0) {
    track_blocks<Avx2, 1>(plan, c, first, count);
  }
}

void errf_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_array<Avx512>(xx, yy, wx, wy, n);
}

}  // namespace bbtrack
