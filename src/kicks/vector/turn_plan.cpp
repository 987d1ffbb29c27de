#include "kicks/vector/turn_plan.h"

#include "kicks/multipole.h"
#include "kicks/ripple.h"

namespace bbtrack {

ParticleColumns particle_columns(State& st) {
  auto& c = st.coord.coord;
  return {c.column(1), c.column(2), c.column(3), c.column(4)};
}

void fill_kick0(State& st, ErrfMode errf_mode) {
  for (int k = 1; k <= kSections; ++k)
    if (encounter_kicks(st, k)) reference_kick(st, k, errf_mode);
}

SectionPlan plan_section(const State& st, int k) {
  SectionPlan p{};
  p.kick = encounter_kicks(st, k);
  p.enc = encounter_of(st, k);
  p.nwire = st.wires.count(k);
  p.wire = st.wires.w + st.wires.first(k);
  p.mult = has_multipoles(st, k) ? &st.multipoles.at(k) : nullptr;
  p.matrix = section_matrix(st, k);
  return p;
}

namespace {

// The turn's wire currents and tune modulation, once for all particles.
void plan_turn(const State& st, TurnPlan& plan) {
  plan.turn = st.turn.n;
  plan.rotate = has_modulation(st);
  if (plan.rotate) plan.rot = modulation_at(st, plan.turn);
  if (has_ripple(st)) {
    wires_at_turn(st, plan.turn, plan.wire);
    // Pointed at every turn: the plan may have moved since the last.
    for (int k = 1; k <= kSections; ++k) plan.sec[k - 1].wire = plan.wire + st.wires.first(k);
  }
}

}  // namespace

void build_plan(const State& st, TurnPlan& plan) {
  for (int k = 1; k <= kSections; ++k) plan.sec[k - 1] = plan_section(st, k);
  plan_turn(st, plan);
}

void refresh_plan(const State& st, TurnPlan& plan) {
  for (int k = 1; k <= kSections; ++k) take_reference_kick(st, k, plan.sec[k - 1].enc);
  plan_turn(st, plan);
}

}  // namespace bbtrack
