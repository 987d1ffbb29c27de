#include "kicks/modulation.h"

#include <cmath>

namespace bbtrack {

void modulation_tunes(const State& st, int32 turn, double& dqx, double& dqy) {
  const double twopi = 2.0 * st.constant.pi;
  const double n = static_cast<double>(turn);
  dqx = 0.0;
  dqy = 0.0;
  const auto& md = st.modulation;
  for (int32 j = 0; j < md.nterm; ++j) {
    const ModulationTerm& t = md.term[j];
    const double dq = t.dq * std::sin(twopi * n / t.period + t.phase);
    (t.plane == 1 ? dqx : dqy) += dq;
  }
}

TurnRotation modulation_at(const State& st, int32 turn) {
  TurnRotation r{};
  for (int32 j = 0; j < st.modulation.nterm; ++j)
    (st.modulation.term[j].plane == 1 ? r.x : r.y) = true;
  double dqx, dqy;
  modulation_tunes(st, turn, dqx, dqy);
  const double twopi = 2.0 * st.constant.pi;
  const auto& tw = st.twiss;
  // The matched rotation of one plane through theta.
  auto matched = [](double theta, double alfa, double beta, double& m11, double& m12, double& m21,
                    double& m22) {
    const double c = std::cos(theta), s = std::sin(theta);
    const double gamma = (1.0 + alfa * alfa) / beta;
    m11 = c + alfa * s;
    m12 = beta * s;
    m21 = -gamma * s;
    m22 = c - alfa * s;
  };
  if (r.x) matched(twopi * dqx, tw.alfx, tw.betx, r.x11, r.x12, r.x21, r.x22);
  if (r.y) matched(twopi * dqy, tw.alfy, tw.bety, r.y11, r.y12, r.y21, r.y22);
  return r;
}

}  // namespace bbtrack
