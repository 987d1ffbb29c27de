// The cost of thin multipoles: one turn of the bundled example's diffusion
// run (169 particles) without them and with 16 of orders up to 10 (the
// triplets' errors of both sides of both interaction points), on the
// widest particle blocks (one thread) and on the scalar routines. The
// target: at most 5 % more per turn on the particle blocks.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/example_ring.h"
#include "kicks/vector/fast_turn.h"

namespace {

using bbtrack::FastTurn;
using bbtrack::State;
using bbtrack::TurnPath;

// 16 points with an element each: orders 10, 9, ... 3, 10, 9, ... 3, with
// strengths that kick about 1e-9 rad at 1 mm (their size does not change
// the cost).
std::unique_ptr<State> with_16_multipoles(const State& start) {
  auto st = std::make_unique<State>(start);
  const int points[16] = {2, 4, 6, 8, 10, 12, 14, 16, 36, 38, 40, 42, 44, 46, 48, 50};
  for (int j = 0; j < 16; ++j) {
    bbtrack::MultipoleKick& m = st->multipoles.at(points[j]);
    m.order = 10 - j % 8;
    double r = 1.0e-9;
    for (int n = 1; n <= m.order; ++n, r *= 1.0e3) {
      m.cr[n] = r;
      m.ci[n] = 0.5 * r;
    }
  }
  st->multipoles.nmult = 16;
  return st;
}

void turn(benchmark::State& state, TurnPath path, bool multipoles) {
  if (!FastTurn::supported(path)) return state.SkipWithError("processor lacks the lanes");
  static const std::unique_ptr<State> plain = bench::example_state();
  static const std::unique_ptr<State> with = with_16_multipoles(*plain);
  const State& start = multipoles ? *with : *plain;
  auto st = std::make_unique<State>(start);
  FastTurn turner(path, 1);
  for (auto _ : state) {
    st->coord = start.coord;
    turner.turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
  }
  state.counters["lanes"] = turner.lanes();
  state.counters["multipoles"] = st->multipoles.nmult;
}

void BM_Turn_fast_nomultipoles(benchmark::State& s) { turn(s, TurnPath::best, false); }
void BM_Turn_fast_16multipoles(benchmark::State& s) { turn(s, TurnPath::best, true); }
void BM_Turn_scalar_nomultipoles(benchmark::State& s) { turn(s, TurnPath::scalar, false); }
void BM_Turn_scalar_16multipoles(benchmark::State& s) { turn(s, TurnPath::scalar, true); }
BENCHMARK(BM_Turn_fast_nomultipoles)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Turn_fast_16multipoles)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Turn_scalar_nomultipoles)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_Turn_scalar_16multipoles)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3);

}  // namespace
