// Composite Gauss-Legendre quadrature in long double, for the reference
// values the kick tests compare against.
#pragma once

#include <cmath>
#include <vector>

namespace bbtrack::testref {

struct GaussRule {
  std::vector<long double> node, weight;  // on [-1, 1]
};

// Nodes by Newton's method on the Legendre polynomial of degree n.
inline GaussRule gauss_legendre(int n) {
  GaussRule r;
  r.node.resize(n);
  r.weight.resize(n);
  const long double pi = 3.141592653589793238462643383279502884L;
  for (int i = 0; i < n; ++i) {
    long double t = std::cos(pi * (i + 0.75L) / (n + 0.5L));
    long double dp = 0;
    for (int it = 0; it < 100; ++it) {
      long double p0 = 1, p1 = t;
      for (int k = 2; k <= n; ++k) {
        long double p2 = ((2 * k - 1) * t * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (t * p1 - p0) / (t * t - 1);
      long double dt = p1 / dp;
      t -= dt;
      if (std::fabs(dt) < 1e-21L) break;
    }
    r.node[i] = t;
    r.weight[i] = 2 / ((1 - t * t) * dp * dp);
  }
  return r;
}

// Integral of f over [lo, hi] with `panels` equal panels of the rule.
template <class T, class F>
T integrate(const GaussRule& r, long double lo, long double hi, int panels, F f) {
  T sum{};
  const long double h = (hi - lo) / panels;
  for (int p = 0; p < panels; ++p) {
    const long double mid = lo + (p + 0.5L) * h;
    T part{};
    for (std::size_t i = 0; i < r.node.size(); ++i)
      part += r.weight[i] * f(mid + 0.5L * h * r.node[i]);
    sum += part * (0.5L * h);
  }
  return sum;
}

}  // namespace bbtrack::testref
