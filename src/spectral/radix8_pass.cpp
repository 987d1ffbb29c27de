// Radix-8 pass: three grouped radix-2 steps, so the permutation has left
// the blocks in 3-bit-reversed order.
#include <cmath>

#include "spectral/fft_steps.h"
#include "spectral/radix_pass_frame.h"
#include "spectral/machine_pi.h"

namespace bbtrack {
namespace {

using c06ea::Cx;

struct Radix8 {
  static constexpr int kP = 8;
  static constexpr int kBlock[kP] = {0, 4, 2, 6, 1, 5, 3, 7};
  double pi = X01AAF(0.0);
  double r = std::sqrt(0.5);
  double c1 = std::cos(pi / 8.0);        // = sin(3 pi / 8)
  double c3 = std::cos(3.0 * pi / 8.0);  // = sin(pi / 8)
  Cx half[kP] = {{1.0, 0.0},  {c1, -c3},  {r, -r},  {c3, -c1},
                 {0.0, -1.0}, {-c3, -c1}, {-r, -r}, {-c1, -c3}};

  static void dft4(Cx y0, Cx y1, Cx y2, Cx y3, Cx* z) {
    const Cx s02 = y0 + y2;
    const Cx d02 = y0 - y2;
    const Cx s13 = y1 + y3;
    const Cx d13 = c06ea::mul_mi(y1 - y3);
    z[0] = s02 + s13;
    z[1] = d02 + d13;
    z[2] = s02 - s13;
    z[3] = d02 - d13;
  }

  // Even and odd halves, joined with the eighth roots of unity.
  void dft(const Cx* y, Cx* z) const {
    Cx e[4], o[4];
    dft4(y[0], y[2], y[4], y[6], e);
    dft4(y[1], y[3], y[5], y[7], o);
    const Cx o1 = {r * (o[1].re + o[1].im), r * (o[1].im - o[1].re)};
    const Cx o2 = c06ea::mul_mi(o[2]);
    const Cx o3 = {r * (o[3].im - o[3].re), -(r * (o[3].re + o[3].im))};
    z[0] = e[0] + o[0];
    z[4] = e[0] - o[0];
    z[1] = e[1] + o1;
    z[5] = e[1] - o1;
    z[2] = e[2] + o2;
    z[6] = e[2] - o2;
    z[3] = e[3] + o3;
    z[7] = e[3] - o3;
  }
};

}  // namespace

void C06EAR(double* x, std::int32_t n, std::int32_t m) {
  c06ea::radix_pass(x, n, m, Radix8{});
}

}  // namespace bbtrack
