// Fractional tune of a turn-by-turn signal: the peak of its Hann-windowed
// discrete-time Fourier amplitude, located on a coarse grid and refined by
// golden-section search. For a pure betatron oscillation of N turns it is
// accurate far below 1/N.
#pragma once

#include <cmath>
#include <complex>
#include <vector>

namespace bbtrack::testref {

inline double windowed_amplitude(const std::vector<double>& s, double nu) {
  const double pi = 3.141592653589793;
  const double n = static_cast<double>(s.size());
  std::complex<double> sum = 0;
  for (std::size_t t = 0; t < s.size(); ++t) {
    const double w = 1 - std::cos(2 * pi * static_cast<double>(t) / n);
    sum += w * s[t] * std::polar(1.0, -2 * pi * nu * static_cast<double>(t));
  }
  return std::abs(sum);
}

inline double tune_estimate(const std::vector<double>& s) {
  const double n = static_cast<double>(s.size());
  double best = 0, peak = -1;
  for (double nu = 0.5 / n; nu < 0.5; nu += 0.5 / n) {
    const double a = windowed_amplitude(s, nu);
    if (a > peak) peak = a, best = nu;
  }
  const double g = 0.5 * (std::sqrt(5.0) - 1);
  double lo = best - 0.5 / n, hi = best + 0.5 / n;
  double c = hi - g * (hi - lo), d = lo + g * (hi - lo);
  double fc = windowed_amplitude(s, c), fd = windowed_amplitude(s, d);
  for (int it = 0; it < 80; ++it) {
    if (fc > fd) {
      hi = d, d = c, fd = fc;
      c = hi - g * (hi - lo), fc = windowed_amplitude(s, c);
    } else {
      lo = c, c = d, fc = fd;
      d = lo + g * (hi - lo), fd = windowed_amplitude(s, d);
    }
  }
  return 0.5 * (lo + hi);
}

}  // namespace bbtrack::testref
