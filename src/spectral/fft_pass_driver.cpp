// Pass driver: one radix pass per entry of the pass list.
#include "spectral/fft_steps.h"

namespace bbtrack {

void C06EAW(double* x, std::int32_t n, const C06EAFactors& f) {
  std::int32_t m = 1;  // length of the transforms already formed
  for (std::size_t i = 0; f.pass[i] != 0; ++i) {
    const std::int32_t p = f.pass[i];
    switch (p) {
      case 1:
        continue;  // a 2 taken into the next group
      case 2:
        C06EAV(x, n, m);
        break;
      case 3:
        C06EAU(x, n, m);
        break;
      case 4:
        C06EAT(x, n, m);
        break;
      case 5:
        C06EAS(x, n, m);
        break;
      case 8:
        C06EAR(x, n, m);
        break;
      default:
        C06EAQ(x, n, m, p);
        break;
    }
    m *= p;
  }
}

}  // namespace bbtrack
