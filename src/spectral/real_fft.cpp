#include "spectral/real_fft.h"

#include <cmath>

#include "spectral/fft_steps.h"

namespace bbtrack {

void C06EAF(double* x, std::int32_t n, std::int32_t& ifail, NagLib& lib) {
  std::int32_t ierror = 0;
  C06EAFactors f;
  if (n < 2) {
    ierror = 3;
  } else {
    C06EAZ(n, f, ierror);
  }
  if (ierror != 0) {
    ifail = P01ABF(ifail, ierror, "C06EAF", 0, nullptr, lib);
    return;
  }

  C06EAY(x, n, f);
  C06EAW(x, n, f);
  const double root = std::sqrt(static_cast<double>(n));
  for (std::int32_t i = 0; i < n; ++i) x[i] /= root;
  ifail = 0;
}

}  // namespace bbtrack
