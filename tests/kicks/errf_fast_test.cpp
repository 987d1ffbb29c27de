// The opt-in fast evaluation of w against long-double references and
// against errf, on a grid of the first quadrant that takes in the origin,
// both region borders of errf and the corner between them, the real and the
// imaginary axis, and |z| up to 1e6 (and, through the shared quadrant rules,
// the other quadrants); and the exponential of the kick's Gaussian factor in
// this mode.
#include "kicks/errf_fast.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "kicks/errf.h"
#include "kicks/faddeeva_reference.h"

namespace bbtrack {
namespace {

using testref::cld;

cld reference(double x, double y) {
  const cld z(x, y);
  const long double r = std::abs(z);
  if (r <= 3) return testref::w_taylor(z);
  if (r < 8) return testref::w_quadrature(z);
  return testref::w_continued_fraction(z);
}

std::vector<std::array<double, 2>> first_quadrant_grid() {
  std::vector<std::array<double, 2>> g;
  for (int i = 0; i <= 100; ++i)
    for (int j = 0; j <= 100; ++j) g.push_back({0.08 * i, 0.08 * j});
  for (int i = 0; i <= 200; ++i) {
    const double t = 0.04 * i;
    for (double b : {4.29, std::nextafter(4.29, 0.0)}) g.push_back({t, b});
    for (double b : {5.33, std::nextafter(5.33, 0.0)}) g.push_back({b, t});
  }
  for (int i = 0; i <= 20; ++i)
    for (int j = 0; j <= 20; ++j) g.push_back({5.23 + 0.01 * i, 4.19 + 0.01 * j});
  for (int i = 0; i <= 100; ++i) g.push_back({1e-3 * i, 1e-3 * (i % 7)});  // near the origin
  // Far out: |z| from 8 to 1e6 at angles from the real to the imaginary axis,
  // with the far form's borders (both of its starts, and where its count of
  // terms changes) and the ulp below them.
  std::vector<double> radii;
  for (double b : {std::sqrt(60.0), 10.0, 18.0}) radii.insert(radii.end(), {b, std::nextafter(b, 0.0)});
  for (int e = 0; e <= 50; ++e) radii.push_back(8.0 * std::pow(10.0, e * 0.1));  // 8 .. 1e6
  for (const double r : radii) {
    for (int a = 0; a <= 24; ++a) {
      const double phi = 0.0654498469497873 * a;  // (pi/48) a
      g.push_back({r * std::cos(phi), a == 24 ? r : r * std::sin(phi)});
    }
  }
  return g;
}

// With either start of the far form (that of long-range encounters puts the
// whole grid beyond |z| = 7.75 in it).
TEST(ErrfFast, RelativeErrorBelow1e13OverTheFirstQuadrant) {
  double worst = 0, at_x = 0, at_y = 0, from_errf = 0;
  for (const auto& [x, y] : first_quadrant_grid()) {
    const cld ref = reference(x, y);
    double wx, wy, ex, ey;
    for (double far2 : {errf_fast_detail::kFarLong2, errf_fast_detail::kFar2}) {
      errf_fast(x, y, wx, wy, far2);
      const double rel = static_cast<double>(std::abs(cld(wx, wy) - ref) / std::abs(ref));
      if (rel > worst) worst = rel, at_x = x, at_y = y;
    }
    // errf itself is good to about 1e-9 absolute: the two differ by no more.
    errf(x, y, ex, ey);
    from_errf = std::fmax(from_errf, std::hypot(wx - ex, wy - ey));
  }
  std::printf("[ errf_fast] largest relative error %.3g at z = %.17g + %.17g i;"
              " largest |errf_fast - errf| = %.3g\n", worst, at_x, at_y, from_errf);
  EXPECT_LT(worst, 1e-13);
  EXPECT_LT(from_errf, 1e-9);
}

TEST(ErrfFast, OtherQuadrantsAndAxesFollowTheExactRules) {
  double wx, wy;
  errf_fast(0.0, 0.0, wx, wy);
  EXPECT_NEAR(wx, 1.0, 1e-15);
  EXPECT_EQ(wy, 0.0);
  for (double x : {0.3, 3.0, 7.0}) {
    errf_fast(x, 0.0, wx, wy);
    EXPECT_EQ(wx, std::exp(-(x * x))) << x;  // the real-axis rule
  }
  for (double y : {0.5, 4.29, 60.0}) {
    errf_fast(0.0, y, wx, wy);
    EXPECT_EQ(wy, 0.0) << y;  // real on the imaginary axis
  }
  // The mirrored quadrants, against the references directly (|z| <= 3,
  // where 2 exp(-z^2) stays small enough for a relative measure).
  double worst = 0;
  for (int i = -15; i <= 15; ++i)
    for (int j = -10; j <= 15; ++j) {
      const double x = 0.2 * i, y = 0.2 * j;
      if (std::hypot(x, y) > 3.0) continue;
      errf_fast(x, y, wx, wy);
      const cld ref = testref::w_taylor(cld(x, y));
      worst = std::fmax(worst, static_cast<double>(std::abs(cld(wx, wy) - ref) / std::abs(ref)));
    }
  EXPECT_LT(worst, 1e-13);
}

TEST(ErrfFast, GaussianFactorWithinTwoUlpOfTheLibraryExponential) {
  double worst = 0;
  for (int i = 0; i <= 200000; ++i) {
    const double t = -708.0 * i / 200000.0;
    worst = std::fmax(worst, std::fabs(exp_fast(t) - std::exp(t)) / std::exp(t));
  }
  EXPECT_LT(worst, 4.5e-16);  // two units in the last place
  EXPECT_EQ(exp_fast(0.0), 1.0);
  EXPECT_EQ(exp_fast(-0.0), 1.0);
  EXPECT_EQ(exp_fast(-708.5), 0.0);
  EXPECT_EQ(exp_fast(-1e300), 0.0);
  EXPECT_EQ(exp_fast(-std::numeric_limits<double>::infinity()), 0.0);
}

TEST(ErrfFast, ModeOnlyByTheExactWordFast) {
  EXPECT_EQ(errf_mode_for("fast"), ErrfMode::fast);
  for (const char* v : {static_cast<const char*>(nullptr), "", "exact", "FAST", "fast ", "1"})
    EXPECT_EQ(errf_mode_for(v), ErrfMode::exact) << (v ? v : "unset");
}

}  // namespace
}  // namespace bbtrack
