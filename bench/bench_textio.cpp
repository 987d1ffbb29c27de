// Text layer throughput: E18.12 and E10.4 fields (alone and through whole
// formatted records), list-directed REAL*8 items, against a plain snprintf
// of "%.11E" as the baseline of the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "textio/textio.h"

namespace {

// Values like those of the result files: mixed signs, magnitudes 1e-12..1e3.
const std::vector<double>& values() {
  static const std::vector<double> v = [] {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> m(-1.0, 1.0);
    std::uniform_int_distribution<int> e(-12, 3);
    std::vector<double> out(4096);
    for (double& x : out) x = m(gen) * std::pow(10.0, e(gen));
    return out;
  }();
  return v;
}

void rate(benchmark::State& state, double fields) {
  state.counters["fields/s"] = benchmark::Counter(fields, benchmark::Counter::kIsRate);
}

template <int W, int D>
void BM_put_e(benchmark::State& state) {
  const auto& v = values();
  std::string out;
  out.reserve(W * v.size());
  std::size_t n = 0;
  for (auto _ : state) {
    out.clear();
    for (double x : v) textio::put_e(out, x, W, D);
    benchmark::DoNotOptimize(out.data());
    n += v.size();
  }
  rate(state, static_cast<double>(n));
}
BENCHMARK(BM_put_e<18, 12>)->Name("put_e/E18.12");
BENCHMARK(BM_put_e<10, 4>)->Name("put_e/E10.4");

void BM_put_list_real(benchmark::State& state) {
  const auto& v = values();
  std::string out;
  out.reserve(25 * v.size());
  std::size_t n = 0;
  for (auto _ : state) {
    out.clear();
    for (double x : v) textio::put_list_real(out, x);
    benchmark::DoNotOptimize(out.data());
    n += v.size();
  }
  rate(state, static_cast<double>(n));
}
BENCHMARK(BM_put_list_real)->Name("put_list_real");

void BM_snprintf(benchmark::State& state) {
  const auto& v = values();
  char buf[32];
  std::size_t n = 0;
  for (auto _ : state) {
    for (double x : v) {
      int len = std::snprintf(buf, sizeof buf, "%.11E", x);
      benchmark::DoNotOptimize(len);
      benchmark::DoNotOptimize(buf);
    }
    n += v.size();
  }
  rate(state, static_cast<double>(n));
}
BENCHMARK(BM_snprintf)->Name("baseline/snprintf %.11E");

// Whole statements into a file unit that discards its output.
void BM_write(benchmark::State& state, const char* format) {
  textio::Io io;
  io.open(30, "/dev/null");
  const textio::Format f(format);
  const auto& v = values();
  std::size_t n = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i + 4 <= v.size(); i += 4)
      io.write(30, f, {v[i], v[i + 1], v[i + 2], v[i + 3]});
    n += v.size();
  }
  io.close(30);
  rate(state, static_cast<double>(n));
}
BENCHMARK_CAPTURE(BM_write, E18.12, "(4(1X,E18.12))")->Name("write/(4(1X,E18.12))");
BENCHMARK_CAPTURE(BM_write, E10.4, "(4(1X,E10.4))")->Name("write/(4(1X,E10.4))");

void BM_print(benchmark::State& state) {
  textio::Io io;
  io.open(30, "/dev/null");
  const auto& v = values();
  std::size_t n = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i + 3 <= v.size(); i += 3) io.print(30, {v[i], v[i + 1], v[i + 2]});
    n += v.size() / 3 * 3;
  }
  io.close(30);
  rate(state, static_cast<double>(n));
}
BENCHMARK(BM_print)->Name("print/3 REAL*8");

}  // namespace
