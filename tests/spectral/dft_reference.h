// Reference values for the real transform tests: the definition summed
// directly in long double, and the acceptance rule for lengths worked out
// independently of the factoriser.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace bbtrack::testing {

// Hermitian-stored (1/sqrt(n)) sum_j x_j exp(-2 pi i j k / n).
inline std::vector<long double> direct_dft(const std::vector<double>& x) {
  const std::size_t n = x.size();
  const long double pi = 3.141592653589793238462643383279502884L;
  std::vector<long double> c(n), s(n);
  for (std::size_t r = 0; r < n; ++r) {
    const long double a = 2.0L * pi * static_cast<long double>(r) / static_cast<long double>(n);
    c[r] = std::cos(a);
    s[r] = std::sin(a);
  }
  const long double scale = 1.0L / std::sqrt(static_cast<long double>(n));
  std::vector<long double> out(n);
  for (std::size_t k = 0; 2 * k <= n; ++k) {
    long double re = 0.0L, im = 0.0L;
    std::size_t r = 0;  // j*k mod n
    for (std::size_t j = 0; j < n; ++j) {
      re += x[j] * c[r];
      im -= x[j] * s[r];
      r += k;
      if (r >= n) r -= n;
    }
    out[k] = re * scale;
    if (k > 0 && 2 * k < n) out[n - k] = im * scale;
  }
  return out;
}

// Largest deviation of y from ref, relative to the largest |ref|.
inline double relative_error(const std::vector<double>& y, const std::vector<long double>& ref) {
  long double big = 0.0L, err = 0.0L;
  for (std::size_t i = 0; i < ref.size(); ++i) {
    big = std::max(big, std::fabs(ref[i]));
    err = std::max(err, std::fabs(ref[i] - static_cast<long double>(y[i])));
  }
  return static_cast<double>(big > 0.0L ? err / big : err);
}

// Accepted: n >= 2, every prime factor at most 19, at most 20 of them.
inline bool accepted_length(std::int64_t n) {
  if (n < 2) return false;
  int count = 0;
  for (std::int64_t p = 2; p <= 19; ++p) {
    while (n % p == 0) {
      n /= p;
      ++count;
    }
  }
  return n == 1 && count <= 20;
}

}  // namespace bbtrack::testing
