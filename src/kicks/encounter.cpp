#include "kicks/encounter.h"

#include <cmath>

#include "kicks/bbkick.h"
#include "kicks/kick_lanes.h"
#include "kicks/lanes/one_lane.h"

namespace bbtrack {

Encounter encounter_in_frame(double a, double b, double u0, double v0) {
  Encounter e{};
  e.round = std::fabs(a / b - 1.0) < kRoundTolerance;
  const double pi = 4.0 * std::atan(1.0);
  e.q = 2.0 / std::sqrt(2.0 * pi);  // sqrt(2/pi)
  field_constants<OneLane, true>(a, b, e);
  // The centre's arguments, computed as the particles' arguments are.
  e.far1 = errf_fast_detail::far_border(u0 * e.rs, v0 * e.rs);
  e.far2 = errf_fast_detail::far_border(e.rho * u0 * e.rs, v0 * e.rrhos);
  return e;
}

Encounter encounter_field(double sigx, double sigy, double x0, double y0) {
  const bool turned = sigx < sigy;
  Encounter e = encounter_in_frame(turned ? sigy : sigx, turned ? sigx : sigy,
                                   std::fabs(turned ? y0 : x0), std::fabs(turned ? x0 : y0));
  e.turned = turned;
  e.x0 = x0;
  e.y0 = y0;
  return e;
}

Encounter encounter_of(const State& st, int k) {
  const auto& bc = st.bbcoord.bbcoord;
  Encounter e = encounter_field(bc(k, 1), bc(k, 2), bc(k, 3), bc(k, 4));
  e.factor = st.vorn.factor;
  take_reference_kick(st, k, e);
  return e;
}

void take_reference_kick(const State& st, int k, Encounter& e) {
  e.fk1 = e.factor * st.qarkick.kick0(k, 1);
  e.fk2 = e.factor * st.qarkick.kick0(k, 2);
}

void reference_kick(State& st, int k, ErrfMode errf_mode) {
  if (st.qarind.kick0set(k) != 0) return;
  const auto& bc = st.bbcoord.bbcoord;
  double gy0, gx0;
  ffrank(0.0, 0.0, bc(k, 3), bc(k, 4), bc(k, 1), bc(k, 2), gy0, gx0, errf_mode);
  st.qarkick.kick0(k, 1) = gy0;
  st.qarkick.kick0(k, 2) = gx0;
  st.qarind.kick0set(k) = 1;
}

}  // namespace bbtrack
