// The particle blocks of the opt-in fast error function mode, for AVX-512;
// compiled with -mavx512f -mavx512dq (CMakeLists.txt), reached only through
// the run-time check in fast_turn.cpp. The block sizes are those of
// block_turn_avx512.cpp.
#include "kicks/vector/block_turn.h"
#include "kicks/vector/simd_avx2.h"
#include "kicks/vector/simd_avx512.h"

namespace bbtrack {

void track_range_fast_avx512(const TurnPlan& plan, const ParticleColumns& c, int first,
                             int count) {
  constexpr ErrfMode fast = ErrfMode::fast;
  for (; count >= 16; first += 16, count -= 16) track_blocks<Avx512, 2, fast>(plan, c, first, 16);
  if (count > 8) {
    track_blocks<Avx512, 2, fast>(plan, c, first, count);
  } else if (count > 4) {
    track_blocks<Avx2, 2, fast>(plan, c, first, count);
  } else if (count > 0) {
    track_blocks<Avx2, 1, fast>(plan, c, first, count);
  }
}

void errf_fast_array_avx512(const double* xx, const double* yy, double* wx, double* wy, int n) {
  errf_fast_array<Avx512>(xx, yy, wx, wy, n);
}

}  // namespace bbtrack
