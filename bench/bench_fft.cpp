// Speed of the real transform: against a direct O(n^2) evaluation, against
// FFTW3 (when found) in the same run, and as the whole tune analysis of a
// footprint run (2 x 196 transforms of 1000 turns and their peak scans).
// Every variant copies its input afresh, so each iteration transforms the
// same data.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "spectral/real_fft.h"

#ifdef HAVE_FFTW3
#include <fftw3.h>
#endif

namespace {

std::vector<double> random_input(std::size_t n) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(rng);
  return x;
}

void BM_C06EAF(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const std::vector<double> input = random_input(static_cast<std::size_t>(n));
  std::vector<double> x(input.size());
  bbtrack::NagLib lib{nullptr};  // accepted lengths never report
  for (auto _ : state) {
    std::memcpy(x.data(), input.data(), input.size() * sizeof(double));
    std::int32_t ifail = 0;
    bbtrack::C06EAF(x.data(), n, ifail, lib);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_C06EAF)->Arg(1000)->Arg(4096);

// The definition with a table of the n-th roots of unity: n^2 products.
void BM_DirectDFT(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<double> input = random_input(n);
  std::vector<double> x(n), c(n), s(n);
  const double pi = 3.141592653589793;
  for (std::size_t r = 0; r < n; ++r) {
    c[r] = std::cos(2.0 * pi * static_cast<double>(r) / static_cast<double>(n));
    s[r] = std::sin(2.0 * pi * static_cast<double>(r) / static_cast<double>(n));
  }
  const double scale = 1.0 / std::sqrt(static_cast<double>(n));
  for (auto _ : state) {
    for (std::size_t k = 0; 2 * k <= n; ++k) {
      double re = 0.0, im = 0.0;
      std::size_t r = 0;
      for (std::size_t j = 0; j < n; ++j) {
        re += input[j] * c[r];
        im -= input[j] * s[r];
        r += k;
        if (r >= n) r -= n;
      }
      x[k] = re * scale;
      if (k > 0 && 2 * k < n) x[n - k] = im * scale;
    }
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectDFT)->Arg(1000)->Arg(4096)->Unit(benchmark::kMicrosecond);

#ifdef HAVE_FFTW3
// Real-to-halfcomplex in place: the same storage, without the 1/sqrt(n).
void BM_FFTW_R2HC(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  const std::vector<double> input = random_input(static_cast<std::size_t>(n));
  double* x = fftw_alloc_real(static_cast<std::size_t>(n));
  fftw_plan plan = fftw_plan_r2r_1d(n, x, x, FFTW_R2HC, FFTW_MEASURE);
  for (auto _ : state) {
    std::memcpy(x, input.data(), input.size() * sizeof(double));
    fftw_execute(plan);
    benchmark::DoNotOptimize(x);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
  fftw_free(x);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FFTW_R2HC)->Arg(1000)->Arg(4096);
#endif

// The analysis of a footprint run of 1000 turns: for each of the 196 grid
// points, both single-precision records widened into the buffers,
// transformed, and scanned for their largest magnitude.
void BM_FootprintAnalysis1000(benchmark::State& state) {
  constexpr std::int32_t kTurns = 1000;
  constexpr int kRecords = 2 * 196;
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> tune(0.26, 0.34);
  std::vector<float> store(static_cast<std::size_t>(kRecords) * kTurns);
  for (int r = 0; r < kRecords; ++r) {
    const double q = tune(rng);
    for (int t = 0; t < kTurns; ++t) {
      store[static_cast<std::size_t>(r * kTurns + t)] =
          static_cast<float>(1e-3 * std::cos(2.0 * 3.141592653589793 * q * (t + 1)));
    }
  }
  std::vector<double> buf(kTurns);
  bbtrack::NagLib lib{nullptr};
  for (auto _ : state) {
    std::int32_t peaks = 0;
    for (int r = 0; r < kRecords; ++r) {
      for (int t = 0; t < kTurns; ++t) buf[t] = store[static_cast<std::size_t>(r * kTurns + t)];
      std::int32_t ifail = 0;
      bbtrack::C06EAF(buf.data(), kTurns, ifail, lib);
      double best = 0.0;
      std::int32_t ipk = 0;
      for (std::int32_t p = 0; p < kTurns; ++p) {
        if (std::fabs(buf[p]) > best) {
          best = std::fabs(buf[p]);
          ipk = p;
        }
      }
      peaks += ipk;
    }
    benchmark::DoNotOptimize(peaks);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_FootprintAnalysis1000)->Unit(benchmark::kMillisecond);

}  // namespace
