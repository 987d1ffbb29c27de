// The general ring made the run's: its elements as kick records and
// matrices in tracking units (m, rad), grouped into sections (st.ring), the
// beam and the modulation terms, and the optics of its one-turn map.
//
// A new element kind is added in four places, as `encounter6d` was: its
// fields and reading in
// ring_file.cpp (read_element), its record and its place in a section
// (state.h, RingSection; make_sections in ring_setup.cpp), its constants
// in the turn plan (SectionPlan, plan_ring in kicks/vector/turn_plan.*) and
// its pass over lanes in the turn kernel (kicks/vector/turn_kernel.h,
// track_range), written once for every lane type.
#pragma once

#include <string>
#include <vector>

#include "ring/normal_form.h"
#include "ring/ring_file.h"
#include "run/state.h"

namespace bbtrack {

// Sets st up for the ring rf (read without errors): the constants, beam and
// modulation of the run, st.ring with its sections and normal form, and
// st.twiss of an uncoupled ring. A ring that cannot be tracked (an unstable
// one-turn map, a modulation of a coupled ring, too many modulation terms)
// adds its reason to errors, `PATH: FIELD: what is wrong`.
// six_d (--6d), or an encounter6d in the ring: six-dimensional tracking,
// the normal form then also of the 6x6 one-turn map (st.ring.a6, qs).
void set_up_ring(State& st, const RingFile& rf, std::vector<std::string>& errors,
                 bool six_d = false);

// The one-turn map of st.ring on x, x', y, y' (tracking units): the product
// of its matrices and of the linear part of its order-1 multipoles, in ring
// order; the encounters and wires do not enter.
void ring_one_turn_map(const Ring& ring, double (&m)[4][4]);

// The same on x, x', y, y', z, delta from the matrices' whole maps (r6).
void ring_one_turn_map6(const Ring& ring, double (&m)[6][6]);

}  // namespace bbtrack
