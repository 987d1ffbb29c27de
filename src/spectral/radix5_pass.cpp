// Radix-5 pass.
#include <cmath>

#include "spectral/fft_steps.h"
#include "spectral/radix_pass_frame.h"
#include "spectral/machine_pi.h"

namespace bbtrack {
namespace {

using c06ea::Cx;

struct Radix5 {
  static constexpr int kP = 5;
  static constexpr int kBlock[kP] = {0, 1, 2, 3, 4};
  double pi = X01AAF(0.0);
  double c1 = std::cos(0.4 * pi), s1 = std::sin(0.4 * pi);  // 2 pi / 5
  double c2 = std::cos(0.8 * pi), s2 = std::sin(0.8 * pi);  // 4 pi / 5
  // (c1 - c2) / 2 and (c1 + c2) / 2 in closed form.
  double root5q = std::sqrt(5.0) / 4.0;
  double quarter = -0.25;
  Cx half[kP] = {{1.0, 0.0}, {-c2, -s2}, {c1, -s1}, {-c1, -s1}, {c2, -s2}};

  void dft(const Cx* y, Cx* z) const {
    const Cx t1 = y[1] + y[4];
    const Cx t2 = y[2] + y[3];
    const Cx t3 = y[1] - y[4];
    const Cx t4 = y[2] - y[3];
    const Cx t5 = t1 + t2;
    const Cx t6 = y[0] + quarter * t5;
    const Cx t7 = root5q * (t1 - t2);
    const Cx a1 = t6 + t7;
    const Cx a2 = t6 - t7;
    const Cx b1 = c06ea::mul_mi(s1 * t3 + s2 * t4);
    const Cx b2 = c06ea::mul_mi(s2 * t3 - s1 * t4);
    z[0] = y[0] + t5;
    z[1] = a1 + b1;
    z[2] = a2 + b2;
    z[3] = a2 - b2;
    z[4] = a1 - b1;
  }
};

}  // namespace

void C06EAS(double* x, std::int32_t n, std::int32_t m) {
  c06ea::radix_pass(x, n, m, Radix5{});
}

}  // namespace bbtrack
