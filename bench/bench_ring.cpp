// The general ring against the classic one, side by side in one sitting:
// the bundled example tracked from its folder (73 sections) and written as
// a general ring (`--ring`, its 70 encounters and 73 matrices as elements),
// the same particles through the same encounters, one turn per iteration
// with one thread of the best block path. Counter: particle-encounters per
// second; the two should agree within a few per cent. Run both with
// --benchmark_repetitions and compare the medians.
#include <benchmark/benchmark.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/example_ring.h"
#include "kicks/vector/fast_turn.h"
#include "ring/ring_file.h"
#include "ring/ring_setup.h"

namespace {

using bbtrack::FastTurn;
using bbtrack::State;
using bbtrack::TurnPath;

constexpr int kParticles = 1000;

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The bundled example as the text of a general ring (as its round-trip
// test writes it): section k's encounter (unless excluded or point 25),
// then its matrix, every number as the folder has it.
std::string example_ring_text() {
  const std::string dir = std::string(BBTRACK_SOURCE_DIR) + "/examples/ring/";
  const auto diff = lines_of(dir + "diff.input");
  auto first = [](const std::string& l) { return l.substr(0, l.find(' ')); };
  std::vector<std::string> blocks;
  for (const auto& l : lines_of(dir + "Matrices.dat")) {
    std::stringstream ss(l);
    std::string w;
    if (!(ss >> w)) continue;
    if (std::isalpha(static_cast<unsigned char>(w[0]))) {
      blocks.emplace_back();
      continue;
    }
    do {
      if (!blocks.back().empty()) blocks.back() += ',';
      blocks.back() += w;
    } while (ss >> w);
  }
  std::vector<std::vector<std::string>> sig;
  for (const auto& l : lines_of(dir + "Sigmas.dat")) {
    std::stringstream ss(l);
    std::vector<std::string> f;
    for (std::string w; ss >> w;) f.push_back(w);
    if (!f.empty()) sig.push_back(f);
  }
  std::string t = "bbtrack-ring 1\nbeam gamma=" + first(diff[28]) + " emitn=" + first(diff[26]) + "\n";
  std::size_t j = 0;
  for (int k = 1; k <= 73; ++k) {
    if (k != 25) {
      const auto& s = sig[j++];
      if (k != 23 && k != 24)
        t += "encounter npart=" + first(diff[20]) + " sigx=" + s[1] + " sigy=" + s[2] +
             " sepx=" + s[3] + " sepy=" + s[4] + "\n";
    }
    t += "matrix m=" + blocks[static_cast<std::size_t>(k - 1)] + "\n";
  }
  return t;
}

// kParticles particles at 1 to 6 beam sizes, the same in both rings.
void fill(State& st) {
  const double sx = std::sqrt(st.twiss.betx * st.bb.emit), sy = std::sqrt(st.twiss.bety * st.bb.emit);
  for (int i = 1; i <= kParticles; ++i) {
    const double a = 1.0 + 5.0 * (i - 1) / kParticles, th = 0.7 * i;
    st.coord.coord(i, 1) = a * std::cos(th) * sx;
    st.coord.coord(i, 2) = 0.0;
    st.coord.coord(i, 3) = a * std::sin(th) * sy;
    st.coord.coord(i, 4) = 0.0;
  }
  st.np.npart = kParticles;
  st.np.nlost = 0;
}

std::unique_ptr<State> classic() {
  auto st = bench::example_state();
  fill(*st);
  return st;
}

std::unique_ptr<State> general() {
  std::vector<std::string> errors;
  const bbtrack::RingFile rf = bbtrack::parse_ring("example", example_ring_text(), errors);
  auto st = std::make_unique<State>();
  if (errors.empty()) bbtrack::set_up_ring(*st, rf, errors);
  if (!errors.empty()) return nullptr;
  fill(*st);
  return st;
}

void turns(benchmark::State& state, std::unique_ptr<State> (*make)()) {
  const std::unique_ptr<State> start = make();
  if (!start) return state.SkipWithError("the ring was refused");
  auto st = std::make_unique<State>(*start);
  FastTurn turner(TurnPath::best, 1);
  int encounters = 0;
  {
    auto probe = std::make_unique<State>(*start);
    bbtrack::TurnPlan plan;
    bbtrack::fill_kick0(*probe);
    bbtrack::build_plan(*probe, plan);
    for (const auto& p : plan.sec) encounters += p.kick;
  }
  for (auto _ : state) {
    st->coord = start->coord;  // every turn from the same start
    turner.turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
  }
  state.counters["particle-encounters/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kParticles * encounters, benchmark::Counter::kIsRate);
  state.counters["encounters"] = encounters;
  state.counters["lanes"] = turner.lanes();
}

void BM_ClassicRingTurn(benchmark::State& state) { turns(state, classic); }
void BM_GeneralRingTurn(benchmark::State& state) { turns(state, general); }
BENCHMARK(BM_ClassicRingTurn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GeneralRingTurn)->Unit(benchmark::kMicrosecond);

}  // namespace
