#pragma once

#include "kicks/errf_fast.h"
#include "run/state.h"

namespace bbtrack {

// What one section does to every particle, with everything that depends only
// on the encounter worked out once: the same expressions as in ffrank,
// bbkick and kickvorn, evaluated in the same order, so that a kernel using
// them rounds exactly as those routines do per particle.
struct SectionPlan {
  bool kick;    // the encounter kicks (not excluded, not the point without encounter)
  bool turned;  // sigx < sigy: the frame is turned by a quarter
  bool round;   // |a/b - 1| < 0.01: round-beam field
  double x0, y0;
  // Round field: q = sqrt(2/pi) and the exponent's denominator 2 a b.
  double q, ab2;
  // Elliptical field: S = sqrt(2 (a^2 - b^2)), rho = b/a, rho S, 2 a^2,
  // 2 b^2 and D = sqrt(a^2 - b^2).
  double s, rho, rhos, a2x2, b2x2, d;
  // Their reciprocals 1/S, 1/(rho S), 1/(2 a^2), 1/(2 b^2), 1/D, by which
  // the opt-in mode of the fast error function multiplies where the exact
  // evaluation divides (as ffrank and bbkick do in that mode).
  double rs, rrhos, ra2x2, rb2x2, rd;
  // In that mode, the borders on |z|^2 from which w(z1) and w(z2) take the
  // far form (far_border of the centre's arguments, as bbkick finds them).
  double far1, far2;
  // Angle change = fk - factor G: fk2 = factor kick0(k,2) (horizontal),
  // fk1 = factor kick0(k,1) (vertical).
  double factor, fk1, fk2;
  // The two diagonal 2x2 blocks of the section matrix.
  double r11, r12, r21, r22, r33, r34, r43, r44;
  // The wires of the point, in their order (st.wires.w, read only).
  int nwire;
  const WireKick* wire;
};

struct TurnPlan {
  SectionPlan sec[kSections];  // sec[k - 1] for section k
};

// The reference-orbit kick of every kicking encounter that does not have one
// yet, as kickvorn computes it at its first call for that encounter (with
// the same evaluation of w as the kicks).
void fill_kick0(State& st, ErrfMode errf_mode = ErrfMode::exact);

// The plan of one turn from the current state; kick0 must be filled.
void build_plan(const State& st, TurnPlan& plan);

// The parts of a plan that can change between turns of a run: the
// reference-orbit kicks fk1, fk2 from kick0 (the ring itself, its matrices,
// encounters, exclusions and factor, is fixed once the run has started).
void refresh_plan(const State& st, TurnPlan& plan);

}  // namespace bbtrack
