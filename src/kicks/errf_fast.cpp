#include "kicks/errf_fast.h"

#include <cstring>

#include "kicks/errf_fast_lanes.h"
#include "kicks/lanes/one_lane.h"

namespace bbtrack {

ErrfMode errf_mode_for(const char* bbtrack_errf) {
  return bbtrack_errf != nullptr && std::strcmp(bbtrack_errf, "fast") == 0 ? ErrfMode::fast
                                                                           : ErrfMode::exact;
}

void errf_fast(double xx, double yy, double& wx, double& wy, double far2) {
  const double zx[1] = {xx}, zy[1] = {yy}, border[1] = {far2};
  double re[1], im[1];
  errf_fast_lanes<OneLane, 1>(zx, zy, border, re, im);
  wx = re[0];
  wy = im[0];
}

double exp_fast(double t) {
  const double a[1] = {t};
  double e[1];
  errf_fast_detail::exp_nonpositive<OneLane, 1>(a, e);
  return e[0];
}

}  // namespace bbtrack
