#include "kicks/errf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "kicks/faddeeva_reference.h"

namespace bbtrack {
namespace {

using testref::cld;

double deviation(double x, double y, const cld& ref) {
  double wx, wy;
  errf(x, y, wx, wy);
  return static_cast<double>(std::abs(cld(wx, wy) - ref));
}

TEST(ErrfReference, TaylorAndQuadratureAgree) {
  long double worst = 0;
  for (int i = -30; i <= 30; ++i)
    for (int j = -20; j <= 30; ++j) {
      const cld z(0.1L * i, 0.1L * j);
      if (std::abs(z) > 3) continue;
      worst = std::fmax(worst, std::abs(testref::w_taylor(z) - testref::w_quadrature(z)));
    }
  EXPECT_LT(worst, 1e-14L);
}

// The largest deviation of errf from w over the first quadrant; the grid
// straddles both region borders and the corner.
TEST(Errf, FirstQuadrantAccuracy) {
  double worst = 0, wx0 = 0, wy0 = 0;
  auto check = [&](double x, double y) {
    const double d = deviation(x, y, testref::w_quadrature(cld(x, y)));
    if (d > worst) worst = d, wx0 = x, wy0 = y;
  };
  for (int i = 0; i <= 80; ++i)
    for (int j = 0; j <= 80; ++j) check(0.1 * i, 0.1 * j);
  for (int i = 0; i <= 400; ++i) {
    const double t = 0.02 * i;
    for (double b : {4.29, std::nextafter(4.29, 0.0), 4.29 + 1e-9, 4.29 - 1e-9}) check(t, b);
    for (double b : {5.33, std::nextafter(5.33, 0.0), 5.33 + 1e-9, 5.33 - 1e-9}) check(b, t);
  }
  for (int i = 0; i <= 40; ++i)
    for (int j = 0; j <= 40; ++j) check(5.13 + 0.01 * i, 4.09 + 0.01 * j);
  for (int i = 0; i <= 200; ++i) check(0.001 * i, 0.001 * (i % 7));  // near the origin
  std::printf("[ errf     ] largest |errf - w| = %.3g at z = %.17g + %.17g i\n", worst, wx0, wy0);
  EXPECT_LT(worst, 1e-9);
}

TEST(Errf, RegionBordersSwitchSchemeWithoutVisibleStep) {
  double largest = 0;
  for (int i = 0; i <= 106; ++i) {
    const double x = 0.05 * i;
    double a, b, c, d;
    errf(x, 4.29, a, b);
    errf(x, std::nextafter(4.29, 0.0), c, d);
    EXPECT_LT(std::hypot(a - c, b - d), 1e-9) << x;
    largest = std::fmax(largest, std::hypot(a - c, b - d));
  }
  // One ulp in y moves w by ~1e-15; a larger step shows the scheme changed there.
  EXPECT_GT(largest, 1e-12);
  largest = 0;
  for (int i = 0; i <= 85; ++i) {
    const double y = 0.05 * i;
    double a, b, c, d;
    errf(5.33, y, a, b);
    errf(std::nextafter(5.33, 0.0), y, c, d);
    EXPECT_LT(std::hypot(a - c, b - d), 1e-9) << y;
    largest = std::fmax(largest, std::hypot(a - c, b - d));
  }
  EXPECT_GT(largest, 1e-12);
}

TEST(Errf, ExactValuesOnTheAxes) {
  double wx, wy;
  errf(0.0, 0.0, wx, wy);
  EXPECT_EQ(wx, 1.0);
  EXPECT_EQ(wy, 0.0);

  errf(3.0, 0.0, wx, wy);
  EXPECT_EQ(wx, std::exp(-9.0));
  EXPECT_NEAR(wx, 1.2340980408668e-4, 1e-16);
  EXPECT_NEAR(wy, 0.201157317, 1e-9);

  // Both signs of zero count as the real axis, in both regions.
  for (double x : {0.3, 2.5, 5.0, 5.33, 7.0}) {
    for (double yy : {0.0, -0.0}) {
      errf(x, yy, wx, wy);
      EXPECT_EQ(wx, std::exp(-(x * x))) << x << " " << yy;
    }
  }
  // On the imaginary axis w is real.
  for (double y : {0.5, 3.0, 4.29, 6.0}) {
    errf(0.0, y, wx, wy);
    EXPECT_EQ(wy, 0.0) << y;
  }
}

TEST(Errf, KnownValue) {
  double wx, wy;
  errf(1.0, 1.0, wx, wy);
  EXPECT_NEAR(wx, 0.30474420526, 1e-11);
  EXPECT_NEAR(wy, 0.20821893820, 1e-11);
}

TEST(Errf, MirrorInImaginaryAxisIsConjugate) {
  for (double x : {0.2, 1.0, 4.0, 5.33, 6.5})
    for (double y : {0.0, 0.7, 3.0, 4.29, 5.0}) {
      double a, b, c, d;
      errf(x, y, a, b);
      errf(-x, y, c, d);
      EXPECT_EQ(c, a) << x << " " << y;
      EXPECT_EQ(d, -b) << x << " " << y;
    }
}

TEST(Errf, LowerHalfPlane) {
  for (double x : {-2.0, -0.6, 0.0, 0.6, 2.0})
    for (double y : {-0.3, -1.0, -1.8}) {
      const cld z(x, y);
      const cld e2 = 2.0L * std::exp(-z * z);
      // Against the reference directly, and through w(-z) = 2 exp(-z^2) - w(z).
      const double tol = 1e-9 * static_cast<double>(std::abs(e2));
      EXPECT_LT(deviation(x, y, testref::w_quadrature(z)), tol) << x << " " << y;
      double a, b, c, d;
      errf(x, y, a, b);
      errf(-x, -y, c, d);
      const cld sum = cld(a, b) + cld(c, d);
      EXPECT_LT(static_cast<double>(std::abs(sum - e2)), tol) << x << " " << y;
    }
}

TEST(Ipow, SquareAndMultiplyFromTheLowBit) {
  const double x = 1.1;
  const double x2 = x * x;
  const double x4 = x2 * x2;
  EXPECT_EQ(ipow(x, 0), 1.0);
  EXPECT_EQ(ipow(x, 1), x);
  EXPECT_EQ(ipow(x, 5), x * x4);
  EXPECT_EQ(ipow(x, 6), x2 * x4);
  EXPECT_EQ(ipow(x, -5), 1.0 / (x * x4));
  EXPECT_EQ(ipow(0.3125, -29), 1.0 / ipow(0.3125, 29));
  EXPECT_EQ(ipow(2.0, -3), 0.125);
}

}  // namespace
}  // namespace bbtrack
