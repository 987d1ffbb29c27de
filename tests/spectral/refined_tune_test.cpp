// The refined tune of a clean tone is its frequency to rounding level, on
// either side of the half integer and near the integer, whatever its
// amplitude, phase and constant offset; a record without a line has none.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "spectral/refined_tune.h"

namespace bbtrack {
namespace {

std::vector<std::complex<double>> tone(double q, int n, double amp, double phase,
                                       std::complex<double> offset) {
  std::vector<std::complex<double>> z(static_cast<std::size_t>(n));
  for (int t = 0; t < n; ++t)
    z[static_cast<std::size_t>(t)] = offset + std::polar(amp, 2.0 * M_PI * q * (t + 1) + phase);
  return z;
}

TEST(RefinedTune, CleanToneOf1024TurnsToRoundingLevel) {
  TuneWork work;
  const struct {
    double q, amp, phase;
    std::complex<double> offset;
  } cases[] = {{0.31, 1.0, 0.0, 0.0},
               {0.6901234567, 3.5e-4, 1.3, 0.0},
               {0.123456789, 2.0, -2.0, {0.7, -0.2}},
               {0.99876543, 1.0, 0.4, {1e-3, 0.0}},
               {0.004, 1.0, 0.0, 0.0}};
  for (const auto& c : cases) {
    const auto z = tone(c.q, 1024, c.amp, c.phase, c.offset);
    const double q = refined_tune(z, work);
    EXPECT_NEAR(q, c.q, 1e-10) << "tone at " << c.q;
    EXPECT_TRUE(q >= 0.0 && q < 1.0);
  }
  const std::vector<std::complex<double>> flat(1024, {0.5, 0.0}), zero(1024);
  EXPECT_TRUE(std::isnan(refined_tune(zero, work)));
  EXPECT_TRUE(std::isnan(refined_tune(std::span(flat).first(3), work)));
}

}  // namespace
}  // namespace bbtrack
