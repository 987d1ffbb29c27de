// The six-dimensional encounter against the four-dimensional kick, per
// particle, on the widest lanes of the processor (the name of the path is
// the label): 1000 particles spread over +-6 sigma in x and y, over +-2
// sigma_z in z. BM_kick4d is one four-dimensional encounter through the
// turn kernel (a plan of one section without transport); BM_encounter6d
// is the element with N slices at a crossing angle of 2 x 150 urad, its
// counter slices/s counting particle-slice collisions, so that with many
// slices (the boosts shared out) it is the cost of one slice against the
// kick's kicks/s. Arguments: {round 0/1, errf fast 0/1} and the slices.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "kicks/beam_beam_6d.h"
#include "kicks/encounter.h"
#include "kicks/vector/lane_kernels.h"
#include "kicks/vector/turn_plan.h"

namespace {

using namespace bbtrack;

constexpr int kN = 1000;
constexpr double kSig = 16.7e-6, kFactor = 5.8e-11;

struct Particles {
  std::vector<double> col[6];
  Particles() {
    for (int i = 0; i < kN; ++i) {
      const double r = 6.0 * ((i % 13) + 1) / 13.0;
      col[0].push_back(r * kSig * std::cos(0.37 * i));
      col[1].push_back(0.0);
      col[2].push_back(r * kSig * std::sin(0.37 * i));
      col[3].push_back(0.0);
      col[4].push_back(0.0755 * 2.0 * std::sin(0.11 * i));
      col[5].push_back(0.0);
    }
  }
};

ErrfMode mode_of(const benchmark::State& state) {
  return state.range(1) != 0 ? ErrfMode::fast : ErrfMode::exact;
}

void BM_kick4d(benchmark::State& state) {
  const double sigx = state.range(0) != 0 ? kSig : 2.0 * kSig;
  TurnPlan plan;
  SectionPlan s{};
  s.kick = true;
  s.enc = encounter_field(sigx, kSig, 0.0, 0.0);
  s.enc.factor = kFactor;
  s.transport = false;
  plan.sec.push_back(s);
  const LaneTarget& l = lane_target(TurnPath::best);
  auto ws = std::make_unique<LaneWorkspace>();
  ws->size_outer(1);
  Particles p;
  const ParticleColumns c{p.col[0].data(), p.col[1].data(), p.col[2].data(), p.col[3].data()};
  for (auto _ : state) {
    l.kernels->track[static_cast<int>(mode_of(state))](plan, c, 0, kN, ws.get());
    benchmark::ClobberMemory();
  }
  state.SetLabel(l.name);
  state.counters["kicks/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kN, benchmark::Counter::kIsRate);
}

void BM_encounter6d(benchmark::State& state) {
  const int slices = static_cast<int>(state.range(2));
  const Encounter6dSpec sp{kFactor, state.range(0) != 0 ? kSig : 2.0 * kSig,
                           kSig, 0.55, 0.55, 0.0, 0.0, 0.0755, slices, 150e-6, false, 0.0, 0.0};
  const Encounter6d e = make_encounter6d(sp, mode_of(state));
  const LaneTarget& l = lane_target(TurnPath::best);
  Particles p;
  const SixColumns c{p.col[0].data(), p.col[1].data(), p.col[2].data(),
                     p.col[3].data(), p.col[4].data(), p.col[5].data()};
  const Particles start;
  for (auto _ : state) {
    l.kernels->encounter6d[static_cast<int>(mode_of(state))](e, c, kN);
    benchmark::ClobberMemory();
    state.PauseTiming();
    p = start;  // the same particles every time
    state.ResumeTiming();
  }
  state.SetLabel(l.name);
  state.counters["slices/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kN * slices, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_kick4d)->ArgNames({"round", "fast"})->Args({1, 0})->Args({0, 0})->Args({1, 1})->Args({0, 1});
BENCHMARK(BM_encounter6d)
    ->ArgNames({"round", "fast", "slices"})
    ->Args({1, 0, 1})
    ->Args({1, 0, 50})
    ->Args({0, 0, 1})
    ->Args({0, 0, 50})
    ->Args({1, 1, 50})
    ->Args({0, 1, 50});

}  // namespace
