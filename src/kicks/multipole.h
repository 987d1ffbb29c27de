// Thin multipoles: the kick of a point's multipoles (MultipoleKick, summed
// at start-up from "multipoles.dat"), in the convention of the lattice codes
//   dx' - i dy' = -sum_n (K_nL + i J_nL) (x + i y)^n / n!,  n = 1 .. 10,
// positions in m. The polynomial is summed by Horner's rule in z = x + i y
// with its coefficients c_n = (K_nL + i J_nL) / n!; it has no constant
// term, so a particle on the reference orbit gets no kick and the closed
// orbit stays where it is.
//
// Written once over the lane type L (L::D a double or a register of them,
// with + - * and L::set1): the scalar path instantiates it for one double,
// the particle blocks for a register, and every lane performs the same
// operations in the same order, so both round alike.
#pragma once

#include "run/state.h"

namespace bbtrack {

template <class L>
inline void multipole_kick(const MultipoleKick& m, typename L::D x, typename L::D y,
                           typename L::D& xp, typename L::D& yp) {
  using D = typename L::D;
  D pr = L::set1(m.cr[m.order]);
  D pi = L::set1(m.ci[m.order]);
  for (int n = m.order - 1; n >= 1; --n) {
    const D r = pr * x - pi * y;
    const D i = pr * y + pi * x;
    pr = r + L::set1(m.cr[n]);
    pi = i + L::set1(m.ci[n]);
  }
  // The last factor z: the sum has no constant term.
  const D r = pr * x - pi * y;
  const D i = pr * y + pi * x;
  xp = xp - r;
  yp = yp + i;
}

// Whether point k has multipoles: the one check a section without them pays.
inline bool has_multipoles(const State& st, int k) {
  return st.multipoles.at(k).order > 0;
}

}  // namespace bbtrack
