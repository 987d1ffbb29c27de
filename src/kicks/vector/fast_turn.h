#pragma once

#include <memory>
#include <vector>

#include "kicks/errf_fast.h"
#include "kicks/vector/lane_kernels.h"
#include "kicks/vector/thread_split.h"
#include "kicks/vector/turn_plan.h"
#include "run/state.h"

namespace bbtrack {

// TurnPath (kicks/vector/lane_kernels.h): how a turn is computed, scalar
// (one lane, as track_turn), avx2, avx512 or best.

// One turn of the ring by the turn kernel of a path, each thread carrying
// its run of the particles through all sections of the plan (the 73 of
// the classic ring, or those of the general ring, st.ring). The
// coordinates (and kick0 with kick0set) come out bit for bit as track_turn
// leaves them, for any path and thread count; only a NaN, which valid input
// never produces, may come out with another sign or payload, as the
// compiler is free to choose which of two NaN operands a sum passes on.
// Holds its workspace, so nothing is allocated per turn; the threads are
// started by the constructor, and their shares of the particles follow the
// time each took in the turn before (thread_split.h). The plan of the ring
// is made at the first turn of a state and kept for its later turns, as the
// ring does not change during a run; only the reference-orbit kicks, the
// wires' currents and the tunes' modulation of turn st.turn.n (which turn()
// advances first) are made again every turn.
class FastTurn {
 public:
  // threads: the number of threads of a turn, 0 for OpenMP's default
  // (OMP_NUM_THREADS, else one per processor); the scalar path, the
  // reference, uses one. A path the processor cannot run is replaced by the
  // best one it can.
  // errf_mode: the evaluation of w in the kicks (errf_fast in the opt-in
  // mode), the same on every path.
  explicit FastTurn(TurnPath path = TurnPath::best, int threads = 0,
                    ErrfMode errf_mode = ErrfMode::exact);

  void turn(State& st);

  TurnPath path() const { return path_; }  // never best
  int lanes() const { return lanes_; }     // 1 for scalar
  int threads() const { return threads_; }
  ErrfMode errf_mode() const { return errf_mode_; }

  // Whether this processor (and the build) can run a path.
  static bool supported(TurnPath path);

 private:
  using Kernel = void (*)(const TurnPlan&, const ParticleColumns&, int, int, LaneWorkspace*);
  TurnPath path_;
  ErrfMode errf_mode_;
  int lanes_ = 1;
  int threads_ = 1;
  Kernel kernel_ = nullptr;
  TurnPlan plan_{};
  const State* planned_for_ = nullptr;  // the state plan_ was made for
  std::vector<std::unique_ptr<LaneWorkspace>> workspace_;  // one per thread
  ThreadSplit split_;                 // the threads' runs of blocks
  std::vector<double> seconds_;       // the time of each run in the last turn
};

// The path a run asks for by the value of its BBTRACK_SCALAR setting
// (nullptr when unset): "1" selects the scalar path, anything else the
// best block path.
TurnPath turn_path_for(const char* bbtrack_scalar);

}  // namespace bbtrack
