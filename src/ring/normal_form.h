// The linear normal form of a one-turn map on x, x', y, y': its tunes and
// the normalising matrix A of its eigenvectors, M = A R A^-1 with R the
// rotations of the two modes (docs/physics.md, "Optics of the general
// ring").
#pragma once

#include <string>

namespace bbtrack {

struct NormalForm {
  bool coupled = false;  // M has a non-zero entry in its coupling blocks
  // Fractional tunes in (0, 1) of mode 1 (the horizontal one, whose
  // eigenvector lies more in x, x') and mode 2.
  double q1 = 0.0, q2 = 0.0;
  // x = A z, z = (x1, p1, x2, p2) the modes' normalised coordinates;
  // A symplectic, A^-1 = -S A^T S.
  double a[4][4] = {}, ainv[4][4] = {};
  // Uncoupled: each plane's Courant-Snyder functions (A = [[sqrt(beta), 0],
  // [-alpha/sqrt(beta), 1/sqrt(beta)]] per plane).
  double betx = 0.0, alfx = 0.0, bety = 0.0, alfy = 0.0;
};

// The normal form of m; false when the map is not stable, with why set to
// the mode (plane) and its trace.
bool normal_form(const double (&m)[4][4], NormalForm& nf, std::string& why);

}  // namespace bbtrack
