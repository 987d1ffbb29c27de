#pragma once

#include <cstdint>

namespace bbtrack {

// Uniform numbers in [0, 1): multiplicative congruential generator, modulus
// 2^31 - 1 and multiplier 16807 by Schrage's method, with an XOR mask on the
// state. Fills x[0..n-1]; the caller's seed carries the whole state.
void ranuni(std::int32_t& seed, double* x, std::int32_t n);

}  // namespace bbtrack
