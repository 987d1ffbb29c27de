#include "kicks/transport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "kicks/bbkick.h"
#include "kicks/tune_estimate.h"

namespace bbtrack {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSig = 1.6e-5;

// 2x2 block of the transport from a point of beta b1 to one of beta b2
// (alpha = 0 at both) with phase advance mu, into rows/columns p, p+1.
void set_block(State& st, int k, int p, double b1, double b2, double mu) {
  auto& t = st.qarrot.tmat;
  t(k, p, p) = std::sqrt(b2 / b1) * std::cos(mu);
  t(k, p, p + 1) = std::sqrt(b1 * b2) * std::sin(mu);
  t(k, p + 1, p) = -std::sin(mu) / std::sqrt(b1 * b2);
  t(k, p + 1, p + 1) = std::sqrt(b1 / b2) * std::cos(mu);
}

double beta_at(int k, double base) {
  return base * (1.0 + 0.4 * std::sin(0.37 * k));
}

// A ring of 73 uneven sections with total tunes qx, qy; the beta functions
// vary from point to point. Coupling and longitudinal entries are filled
// with junk that transport must ignore.
void build_ring(State& st, double qx, double qy) {
  std::vector<double> wx(kSections), wy(kSections);
  double sx = 0, sy = 0;
  for (int k = 1; k <= kSections; ++k) {
    wx[k - 1] = 1.0 + 0.5 * std::cos(0.9 * k);
    wy[k - 1] = 1.0 + 0.5 * std::sin(1.3 * k);
    sx += wx[k - 1], sy += wy[k - 1];
  }
  for (int k = 1; k <= kSections; ++k) {
    const int next = k % kSections + 1;
    set_block(st, k, 1, beta_at(k, 2.0), beta_at(next, 2.0), 2 * kPi * qx * wx[k - 1] / sx);
    set_block(st, k, 3, beta_at(k, 3.0), beta_at(next, 3.0), 2 * kPi * qy * wy[k - 1] / sy);
    for (int i = 1; i <= 6; ++i)
      for (int j = 1; j <= 6; ++j)
        if ((i <= 2) != (j <= 2) || i > 4 || j > 4) st.qarrot.tmat(k, i, j) = 0.1 * (i - j) + 7;
  }
}

std::unique_ptr<State> ring_state(double qx, double qy) {
  auto st = std::make_unique<State>();
  build_ring(*st, qx, qy);
  st->vorn.factor = 2.7e-16;
  for (int k = 1; k <= kSections; ++k) {
    st->bbcoord.bbcoord(k, 1) = kSig;
    st->bbcoord.bbcoord(k, 2) = 0.8 * kSig;
    st->bbcoord.bbcoord(k, 3) = k % 2 ? 6e-5 : 0.0;
  }
  st->qarcavind.cavind = 25;
  return st;
}

TEST(Rotvorn, OnlyDiagonalBlocksActOnOldValues) {
  auto st = std::make_unique<State>();
  const int k = 9;
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 6; ++j) st->qarrot.tmat(k, i, j) = 0.3 * i - 0.17 * j + 0.01 * i * j;
  st->np.npart = 2;
  const double p[2][4] = {{1e-3, -2e-4, 3e-4, 5e-5}, {-7e-4, 1e-5, -2e-3, 4e-4}};
  for (int i = 1; i <= 2; ++i)
    for (int m = 1; m <= 4; ++m) st->coord.coord(i, m) = p[i - 1][m - 1];
  auto zeroed = std::make_unique<State>(*st);
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 6; ++j)
      if ((i <= 2) != (j <= 2) || i > 4 || j > 4) zeroed->qarrot.tmat(k, i, j) = 0;
  rotvorn(*st, k);
  rotvorn(*zeroed, k);
  const auto& t = st->qarrot.tmat;
  for (int i = 1; i <= 2; ++i) {
    const double* o = p[i - 1];
    const double expect[4] = {
        t(k, 1, 1) * o[0] + t(k, 1, 2) * o[1], t(k, 2, 1) * o[0] + t(k, 2, 2) * o[1],
        t(k, 3, 3) * o[2] + t(k, 3, 4) * o[3], t(k, 4, 3) * o[2] + t(k, 4, 4) * o[3]};
    for (int m = 1; m <= 4; ++m) {
      EXPECT_EQ(st->coord.coord(i, m), expect[m - 1]) << i << " " << m;
      EXPECT_EQ(zeroed->coord.coord(i, m), expect[m - 1]) << i << " " << m;
    }
  }
  EXPECT_EQ(st->coord.coord(3, 1), 0.0);  // beyond npart
}

TEST(Transport, NoParticlesTouchesNothing) {
  auto st = ring_state(0.31, 0.32);
  for (int m = 1; m <= 4; ++m) st->coord.coord(1, m) = 1e-4 * m;
  for (int n : {0, -3}) {
    st->np.npart = n;
    bbkickvorn(*st, 1);
    rotvorn(*st, 1);
    track_turn(*st);
    for (int m = 1; m <= 4; ++m) EXPECT_EQ(st->coord.coord(1, m), 1e-4 * m);
    for (int k = 1; k <= kSections; ++k) EXPECT_EQ(st->qarind.kick0set(k), 0);
  }
}

