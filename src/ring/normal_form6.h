// The linear normal form of a symplectic one-turn map on x, x', y, y', z,
// delta (six-dimensional tracking): the three modes' tunes and the
// normalising matrix A of its eigenvectors, M = A R A^-1, R the rotations
// of the modes (docs/physics.md, "Optics of the general ring").
#pragma once

#include <string>

namespace bbtrack {

struct NormalForm6 {
  // Fractional tunes in (0, 1): mode 1 the horizontal (its eigenvector
  // most in x, x'), mode 2 the vertical, mode 3 the synchrotron motion (most
  // in z, delta).
  double q[3] = {};
  // x = A z, z = (x1, p1, x2, p2, x3, p3); A symplectic, A^-1 = -S A^T S;
  // each mode's own position entry A(2k, 2k+1) is 0 (as Courant-Snyder's A).
  double a[6][6] = {}, ainv[6][6] = {};
};

// The normal form of m; false when a mode is not stable or the map has no
// normal form, with why set.
bool normal_form6(const double (&m)[6][6], NormalForm6& nf, std::string& why);

}  // namespace bbtrack
