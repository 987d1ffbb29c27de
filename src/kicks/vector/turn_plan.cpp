#include "kicks/vector/turn_plan.h"

#include "kicks/bbkick.h"
#include "kicks/multipole.h"
#include "kicks/ripple.h"

namespace bbtrack {

ParticleColumns particle_columns(State& st) {
  auto& c = st.coord.coord;
  return {c.column(1), c.column(2), c.column(3), c.column(4), st.lcoord.z, st.lcoord.d};
}

void fill_kick0(State& st, ErrfMode errf_mode) {
  if (st.ring.active && st.ring.enc6d_mode != static_cast<int>(errf_mode)) {
    // The six-dimensional encounters' constants, their reference-orbit
    // kicks by the run's evaluation of w.
    st.ring.enc6d.clear();
    for (const Encounter6dSpec& s : st.ring.enc6d_spec)
      st.ring.enc6d.push_back(make_encounter6d(s, errf_mode));
    st.ring.enc6d_mode = static_cast<int>(errf_mode);
  }
  if (st.ring.active) {
    // As reference_kick does for an encounter of the classic ring.
    for (RingEncounter& e : st.ring.encounters) {
      if (e.kick0set) continue;
      ffrank(0.0, 0.0, e.x0, e.y0, e.sigx, e.sigy, e.kick0y, e.kick0x, errf_mode);
      e.kick0set = true;
    }
    return;
  }
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

bool has_turn_ripple(const State& st) {
  return st.ring.active ? st.ring.nripple > 0 : has_ripple(st);
}

// The reference-orbit kick of an encounter of the general ring (as
// take_reference_kick for the classic ring).
void take_ring_reference_kick(const RingEncounter& r, Encounter& e) {
  e.fk1 = e.factor * r.kick0y;
  e.fk2 = e.factor * r.kick0x;
}

// The encounter of the general ring with its strength and its
// reference-orbit kick (as encounter_of for the classic ring).
Encounter ring_encounter(const RingEncounter& r) {
  Encounter e = encounter_field(r.sigx, r.sigy, r.x0, r.y0);
  e.factor = r.factor;
  take_ring_reference_kick(r, e);
  return e;
}

// The sections of the general ring.
void plan_ring(const State& st, TurnPlan& plan) {
  const Ring& ring = st.ring;
  plan.sec.assign(ring.sections.size(), SectionPlan{});
  plan.six_d = ring.six_d;
  for (std::size_t s = 0; s < ring.sections.size(); ++s) {
    const RingSection& r = ring.sections[s];
    SectionPlan& p = plan.sec[s];
    p.kick = r.encounter >= 0;
    if (r.encounter6d >= 0) p.enc6d = &ring.enc6d[static_cast<std::size_t>(r.encounter6d)];
    if (p.kick) p.enc = ring_encounter(ring.encounters[static_cast<std::size_t>(r.encounter)]);
    p.nwire = r.wire_count;
    p.wire = ring.wires.data() + r.wire_first;
    p.mult = r.multipole >= 0 ? &ring.multipoles[static_cast<std::size_t>(r.multipole)] : nullptr;
    p.transport = r.matrix >= 0;
    if (p.transport) {
      const RingMatrix& m = ring.matrices[static_cast<std::size_t>(r.matrix)];
      p.matrix = {m.r[0][0], m.r[0][1], m.r[1][0], m.r[1][1],
                  m.r[2][2], m.r[2][3], m.r[3][2], m.r[3][3]};
      if (m.coupled) p.coupled = m.r;
      if (ring.six_d) p.m6 = m.r6;
    }
  }
}

// The turn's wire currents and tune modulation, once for all particles.
void plan_turn(const State& st, TurnPlan& plan) {
  plan.turn = st.turn.n;
  plan.rotate = has_modulation(st);
  if (plan.rotate) plan.rot = modulation_at(st, plan.turn);
  if (!has_turn_ripple(st)) return;
  // Pointed at every turn: the plan may have moved since the last.
  if (st.ring.active) {
    const Ring& ring = st.ring;
    plan.wire.resize(ring.wires.size());
    for (std::size_t j = 0; j < ring.wires.size(); ++j)
      plan.wire[j] = wire_at_turn(ring.wires[j], ring.ripple[j], plan.turn, st.constant.pi);
    for (std::size_t s = 0; s < ring.sections.size(); ++s)
      plan.sec[s].wire = plan.wire.data() + ring.sections[s].wire_first;
    return;
  }
  plan.wire.resize(kMaxWires);
  wires_at_turn(st, plan.turn, plan.wire.data());
  for (int k = 1; k <= kSections; ++k)
    plan.sec[static_cast<std::size_t>(k - 1)].wire = plan.wire.data() + st.wires.first(k);
}

}  // namespace

void build_plan(const State& st, TurnPlan& plan) {
  if (st.ring.active) {
    plan_ring(st, plan);
  } else {
    plan.sec.resize(kSections);
    for (int k = 1; k <= kSections; ++k) plan.sec[static_cast<std::size_t>(k - 1)] = plan_section(st, k);
  }
  plan_turn(st, plan);
}

void refresh_plan(const State& st, TurnPlan& plan) {
  if (st.ring.active) {
    const Ring& ring = st.ring;
    for (std::size_t s = 0; s < ring.sections.size(); ++s) {
      const int32 e = ring.sections[s].encounter;
      if (e < 0) continue;
      take_ring_reference_kick(ring.encounters[static_cast<std::size_t>(e)], plan.sec[s].enc);
    }
  } else {
    for (int k = 1; k <= kSections; ++k)
      take_reference_kick(st, k, plan.sec[static_cast<std::size_t>(k - 1)].enc);
  }
  plan_turn(st, plan);
}

}  // namespace bbtrack
