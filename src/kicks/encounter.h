// The encounter model: the constants of one beam-beam encounter, worked out
// once from the opposing bunch's sizes and centre and shared by the kicks of
// all particles there, whatever evaluates them (ffrank, bbkick, kickvorn,
// the turn of every path). A kick that uses them rounds as if it computed
// each constant itself, in the same order.
#pragma once

#include "kicks/errf_fast.h"
#include "run/state.h"

namespace bbtrack {

// Bunches whose sizes differ by less than this fraction, |a/b - 1| < 1 %,
// are given the round-beam field (with the product a b of the sizes): the
// switch of the original kick. The field steps there by the round model's
// own error, about (a/b - 1)/2 relative (tests/kicks/bbkick_test.cpp).
inline constexpr double kRoundTolerance = 0.01;

struct Encounter {
  // sigx < sigy: the frame is turned by a quarter, so that the wider plane
  // is horizontal, with sizes a >= b.
  bool turned;
  bool round;     // |a/b - 1| < kRoundTolerance
  double x0, y0;  // the bunch's centre, m
  // Round field: q = sqrt(2/pi) and the exponent's denominator 2 a b.
  double q, ab2;
  // Elliptical field: S = sqrt(2 (a^2 - b^2)), rho = b/a, rho S, 2 a^2,
  // 2 b^2 and D = sqrt(a^2 - b^2).
  double s, rho, rhos, a2x2, b2x2, d;
  // Their reciprocals 1/S, 1/(rho S), 1/(2 a^2), 1/(2 b^2), 1/D, by which
  // the opt-in mode of the fast error function multiplies where the exact
  // evaluation divides.
  double rs, rrhos, ra2x2, rb2x2, rd;
  // In that mode, the borders on |z|^2 from which w(z1) and w(z2) take the
  // far form (far_border of the arguments of the bunch's centre).
  double far1, far2;
  // The angle change of a particle is fk - factor G: fk2 = factor kick0(k,2)
  // (horizontal), fk1 = factor kick0(k,1) (vertical), the reference-orbit
  // kick removed after scaling, so that the reference orbit gets exactly 0.
  double factor, fk1, fk2;
};

// The field's constants for sizes a, b in a frame that is not turned and a
// centre at separations u0, v0 >= 0 in it (the arguments of bbkick);
// factor, fk1 and fk2 are 0.
Encounter encounter_in_frame(double a, double b, double u0, double v0);

// The same for a bunch of r.m.s. sizes sigx, sigy centred at (x0, y0),
// turned when sigx < sigy (the arguments of ffrank).
Encounter encounter_field(double sigx, double sigy, double x0, double y0);

// Encounter k of the state with its strength `factor` and its
// reference-orbit kick as kept in kick0 (see reference_kick).
Encounter encounter_of(const State& st, int k);

// fk1, fk2 of encounter k from kick0 as it is now (kick0 is the part of an
// encounter that a run may change between turns).
void take_reference_kick(const State& st, int k, Encounter& e);

// The reference-orbit kick of encounter k: when kick0set(k) = 0, the kick
// function G at x = y = 0 (ffrank, with the evaluation of w of the mode) is
// stored as kick0(k,1) = Gy, kick0(k,2) = Gx and kick0set(k) set to 1;
// otherwise nothing changes. The only writer of kick0 and kick0set.
void reference_kick(State& st, int k, ErrfMode errf_mode);

}  // namespace bbtrack
