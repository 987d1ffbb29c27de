#include "kicks/transport.h"

#include "kicks/encounter.h"
#include "kicks/lanes/one_lane.h"
#include "kicks/vector/lane_kernels.h"
#include "kicks/vector/turn_kernel.h"
#include "kicks/vector/turn_plan.h"

namespace bbtrack {

SectionMatrix section_matrix(const State& st, int k) {
  const auto& t = st.qarrot.tmat;
  return {t(k, 1, 1), t(k, 1, 2), t(k, 2, 1), t(k, 2, 2),
          t(k, 3, 3), t(k, 3, 4), t(k, 4, 3), t(k, 4, 4)};
}

void bbkickvorn(State& st, int k, ErrfMode errf_mode) {
  const int n = st.np.npart;
  if (n <= 0) return;
  reference_kick(st, k, errf_mode);
  const Encounter e = encounter_of(st, k);
  const ParticleColumns c = particle_columns(st);
  if (errf_mode == ErrfMode::fast)
    beam_beam_kick<OneLane, 1, ErrfMode::fast>(e, c, n, n, nullptr, nullptr);
  else
    beam_beam_kick<OneLane, 1, ErrfMode::exact>(e, c, n, n, nullptr, nullptr);
}

void rotvorn(State& st, int k) {
  const int n = st.np.npart;
  if (n > 0) transport_range<OneLane>(section_matrix(st, k), particle_columns(st), n);
}

bool encounter_kicks(const State& st, int k) {
  const auto& ex = st.excluded;
  for (int j = 1; j <= ex.nexcl; ++j)
    if (ex.excl(j) == k) return false;
  return k != st.qarcavind.cavind;
}

void track_turn(State& st, ErrfMode errf_mode) {
  const int n = st.np.npart;
  if (n <= 0) return;
  fill_kick0(st, errf_mode);
  ++st.turn.n;
  TurnPlan plan;
  build_plan(st, plan);
  const LaneKernels& one = *lane_target(TurnPath::scalar).kernels;
  one.track[static_cast<int>(errf_mode)](plan, particle_columns(st), 0, n, nullptr);
}

}  // namespace bbtrack
