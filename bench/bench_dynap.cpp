// The study run against the diffusion run, side by side in one sitting, on
// the bundled example and the best block path: particle-turns per second of
// the 169 particles of the diffusion run (its turn, loss check, spread and
// running average) and of the study's batches of 1000 for 10^4 particles
// (window 1024, 2048 turns), with one and with two threads. The study's
// counter tune-share is the part of its time spent on the refined tunes,
// measured from its last turn to the end of each batch. One iteration of
// the study is 2 * 10^7 particle-turns: run with --benchmark_filter and
// --benchmark_repetitions as time allows. BM_RefinedTune times one
// window's tune (a particle needs four).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "bench/example_ring.h"
#include "kicks/vector/fast_turn.h"
#include "run/diagnostics.h"
#include "dynap/track.h"
#include "spectral/refined_tune.h"

namespace {

using bbtrack::FastTurn;
using bbtrack::State;
using bbtrack::TurnPath;
using Clock = std::chrono::steady_clock;

const State& example() {
  static const std::unique_ptr<State> st = bench::example_state();
  return *st;
}

void BM_DiffusionRunTurns(benchmark::State& state) {
  auto st = std::make_unique<State>(example());
  FastTurn turner(TurnPath::best, static_cast<int>(state.range(0)));
  double varx = 0, vary = 0, avx = 0, avy = 0;
  bbtrack::int32 turn = 0;
  double particle_turns = 0.0;
  for (auto _ : state) {
    turner.turn(*st);
    bbtrack::overflow(*st);
    bbtrack::varwire(*st, varx, vary);
    bbtrack::runav(*st, varx, vary, avx, avy, ++turn);
    particle_turns += st->np.npart;
  }
  state.counters["particle-turns/s"] =
      benchmark::Counter(particle_turns, benchmark::Counter::kIsRate);
  state.counters["threads"] = turner.threads();
  state.counters["lanes"] = turner.lanes();
}

void BM_DynapStudy(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  constexpr std::int64_t kWindow = 1024, kTurns = 2 * kWindow;
  constexpr double kAmplitude = 6.0;  // beam sizes: the example keeps them all
  auto st = std::make_unique<State>(example());
  FastTurn turner(TurnPath::best, static_cast<int>(state.range(1)));
  bbtrack::DynapTracker tracker(*st, turner, kTurns, kWindow, 20.0);
  std::vector<bbtrack::DynapParticle> batch;
  double particle_turns = 0.0, tune_seconds = 0.0, seconds = 0.0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (std::int64_t first = 0; first < count; first += bbtrack::kDynapBatch) {
      const std::int64_t n = std::min<std::int64_t>(bbtrack::kDynapBatch, count - first);
      batch.assign(static_cast<std::size_t>(n), {});
      for (std::int64_t i = 0; i < n; ++i) {
        auto& p = batch[static_cast<std::size_t>(i)];
        const double angle = 1.5707963267948966 * static_cast<double>(first + i + 1) /
                             static_cast<double>(count + 1);
        p.ax = kAmplitude * std::cos(angle);
        p.ay = kAmplitude * std::sin(angle);
        bbtrack::dynap_start(*st, p);
      }
      Clock::time_point last_turn;
      tracker.track(batch, [&](std::int64_t t) {
        if (t == kTurns) last_turn = Clock::now();
      });
      tune_seconds += std::chrono::duration<double>(Clock::now() - last_turn).count();
      for (const auto& p : batch) particle_turns += static_cast<double>(p.turns);
    }
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  state.counters["particle-turns/s"] =
      benchmark::Counter(particle_turns, benchmark::Counter::kIsRate);
  state.counters["tune-share"] = tune_seconds / seconds;
  state.counters["threads"] = turner.threads();
  state.counters["lanes"] = turner.lanes();
}

// One refined tune of a window of 1024 turns of a tone with a weaker
// second line, as a particle's signal has.
void BM_RefinedTune(benchmark::State& state) {
  std::vector<std::complex<double>> z(1024);
  for (std::size_t t = 0; t < z.size(); ++t)
    z[t] = std::polar(1.0, 2.0 * M_PI * 0.6912345 * static_cast<double>(t)) +
           std::polar(0.01, 2.0 * M_PI * 0.0745 * static_cast<double>(t));
  bbtrack::TuneWork work;
  for (auto _ : state) benchmark::DoNotOptimize(bbtrack::refined_tune(z, work));
}

}  // namespace

BENCHMARK(BM_RefinedTune)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiffusionRunTurns)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DynapStudy)
    ->Args({10000, 1})
    ->Args({10000, 2})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
