// Radix-3 pass.
#include <cmath>

#include "spectral/fft_steps.h"
#include "spectral/radix_pass_frame.h"

namespace bbtrack {
namespace {

using c06ea::Cx;

struct Radix3 {
  static constexpr int kP = 3;
  static constexpr int kBlock[kP] = {0, 1, 2};
  double s60 = std::sqrt(0.75);  // sin(2 pi / 3)
  Cx half[kP] = {{1.0, 0.0}, {0.5, -s60}, {-0.5, -s60}};

  void dft(const Cx* y, Cx* z) const {
    const Cx sum = y[1] + y[2];
    const Cx rot = s60 * c06ea::mul_mi(y[1] - y[2]);
    const Cx mid = y[0] - 0.5 * sum;
    z[0] = y[0] + sum;
    z[1] = mid + rot;
    z[2] = mid - rot;
  }
};

}  // namespace

void C06EAU(double* x, std::int32_t n, std::int32_t m) {
  c06ea::radix_pass(x, n, m, Radix3{});
}

}  // namespace bbtrack
