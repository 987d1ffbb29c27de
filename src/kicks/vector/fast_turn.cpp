#include "kicks/vector/fast_turn.h"

#include <omp.h>

#include <cstring>
#include <memory>

#include "kicks/vector/block_entry_points.h"
#include "kicks/transport.h"

namespace bbtrack {

TurnPath turn_path_for(const char* bbtrack_scalar) {
  return bbtrack_scalar != nullptr && std::strcmp(bbtrack_scalar, "1") == 0 ? TurnPath::scalar
                                                                             : TurnPath::best;
}

bool FastTurn::supported(TurnPath path) {
  switch (path) {
    case TurnPath::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    case TurnPath::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    default:
      return true;
  }
}

FastTurn::FastTurn(TurnPath path, int threads, ErrfMode errf_mode)
    : path_(path), errf_mode_(errf_mode) {
  if (path_ == TurnPath::best || !supported(path_)) {
    path_ = supported(TurnPath::avx512) ? TurnPath::avx512
            : supported(TurnPath::avx2) ? TurnPath::avx2
                                        : TurnPath::scalar;
  }
  const bool fast = errf_mode_ == ErrfMode::fast;
  if (path_ == TurnPath::avx512) {
    lanes_ = kAvx512Lanes;
    kernel_ = fast ? track_range_fast_avx512 : track_range_avx512;
  } else if (path_ == TurnPath::avx2) {
    lanes_ = kAvx2Lanes;
    kernel_ = fast ? track_range_fast_avx2 : track_range_avx2;
  }
  if (kernel_ == nullptr) return;  // the scalar routines, in this thread
  threads_ = threads > 0 ? threads : omp_get_max_threads();
  workspace_.resize(static_cast<std::size_t>(threads_));
  for (auto& w : workspace_) w = std::make_unique<LaneWorkspace>();
  if (threads_ > 1) {
    // Start the thread team now rather than in the first turn.
#pragma omp parallel num_threads(threads_)
    {
    }
  }
}

void FastTurn::turn(State& st) {
  const int n = st.np.npart;
  if (kernel_ == nullptr || n <= 0) {
    track_turn(st, errf_mode_);
    return;
  }
  // The reference-orbit kicks first, in one thread, as the first kick of
  // each encounter would compute them; the blocks only read them.
  fill_kick0(st, errf_mode_);
  // The ring's plan once per run (per state); every turn only the parts
  // that kick0 holds.
  if (planned_for_ != &st) {
    build_plan(st, plan_);
    planned_for_ = &st;
  } else {
    refresh_plan(st, plan_);
  }
  auto& c = st.coord.coord;
  const ParticleColumns cols{c.column(1), c.column(2), c.column(3), c.column(4)};
  // Particles are independent within a turn: each thread takes a run of
  // whole blocks and carries it through all sections; the per-turn
  // diagnostics stay in the calling thread.
  const int w = lanes_;
  const int blocks = (n + w - 1) / w;
  const int parts = threads_ < blocks ? threads_ : blocks;
  const Kernel kernel = kernel_;
  const TurnPlan& plan = plan_;
  if (parts == 1) {
    kernel(plan, cols, 0, n, *workspace_[0]);
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
    kernel(plan, cols, first, last - first, *workspace_[static_cast<std::size_t>(t)]);
    seconds_[static_cast<std::size_t>(t)] = omp_get_wtime() - start;
  }
  split_.rebalance(seconds_);
}

}  // namespace bbtrack
