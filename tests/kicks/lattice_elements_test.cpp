// The thin multipoles, the tune modulation and the wire current ripple, each
// in a ring written here: an exact linear one-turn map (the matched rotation
// through 2 pi Q at a point of given alpha and beta) followed by the element
// at that point, the element's one-lane instance. The refined tunes and
// spectral lines of a small-amplitude particle are compared with the
// one-turn matrix, first-order perturbation theory and the Bessel functions
// of phase modulation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "input/readers.h"
#include "kicks/lanes/one_lane.h"
#include "kicks/modulation.h"
#include "kicks/multipole.h"
#include "kicks/ripple.h"
#include "kicks/tune_estimate.h"
#include "kicks/wire.h"

namespace bbtrack {
namespace {

using Lane = OneLane;
constexpr double kPi = 3.141592653589793;

// The plane's matched rotation through 2 pi q.
struct Plane {
  double q, alfa, beta;
  void turn(double& x, double& xp) const {
    const double c = std::cos(2 * kPi * q), s = std::sin(2 * kPi * q);
    const double g = (1 + alfa * alfa) / beta;
    const double x0 = x;
    x = (c + alfa * s) * x0 + beta * s * xp;
    xp = -g * s * x0 + (c - alfa * s) * xp;
  }
  // Normalised position and the start (x, x') of action j at phase 0.
  double xhat(double x) const { return x / std::sqrt(beta); }
  void start(double j, double& x, double& xp) const {
    x = std::sqrt(2 * j * beta);
    xp = -alfa * x / beta;
  }
  // The tune with a thin lens of focal strength k (x' -= k x) after the map.
  double tune_with_lens(double k) const {
    const double tr = 2 * std::cos(2 * kPi * q) - k * beta * std::sin(2 * kPi * q);
    return std::acos(tr / 2) / (2 * kPi);
  }
};

const Plane kX{0.31, 1.3, 100.0}, kY{0.27, -0.6, 40.0};

// A run folder holding one file, read by the given reader into a state
// whose pi and Twiss functions are those of the test ring.
template <class Reader>
std::unique_ptr<State> state_from(const std::string& name, const std::string& text, Reader read) {
  char t[] = "/tmp/bbtrack-lat-XXXXXX";
  const std::string dir = mkdtemp(t);
  std::ofstream(dir + "/" + name) << text;
  auto st = std::make_unique<State>();
  st->constant.pi = 4 * std::atan(1.0);
  st->bb.gamma = 7460.52;
  st->twiss = {kX.alfa, kY.alfa, kX.beta, kY.beta};
  std::FILE* out = std::tmpfile();
  {
    textio::Options o;
    o.dir = dir;
    o.stdout_fd = fileno(out);
    textio::Io io(o);
    read(*st, io);
  }
  std::fclose(out);
  [[maybe_unused]] int rc = std::system(("rm -rf " + dir).c_str());
  return st;
}

// Normalised turn-by-turn positions of a particle of actions (jx, jy)
// through the ring with the multipoles of point 1.
void track_multipoles(const State& st, double jx, double jy, int nturn, std::vector<double>& sx,
                      std::vector<double>& sy) {
  double x, xp, y, yp;
  kX.start(jx, x, xp);
  kY.start(jy, y, yp);
  sx.clear();
  sy.clear();
  for (int n = 1; n <= nturn; ++n) {
    kX.turn(x, xp);
    kY.turn(y, yp);
    multipole_kick<Lane>(st.multipoles.at(1), x, y, xp, yp);
    sx.push_back(kX.xhat(x));
    sy.push_back(kY.xhat(y));
  }
}

std::string record(int n, double kn, double sn) {
  char b[96];
  std::snprintf(b, sizeof b, "1 %d %.17g %.17g\n", n, kn, sn);
  return b;
}

TEST(LatticeElements, MultipoleTunesFollowTheOneTurnMatrixAndPerturbationTheory) {
  using testref::tune_estimate;
  const int nturn = 2048;
  std::vector<double> sx, sy;

  // A thin quadrupole: the tunes of the one-turn matrix with the lens.
  const double k1l = 2.0e-3;
  auto quad = state_from("multipoles.dat", record(1, k1l, 0.0), multipolesin);
  track_multipoles(*quad, 1e-12, 1e-12, nturn, sx, sy);
  EXPECT_NEAR(tune_estimate(sx), kX.tune_with_lens(k1l), 1e-9);
  EXPECT_NEAR(tune_estimate(sy), kY.tune_with_lens(-k1l), 1e-9);

  // A thin octupole: dQ/dJ of first-order perturbation theory within 1 %,
  // from one particle per plane at an action of small detuning (the other
  // plane's action 1e-4 of it, only to see its tune).
  const double k3l = 1000.0, j = 2e-10;
  auto oct = state_from("multipoles.dat", "# octupole\n" + record(3, k3l, 0.0), multipolesin);
  track_multipoles(*oct, j, 1e-4 * j, nturn, sx, sy);
  const double dqx_djx = (tune_estimate(sx) - kX.q) / j, dqy_djx = (tune_estimate(sy) - kY.q) / j;
  track_multipoles(*oct, 1e-4 * j, j, nturn, sx, sy);
  const double dqx_djy = (tune_estimate(sx) - kX.q) / j, dqy_djy = (tune_estimate(sy) - kY.q) / j;
  const double axx = kX.beta * kX.beta * k3l / (16 * kPi);
  const double ayy = kY.beta * kY.beta * k3l / (16 * kPi);
  const double axy = -kX.beta * kY.beta * k3l / (8 * kPi);
  EXPECT_NEAR(dqx_djx / axx, 1.0, 0.01);
  EXPECT_NEAR(dqy_djy / ayy, 1.0, 0.01);
  EXPECT_NEAR(dqx_djy / axy, 1.0, 0.01);
  EXPECT_NEAR(dqy_djx / axy, 1.0, 0.01);

  // A thin sextupole (normal and skew): no tune change at first order, whose
  // shift would grow as sqrt(J); the second order's grows as J.
  auto sext = state_from("multipoles.dat", record(2, 0.5, 0.2), multipolesin);
  double shift[2];
  for (int a = 0; a < 2; ++a) {
    const double js = (a == 0 ? 1.0 : 4.0) * 1e-10;
    track_multipoles(*sext, js, js, nturn, sx, sy);
    shift[a] = tune_estimate(sx) - kX.q;
  }
  EXPECT_GT(std::abs(shift[0]), 1e-8);
  EXPECT_NEAR(shift[1] / shift[0], 4.0, 0.12);
}

// Amplitudes of the lines at q and q -+ 1/T of a normalised signal, over
// the amplitude of the line at q.
void sidebands(const std::vector<double>& s, double q, double period, double& lower,
               double& upper) {
  using testref::windowed_amplitude;
  const double main = windowed_amplitude(s, q);
  lower = windowed_amplitude(s, q - 1 / period) / main;
  upper = windowed_amplitude(s, q + 1 / period) / main;
}

TEST(LatticeElements, TuneModulationAndWireRippleGiveTheSidebandsOfPhaseModulation) {
  const int nturn = 8192;
  // Tune modulation of the horizontal plane: index m = dQ T.
  const double dq = 1e-3, period = 250.0;
  auto st = state_from("modulation.dat", "! plane dQ T phi\nx 1e-3 250 0.7\n", modulationin);
  std::vector<double> sx;
  double x, xp, y = 0.0, yp = 0.0;
  kX.start(1e-12, x, xp);
  for (int n = 1; n <= nturn; ++n) {
    kX.turn(x, xp);
    modulation_rotate<Lane>(modulation_at(*st, n), x, xp, y, yp);
    sx.push_back(kX.xhat(x));
  }
  const double m = dq * period;
  const double ratio = std::cyl_bessel_j(1.0, m) / std::cyl_bessel_j(0.0, m);
  double lower, upper;
  sidebands(sx, kX.q, period, lower, upper);
  EXPECT_NEAR(lower / ratio, 1.0, 0.02);
  EXPECT_NEAR(upper / ratio, 1.0, 0.02);
  EXPECT_EQ(y, 0.0);  // the vertical plane has no term

  // A wire 2 mm from the reference orbit with a 10 % ripple: its tune shift
  // dQ0 (the one-turn matrix with the wire's linear lens, strength
  // -kw / d^2) modulated with amplitude a dQ0, so m = a dQ0 T. A particle
  // on the reference orbit stays there: the kick removed follows the current.
  const double d = 2e-3, a = 0.1, tw = 500.0;
  auto ws = state_from("wires.dat", "1 2.0 0.0 300.0 1.0 0.1 500 0.3 0\n", wiresin);
  const WireKick& w0 = ws->wires.w[0];
  const double q0 = kX.tune_with_lens(-w0.kw / (d * d));
  const double mw = a * std::abs(q0 - kX.q) * tw;
  ASSERT_GT(mw, 0.1);
  std::vector<double> sw;
  kX.start(1e-14, x, xp);
  double x0 = 0.0, xp0 = 0.0;
  WireKick w;
  for (int n = 1; n <= nturn; ++n) {
    kX.turn(x, xp);
    kX.turn(x0, xp0);
    wires_at_turn(*ws, n, &w);
    for (double* p : {&x, &x0}) {
      double gy, gx;
      wire_field(*p, 0.0, w.xw, w.yw, gy, gx);
      (p == &x ? xp : xp0) += w.fk2 - w.kw * gx;
    }
    sw.push_back(kX.xhat(x));
  }
  sidebands(sw, q0, tw, lower, upper);
  const double rw = std::cyl_bessel_j(1.0, mw) / std::cyl_bessel_j(0.0, mw);
  EXPECT_NEAR(lower / rw, 1.0, 0.02);
  EXPECT_NEAR(upper / rw, 1.0, 0.02);
  EXPECT_EQ(x0, 0.0);
  EXPECT_EQ(xp0, 0.0);
}

}  // namespace
}  // namespace bbtrack
