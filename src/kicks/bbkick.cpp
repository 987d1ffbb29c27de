#include "kicks/bbkick.h"

#include "kicks/encounter.h"
#include "kicks/kick_lanes.h"
#include "kicks/lanes/one_lane.h"

namespace bbtrack {
namespace {

// The kick function G of encounter e at (x, y) in the mode's evaluation of w.
template <ErrfMode kErrf>
void field_at(const Encounter& e, double x, double y, double& gy, double& gx) {
  const double px[1] = {x}, py[1] = {y};
  double hx[1], hy[1];
  field<OneLane, 1, kErrf>(e, px, py, hx, hy);
  gx = hx[0];
  gy = hy[0];
}

void field_at(const Encounter& e, double x, double y, double& gy, double& gx, ErrfMode mode) {
  if (mode == ErrfMode::fast)
    field_at<ErrfMode::fast>(e, x, y, gy, gx);
  else
    field_at<ErrfMode::exact>(e, x, y, gy, gx);
}

}  // namespace

void bbkick(double& wr1, double& wr2, double& wi1, double& wi2, double u, double v, double a,
            double b, ErrfMode errf_mode, double u0, double v0) {
  const Encounter e = encounter_in_frame(a, b, u0, v0);
  const Separation<OneLane> s{u, v, u * u + v * v};
  double z[5];
  double w[2][2];
  if (errf_mode == ErrfMode::fast) {
    ellipse_arguments<OneLane, ErrfMode::fast>(e, s, z[0], z[1], z[2], z[3], z[4]);
    const double zx[2] = {z[0], z[2]}, zy[2] = {z[1], z[3]}, far2[2] = {e.far1, e.far2};
    errf_fast_lanes<OneLane, 2>(zx, zy, far2, w[0], w[1]);
  } else {
    ellipse_arguments<OneLane, ErrfMode::exact>(e, s, z[0], z[1], z[2], z[3], z[4]);
    const double zx[2] = {z[0], z[2]}, zy[2] = {z[1], z[3]};
    ExpQueue none{nullptr, 0};
    errf_lanes<OneLane, 2>(zx, zy, w[0], w[1], none);
  }
  wr1 = w[0][0];
  wr2 = w[0][1];
  wi1 = w[1][0];
  wi2 = w[1][1];
}

void ffrank(double x, double y, double x0, double y0, double sigx, double sigy, double& gy,
            double& gx, ErrfMode errf_mode) {
  field_at(encounter_field(sigx, sigy, x0, y0), x, y, gy, gx, errf_mode);
}

void kickvorn(State& st, double x, double y, double& dxp, double& dyp, int k, ErrfMode errf_mode) {
  reference_kick(st, k, errf_mode);
  const Encounter e = encounter_of(st, k);
  double gy, gx;
  field_at(e, x, y, gy, gx, errf_mode);
  angle_changes<OneLane>(e, gx, gy, dxp, dyp);
}

}  // namespace bbtrack
