// Cost of the innermost tracking routines: the complex error function in
// both of its regions, and one encounter kick of the 169 particles of a run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "kicks/errf.h"
#include "kicks/transport.h"
#include "run/state.h"

namespace {

using bbtrack::State;

// Arguments spread over the region so that the step counts vary as in a run.
std::vector<double> args(double lo, double hi, int n) {
  std::vector<double> v;
  for (int i = 0; i < n; ++i) v.push_back(lo + (hi - lo) * ((i * 37) % n) / n);
  return v;
}

void errf_region(benchmark::State& state, double xlo, double xhi, double ylo, double yhi) {
  const auto xs = args(xlo, xhi, 256), ys = args(ylo, yhi, 251);
  std::size_t i = 0;
  for (auto _ : state) {
    double wx, wy;
    bbtrack::errf(xs[i % xs.size()], ys[i % ys.size()], wx, wy);
    benchmark::DoNotOptimize(wx);
    benchmark::DoNotOptimize(wy);
    ++i;
  }
  state.counters["calls"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_errf_inner(benchmark::State& state) {
  errf_region(state, 0.0, 5.0, 0.0, 4.0);
}
void BM_errf_outer(benchmark::State& state) {
  errf_region(state, 5.4, 9.0, 0.0, 6.0);
}
BENCHMARK(BM_errf_inner);
BENCHMARK(BM_errf_outer);

// 169 particles spread over +-6 sigma around a head-on encounter.
void encounter(benchmark::State& state, double sigx, double sigy) {
  auto st = std::make_unique<State>();
  st->vorn.factor = 2.7e-16;
  st->bbcoord.bbcoord(1, 1) = sigx;
  st->bbcoord.bbcoord(1, 2) = sigy;
  st->np.npart = 169;
  for (int i = 1; i <= 169; ++i) {
    st->coord.coord(i, 1) = sigx * 6.0 * std::cos(0.37 * i) * ((i % 13) + 1) / 13.0;
    st->coord.coord(i, 3) = sigy * 6.0 * std::sin(0.37 * i) * ((i % 13) + 1) / 13.0;
  }
  for (auto _ : state) {
    bbtrack::bbkickvorn(*st, 1);
    benchmark::ClobberMemory();
  }
  state.counters["kicks"] = benchmark::Counter(static_cast<double>(state.iterations()) * 169,
                                               benchmark::Counter::kIsRate);
}

void BM_encounter_round(benchmark::State& state) {
  encounter(state, 1.6e-5, 1.6e-5);
}
void BM_encounter_elliptical(benchmark::State& state) {
  encounter(state, 2.4e-5, 1.6e-5);
}
BENCHMARK(BM_encounter_round);
BENCHMARK(BM_encounter_elliptical);

}  // namespace
