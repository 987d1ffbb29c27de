// Per-turn judgement of the tracked particles: losses, the spread of the
// single-particle actions and its running average over 1000 turns.
#pragma once

#include "run/state.h"

namespace bbtrack {

// Loss limit on |x| and |y|, m.
inline constexpr double kAmax = 1000.0;

// Removes particles beyond the loss limit (a position that is not a number
// counts as lost); the others move down keeping their order, and everything
// keyed by particle (grid point, turn-by-turn row) moves with them.
void overflow(State& st);
// Spread of the Courant-Snyder invariants over the live particles, in
// emittances; 0 when no particle is left.
void varwire(State& st, double& varx, double& vary);
// Mean of the spreads of the last 1000 turns, 0 before turn 1000.
void runav(State& st, double varx, double vary, double& avx, double& avy, int32 iturn);

}  // namespace bbtrack
