// Wire current ripple and noise: on turn n (counted from 1) a wire with a
// ripple record carries
//   I(n) = I0 (1 + a sin(2 pi n / T + phi) + sigma xi_n),
// xi_n a standard normal number that depends only on the wire's seed and n
// (so a run is reproducible, and a turn's value needs no earlier turn). The
// kick, and with it the kick on the reference orbit that is removed, scale
// with the current: the closed orbit stays on the reference orbit. The
// factors are made once per turn, never per particle.
#pragma once

#include <cstdint>

#include "run/state.h"

namespace bbtrack {

// Whether any wire's current changes from turn to turn.
inline bool has_ripple(const State& st) {
  return st.wires.nripple > 0;
}

// xi_n of a seed: two uniform numbers in (0, 1] from the SplitMix64 mix of
// (seed, n, 0) and (seed, n, 1), made normal by the Box-Muller transform.
double ripple_normal(std::uint64_t seed, int32 turn);

// I(n) / I0 of one wire.
double wire_current_factor(const WireRipple& r, int32 turn, double pi);

// The kick record of turn n of a wire whose constant-current record is w.
WireKick wire_at_turn(const WireKick& w, const WireRipple& r, int32 turn, double pi);

// The wires' kick records of turn n, in the order of st.wires.w: current
// and kw times the wire's factor, fk1 and fk2 made from that kw (the
// records as they are for a wire without ripple). `out` holds
// st.wires.nwire records.
void wires_at_turn(const State& st, int32 turn, WireKick* out);

}  // namespace bbtrack
