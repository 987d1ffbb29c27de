// Radix-2 pass.
#include "spectral/fft_steps.h"
#include "spectral/radix_pass_frame.h"

namespace bbtrack {
namespace {

using c06ea::Cx;

struct Radix2 {
  static constexpr int kP = 2;
  static constexpr int kBlock[kP] = {0, 1};
  Cx half[kP] = {{1.0, 0.0}, {0.0, -1.0}};

  static void dft(const Cx* y, Cx* z) {
    z[0] = y[0] + y[1];
    z[1] = y[0] - y[1];
  }
};

}  // namespace

void C06EAV(double* x, std::int32_t n, std::int32_t m) {
  c06ea::radix_pass(x, n, m, Radix2{});
}

}  // namespace bbtrack
