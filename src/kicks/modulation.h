// Tune modulation: on turn n the tune of a plane is moved by
//   dQ(n) = sum of its terms dQ sin(2 pi n / T + phi)
// by an extra rotation through 2 pi dQ(n) in the normalised coordinates of
// the observation point (start of section 1), where the ring's one-turn
// matrix is the rotation through 2 pi q. In the tracking coordinates the
// rotation through theta is the matrix with that point's alpha, beta,
// gamma = (1 + alpha^2) / beta,
//   [[cos theta + alpha sin theta,  beta sin theta],
//    [-gamma sin theta,             cos theta - alpha sin theta]],
// which commutes with the one-turn matrix: the ring stays matched and its
// tune becomes q + dQ(n). The matrix is made once per turn
// (modulation_at); each particle pays only its product (modulation_rotate).
#pragma once

#include "run/state.h"

namespace bbtrack {

// The modulation's matrices of one turn; a plane without terms is left alone.
struct TurnRotation {
  bool x, y;                  // whether the plane has terms
  double x11, x12, x21, x22;  // horizontal matrix
  double y11, y12, y21, y22;  // vertical matrix
};

// Whether the run modulates a tune ("modulation.dat" present with terms).
inline bool has_modulation(const State& st) {
  return st.modulation.nterm > 0;
}

// The tune shifts dQ(n) of turn n (turns counted from 1), per plane.
void modulation_tunes(const State& st, int32 turn, double& dqx, double& dqy);

// The matrices of turn n.
TurnRotation modulation_at(const State& st, int32 turn);

// The rotation of one turn on the particles of a lane, at the observation
// point; written once over the lane type as the kicks are.
template <class L>
inline void modulation_rotate(const TurnRotation& r, typename L::D& x, typename L::D& xp,
                              typename L::D& y, typename L::D& yp) {
  using D = typename L::D;
  if (r.x) {
    const D x0 = x, xp0 = xp;
    x = L::set1(r.x11) * x0 + L::set1(r.x12) * xp0;
    xp = L::set1(r.x21) * x0 + L::set1(r.x22) * xp0;
  }
  if (r.y) {
    const D y0 = y, yp0 = yp;
    y = L::set1(r.y11) * y0 + L::set1(r.y12) * yp0;
    yp = L::set1(r.y21) * y0 + L::set1(r.y22) * yp0;
  }
}

}  // namespace bbtrack
