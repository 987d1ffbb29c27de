// Run states for comparing ways of computing a turn: the bundled example as
// the program sets it up, and synthetic rings of 73 sections whose
// encounters and particles are chosen by the test.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/driver.h"
#include "run/state.h"

namespace bbtrack::testring {

// The diffusion run of the bundled example (or of another ring folder of
// the source tree) after start-up: 169 particles.
inline std::unique_ptr<State> example_state(const char* ring = "examples/ring") {
  char t[] = "/tmp/bbtrack-kicks-XXXXXX";
  const std::string dir = mkdtemp(t);
  const std::string src = std::string(BBTRACK_SOURCE_DIR) + "/" + ring + "/";
  for (const char* f : {"diff.input", "Matrices.dat", "Sigmas.dat", "excluded.dat", "multdist.dat"}) {
    std::ifstream in(src + f, std::ios::binary);
    std::ofstream out(dir + "/" + f, std::ios::binary);
    out << in.rdbuf();
  }
  const int null_fd = ::open("/dev/null", O_WRONLY);
  auto st = std::make_unique<State>();
  {
    textio::Options o;
    o.dir = dir;
    o.stdout_fd = null_fd;
    o.stderr_fd = null_fd;
    textio::Io io(o);
    start_up(*st, io);
  }
  ::close(null_fd);
  [[maybe_unused]] int rc = std::system(("rm -rf " + dir).c_str());
  return st;
}

struct Encounter {
  double sigx, sigy, x0, y0;
};

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kSig = 1.6e-5;  // a beam size, m

// 73 uncoupled sections with beta functions that vary from point to point
// (alpha = 0 at every point) and total tunes qx, qy; encounter k as given,
// the point 25 without encounter, and the listed excluded encounters.
inline std::unique_ptr<State> ring(const std::function<Encounter(int)>& encounter,
                                   const std::vector<int>& excluded = {}, double qx = 0.31,
                                   double qy = 0.32) {
  auto st = std::make_unique<State>();
  auto beta = [](int k, double base) { return base * (1.0 + 0.4 * std::sin(0.37 * k)); };
  auto block = [&](int k, int p, double b1, double b2, double mu) {
    auto& t = st->qarrot.tmat;
    t(k, p, p) = std::sqrt(b2 / b1) * std::cos(mu);
    t(k, p, p + 1) = std::sqrt(b1 * b2) * std::sin(mu);
    t(k, p + 1, p) = -std::sin(mu) / std::sqrt(b1 * b2);
    t(k, p + 1, p + 1) = std::sqrt(b1 / b2) * std::cos(mu);
  };
  for (int k = 1; k <= kSections; ++k) {
    const int next = k % kSections + 1;
    block(k, 1, beta(k, 2.0), beta(next, 2.0), 2 * kPi * qx / kSections);
    block(k, 3, beta(k, 3.0), beta(next, 3.0), 2 * kPi * qy / kSections);
    const Encounter e = encounter(k);
    st->bbcoord.bbcoord(k, 1) = e.sigx;
    st->bbcoord.bbcoord(k, 2) = e.sigy;
    st->bbcoord.bbcoord(k, 3) = e.x0;
    st->bbcoord.bbcoord(k, 4) = e.y0;
  }
  st->vorn.factor = 2.7e-16;
  st->qarcavind.cavind = 25;
  for (int e : excluded) st->excluded.excl(++st->excluded.nexcl) = e;
  st->twiss.betx = 2.0;
  st->twiss.bety = 3.0;
  st->bb.emit = kSig * kSig / 2.0;
  return st;
}

using Particle = std::array<double, 4>;

inline void set_particles(State& st, const std::vector<Particle>& p) {
  st.np.npart = static_cast<int32>(p.size());
  for (std::size_t i = 0; i < p.size(); ++i)
    for (int m = 0; m < 4; ++m) st.coord.coord(static_cast<int>(i) + 1, m + 1) = p[i][m];
}

// n particles from the centre out to `amp` beam sizes (sx, sy) in both
// planes, at angles that differ from one particle to the next: neighbours in
// a block need different numbers of continued-fraction steps, and the
// farther ones are in the outer region of errf.
inline std::vector<Particle> spread(int n, double sx, double sy, double amp) {
  std::vector<Particle> p;
  for (int i = 0; i < n; ++i) {
    const double r = amp * ((i * 7) % (n + 1)) / n;
    const double a = 0.7 * i + 0.3;
    p.push_back({r * sx * std::cos(a), 1e-6 * std::sin(1.3 * i), r * sy * std::sin(a),
                 -1e-6 * std::cos(0.9 * i)});
  }
  return p;
}

}  // namespace bbtrack::testring
