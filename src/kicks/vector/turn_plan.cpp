#include "kicks/vector/turn_plan.h"

#include <cmath>

#include "kicks/bbkick.h"
#include "kicks/transport.h"

namespace bbtrack {

void fill_kick0(State& st, ErrfMode errf_mode) {
  const auto& bc = st.bbcoord.bbcoord;
  for (int k = 1; k <= kSections; ++k) {
    if (!encounter_kicks(st, k) || st.qarind.kick0set(k) != 0) continue;
    double gy0, gx0;
    ffrank(0.0, 0.0, bc(k, 3), bc(k, 4), bc(k, 1), bc(k, 2), gy0, gx0, errf_mode);
    st.qarkick.kick0(k, 1) = gy0;
    st.qarkick.kick0(k, 2) = gx0;
    st.qarind.kick0set(k) = 1;
  }
}

void build_plan(const State& st, TurnPlan& plan) {
  const auto& bc = st.bbcoord.bbcoord;
  const auto& t = st.qarrot.tmat;
  const double factor = st.vorn.factor;
  for (int k = 1; k <= kSections; ++k) {
    SectionPlan& p = plan.sec[k - 1];
    p = SectionPlan{};
    p.kick = encounter_kicks(st, k);
    const double sigx = bc(k, 1);
    const double sigy = bc(k, 2);
    p.x0 = bc(k, 3);
    p.y0 = bc(k, 4);
    p.turned = sigx < sigy;
    const double a = p.turned ? sigy : sigx;
    const double b = p.turned ? sigx : sigy;
    p.round = std::fabs(a / b - 1.0) < 0.01;
    const double pi = 4.0 * std::atan(1.0);
    p.q = 2.0 / std::sqrt(2.0 * pi);
    p.ab2 = 2.0 * a * b;
    p.s = std::sqrt(2.0 * (a * a - b * b));
    p.rho = b / a;
    p.rhos = p.rho * p.s;
    p.a2x2 = 2.0 * (a * a);
    p.b2x2 = 2.0 * (b * b);
    p.d = std::sqrt(a * a - b * b);
    p.rs = 1.0 / p.s;
    p.rrhos = 1.0 / p.rhos;
    p.ra2x2 = 1.0 / p.a2x2;
    p.rb2x2 = 1.0 / p.b2x2;
    p.rd = 1.0 / p.d;
    const double u0 = std::fabs(p.turned ? p.y0 : p.x0);
    const double v0 = std::fabs(p.turned ? p.x0 : p.y0);
    p.far1 = errf_fast_detail::far_border(u0 * p.rs, v0 * p.rs);
    p.far2 = errf_fast_detail::far_border(p.rho * u0 * p.rs, v0 * p.rrhos);
    p.factor = factor;
    p.r11 = t(k, 1, 1);
    p.r12 = t(k, 1, 2);
    p.r21 = t(k, 2, 1);
    p.r22 = t(k, 2, 2);
    p.r33 = t(k, 3, 3);
    p.r34 = t(k, 3, 4);
    p.r43 = t(k, 4, 3);
    p.r44 = t(k, 4, 4);
    p.nwire = st.wires.count(k);
    p.wire = st.wires.w + st.wires.first(k);
  }
  refresh_plan(st, plan);
}

void refresh_plan(const State& st, TurnPlan& plan) {
  for (int k = 1; k <= kSections; ++k) {
    SectionPlan& p = plan.sec[k - 1];
    p.fk1 = p.factor * st.qarkick.kick0(k, 1);
    p.fk2 = p.factor * st.qarkick.kick0(k, 2);
  }
}

}  // namespace bbtrack
