// Tracking cost on the bundled example ring: one turn of 169 particles
// through its encounters, and a whole 10,000-turn diffusion run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "distrib/distributions.h"
#include "input/readers.h"
#include "kicks/transport.h"
#include "run/driver.h"

namespace {

using bbtrack::State;

// A private copy of the example in a temporary folder.
struct ExampleDir {
  std::string path;
  ExampleDir() {
    char t[] = "/tmp/bbtrack-bench-XXXXXX";
    path = mkdtemp(t);
    const std::string src = std::string(BBTRACK_SOURCE_DIR) + "/examples/ring/";
    for (const char* f : {"diff.input", "Matrices.dat", "Sigmas.dat", "excluded.dat", "multdist.dat"}) {
      std::ifstream in(src + f, std::ios::binary);
      std::ofstream out(path + "/" + f, std::ios::binary);
      out << in.rdbuf();
    }
  }
  ~ExampleDir() { [[maybe_unused]] int rc = std::system(("rm -rf " + path).c_str()); }
};

textio::Options quiet(const std::string& dir, int null_fd) {
  textio::Options o;
  o.dir = dir;
  o.stdout_fd = null_fd;
  o.stderr_fd = null_fd;
  return o;
}

int active_encounters(const State& st) {
  int n = 0;
  for (int k = 1; k <= bbtrack::kSections; ++k) {
    bool skip = k == st.qarcavind.cavind;
    for (int e = 1; e <= st.excluded.nexcl && !skip; ++e) skip = st.excluded.excl(e) == k;
    n += !skip;
  }
  return n;
}

void BM_TurnOf169Particles(benchmark::State& state) {
  ExampleDir dir;
  const int null_fd = ::open("/dev/null", O_WRONLY);
  auto st = std::make_unique<State>();
  {
    textio::Io io(quiet(dir.path, null_fd));
    bbtrack::readinwire(*st, io);
    bbtrack::readinvorn(*st, io);
    bbtrack::init(*st, io);
    st->np.npart = 169;
    st->icoord.ampin = 0.5 * st->readin1.amp;
    bbtrack::initcoordwire(*st, io);
  }
  const auto start = st->coord;
  for (auto _ : state) {
    bbtrack::track_turn(*st);
    benchmark::DoNotOptimize(st->coord.coord(1, 1));
    state.PauseTiming();
    st->coord = start;  // stay on the starting amplitudes
    state.ResumeTiming();
  }
  const double kicks = 169.0 * active_encounters(*st);
  state.counters["particle-kicks/s"] =
      benchmark::Counter(kicks * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  ::close(null_fd);
}
BENCHMARK(BM_TurnOf169Particles)->Unit(benchmark::kMicrosecond);

void BM_DiffusionRun10000Turns(benchmark::State& state) {
  const int null_fd = ::open("/dev/null", O_WRONLY);
  for (auto _ : state) {
    ExampleDir dir;
    auto st = std::make_unique<State>();
    textio::Io io(quiet(dir.path, null_fd));
    bbtrack::diff2wirenew(*st, io);
    io.finish();
  }
  ::close(null_fd);
}
BENCHMARK(BM_DiffusionRun10000Turns)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
