// General pass for the odd primes 7, 11, 13, 17 and 19: the p-point
// transform evaluated directly from a table of the p-th roots of unity.
#include <array>
#include <cmath>
#include <cstdlib>

#include "spectral/fft_steps.h"
#include "spectral/radix_pass_frame.h"
#include "spectral/machine_pi.h"

namespace bbtrack {
namespace {

using c06ea::Cx;

template <int P>
struct RadixOdd {
  static constexpr int kP = P;
  static constexpr int kHalf = (P - 1) / 2;
  static constexpr auto kBlock = [] {
    std::array<int, P> b{};
    for (int q = 0; q < P; ++q) b[q] = q;
    return b;
  }();
  double cs[P];  // cos(2 pi g / P)
  double sn[P];  // sin(2 pi g / P)
  Cx half[P];

  RadixOdd() {
    const double pi = X01AAF(0.0);
    cs[0] = 1.0;
    sn[0] = 0.0;
    for (int g = 1; g < P; ++g) {
      const double a = 2.0 * pi * static_cast<double>(g) / static_cast<double>(P);
      cs[g] = std::cos(a);
      sn[g] = std::sin(a);
    }
    // exp(-i pi q / P) is exp(-2 pi i (q/2) / P) for even q and
    // -exp(-2 pi i ((q+P)/2) / P) for odd q.
    for (int q = 0; q < P; ++q) {
      if (q % 2 == 0) {
        half[q] = {cs[q / 2], -sn[q / 2]};
      } else {
        half[q] = {-cs[(q + P) / 2], sn[(q + P) / 2]};
      }
    }
  }

  // Inputs q and P-q share a cosine and a sine of opposite sign, so
  // outputs l and P-l come from the same two sums.
  void dft(const Cx* y, Cx* z) const {
    Cx sum[kHalf + 1], dif[kHalf + 1];
    z[0] = y[0];
    for (int q = 1; q <= kHalf; ++q) {
      sum[q] = y[q] + y[P - q];
      dif[q] = y[q] - y[P - q];
      z[0] = z[0] + sum[q];
    }
    for (int l = 1; l <= kHalf; ++l) {
      Cx re = y[0];
      Cx im = {0.0, 0.0};
      int g = 0;
      for (int q = 1; q <= kHalf; ++q) {
        g += l;
        if (g >= P) g -= P;
        re = re + cs[g] * sum[q];
        im = im + sn[g] * dif[q];
      }
      const Cx rot = c06ea::mul_mi(im);
      z[l] = re + rot;
      z[P - l] = re - rot;
    }
  }
};

template <int P>
void odd_pass(double* x, std::int32_t n, std::int32_t m) {
  c06ea::radix_pass(x, n, m, RadixOdd<P>{});
}

}  // namespace

void C06EAQ(double* x, std::int32_t n, std::int32_t m, std::int32_t p) {
  switch (p) {
    case 7:
      return odd_pass<7>(x, n, m);
    case 11:
      return odd_pass<11>(x, n, m);
    case 13:
      return odd_pass<13>(x, n, m);
    case 17:
      return odd_pass<17>(x, n, m);
    case 19:
      return odd_pass<19>(x, n, m);
    default:
      std::abort();  // the factorisation yields no other radix
  }
}

}  // namespace bbtrack
