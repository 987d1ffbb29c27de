// The opt-in fast error function (BBTRACK_ERRF=fast) against the exact
// evaluation, side by side in one run: one turn of the bundled example's
// diffusion run (169 particles) and of the same ring with flat opposing
// beams (sigma_y = sigma_x / 4 at every encounter), by the widest particle
// blocks in one and in two threads; particle-kicks per second. Below them
// the two evaluations of w alone, by the lanes, on a grid of the first
// quadrant (evaluations per second).
//
//   build/bench/bench_errf_fast --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/example_ring.h"
#include "kicks/transport.h"
#include "kicks/vector/lane_kernels.h"
#include "kicks/vector/fast_turn.h"

namespace {

using bbtrack::ErrfMode;
using bbtrack::FastTurn;
using bbtrack::State;
using bbtrack::TurnPath;

// The example with every opposing bunch made flat: sigma_y = sigma_x / 4.
std::unique_ptr<State> flat_state() {
  auto st = bench::example_state();
  for (int k = 1; k <= bbtrack::kSections; ++k)
    st->bbcoord.bbcoord(k, 2) = 0.25 * st->bbcoord.bbcoord(k, 1);
  return st;
}

double kicks_per_turn(const State& st) {
  int kicking = 0;
  for (int k = 1; k <= bbtrack::kSections; ++k) kicking += bbtrack::encounter_kicks(st, k);
  return static_cast<double>(kicking) * st.np.npart;
}

void turn(benchmark::State& state, const State& start, ErrfMode mode, int threads) {
  if (!FastTurn::supported(TurnPath::avx2)) return state.SkipWithError("no particle blocks");
  auto st = std::make_unique<State>(start);
  FastTurn turner(TurnPath::best, threads, mode);
  for (auto _ : state) {
    st->coord = start.coord;  // every turn from the same start
    turner.turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
  }
  state.counters["particle-kicks/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kicks_per_turn(start), benchmark::Counter::kIsRate);
  state.counters["threads"] = turner.threads();
}

const State& example() {
  static const std::unique_ptr<State> st = bench::example_state();
  return *st;
}
const State& flat() {
  static const std::unique_ptr<State> st = flat_state();
  return *st;
}

void BM_Example_exact(benchmark::State& s) { turn(s, example(), ErrfMode::exact, s.range(0)); }
void BM_Example_fast(benchmark::State& s) { turn(s, example(), ErrfMode::fast, s.range(0)); }
void BM_Flat_exact(benchmark::State& s) { turn(s, flat(), ErrfMode::exact, s.range(0)); }
void BM_Flat_fast(benchmark::State& s) { turn(s, flat(), ErrfMode::fast, s.range(0)); }
BENCHMARK(BM_Example_exact)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Example_fast)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Flat_exact)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Flat_fast)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();

// w alone: 64 x 64 points of [0, 8) x [0, 8), by the lanes.
void errf_grid(benchmark::State& state,
               void (*f)(const double*, const double*, double*, double*, int)) {
  if (!FastTurn::supported(TurnPath::avx2)) return state.SkipWithError("no AVX2");
  constexpr int n = 64 * 64;
  std::vector<double> x(n), y(n), wx(n), wy(n);
  for (int i = 0; i < n; ++i) {
    x[i] = 0.125 * (i % 64);
    y[i] = 0.125 * (i / 64);
  }
  for (auto _ : state) {
    f(x.data(), y.data(), wx.data(), wy.data(), n);
    benchmark::DoNotOptimize(wx.data());
  }
  state.counters["w/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * n,
                                             benchmark::Counter::kIsRate);
}
const bbtrack::LaneKernels& avx2() { return *bbtrack::lane_target(TurnPath::avx2).kernels; }
void BM_W_exact_avx2(benchmark::State& s) { errf_grid(s, avx2().errf_array); }
void BM_W_fast_avx2(benchmark::State& s) {
  errf_grid(s, [](const double* x, const double* y, double* wx, double* wy, int n) {
    avx2().errf_fast_array(x, y, wx, wy, n, bbtrack::errf_fast_detail::kFar2);
  });
}
BENCHMARK(BM_W_exact_avx2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_W_fast_avx2)->Unit(benchmark::kMicrosecond);

}  // namespace
