// Tracking cost: one turn of 169 particles of the bundled example through
// its encounters, and whole 10,000-turn diffusion runs of the bench rings.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "bench/example_ring.h"
#include "kicks/transport.h"
#include "run/driver.h"

namespace {

using bbtrack::State;

void BM_TurnOf169Particles(benchmark::State& state) {
  auto st = bench::example_state();
  int active = 0;
  for (int k = 1; k <= bbtrack::kSections; ++k) active += bbtrack::encounter_kicks(*st, k);
  const auto start = st->coord;
  for (auto _ : state) {
    bbtrack::track_turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
    state.PauseTiming();
    st->coord = start;  // stay on the starting amplitudes
    state.ResumeTiming();
  }
  const double kicks = 169.0 * active;
  state.counters["particle-kicks/s"] =
      benchmark::Counter(kicks * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TurnOf169Particles)->Unit(benchmark::kMicrosecond);

// The whole program on a ring's diffusion run of 10,000 turns (the bundled
// example, and the ring of bench/rings/inner whose kicks fall mostly in the
// inner region of errf).
void diffusion_run(benchmark::State& state, const char* ring) {
  const int null_fd = ::open("/dev/null", O_WRONLY);
  for (auto _ : state) {
    bench::ExampleDir dir(ring);
    auto st = std::make_unique<State>();
    textio::Io io(bench::quiet(dir.path, null_fd));
    bbtrack::diff2wirenew(*st, io);
    io.finish();
  }
  ::close(null_fd);
}
void BM_DiffusionRun10000Turns(benchmark::State& state) { diffusion_run(state, "examples/ring"); }
void BM_DiffusionRun10000Turns_inner(benchmark::State& state) {
  diffusion_run(state, "bench/rings/inner");
}
BENCHMARK(BM_DiffusionRun10000Turns)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_DiffusionRun10000Turns_inner)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
