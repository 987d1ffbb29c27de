#include "input/ranuni.h"

namespace bbtrack {

void ranuni(std::int32_t& seed, double* x, std::int32_t n) {
  constexpr std::int32_t kMask = 123459876;
  constexpr std::int32_t kMult = 16807;
  constexpr std::int32_t kMod = 2147483647;  // 2^31 - 1 = kMult * kQuot + kRem
  constexpr std::int32_t kQuot = 127773;
  constexpr std::int32_t kRem = 2836;
  // The single-precision value of 1/(2^31 - 1), widened: exactly 2^-31.
  constexpr double kScale = 4.656612873077393e-10;
  std::int32_t s = seed;
  for (std::int32_t i = 0; i < n; ++i) {
    s ^= kMask;  // applied every step and never removed
    std::int32_t k = s / kQuot;
    s = kMult * (s - k * kQuot) - kRem * k;
    if (s < 0) s += kMod;
    x[i] = s * kScale;
  }
  if (n > 0) seed = s;
}

}  // namespace bbtrack
