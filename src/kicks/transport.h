#pragma once

#include "kicks/errf_fast.h"
#include "run/state.h"

namespace bbtrack {

// The part of a section matrix that acts: its horizontal and vertical 2x2
// diagonal blocks; coupling and longitudinal entries are ignored.
struct SectionMatrix {
  double r11, r12, r21, r22, r33, r34, r43, r44;
};
SectionMatrix section_matrix(const State& st, int k);

// Beam-beam kick of encounter k on particles 1 .. npart: angles change,
// positions do not. w by errf, or by errf_fast in the opt-in mode. The
// one-lane instance of the turn's kick (kicks/vector/turn_kernel.h).
void bbkickvorn(State& st, int k, ErrfMode errf_mode = ErrfMode::exact);

// Linear transport of particles 1 .. npart through section k (its
// SectionMatrix), the one-lane instance of the turn's transport.
void rotvorn(State& st, int k);

// True when encounter k kicks: not listed in excl(1 .. nexcl) (the search
// stops at the first match) and not the point without encounter.
bool encounter_kicks(const State& st, int k);

// One turn, turn st.turn.n + 1 (the count advanced): for k = 1 .. 73 the
// kick of encounter k, unless k is excluded or is the point without
// encounter, then the kicks of the wires (with the turn's currents) and thin
// multipoles at point k, then always the transport of section k; at the end
// the turn's tune-modulation rotation. The one-lane instance of the turn of
// every path (the scalar path of FastTurn).
void track_turn(State& st, ErrfMode errf_mode = ErrfMode::exact);

}  // namespace bbtrack
