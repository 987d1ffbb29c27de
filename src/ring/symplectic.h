// What the linear normal forms of the 4x4 and the 6x6 one-turn map share:
// a mode's eigenvector made into two columns of the normalising matrix A,
// and the inverse of a symplectic A.
#pragma once

#include <complex>

namespace bbtrack {

// Columns 2 mode and 2 mode + 1 of A from the mode's symplectically
// normalised eigenvector v, turned by the phase that makes the mode's own
// position component real and positive (A12 = 0, A34 = 0, ... as
// Courant-Snyder's A).
template <int N>
void put_mode(const std::complex<double> (&v)[N], int mode, double (&a)[N][N]) {
  const std::complex<double> own = v[2 * mode];
  const std::complex<double> turn =
      std::abs(own) > 0.0 ? std::conj(own) / std::abs(own) : std::complex<double>(1.0, 0.0);
  for (int i = 0; i < N; ++i) {
    const std::complex<double> z = v[i] * turn;
    a[i][2 * mode] = z.real();
    a[i][2 * mode + 1] = z.imag();
  }
}

// A^-1 = -S A^T S of a symplectic A, S the block diagonal of [[0, 1],
// [-1, 0]]: (A^-1)_ij = -S_ik A_lk S_lj.
template <int N>
void symplectic_inverse(const double (&a)[N][N], double (&ainv)[N][N]) {
  auto s = [](int i, int j) {
    return i / 2 != j / 2                   ? 0.0
           : (i % 2 == 0 && j == i + 1)     ? 1.0
           : (j % 2 == 0 && i == j + 1)     ? -1.0
                                            : 0.0;
  };
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j) {
      double sum = 0.0;
      for (int k = 0; k < N; ++k)
        for (int l = 0; l < N; ++l) sum += s(i, k) * a[l][k] * s(l, j);
      ainv[i][j] = -sum;
    }
}

}  // namespace bbtrack
