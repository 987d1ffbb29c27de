#pragma once

#include "kicks/encounter.h"
#include "kicks/errf_fast.h"
#include "kicks/modulation.h"
#include "kicks/transport.h"
#include "run/state.h"

#include <vector>

namespace bbtrack {

// What one section does to every particle, with everything that depends only
// on the ring worked out once: whether its encounter kicks, the encounter
// model, its wires, its thin multipoles (after the wires, before the
// transport) and its matrix. A section of the classic ring always has its
// matrix, in the two planes' blocks; one of the general ring may have none
// (transport false) or one that couples the planes (coupled: its 4x4 map,
// x, x', y, y' from the old values of all four; then matrix is unused).
struct SectionPlan {
  bool kick;  // the encounter kicks (not excluded, not the point without encounter)
  Encounter enc;
  // The wires of the point, in their order: st.wires.w, or the turn's
  // records in TurnPlan::wire when a current ripples (read only).
  int nwire;
  const WireKick* wire;
  const MultipoleKick* mult;  // the point's multipoles (st.multipoles), nullptr without
  SectionMatrix matrix;
  bool transport = true;
  const double (*coupled)[4] = nullptr;
  // Six-dimensional tracking: the section's six-dimensional encounter (in
  // place of enc, or nullptr) and its whole 6x6 matrix (nullptr without).
  const Encounter6d* enc6d = nullptr;
  const double (*m6)[6] = nullptr;
};

// The plan of one turn: the sections in ring order, and what changes from
// turn to turn, made once per turn for all particles. The classic ring has
// its 73 sections (sec[k - 1] for section k), the general ring one for each
// run of elements that make a section (RingSection).
struct TurnPlan {
  std::vector<SectionPlan> sec;
  int32 turn = 0;                      // the turn planned (st.turn.n)
  bool rotate = false;                 // the tunes are modulated: rot acts at the end of the turn
  TurnRotation rot{};
  std::vector<WireKick> wire;          // the wires' records of the turn, when a current ripples
  bool six_d = false;                  // z and delta move (the general ring's six-dimensional tracking)
};

// The four coordinate columns of the particle slots; index 0 is slot 1.
struct ParticleColumns {
  double* x;
  double* xp;
  double* y;
  double* yp;
  double* z = nullptr;  // z and delta, used by a six-dimensional plan only
  double* d = nullptr;
};
ParticleColumns particle_columns(State& st);

// The reference-orbit kick of every kicking encounter that does not have one
// yet (reference_kick), as kickvorn computes it at its first call for that
// encounter (with the same evaluation of w as the kicks); for the general
// ring, of each of its encounters.
void fill_kick0(State& st, ErrfMode errf_mode = ErrfMode::exact);

// The plan of section k from the current state; its encounter's kick0 must
// be set if it kicks.
SectionPlan plan_section(const State& st, int k);

// The plan of one turn from the current state (its classic ring, or its
// general ring when st.ring is active); kick0 must be filled.
void build_plan(const State& st, TurnPlan& plan);

// The parts of a plan that can change between turns of a run: the
// reference-orbit kicks fk1, fk2 from kick0, and for turn st.turn.n the
// wires' currents (ripple) and the tunes' modulation (the ring itself, its
// matrices, encounters, exclusions, multipoles and factor, is fixed once
// the run has started).
void refresh_plan(const State& st, TurnPlan& plan);

}  // namespace bbtrack
