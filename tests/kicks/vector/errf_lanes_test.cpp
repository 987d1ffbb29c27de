// errf computed in the lanes of every target against errf, bit for bit, on
// arguments chosen to put neighbouring lanes on different paths: inner and
// outer region, every step count, the region borders, the real axis, the
// other quadrants, signed zeros, huge values, infinities and NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kicks/errf.h"
#include "kicks/vector/lane_kernels.h"

namespace bbtrack {
namespace {

std::vector<double> edge_values() {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> v = {0.0, -0.0, 1e-300, 5e-324, 0.01, 0.5, 1.0, 2.0, 3.0, 4.0, 4.29, 5.0, 5.33,
                           6.0, 9.0, 40.0, 1e10, 1e200, inf, nan};
  for (double b : {4.29, 5.33}) {
    v.push_back(std::nextafter(b, 0.0));
    v.push_back(std::nextafter(b, 10.0));
  }
  const std::size_t n = v.size();
  for (std::size_t i = 0; i < n; ++i) v.push_back(-v[i]);
  return v;
}

void expect_same_as_scalar(const LaneTarget& l, const std::vector<double>& xs,
                           const std::vector<double>& ys) {
  const int n = static_cast<int>(xs.size());
  std::vector<double> wx(xs.size()), wy(xs.size());
  l.kernels->errf_array(xs.data(), ys.data(), wx.data(), wy.data(), n);
  int bad = 0;
  for (int i = 0; i < n && bad < 10; ++i) {
    double rx, ry;
    errf(xs[i], ys[i], rx, ry);
    // NaN matches NaN whatever its sign (see fast_path_test.cpp).
    auto same_bits = [](double a, double b) {
      return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
    };
    const bool same = same_bits(rx, wx[i]) && same_bits(ry, wy[i]);
    if (!same) ++bad;
    EXPECT_TRUE(same) << l.name << " errf(" << xs[i] << ", " << ys[i] << ") = (" << wx[i] << ", "
                      << wy[i] << "), scalar (" << rx << ", " << ry << ")";
  }
}

TEST(ErrfLanes, EdgeValuesInEveryPairing) {
  const auto v = edge_values();
  std::vector<double> xs, ys;
  for (double a : v)
    for (double b : v) {
      xs.push_back(a);
      ys.push_back(b);
    }
  for (const LaneTarget& l : lane_targets())
    if (l.supported) expect_same_as_scalar(l, xs, ys);
}

TEST(ErrfLanes, DenseGridOverBothRegions) {
  // 0.0371 steps over [-7, 7] x [-5.5, 5.5]: every nu and nc occurs, and most
  // registers mix step counts and regions.
  std::vector<double> xs, ys;
  for (double y = -5.5; y <= 5.5; y += 0.0371)
    for (double x = -7.0; x <= 7.0; x += 0.0373) {
      xs.push_back(x);
      ys.push_back(y);
    }
  for (const LaneTarget& l : lane_targets())
    if (l.supported) expect_same_as_scalar(l, xs, ys);
}

TEST(ErrfLanes, CountsThatAreNotAWholeRegister) {
  for (int n : {1, 3, 5, 9, 17}) {
    std::vector<double> xs, ys;
    for (int i = 0; i < n; ++i) {
      xs.push_back(0.3 * i);
      ys.push_back(5.0 - 0.4 * i);
    }
    for (const LaneTarget& l : lane_targets())
      if (l.supported) expect_same_as_scalar(l, xs, ys);
  }
}

}  // namespace
}  // namespace bbtrack
