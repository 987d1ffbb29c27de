// Starting distributions of the particles at the observation point, one per
// run option. Each writes rows of coord (others keep their values).
#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// Diffusion run: every particle on amplitude ampin in both planes, random phases.
void initcoordwire(State& st, textio::Io& io);
// Turn-by-turn run: one particle near the origin and a square grid up to 10 sigma.
void initcoorduni(State& st, textio::Io& io);
// Phase-space run: random positions in a 3 sigma square, zero angles.
void initcoordunir(State& st, textio::Io& io);
// Footprint run: polar grid of amplitudes and angles, grid indices in fpidx.
void initcoordfp(State& st, textio::Io& io);

// Seed every random distribution starts from, so that runs repeat.
inline constexpr std::int32_t kDistributionSeed = 12454643;
// 0.01 as a single-precision literal, widened.
inline constexpr double kSmallAmplitude = 0.009999999776482582;

}  // namespace bbtrack
