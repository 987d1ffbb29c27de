#pragma once

#include "kicks/errf_fast.h"
#include "run/state.h"

namespace bbtrack {

// The beam-beam kick of one particle, the one-lane instances of the kick
// written once over lanes (kicks/kick_lanes.h) with the constants of the
// encounter model (kicks/encounter.h).

// Kick function G of a two-dimensional Gaussian bunch of r.m.s. sizes sigx,
// sigy centred at (x0, y0), felt at (x, y): the vertical component goes to
// gy, the horizontal one to gx (1/m; times `factor` it is the angle change).
// Nearly round bunches (sizes within kRoundTolerance) use the round-beam
// field with the product of the two sizes; others use the elliptical
// (complex error function) field. A component whose separation is zero is a zero of the
// sign of that separation, also at the centre itself. `errf_mode` picks the
// evaluation of w (here and in the routines below): errf, or in the opt-in
// mode errf_fast, with exp_fast for the elliptical field's Gaussian factor
// and multiplications by 1/S, 1/(rho S), 1/(2 a^2), 1/(2 b^2) and 1/D where
// the exact kick divides by those constants of the encounter.
void ffrank(double x, double y, double x0, double y0, double sigx, double sigy, double& gy,
            double& gx, ErrfMode errf_mode = ErrfMode::exact);

// The two values of w needed by the elliptical field, for separations
// u, v >= 0 and sizes a > b (wider plane horizontal): wr1 + i wi1 = w(z1),
// wr2 + i wi2 = w(z2), z1 = (u + i v)/S, z2 = (rho u + i v/rho)/S with
// S = sqrt(2 (a^2 - b^2)), rho = b/a. In the opt-in mode, u0, v0 >= 0 are
// the separations of the reference orbit from the bunch's centre, which
// choose where each w takes its far form (errf_fast_detail::far_border).
void bbkick(double& wr1, double& wr2, double& wi1, double& wi2, double u, double v, double a,
            double b, ErrfMode errf_mode = ErrfMode::exact, double u0 = 0.0, double v0 = 0.0);

// Angle changes of a particle at (x, y) at encounter k, measured from the
// kick on the reference orbit, which is computed at the first call for k and
// kept in st.qarkick.kick0 (st.qarind.kick0set(k) = 1 from then on).
void kickvorn(State& st, double x, double y, double& dxp, double& dyp, int k,
              ErrfMode errf_mode = ErrfMode::exact);

}  // namespace bbtrack
