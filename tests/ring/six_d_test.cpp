// Synchrotron motion in the general ring: the 6x6 normal form, the
// betatron lines' synchrotron sidebands, and the same bits on every path.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <cmath>
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "kicks/vector/fast_turn.h"
#include "ring/normal_form6.h"
#include "ring/ring_file.h"
#include "ring/ring_setup.h"
#include "spectral/refined_tune.h"

namespace bbtrack {
namespace {

constexpr double kPi = 3.141592653589793;
using Mat6 = double[6][6];

void product(const Mat6& a, const Mat6& b, Mat6& c) {
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      double s = 0;
      for (int k = 0; k < 6; ++k) s += a[i][k] * b[k][j];
      c[i][j] = s;
    }
}

// The rotations by the three tunes in normalised coordinates.
void rotations(const double (&q)[3], Mat6& r) {
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) r[i][j] = 0;
  for (int k = 0; k < 3; ++k) {
    const double c = std::cos(2 * kPi * q[k]), s = std::sin(2 * kPi * q[k]);
    r[2 * k][2 * k] = c, r[2 * k][2 * k + 1] = s;
    r[2 * k + 1][2 * k] = -s, r[2 * k + 1][2 * k + 1] = c;
  }
}

// A one-turn map M = T B R B^-1 T^-1 with Courant-Snyder B (beta*, and the
// bucket's beta_z = sigma_z/sigma_delta) and T the symplectic map of a
// dispersion D, D' (x += D delta, x' += D' delta, z -= D' x - D x').
void ring_map(const double (&q)[3], double disp, double dispp, Mat6& m) {
  const double beta[3] = {0.55, 0.55, 0.0755 / 1.13e-4};
  Mat6 b{}, binv{}, t{}, tinv{}, r, x1, x2, x3;
  for (int k = 0; k < 3; ++k) {
    b[2 * k][2 * k] = std::sqrt(beta[k]), b[2 * k + 1][2 * k + 1] = 1 / std::sqrt(beta[k]);
    binv[2 * k][2 * k] = 1 / std::sqrt(beta[k]), binv[2 * k + 1][2 * k + 1] = std::sqrt(beta[k]);
  }
  for (int i = 0; i < 6; ++i) t[i][i] = tinv[i][i] = 1;
  t[0][5] = disp, t[1][5] = dispp, t[4][0] = -dispp, t[4][1] = disp;
  tinv[0][5] = -disp, tinv[1][5] = -dispp, tinv[4][0] = dispp, tinv[4][1] = -disp;
  rotations(q, r);
  product(b, r, x1);
  product(x1, binv, x2);
  product(t, x2, x3);
  product(x3, tinv, m);
}

TEST(NormalForm6, TunesAndEigenvectorsOfAMapWithDispersion) {
  const double q[3] = {0.31, 0.32, 0.0021};
  Mat6 m;
  ring_map(q, 1.5, -0.2, m);
  NormalForm6 nf;
  std::string why;
  ASSERT_TRUE(normal_form6(m, nf, why)) << why;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(nf.q[k], q[k], 1e-12) << k;
  // M = A R A^-1 and A^-1 A = 1.
  Mat6 r, ar, arai, aia;
  rotations(nf.q, r);
  product(nf.a, r, ar);
  product(ar, nf.ainv, arai);
  product(nf.ainv, nf.a, aia);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      EXPECT_NEAR(arai[i][j], m[i][j], 1e-9 * (1 + std::fabs(m[i][j]))) << i << " " << j;
      EXPECT_NEAR(aia[i][j], i == j ? 1.0 : 0.0, 1e-9) << i << " " << j;
    }
  // An unstable mode is refused.
  m[5][4] = -m[5][4] - 1.0;
  EXPECT_FALSE(normal_form6(m, nf, why));
}

std::string num(double v) {
  char b[32];
  return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
}

// A ring of one six-dimensional encounter (crossing 2 x 150 urad, an
// offset of half a size in the crossing plane) and a one-turn matrix, in
// the file's units (positions mm).
std::unique_ptr<State> six_d_ring(const double (&q)[3]) {
  Mat6 m;
  ring_map(q, 0.0, 0.0, m);
  std::string coef;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      double v = m[i][j];
      if (j % 2 == 0) v *= 0.001;
      if (i % 2 == 0) v *= 1000.0;
      if (!coef.empty()) coef += ',';
      coef.append(num(v));
    }
  std::string text =
      "bbtrack-ring 1\nbeam gamma=7461 emitn=3.75e-6\n"
      "encounter6d npart=1.15e11 sigx=0.0167 sigy=0.0167 betx=0.55 bety=0.55 sigz=0.0755 "
      "slices=9 phi=150e-6 sepx=0.008\nmatrix m=";
  text.append(coef);
  text.push_back('\n');
  std::vector<std::string> errors;
  const RingFile rf = parse_ring("ring6d", text, errors);
  auto st = std::make_unique<State>();
  if (errors.empty()) set_up_ring(*st, rf, errors);
  for (const std::string& e : errors) ADD_FAILURE() << e;
  return st;
}

// The Hann-windowed amplitude of a record at frequency f, e^(-2 pi i f t).
double amplitude(const std::vector<std::complex<double>>& s, double f) {
  const double n = static_cast<double>(s.size());
  std::complex<double> sum = 0;
  for (std::size_t t = 0; t < s.size(); ++t) {
    const double w = 1 - std::cos(2 * kPi * (t + 0.5) / n);
    sum += w * s[t] * std::polar(1.0, -2 * kPi * f * static_cast<double>(t));
  }
  return std::abs(sum);
}

