// The fast tracking path against the scalar routines, side by side in one
// run: one full turn of the 169 particles of a diffusion run through its
// encounters (particle-encounters per second), computed by track_turn, by
// the widest particle blocks with one and with two threads, and by the
// 4-lane blocks, on two rings: the bundled example, whose long-range kicks
// nearly all take errf's outer region, and bench/rings/inner, whose kicks
// fall mostly in its inner region (a different step count in every lane).
// Next to them the machine's division throughput, measured on independent
// divisions, because the kick is bound by it: the counter useful-div/s
// counts the divisions each particle's kick needs (the per-encounter ones,
// which the blocks compute once, not included) so that useful-div/s over
// the peak of the division benchmarks (times the threads) is the fraction of
// the dividers' throughput a path reaches; div/kick is their number per
// particle kick and inner the share of errf arguments in the inner region.
// For side-by-side figures run with --benchmark_repetitions=N
// --benchmark_enable_random_interleaving=true.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <immintrin.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "bench/example_ring.h"
#include "kicks/vector/fast_turn.h"
#include "kicks/transport.h"
#include "kicks/errf_lanes.h"
#include "kicks/vector/turn_plan.h"

namespace {

using bbtrack::FastTurn;
using bbtrack::State;
using bbtrack::TurnPath;

// ---- the division throughput of one core ----

constexpr int kChains = 8;  // independent divisions in flight, more than the latency needs

__attribute__((target("avx512f"))) void divide_zmm(benchmark::State& state) {
  __m512d a[kChains];
  for (int i = 0; i < kChains; ++i) a[i] = _mm512_set1_pd(1.0 + 0.1 * i);
  const __m512d d = _mm512_set1_pd(1.2345678901234567);
  for (auto _ : state) {
    // a = d / a keeps every value near 1, away from slow subnormals.
    for (int r = 0; r < 64; ++r)
      for (int i = 0; i < kChains; ++i) a[i] = _mm512_div_pd(d, a[i]);
    for (int i = 0; i < kChains; ++i) benchmark::DoNotOptimize(a[i]);
  }
  state.counters["div/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 64 * kChains * 8,
                         benchmark::Counter::kIsRate);
}

__attribute__((target("avx2"))) void divide_ymm(benchmark::State& state) {
  __m256d a[kChains];
  for (int i = 0; i < kChains; ++i) a[i] = _mm256_set1_pd(1.0 + 0.1 * i);
  const __m256d d = _mm256_set1_pd(1.2345678901234567);
  for (auto _ : state) {
    for (int r = 0; r < 64; ++r)
      for (int i = 0; i < kChains; ++i) a[i] = _mm256_div_pd(d, a[i]);
    for (int i = 0; i < kChains; ++i) benchmark::DoNotOptimize(a[i]);
  }
  state.counters["div/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 64 * kChains * 4,
                         benchmark::Counter::kIsRate);
}

// Eight named chains of single divisions (divsd).
void divide_scalar(benchmark::State& state) {
  double a0 = 1.0, a1 = 1.1, a2 = 1.2, a3 = 1.3, a4 = 1.4, a5 = 1.5, a6 = 1.6, a7 = 1.7;
  double d = 1.2345678901234567;
  benchmark::DoNotOptimize(d);
  for (auto _ : state) {
    for (int r = 0; r < 64; ++r) {
      a0 = d / a0, a1 = d / a1, a2 = d / a2, a3 = d / a3;
      a4 = d / a4, a5 = d / a5, a6 = d / a6, a7 = d / a7;
    }
    benchmark::DoNotOptimize(a0 + a1 + a2 + a3 + a4 + a5 + a6 + a7);
  }
  state.counters["div/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 64 * 8,
                         benchmark::Counter::kIsRate);
}

void BM_DivisionThroughput_zmm(benchmark::State& state) {
  if (!FastTurn::supported(TurnPath::avx512)) return state.SkipWithError("no AVX-512");
  divide_zmm(state);
}
void BM_DivisionThroughput_ymm(benchmark::State& state) {
  if (!FastTurn::supported(TurnPath::avx2)) return state.SkipWithError("no AVX2");
  divide_ymm(state);
}
void BM_DivisionThroughput_scalar(benchmark::State& state) { divide_scalar(state); }
BENCHMARK(BM_DivisionThroughput_zmm);
BENCHMARK(BM_DivisionThroughput_ymm);
BENCHMARK(BM_DivisionThroughput_scalar);

// ---- one turn of a ring ----

// Divisions of one errf call: 2 nu + 3 in the inner region, 18 outside.
int errf_divisions(double xx, double yy, double& inner) {
  using namespace bbtrack::errf_region;
  const double x = std::fabs(xx), y = std::fabs(yy);
  if (!(y < kInnerY && x < kInnerX)) return 2 * kOuterSteps;
  inner += 1;
  const double xr = x * kRecipInnerX;
  const double s = (1.0 - y * kRecipInnerY) * std::sqrt(1.0 - xr * xr);
  return 2 * (static_cast<int>(kFractionSlope * s + kFractionBase)) + 3;
}

struct TurnWork {
  double kicks = 0;      // particle-encounters of the turn
  double divisions = 0;  // divisions the kicks need per particle
  double errf_args = 0;  // errf arguments, and those in its inner region
  double inner = 0;
};

// Follows the first turn with the scalar routines and counts its work.
TurnWork first_turn_work(const State& start) {
  auto st = std::make_unique<State>(start);
  bbtrack::TurnPlan plan;
  bbtrack::fill_kick0(*st);
  bbtrack::build_plan(*st, plan);
  TurnWork w;
  const auto& c = st->coord.coord;
  for (int k = 1; k <= bbtrack::kSections; ++k) {
    const auto& p = plan.sec[k - 1].enc;
    if (plan.sec[k - 1].kick) {
      for (int i = 1; i <= st->np.npart; ++i) {
        w.kicks += 1;
        if (p.round) {
          w.divisions += 2;  // q / r^2, r^2 / (2 a b)
          continue;
        }
        double u = c(i, 1) - p.x0, v = c(i, 3) - p.y0;
        if (p.turned) {
          const double t = u;
          u = c(i, 3) - p.y0;
          v = -t;
        }
        const double au = std::fabs(u), av = std::fabs(v);
        // four arguments, the two exponent terms, the two components
        w.divisions += 8 + errf_divisions(au / p.s, av / p.s, w.inner) +
                       errf_divisions(p.rho * au / p.s, av / p.rhos, w.inner);
        w.errf_args += 2;
      }
      bbtrack::bbkickvorn(*st, k);
    }
    bbtrack::rotvorn(*st, k);
  }
  return w;
}

struct Ring {
  std::unique_ptr<State> start;
  TurnWork work;
  explicit Ring(const char* dir)
      : start(bench::example_state(dir)), work(first_turn_work(*start)) {}
};

// replan: also make the whole turn plan every turn, as the fast path did
// before it kept the plan for the run (the figure to compare with).
void turn_benchmark(benchmark::State& state, const Ring& ring, TurnPath path, int threads,
                    bool replan = false) {
  if (!FastTurn::supported(path)) return state.SkipWithError("processor lacks the lanes");
  const std::unique_ptr<State>& start = ring.start;
  const TurnWork& work = ring.work;
  auto st = std::make_unique<State>(*start);
  FastTurn turner(path, threads);
  bbtrack::TurnPlan spare;
  for (auto _ : state) {
    // Every turn from the same start (the copy takes a few microseconds).
    st->coord = start->coord;
    if (replan) bbtrack::build_plan(*st, spare);
    turner.turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["particle-encounters/s"] =
      benchmark::Counter(n * work.kicks, benchmark::Counter::kIsRate);
  state.counters["useful-div/s"] =
      benchmark::Counter(n * work.divisions, benchmark::Counter::kIsRate);
  state.counters["div/kick"] = work.divisions / work.kicks;
  state.counters["inner"] = work.errf_args > 0 ? work.inner / work.errf_args : 0.0;
  state.counters["threads"] = turner.threads();
  state.counters["lanes"] = turner.lanes();
}

const Ring& example() {
  static const Ring r("examples/ring");
  return r;
}
const Ring& inner() {
  static const Ring r("bench/rings/inner");
  return r;
}

// What the fast turn saves by keeping the plan: making the whole plan of
// the bundled example against refreshing its per-turn part.
void BM_TurnPlan_build(benchmark::State& state) {
  bbtrack::TurnPlan plan;
  for (auto _ : state) {
    bbtrack::build_plan(*example().start, plan);
    benchmark::DoNotOptimize(plan.sec[0].enc.fk1);
  }
}
void BM_TurnPlan_refresh(benchmark::State& state) {
  bbtrack::TurnPlan plan;
  bbtrack::build_plan(*example().start, plan);
  for (auto _ : state) {
    bbtrack::refresh_plan(*example().start, plan);
    benchmark::DoNotOptimize(plan.sec[0].enc.fk1);
  }
}
BENCHMARK(BM_TurnPlan_build)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TurnPlan_refresh)->Unit(benchmark::kMicrosecond);

// One turn of each ring by each path: BM_Turn_* on the bundled example,
// BM_InnerTurn_* on the ring whose kicks fall in errf's inner region.
struct TurnCase {
  const char* name;
  const Ring& (*ring)();
  TurnPath path;
  int threads;
  bool replan;
};
constexpr TurnCase kTurnCases[] = {
    {"BM_Turn_scalar", example, TurnPath::scalar, 1, false},
    {"BM_Turn_fast_1thread", example, TurnPath::best, 1, false},
    {"BM_Turn_fast_2threads", example, TurnPath::best, 2, false},
    {"BM_Turn_fast_1thread_replan", example, TurnPath::best, 1, true},
    {"BM_Turn_avx2_1thread", example, TurnPath::avx2, 1, false},
    {"BM_InnerTurn_scalar", inner, TurnPath::scalar, 1, false},
    {"BM_InnerTurn_fast_1thread", inner, TurnPath::best, 1, false},
    {"BM_InnerTurn_fast_2threads", inner, TurnPath::best, 2, false},
    {"BM_InnerTurn_avx2_1thread", inner, TurnPath::avx2, 1, false},
};
const bool kTurnsRegistered = [] {
  for (const TurnCase& c : kTurnCases)
    benchmark::RegisterBenchmark(c.name, [c](benchmark::State& state) {
      turn_benchmark(state, c.ring(), c.path, c.threads, c.replan);
    })->Unit(benchmark::kMicrosecond)->UseRealTime();
  return true;
}();

}  // namespace
