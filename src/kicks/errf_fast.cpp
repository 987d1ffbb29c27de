#include "kicks/errf_fast.h"

#include <cmath>
#include <cstring>

#include "kicks/errf.h"

namespace bbtrack {

ErrfMode errf_mode_for(const char* bbtrack_errf) {
  return bbtrack_errf != nullptr && std::strcmp(bbtrack_errf, "fast") == 0 ? ErrfMode::fast
                                                                            : ErrfMode::exact;
}

void errf_fast(double xx, double yy, double& wx, double& wy) {
  const double x[1] = {std::fabs(xx)};
  const double y[1] = {std::fabs(yy)};
  double re[1], im[1];
  errf_fast_detail::first_quadrant<errf_fast_detail::OneLane, 1>(x, y, re, im);
  wx = re[0];
  wy = im[0];
  errf_tail(xx, yy, wx, wy);
}

double exp_fast(double t) {
  const double a[1] = {t};
  double e[1];
  errf_fast_detail::exp_nonpositive<errf_fast_detail::OneLane, 1>(a, e);
  return e[0];
}

}  // namespace bbtrack
