// The cost of wires: one turn of the bundled example's diffusion run (169
// particles) without wires and with four, on the widest particle blocks
// (one thread) and on the scalar routines, side by side in one run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "bench/example_ring.h"
#include "kicks/vector/fast_turn.h"
#include "kicks/wire.h"

namespace {

using bbtrack::FastTurn;
using bbtrack::State;
using bbtrack::TurnPath;

// Four wires on the centres of long-range encounters of both sides of both
// interaction points, with a compensating current.
std::unique_ptr<State> with_four_wires(const State& start) {
  auto st = std::make_unique<State>(start);
  bbtrack::WireKick w[4];
  const int points[4] = {9, 17, 40, 60};
  for (int n = 0; n < 4; ++n) {
    const int k = points[n];
    w[n] = bbtrack::make_wire(k, st->bbcoord.bbcoord(k, 3), st->bbcoord.bbcoord(k, 4), -86.9, 1.0,
                              st->bb.gamma, st->constant.pi);
  }
  bbtrack::set_wires(*st, w, 4);
  return st;
}

void turn(benchmark::State& state, TurnPath path, bool wires) {
  if (!FastTurn::supported(path)) return state.SkipWithError("processor lacks the lanes");
  static const std::unique_ptr<State> plain = bench::example_state();
  static const std::unique_ptr<State> wired = with_four_wires(*plain);
  const State& start = wires ? *wired : *plain;
  auto st = std::make_unique<State>(start);
  FastTurn turner(path, 1);
  for (auto _ : state) {
    st->coord = start.coord;
    turner.turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
  }
  state.counters["lanes"] = turner.lanes();
  state.counters["wires"] = st->wires.nwire;
}

void BM_Turn_fast_nowires(benchmark::State& s) { turn(s, TurnPath::best, false); }
void BM_Turn_fast_4wires(benchmark::State& s) { turn(s, TurnPath::best, true); }
void BM_Turn_scalar_nowires(benchmark::State& s) { turn(s, TurnPath::scalar, false); }
void BM_Turn_scalar_4wires(benchmark::State& s) { turn(s, TurnPath::scalar, true); }
BENCHMARK(BM_Turn_fast_nowires)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Turn_fast_4wires)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Turn_scalar_nowires)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_Turn_scalar_4wires)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3);

}  // namespace
