#include "kicks/vector/fast_turn.h"

#include <omp.h>

#include <cstring>
#include <memory>

#include "kicks/vector/lane_kernels.h"

namespace bbtrack {

TurnPath turn_path_for(const char* bbtrack_scalar) {
  return bbtrack_scalar != nullptr && std::strcmp(bbtrack_scalar, "1") == 0 ? TurnPath::scalar
                                                                            : TurnPath::best;
}

bool FastTurn::supported(TurnPath path) {
  if (path == TurnPath::best) return true;
  for (const LaneTarget& t : lane_targets())
    if (t.path == path) return t.supported;
  return false;
}

FastTurn::FastTurn(TurnPath path, int threads, ErrfMode errf_mode) : errf_mode_(errf_mode) {
  const LaneTarget& target = lane_target(path);
  path_ = target.path;
  lanes_ = target.kernels->lanes;
  kernel_ = target.kernels->track[static_cast<int>(errf_mode_)];
  if (path_ == TurnPath::scalar) {
    threads_ = 1;
    return;  // one lane works on the coordinates in place: no workspace
  }
  threads_ = threads > 0 ? threads : omp_get_max_threads();
  workspace_.resize(static_cast<std::size_t>(threads_));
  for (auto& w : workspace_) w = std::make_unique<LaneWorkspace>();
  if (threads_ > 1) {
    // Start the thread team now rather than in the first turn.
#pragma omp parallel num_threads(threads_)
    {}
  }
}

void FastTurn::turn(State& st) {
  const int n = st.np.npart;
  if (n <= 0) return;
  // The reference-orbit kicks first, in one thread, as the first kick of
  // each encounter would compute them; the kernels only read them.
  fill_kick0(st, errf_mode_);
  ++st.turn.n;
  // The ring's plan once per run (per state); every turn only the parts
  // that kick0 and the turn's number hold.
  if (planned_for_ != &st) {
    build_plan(st, plan_);
    planned_for_ = &st;
    for (auto& w : workspace_) w->size_outer(plan_.sec.size());
  } else {
    refresh_plan(st, plan_);
  }
  const ParticleColumns cols = particle_columns(st);
  // Particles are independent within a turn: each thread takes a run of
  // whole blocks and carries it through all sections; the per-turn
  // diagnostics stay in the calling thread.
  const int w = lanes_;
  const int blocks = (n + w - 1) / w;
  const int parts = threads_ < blocks ? threads_ : blocks;
  const Kernel kernel = kernel_;
  const TurnPlan& plan = plan_;
  auto workspace = [&](int t) {
    return workspace_.empty() ? nullptr : workspace_[static_cast<std::size_t>(t)].get();
  };
  if (parts == 1) {
    kernel(plan, cols, 0, n, workspace(0));
    return;
  }
  split_.fit(blocks, parts);
  seconds_.resize(static_cast<std::size_t>(parts));
  // Always the team the constructor started (a team of another size would
  // be allocated); with fewer blocks than threads some threads have none.
#pragma omp parallel for schedule(static, 1) num_threads(threads_)
  for (int t = 0; t < parts; ++t) {
    const double start = omp_get_wtime();
    const int first = w * split_.first(t);
    const int last = t + 1 == parts ? n : first + w * split_.blocks(t);
    kernel(plan, cols, first, last - first, workspace(t));
    seconds_[static_cast<std::size_t>(t)] = omp_get_wtime() - start;
  }
  split_.rebalance(seconds_);
}

}  // namespace bbtrack
