// The six-dimensional (synchro-beam) beam-beam encounter: the opposing bunch
// has a length and may cross the tracked beam at an angle. A Lorentz boost
// takes the particle to the frame where the collision is head-on, the bunch
// is cut into slices of equal charge, the particle collides with each slice
// at its own collision point with the bunch's sizes there (hourglass),
// receiving the transverse kick of the four-dimensional encounter and the
// energy change that goes with it, and the inverse boost brings it back
// (docs/physics.md, "The six-dimensional encounter"). Here: the element's
// constants, worked out once; its action over lanes is
// kicks/beam_beam_6d_lanes.h.
#pragma once

#include <vector>

#include "kicks/errf_fast.h"

namespace bbtrack {

// The element as given, in SI units.
struct Encounter6dSpec {
  double factor;      // F = sqrt(2 pi) N rp / gamma of the whole bunch (N < 0: same charge)
  double sigx, sigy;  // r.m.s. sizes at the interaction point, m (> 0)
  double betx, bety;  // beta functions there, m (> 0)
  double alfx, alfy;  // alphas there
  double sigz;        // r.m.s. bunch length, m (> 0)
  int slices;         // slices of equal charge, >= 1
  double phi;         // half crossing angle, rad (|phi| < pi/2)
  bool plane_y;       // crossing plane vertical (else horizontal)
  double x0, y0;      // the bunch's centre as seen from the reference orbit, m
};

// One slice, in the head-on frame and in the crossing plane's frame (x the
// crossing plane): its longitudinal position zs (its centroid, over cos phi),
// its centre (xc, yc) = (x0 + zs sin phi, y0), the reference orbit's kick
// there fk2 = f Gx, fk1 = f Gy and the derivative dref of the potential
// along the collision point there (subtracted, so that the reference orbit
// keeps all six coordinates), and the fast mode's borders of the far form.
struct Slice6d {
  double zs, xc, yc;
  double fk1, fk2, dref;
  double far1, far2;
};

struct Encounter6d {
  bool plane_y;  // the particles' x and y are exchanged on the way in and out
  bool boost;    // phi != 0: without crossing the boost is the identity and is skipped
  // sin, cos, tan of phi, 1/cos, tan^2, cos^2.
  double sphi, cphi, tphi, rcphi, t2, c2;
  double f;   // F / slices, the strength of one slice
  double q;   // sqrt(2/pi), the kick function's factor
  double fq;  // f q
  // The squared sizes at a collision point S (m from the interaction
  // point), in the crossing plane's frame: sigma_x^2(S) = sx2 (1 + S (ax1 +
  // S ax2)), its derivative sx2 (ax1 + S ax2d); the same for y.
  double sx2, ax1, ax2, ax2d;
  double sy2, ay1, ay2, ay2d;
  std::vector<Slice6d> slice;  // from the bunch's head (met first) to its tail
};

// The centroids of n >= 1 slices of equal charge of a Gaussian of unit
// r.m.s. length, from the largest (the head) to the smallest: with the
// borders t_k = Phi^-1(k/n), slice k's centroid is
// n (exp(-t_k^2/2) - exp(-t_(k+1)^2/2)) / sqrt(2 pi). Exactly antisymmetric.
std::vector<double> slice_centroids(int n);

// The element's constants; the reference orbit's kicks by the evaluation of
// w of `mode`, as the kicks will be.
Encounter6d make_encounter6d(const Encounter6dSpec& spec, ErrfMode mode);

// The six coordinate columns of n particles: x, px (m, rad), y, py, z (m,
// ahead of the reference particle positive), delta.
struct SixColumns {
  double *x, *px, *y, *py, *z, *d;
};

// The element on particles 0 .. n - 1 of c, the one-lane instance of the
// lanes' kernel (every lane type gives the same bits).
void encounter6d(const Encounter6d& e, const SixColumns& c, int n, ErrfMode mode);

}  // namespace bbtrack
