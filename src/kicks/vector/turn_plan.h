#pragma once

#include "kicks/encounter.h"
#include "kicks/errf_fast.h"
#include "kicks/modulation.h"
#include "kicks/transport.h"
#include "run/state.h"

namespace bbtrack {

// What one section does to every particle, with everything that depends only
// on the ring worked out once: whether its encounter kicks, the encounter
// model, its wires, its thin multipoles (after the wires, before the
// transport) and its matrix.
struct SectionPlan {
  bool kick;  // the encounter kicks (not excluded, not the point without encounter)
  Encounter enc;
  // The wires of the point, in their order: st.wires.w, or the turn's
  // records in TurnPlan::wire when a current ripples (read only).
  int nwire;
  const WireKick* wire;
  const MultipoleKick* mult;  // the point's multipoles (st.multipoles), nullptr without
  SectionMatrix matrix;
};

// The plan of one turn: the sections, and what changes from turn to turn,
// made once per turn for all particles.
struct TurnPlan {
  SectionPlan sec[kSections];  // sec[k - 1] for section k
  int32 turn;                  // the turn planned (st.turn.n)
  bool rotate;                 // the tunes are modulated: rot acts at the end of the turn
  TurnRotation rot;
  WireKick wire[kMaxWires];    // the wires' records of the turn, when a current ripples
};

// The four coordinate columns of the particle slots; index 0 is slot 1.
struct ParticleColumns {
  double* x;
  double* xp;
  double* y;
  double* yp;
};
ParticleColumns particle_columns(State& st);

// The reference-orbit kick of every kicking encounter that does not have one
// yet (reference_kick), as kickvorn computes it at its first call for that
// encounter (with the same evaluation of w as the kicks).
void fill_kick0(State& st, ErrfMode errf_mode = ErrfMode::exact);

// The plan of section k from the current state; its encounter's kick0 must
// be set if it kicks.
SectionPlan plan_section(const State& st, int k);

// The plan of one turn from the current state; kick0 must be filled.
void build_plan(const State& st, TurnPlan& plan);

// The parts of a plan that can change between turns of a run: the
// reference-orbit kicks fk1, fk2 from kick0, and for turn st.turn.n the
// wires' currents (ripple) and the tunes' modulation (the ring itself, its
// matrices, encounters, exclusions, multipoles and factor, is fixed once
// the run has started).
void refresh_plan(const State& st, TurnPlan& plan);

}  // namespace bbtrack
