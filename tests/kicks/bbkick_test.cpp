#include "kicks/bbkick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "kicks/field_reference.h"

namespace bbtrack {
namespace {

struct Kick {
  double gx, gy;
};

Kick g(double x, double y, double x0, double y0, double sigx, double sigy) {
  Kick k{};
  ffrank(x, y, x0, y0, sigx, sigy, k.gy, k.gx);
  return k;
}

// Relative deviation of the kick from the field of the Gaussian bunch.
double field_error(double x, double y, double x0, double y0, double sigx, double sigy) {
  const Kick k = g(x, y, x0, y0, sigx, sigy);
  const testref::Field f = testref::gaussian_field(x - x0, y - y0, sigx, sigy);
  const long double dx = k.gx - f.gx, dy = k.gy - f.gy;
  return static_cast<double>(std::sqrt((dx * dx + dy * dy) / (f.gx * f.gx + f.gy * f.gy)));
}

// Round-beam field sqrt(2/pi) (1 - exp(-r^2/(2 s2)))/r, radial; s2 the
// product of the two sizes.
Kick round_field(double u, double v, long double s2) {
  const long double r2 = (long double)u * u + (long double)v * v;
  const long double m = std::sqrt(2 / testref::kPiL) * -std::expm1(-r2 / (2 * s2)) / r2;
  return {static_cast<double>(m * u), static_cast<double>(m * v)};
}

double rel(const Kick& a, const Kick& b) {
  return std::hypot(a.gx - b.gx, a.gy - b.gy) / std::hypot(b.gx, b.gy);
}

constexpr double kSig = 1.6e-5;  // m, a typical r.m.s. size at a collision point

const double kOffsets[][2] = {{1.0, 0.5},  {-3.0, 2.0}, {0.02, -0.01}, {-5.0, -1.0},
                              {0.3, -6.0}, {2.5, 2.5},  {-0.7, 0.0},   {0.0, 1.3}};

TEST(Ffrank, EllipticalKickIsTheFieldOfAGaussianBunch) {
  double worst = 0;
  for (double aspect : {1.01, 1.02, 1.2, 2.0, 5.0, 1 / 1.01, 1 / 1.5, 1 / 4.0}) {
    const double sigy = kSig, sigx = aspect * kSig;
    for (const auto& o : kOffsets) {
      const double x0 = 2e-6, y0 = -1e-6;
      const double e = field_error(x0 + o[0] * sigx, y0 + o[1] * sigy, x0, y0, sigx, sigy);
      EXPECT_LT(e, 2e-9) << aspect << " " << o[0] << " " << o[1];
      worst = std::fmax(worst, e);
    }
  }
  std::printf("[ ffrank   ] elliptical vs field integral: largest relative deviation %.3g\n",
              worst);
}

TEST(Ffrank, RoundKickIsTheRadialFieldOfARoundBunch) {
  for (const auto& o : kOffsets) {
    const double u = o[0] * kSig, v = o[1] * kSig;
    EXPECT_LT(rel(g(u, v, 0, 0, kSig, kSig), round_field(u, v, (long double)kSig * kSig)), 1e-12);
    // Below 1 % asymmetry the round field of the product of the sizes is used.
    const double sigx = 1.0099 * kSig;
    EXPECT_LT(rel(g(u, v, 0, 0, sigx, kSig), round_field(u, v, (long double)sigx * kSig)), 1e-12);
    EXPECT_LT(rel(g(u, v, 0, 0, kSig, sigx), round_field(u, v, (long double)sigx * kSig)), 1e-12);
  }
}

TEST(Ffrank, RoundEllipticalSwitchAtOnePercent) {
  double jump = 0, round_model = 0;
  for (const auto& o : kOffsets) {
    const double u = o[0] * kSig, v = o[1] * kSig;
    const double below = 1.0099 * kSig, above = 1.01 * kSig;
    // 1.0099: round formula, so not the exact field of that bunch.
    round_model = std::fmax(round_model, field_error(u, v, 0, 0, below, kSig));
    // 1.02: elliptical formula, distinguishable from the round one.
    const double sx = 1.02 * kSig;
    EXPECT_GT(rel(g(u, v, 0, 0, sx, kSig), round_field(u, v, (long double)sx * kSig)), 1e-4);
    EXPECT_LT(field_error(u, v, 0, 0, sx, kSig), 2e-9);
    jump = std::fmax(jump, rel(g(u, v, 0, 0, above, kSig), g(u, v, 0, 0, below, kSig)));
  }
  std::printf("[ ffrank   ] at the 1.01 switch: round-model error %.3g, jump %.3g (relative)\n",
              round_model, jump);
  EXPECT_GT(round_model, 1e-4);
  // The step across the switch is the round model's own error, about (a/b - 1)/2.
  EXPECT_LT(jump, 0.006);
  EXPECT_LT(jump, 1.1 * round_model);
}

TEST(Ffrank, EllipticalTendsToRoundAsAspectTendsToOne) {
  double prev = 0;
  for (double aspect : {1.16, 1.08, 1.04, 1.02}) {
    double d = 0;
    for (const auto& o : kOffsets) {
      const double u = o[0] * kSig, v = o[1] * kSig, sx = aspect * kSig;
      d = std::fmax(d, rel(g(u, v, 0, 0, sx, kSig), round_field(u, v, (long double)sx * kSig)));
    }
    // First order in the asymmetry: halving it halves the difference.
    EXPECT_LT(d, 0.6 * (aspect - 1)) << aspect;
    if (prev > 0) {
      EXPECT_GT(d, 0.3 * prev) << aspect;
      EXPECT_LT(d, 0.7 * prev) << aspect;
    }
    std::printf("[ ffrank   ] aspect %.2f: elliptical vs round of the same a*b %.3g\n", aspect, d);
    prev = d;
  }
}

TEST(Ffrank, ExchangingPlanesExchangesComponents) {
  for (double aspect : {1.0, 1.005, 1.3, 1 / 1.3, 3.0})
    for (const auto& o : kOffsets) {
      const double sx = aspect * kSig, x0 = 3e-6, y0 = -4e-6;
      const double x = x0 + o[0] * kSig, y = y0 + o[1] * kSig;
      const Kick a = g(x, y, x0, y0, sx, kSig);
      const Kick b = g(y, x, y0, x0, kSig, sx);
      EXPECT_EQ(a.gx, b.gy) << aspect << " " << o[0] << " " << o[1];
      EXPECT_EQ(a.gy, b.gx) << aspect << " " << o[0] << " " << o[1];
    }
}

TEST(Ffrank, ZeroSeparationGivesZeroComponent) {
  for (double aspect : {1.0, 1.005, 1.3, 1 / 1.3}) {
    const double sx = aspect * kSig, x0 = 5e-6, y0 = -2e-5;
    for (double d : {-2.0, -0.1, 0.4, 3.0}) {
      const Kick kx = g(x0, y0 + d * kSig, x0, y0, sx, kSig);
      EXPECT_EQ(kx.gx, 0.0) << aspect << " " << d;
      EXPECT_FALSE(std::signbit(kx.gx));
      EXPECT_NE(kx.gy, 0.0);
      const Kick ky = g(x0 + d * kSig, y0, x0, y0, sx, kSig);
      EXPECT_EQ(ky.gy, 0.0) << aspect << " " << d;
      EXPECT_FALSE(std::signbit(ky.gy));
      EXPECT_NE(ky.gx, 0.0);
    }
    const Kick c = g(x0, y0, x0, y0, sx, kSig);  // at the centre: no NaN
    EXPECT_EQ(c.gx, 0.0);
    EXPECT_EQ(c.gy, 0.0);
  }
}

class KickvornTest : public ::testing::Test {
 protected:
  void SetUp() override {
    st = std::make_unique<State>();
    st->vorn.factor = 2.7e-16;  // m: sqrt(2 pi) dnb rp / gamma of a proton beam
    auto& b = st->bbcoord.bbcoord;
    auto set = [&](int k, double sx, double sy, double x0, double y0) {
      b(k, 1) = sx, b(k, 2) = sy, b(k, 3) = x0, b(k, 4) = y0;
    };
    set(1, kSig, kSig, 0, 0);                 // head-on, round
    set(2, 1.4 * kSig, kSig, 0, 0);           // head-on, flat
    set(3, 2e-4, 2e-4, 9.5e-4, 0);            // long-range, horizontal separation
    set(4, 1.8e-4, 2.6e-4, -3e-5, 8.0e-4);    // long-range, tall, both offsets
    set(5, 1.003 * kSig, kSig, 4e-6, -2e-6);  // nearly round, offset
  }
  std::unique_ptr<State> st;
};

TEST_F(KickvornTest, ReferenceOrbitIsNeverDeflected) {
  for (int pass = 0; pass < 2; ++pass)
    for (int k = 1; k <= 5; ++k) {
      double dxp = 1, dyp = 1;
      kickvorn(*st, 0.0, 0.0, dxp, dyp, k);
      EXPECT_EQ(dxp, 0.0) << k;
      EXPECT_EQ(dyp, 0.0) << k;
      // Only the offset encounters have a reference-orbit kick to remove.
      const bool offset = st->qarkick.kick0(k, 1) != 0.0 || st->qarkick.kick0(k, 2) != 0.0;
      EXPECT_EQ(offset, k >= 3) << k;
    }
}

TEST_F(KickvornTest, ReferenceKickComputedOnceAndKept) {
  const int k = 4;
  const auto& b = st->bbcoord.bbcoord;
  const Kick ref = g(0, 0, b(k, 3), b(k, 4), b(k, 1), b(k, 2));
  double dxp, dyp;
  kickvorn(*st, 1e-5, 2e-5, dxp, dyp, k);
  EXPECT_EQ(st->qarind.kick0set(k), 1);
  EXPECT_EQ(st->qarkick.kick0(k, 1), ref.gy);  // vertical first
  EXPECT_EQ(st->qarkick.kick0(k, 2), ref.gx);
  for (int j = 1; j <= kSections; ++j) EXPECT_EQ(st->qarind.kick0set(j), j == k ? 1 : 0) << j;

  // A second particle at the same place gets the identical kick.
  double dxp2, dyp2;
  kickvorn(*st, 1e-5, 2e-5, dxp2, dyp2, k);
  EXPECT_EQ(dxp2, dxp);
  EXPECT_EQ(dyp2, dyp);

  // Moving the bunch afterwards does not refresh the reference kick.
  st->bbcoord.bbcoord(k, 3) = 5e-4;
  kickvorn(*st, 1e-5, 2e-5, dxp, dyp, k);
  EXPECT_EQ(st->qarkick.kick0(k, 1), ref.gy);
  EXPECT_EQ(st->qarkick.kick0(k, 2), ref.gx);
  const Kick now = g(1e-5, 2e-5, 5e-4, b(k, 4), b(k, 1), b(k, 2));
  const double f = st->vorn.factor;
  EXPECT_EQ(dxp, f * ref.gx - f * now.gx);
  EXPECT_EQ(dyp, f * ref.gy - f * now.gy);
}

TEST_F(KickvornTest, ParticleAtTheBunchCentreInOnePlane) {
  const double f = st->vorn.factor;
  for (int k = 3; k <= 5; ++k) {
    const auto& b = st->bbcoord.bbcoord;
    double dxp, dyp;
    kickvorn(*st, b(k, 3), b(k, 4) + 1e-4, dxp, dyp, k);
    EXPECT_EQ(dxp, f * st->qarkick.kick0(k, 2)) << k;
    kickvorn(*st, b(k, 3) - 1e-4, b(k, 4), dxp, dyp, k);
    EXPECT_EQ(dyp, f * st->qarkick.kick0(k, 1)) << k;
  }
}

}  // namespace
}  // namespace bbtrack