// The frequency of the largest amplitude within one bin of f0 (golden
// section on a grid-bracketed maximum).
double peak_near(const std::vector<std::complex<double>>& s, double f0) {
  const double bin = 1.0 / static_cast<double>(s.size());
  double best = f0, top = -1;
  for (int k = -20; k <= 20; ++k) {
    const double f = f0 + k * bin / 20, a = amplitude(s, f);
    if (a > top) top = a, best = f;
  }
  double lo = best - bin / 20, hi = best + bin / 20;
  const double g = (std::sqrt(5.0) - 1) / 2;
  while (hi - lo > 1e-12) {
    const double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    (amplitude(s, a) > amplitude(s, b) ? hi : lo) = amplitude(s, a) > amplitude(s, b) ? b : a;
  }
  return (lo + hi) / 2;
}

// With synchrotron motion the horizontal spectrum has lines at Qx +- Qs
// (the offset crossing makes the kick's slope follow z): found within 1e-6
// of the main line's tune plus and minus the synchrotron tune, all three
// measured on the same turns.
TEST(SynchrotronMotion, HorizontalSpectrumHasSidebandsAtQxPlusMinusQs) {
  const double q[3] = {0.31, 0.32, 0.0083};
  auto st = six_d_ring(q);
  ASSERT_TRUE(st->ring.six_d);
  EXPECT_NEAR(st->ring.qs, q[2], 1e-12);
  st->np.npart = 1;
  st->coord.coord(1, 1) = 1.0 * 16.7e-6;
  st->lcoord.z[0] = 0.12;
  FastTurn turner(TurnPath::best, 1);
  const int n = 8192;
  std::vector<std::complex<double>> sx, sz;
  const double bx = std::sqrt(0.55), bz = std::sqrt(0.0755 / 1.13e-4);
  for (int t = 0; t < n; ++t) {
    turner.turn(*st);
    sx.emplace_back(st->coord.coord(1, 1) / bx, -st->coord.coord(1, 2) * bx);
    sz.emplace_back(st->lcoord.z[0] / bz, -st->lcoord.d[0] * bz);
  }
  TuneWork work;
  const double qx = refined_tune(sx, work), qs = refined_tune(sz, work);
  EXPECT_NEAR(qs, q[2], 1e-5);
  EXPECT_GT(qx, q[0] + 1e-4);  // the beam-beam tune shift
  EXPECT_NEAR(peak_near(sx, qx), qx, 1e-6);
  const double main = amplitude(sx, qx);
  for (const double side : {qx + qs, qx - qs}) {
    const double f = peak_near(sx, side);
    EXPECT_NEAR(f, side, 1e-6);
    // A line, well above the spectrum's floor half way to the next one.
    EXPECT_GT(amplitude(sx, f), 1e-3 * main);
    EXPECT_GT(amplitude(sx, f), 30 * amplitude(sx, side + qs / 2));
    std::printf("[ sideband ] %.9f: found %.3g off, amplitude %.3g of the main line\n", side,
                f - side, amplitude(sx, f) / main);
  }
}

// The six-dimensional turn gives the same bits on the scalar path and the
// widest one with 1 and 2 threads, in each mode of the error function.
TEST(SynchrotronMotion, SameBitsOnEveryPathAndThreadCount) {
  const double q[3] = {0.31, 0.32, 0.0021};
  for (const ErrfMode mode : {ErrfMode::exact, ErrfMode::fast}) {
    std::vector<double> ref;
    for (const auto& [path, threads] :
         {std::pair{TurnPath::scalar, 1}, std::pair{TurnPath::best, 1}, std::pair{TurnPath::best, 2}}) {
      auto st = six_d_ring(q);
      const int np = 37;
      st->np.npart = np;
      for (int i = 1; i <= np; ++i) {
        st->coord.coord(i, 1) = 16.7e-6 * 5 * std::cos(0.9 * i);
        st->coord.coord(i, 3) = 16.7e-6 * 5 * std::sin(1.7 * i);
        st->lcoord.z[i - 1] = 0.0755 * 2 * std::sin(0.3 * i);
        st->lcoord.d[i - 1] = 1.1e-4 * std::cos(0.5 * i);
      }
      FastTurn turner(path, threads, mode);
      for (int t = 0; t < 20; ++t) turner.turn(*st);
      std::vector<double> out;
      for (int i = 1; i <= np; ++i) {
        for (int m = 1; m <= 4; ++m) out.push_back(st->coord.coord(i, m));
        out.push_back(st->lcoord.z[i - 1]);
        out.push_back(st->lcoord.d[i - 1]);
      }
      if (ref.empty()) {
        ref = out;
        // The particles moved in all six coordinates (delta by the
        // energy kicks and the synchrotron motion).
        for (int m = 0; m < 6; ++m) EXPECT_NE(ref[static_cast<std::size_t>(6 * 3 + m)], 0.0) << m;
        EXPECT_NE(ref[5], 1.1e-4 * std::cos(0.5));
        continue;
      }
      for (std::size_t k = 0; k < out.size(); ++k) EXPECT_EQ(out[k], ref[k]) << threads << " " << k;
    }
  }
}

}  // namespace
}  // namespace bbtrack
