#include "kicks/errf_fast.h"

#include <cmath>
#include <cstring>

#include "kicks/errf.h"

namespace bbtrack {

ErrfMode errf_mode_for(const char* bbtrack_errf) {
  return bbtrack_errf != nullptr && std::strcmp(bbtrack_errf, "fast") == 0 ? ErrfMode::fast
                                                                            : ErrfMode::exact;
}

void errf_fast(double xx, double yy, double& wx, double& wy, double far2) {
  const double x[1] = {std::fabs(xx)};
  const double y[1] = {std::fabs(yy)};
  const double r2[1] = {x[0] * x[0] + y[0] * y[0]};
  double re[1], im[1];
  using errf_fast_detail::OneLane;
  if (r2[0] < far2) {
    errf_fast_detail::first_quadrant<OneLane, 1>(x, y, re, im);
  } else {
    const errf_fast_detail::FarTerms<OneLane> terms[1] = {
        errf_fast_detail::far_terms<OneLane>(r2[0])};
    const int top = errf_fast_detail::far_count(terms[0].over_mid, terms[0].over_7);
    errf_fast_detail::far_quadrant<OneLane, 1>(x, y, r2, terms, top, top, re, im);
  }
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
