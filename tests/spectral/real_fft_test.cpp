// The transform against its definition, its edge cases and its rejected
// lengths (soft silent mode, so the code comes back).
#include "spectral/real_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "spectral/dft_reference.h"

namespace bbtrack {
namespace {

using testing::accepted_length;
using testing::direct_dft;
using testing::relative_error;

// A few roundings per pass; the errors seen stay below 2e-16*log2(n).
double tolerance(std::size_t n) {
  return 1e-15 * std::log2(static_cast<double>(n));
}

std::vector<double> random_data(std::int32_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(static_cast<std::size_t>(n > 0 ? n : 1));
  for (double& v : x) v = dist(rng);
  return x;
}

// Soft silent mode: the library never writes, so it needs no text layer.
std::int32_t transform(std::vector<double>& x, std::int32_t n) {
  NagLib lib{nullptr};
  std::int32_t ifail = 1;
  C06EAF(x.data(), n, ifail, lib);
  return ifail;
}

TEST(C06EAF, MatchesDefinitionForEveryAcceptedLength) {
  std::mt19937_64 rng(20240611);
  std::vector<std::int32_t> lengths;
  for (std::int32_t n = 2; n <= 300; ++n) {
    if (accepted_length(n)) lengths.push_back(n);
  }
  EXPECT_EQ(lengths.size(), 155u);
  // Powers of two (radix-8 passes with a radix-2 or radix-4 tail), the
  // footprint length 2^3*5^3, five single primes, general passes only.
  lengths.insert(lengths.end(), {1000, 1024, 2048, 2310, 4096, 4199});
  for (std::int32_t n : lengths) {
    const std::vector<double> x = random_data(n, rng);
    std::vector<double> y = x;
    ASSERT_EQ(transform(y, n), 0) << "n = " << n;
    EXPECT_LE(relative_error(y, direct_dft(x)), tolerance(y.size())) << "n = " << n;
  }
}

// The centred ramp x_j = j - (n-1)/2 has z_0 = 0 and, for k > 0,
// z_k = (sqrt(n)/2) (-1 + i cot(pi k / n)); every input shows in every output.
TEST(C06EAF, HugeLengthsMatchClosedFormOfRamp) {
  const long double pi = 3.141592653589793238462643383279502884L;
  for (std::int32_t n : {1 << 20, 510510}) {
    const auto len = static_cast<std::size_t>(n);
    std::vector<double> y(len);
    for (std::size_t j = 0; j < len; ++j) y[j] = static_cast<double>(j) - 0.5 * (n - 1);
    ASSERT_EQ(transform(y, n), 0) << "n = " << n;
    const long double half_root = std::sqrt(static_cast<long double>(n)) / 2.0L;
    std::vector<long double> ref(len, 0.0L);
    for (std::size_t k = 1; 2 * k <= len; ++k) {
      const long double a = pi * static_cast<long double>(k) / static_cast<long double>(n);
      ref[k] = -half_root;
      if (2 * k < len) ref[len - k] = half_root * std::cos(a) / std::sin(a);
    }
    EXPECT_LE(relative_error(y, ref), tolerance(len)) << "n = " << n;
  }
}

TEST(C06EAF, EdgeCases) {
  std::vector<double> two = {3.0, 1.0};
  ASSERT_EQ(transform(two, 2), 0);
  EXPECT_DOUBLE_EQ(two[0], 4.0 / std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(two[1], 2.0 / std::sqrt(2.0));

  std::vector<double> four = {0.0, 1.0, 0.0, -1.0};
  ASSERT_EQ(transform(four, 4), 0);
  EXPECT_EQ(four, (std::vector<double>{0.0, 0.0, 0.0, -1.0}));

  // A constant goes to frequency 0, a cosine of integer frequency f to the
  // real part of harmonic f, a sine to its imaginary part with a minus.
  const double pi = 3.141592653589793;
  for (auto [n, f] : {std::pair{1000, 300}, {4096, 1}, {4199, 2099}, {7, 3}}) {
    const auto len = static_cast<std::size_t>(n);
    const auto fi = static_cast<std::size_t>(f);
    std::vector<double> a(len, 2.5), c(len), s(len);
    for (std::size_t j = 0; j < len; ++j) {
      c[j] = std::cos(2.0 * pi * static_cast<double>((fi * j) % len) / n);
      s[j] = std::sin(2.0 * pi * static_cast<double>((fi * j) % len) / n);
    }
    ASSERT_EQ(transform(a, n) + transform(c, n) + transform(s, n), 0);
    const double root = std::sqrt(static_cast<double>(n));
    for (std::size_t i = 0; i < len; ++i) {
      ASSERT_NEAR(a[i], i == 0 ? 2.5 * root : 0.0, 1e-12) << n << " constant " << i;
      ASSERT_NEAR(c[i], i == fi ? root / 2 : 0.0, 1e-12) << n << " cos " << i;
      ASSERT_NEAR(s[i], i == len - fi ? -root / 2 : 0.0, 1e-12) << n << " sin " << i;
    }
  }
}

TEST(C06EAF, RejectedLengthsLeaveDataAndReturnTheirCode) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      // too short
      {1, 3},
      {0, 3},
      {-4, 3},
      // a prime factor above 19
      {23, 1},
      {46, 1},
      {29 * 19, 1},
      {19 * 23, 1},
      {292, 1},
      // too many prime factors
      {1 << 21, 2},
      {(1 << 19) * 15, 2},
  };
  std::mt19937_64 rng(3);
  for (auto [n, code] : cases) {
    const std::vector<double> x = random_data(n, rng);
    std::vector<double> y = x;
    EXPECT_EQ(transform(y, n), code) << "n = " << n;
    EXPECT_EQ(y, x) << "n = " << n;
  }
}

}  // namespace
}  // namespace bbtrack