TEST(Transport, KickChangesAnglesByKickvornOnly) {
  auto st = ring_state(0.31, 0.32);
  st->np.npart = 3;
  const double p[3][4] = {{0, 0, 0, 0}, {2e-5, 1e-6, -1e-5, 3e-6}, {-4e-5, 0, 7e-5, -2e-6}};
  for (int i = 1; i <= 3; ++i)
    for (int m = 1; m <= 4; ++m) st->coord.coord(i, m) = p[i - 1][m - 1];
  bbkickvorn(*st, 3);
  auto fresh = ring_state(0.31, 0.32);
  for (int i = 1; i <= 3; ++i) {
    const double* o = p[i - 1];
    double dxp, dyp;
    kickvorn(*fresh, o[0], o[2], dxp, dyp, 3);
    EXPECT_EQ(st->coord.coord(i, 1), o[0]);
    EXPECT_EQ(st->coord.coord(i, 3), o[2]);
    EXPECT_EQ(st->coord.coord(i, 2), o[1] + dxp);
    EXPECT_EQ(st->coord.coord(i, 4), o[3] + dyp);
  }
  // The particle on the reference orbit stays there.
  for (int m = 1; m <= 4; ++m) EXPECT_EQ(st->coord.coord(1, m), 0.0);
}

// kick0set records which encounters kicked; with factor = 0 the kicks add
// exact zeros, so the coordinates show the transport of every section.
TEST(TrackTurn, SkipsExcludedAndCavindButAlwaysTransports) {
  struct Case {
    std::vector<int> excl;
    int nexcl;
    std::vector<int> skipped;
  };
  const Case cases[] = {{{3, 3, 7, 50}, 4, {3, 7, 25, 50}},
                        {{3, 25, 9}, 2, {3, 25}},
                        {{3, 7}, 0, {25}},
                        {{3, 7}, -1, {25}}};
  for (const Case& c : cases) {
    auto st = ring_state(0.31, 0.32);
    st->vorn.factor = 0.0;
    for (std::size_t j = 0; j < c.excl.size(); ++j)
      st->excluded.excl(static_cast<int>(j) + 1) = c.excl[j];
    st->excluded.nexcl = c.nexcl;
    st->np.npart = 1;
    const double start[4] = {3e-5, -1e-6, 2e-5, 4e-7};
    for (int m = 1; m <= 4; ++m) st->coord.coord(1, m) = start[m - 1];
    auto ref = std::make_unique<State>(*st);
    track_turn(*st);
    for (int k = 1; k <= kSections; ++k) {
      bool skip = false;
      for (int s : c.skipped) skip = skip || s == k;
      EXPECT_EQ(st->qarind.kick0set(k), skip ? 0 : 1) << "nexcl " << c.nexcl << " k " << k;
      rotvorn(*ref, k);
    }
    for (int m = 1; m <= 4; ++m) EXPECT_EQ(st->coord.coord(1, m), ref->coord.coord(1, m)) << m;
  }
}

TEST(TrackTurn, BareLatticeTune) {
  auto st = ring_state(64.31, 59.32);
  st->excluded.nexcl = kSections;
  for (int k = 1; k <= kSections; ++k) st->excluded.excl(k) = k;
  st->np.npart = 1;
  st->coord.coord(1, 1) = 2e-5;
  st->coord.coord(1, 3) = 1e-5;
  st->coord.coord(1, 4) = 1e-6;
  std::vector<double> x, y;
  for (int t = 0; t < 1000; ++t) {
    track_turn(*st);
    x.push_back(st->coord.coord(1, 1));
    y.push_back(st->coord.coord(1, 3));
  }
  EXPECT_NEAR(testref::tune_estimate(x), 0.31, 1e-6);
  EXPECT_NEAR(testref::tune_estimate(y), 0.32, 1e-6);
  for (int k = 1; k <= kSections; ++k) EXPECT_EQ(st->qarind.kick0set(k), 0);
}

// Linear beam-beam tune shift of one head-on round encounter: small-amplitude
// kick dxp = -K x with K = factor sqrt(2/pi)/(2 sigma^2), so that
// cos(mu') = cos(mu) - (beta K/2) sin(mu), and for small shifts
// dQ = beta K/(4 pi).
TEST(TrackTurn, HeadOnBeamBeamTuneShift) {
  const double q = 0.31, xi = 0.005;
  auto st = ring_state(q, q);
  st->excluded.nexcl = kSections - 1;
  for (int k = 2; k <= kSections; ++k) st->excluded.excl(k - 1) = k;
  auto& b = st->bbcoord.bbcoord;
  b(1, 1) = b(1, 2) = kSig;
  b(1, 3) = b(1, 4) = 0;
  const double beta[2] = {beta_at(1, 2.0), beta_at(1, 3.0)};
  // Strength for the wanted horizontal shift.
  const double kfoc = 4 * kPi * xi / beta[0];
  st->vorn.factor = kfoc * 2 * kSig * kSig / std::sqrt(2 / kPi);
  st->np.npart = 1;
  st->coord.coord(1, 1) = 0.01 * kSig;
  st->coord.coord(1, 3) = 0.01 * kSig;
  std::vector<double> x, y;
  for (int t = 0; t < 2048; ++t) {
    track_turn(*st);
    x.push_back(st->coord.coord(1, 1));
    y.push_back(st->coord.coord(1, 3));
  }
  const double mu = 2 * kPi * q;
  const double shift[2] = {testref::tune_estimate(x) - q, testref::tune_estimate(y) - q};
  for (int p = 0; p < 2; ++p) {
    const double exact =
        std::acos(std::cos(mu) - 0.5 * beta[p] * kfoc * std::sin(mu)) / (2 * kPi) - q;
    const double linear = beta[p] * kfoc / (4 * kPi);
    std::printf("[ tune     ] plane %d: measured dQ %.7f, linear map %.7f, beta K/(4 pi) %.7f\n", p,
                shift[p], exact, linear);
    EXPECT_NEAR(shift[p], exact, 1e-6) << p;
    EXPECT_NEAR(shift[p] / linear, 1.0, 0.03) << p;
  }
}

}  // namespace
}  // namespace bbtrack
