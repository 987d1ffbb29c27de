// Radix-4 pass: two grouped radix-2 steps, so the permutation has left the
// blocks in 2-bit-reversed order.
#include <cmath>

#include "spectral/fft_steps.h"
#include "spectral/radix_pass_frame.h"

namespace bbtrack {
namespace {

using c06ea::Cx;

struct Radix4 {
  static constexpr int kP = 4;
  static constexpr int kBlock[kP] = {0, 2, 1, 3};
  double r = std::sqrt(0.5);
  Cx half[kP] = {{1.0, 0.0}, {r, -r}, {0.0, -1.0}, {-r, -r}};

  static void dft(const Cx* y, Cx* z) {
    const Cx s02 = y[0] + y[2];
    const Cx d02 = y[0] - y[2];
    const Cx s13 = y[1] + y[3];
    const Cx d13 = c06ea::mul_mi(y[1] - y[3]);
    z[0] = s02 + s13;
    z[1] = d02 + d13;
    z[2] = s02 - s13;
    z[3] = d02 - d13;
  }
};

}  // namespace

void C06EAT(double* x, std::int32_t n, std::int32_t m) {
  c06ea::radix_pass(x, n, m, Radix4{});
}

}  // namespace bbtrack
