// The common frame of every radix pass of the real transform.
//
// A pass sees the array as groups of len = m*p elements. Each group holds p
// blocks of m elements, block q (at block position R::kBlock[q]) being the
// Hermitian-stored, unscaled transform B_q of one decimated subsequence:
// Re B_q(c) at c for c = 0..m/2, Im B_q(c) at m-c for c = 1..(m-1)/2. The
// pass replaces the group by the Hermitian-stored transform of length len,
//   Z_k = sum_q w^(q k) B_q(k mod m),   w = exp(-2 pi i / len).
// The 2p values at positions c and m-c of every block feed exactly the
// outputs k = c + l*m and their conjugates k = len - c - l*m, which occupy
// the same 2p positions; so each column pair is read whole and then
// overwritten, and the pass is in place.
//
// A radix R supplies:
//   kP            the radix
//   kBlock[q]     block position holding B_q
//   half[q]       exp(-i pi q / kP), the twiddles of frequency m/2
//   dft(y, z)     z_l = sum_q y_q exp(-2 pi i q l / kP), l = 0..kP-1
#pragma once

#include <cmath>
#include <cstdint>

#include "spectral/machine_pi.h"

namespace bbtrack::c06ea {

struct Cx {
  double re, im;
};

inline Cx operator+(Cx a, Cx b) {
  return {a.re + b.re, a.im + b.im};
}
inline Cx operator-(Cx a, Cx b) {
  return {a.re - b.re, a.im - b.im};
}
inline Cx operator*(Cx a, Cx b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline Cx operator*(double s, Cx a) {
  return {s * a.re, s * a.im};
}
// Multiplication by -i.
inline Cx mul_mi(Cx a) {
  return {a.im, -a.re};
}

// Stores Z_k of a group of length len in Hermitian order: frequencies above
// len/2 go in as the conjugate of Z_(len-k).
inline void put(double* grp, std::int32_t len, std::int32_t k, Cx z) {
  if (k == 0 || 2 * k == len) {
    grp[k] = z.re;
  } else if (2 * k < len) {
    grp[k] = z.re;
    grp[len - k] = z.im;
  } else {
    grp[len - k] = z.re;
    grp[k] = -z.im;
  }
}

template <class R>
void radix_pass(double* x, std::int32_t n, std::int32_t m, const R& radix) {
  constexpr int p = R::kP;
  const std::int32_t len = p * m;
  const double* const end = x + n;
  Cx y[p];
  Cx z[p];

  // Frequency 0 of every block: real inputs, outputs at multiples of m.
  for (double* grp = x; grp != end; grp += len) {
    for (int q = 0; q < p; ++q) y[q] = {grp[radix.kBlock[q] * m], 0.0};
    radix.dft(y, z);
    for (int l = 0; 2 * l <= p; ++l) put(grp, len, l * m, z[l]);
  }

  // Column pairs (c, m-c): twiddle by w^(q c), then a p-point transform.
  const double pi = X01AAF(0.0);
  for (std::int32_t c = 1; 2 * c < m; ++c) {
    const double theta = 2.0 * pi * static_cast<double>(c) / static_cast<double>(len);
    Cx tw[p];
    tw[1] = {std::cos(theta), -std::sin(theta)};
    for (int q = 2; q < p; ++q) tw[q] = tw[q - 1] * tw[1];
    for (double* grp = x; grp != end; grp += len) {
      y[0] = Cx{grp[c], grp[m - c]};  // B_0 is always the first block
      for (int q = 1; q < p; ++q) {
        const double* blk = grp + radix.kBlock[q] * m;
        y[q] = tw[q] * Cx{blk[c], blk[m - c]};
      }
      radix.dft(y, z);
      for (int l = 0; l < p; ++l) put(grp, len, c + l * m, z[l]);
    }
  }

  // Frequency m/2 (even m): real inputs turned by exp(-i pi q / p).
  if (m % 2 == 0) {
    const std::int32_t h = m / 2;
    for (double* grp = x; grp != end; grp += len) {
      for (int q = 0; q < p; ++q) y[q] = grp[radix.kBlock[q] * m + h] * radix.half[q];
      radix.dft(y, z);
      for (int l = 0; 2 * l < p; ++l) put(grp, len, h + l * m, z[l]);
    }
  }
}

}  // namespace bbtrack::c06ea
