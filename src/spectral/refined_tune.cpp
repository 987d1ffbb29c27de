#include "spectral/refined_tune.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

namespace bbtrack {
namespace {

using cplx = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kMinTurns = 4;
constexpr int kBackgroundPasses = 16;
constexpr int kNewtonSteps = 60;
constexpr int kBracketGrowth = 4;  // half-bin widenings of the bracket
constexpr int kQuickSteps = 8;
// Newton's last step, in half bins: 1e-6 leaves an error near 1e-12 half
// bins; the first pass, whose background is still the plain mean, only
// needs to come near enough for the fit of the next.
constexpr double kQuickDone = 1e-6;
constexpr double kFirstPassDone = 1e-3;
// The background is refitted until the tune moves by less than this.
constexpr double kPassesDone = 1e-14;
// A step or bracket below a few units of rounding of nu ends the search.
constexpr double kRounding = 4e-16;
// The phase factor is carried by multiplication from one turn to the next
// and set afresh from cos and sin every so many turns, which keeps its
// rounding at a few units whatever the record's length.
constexpr int kPhaseResync = 32;

// Products written out: the library's operator* checks for infinities and
// NaN in a call of its own, which the loops below cannot afford; their
// operands are finite.
inline cplx mul(cplx a, cplx b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// In-place radix-2 transform, X_k = sum_j x_j exp(-2 pi i j k / n); n a
// power of two, tw the n/2 factors exp(-2 pi i k / n). It only has to find
// the largest line, not its value.
void fft_pow2(std::vector<cplx>& a, const std::vector<cplx>& tw) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t stride = n / len;
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const cplx u = a[i + k], v = mul(a[i + k + len / 2], tw[k * stride]);
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// F(nu) = sum zw(t) exp(-2 pi i nu t) and its first two derivatives in nu,
// with t counted from the middle of the record.
struct Projection {
  cplx f0, f1, f2;
};

Projection project(const std::vector<cplx>& zw, double nu) {
  const std::size_t n = zw.size();
  const double t0 = -0.5 * static_cast<double>(n - 1);
  const cplx step = std::polar(1.0, -kTwoPi * nu);
  cplx s0 = 0.0, s1 = 0.0, s2 = 0.0, e = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = t0 + static_cast<double>(i);
    e = (i % kPhaseResync == 0) ? std::polar(1.0, -kTwoPi * nu * t) : mul(e, step);
    const cplx v = mul(zw[i], e);
    s0 += v;
    s1 += cplx(v.real() * t, v.imag() * t);
    s2 += cplx(v.real() * (t * t), v.imag() * (t * t));
  }
  return {s0, cplx(kTwoPi * s1.imag(), -kTwoPi * s1.real()), -kTwoPi * kTwoPi * s2};
}

// g = Re(conj(F) F') = (d|F|^2/dnu) / 2 and its derivative.
void slope(const std::vector<cplx>& zw, double nu, double& g, double& dg) {
  const Projection p = project(zw, nu);
  g = (std::conj(p.f0) * p.f1).real();
  dg = (std::conj(p.f1) * p.f1).real() + (std::conj(p.f0) * p.f2).real();
}

// The maximum of |F| near `start`: the root of g, which is positive below a
// maximum and negative above it, bracketed within a few half bins.
std::optional<double> maximise(const std::vector<cplx>& zw, double start, double done) {
  const double h = 0.5 / static_cast<double>(zw.size());
  // Newton steps from the start, which lies well within the peak's lobe:
  // once a step is below `done` half bins, the next error is below about
  // its square, so the search ends there.
  double nu = start;
  for (int it = 0; it < kQuickSteps; ++it) {
    double g, dg;
    slope(zw, nu, g, dg);
    if (!(dg < 0.0)) break;
    const double step = -g / dg;
    if (!(std::fabs(step) <= h)) break;
    nu += step;
    if (std::fabs(step) <= done * h) {
      if (std::fabs(nu - start) <= (kBracketGrowth + 1) * h) return nu;
      break;
    }
  }
  // Otherwise the bracketed search.
  double lo = start - h, hi = start + h, glo, ghi, d;
  slope(zw, lo, glo, d);
  slope(zw, hi, ghi, d);
  for (int grow = 0; !(glo > 0.0 && ghi < 0.0) && grow < kBracketGrowth; ++grow) {
    lo -= h;
    hi += h;
    slope(zw, lo, glo, d);
    slope(zw, hi, ghi, d);
  }
  if (!(glo > 0.0 && ghi < 0.0)) return std::nullopt;
  nu = (lo < start && start < hi) ? start : 0.5 * (lo + hi);
  for (int it = 0; it < kNewtonSteps; ++it) {
    double g, dg;
    slope(zw, nu, g, dg);
    if (g > 0.0) {
      lo = nu;
    } else if (g < 0.0) {
      hi = nu;
    } else {
      break;
    }
    double next = dg < 0.0 ? nu - g / dg : lo - 1.0;
    if (!(lo < next && next < hi)) next = 0.5 * (lo + hi);
    const double tol = kRounding * std::max(1.0, std::fabs(nu));
    const bool done = std::fabs(next - nu) <= tol;
    nu = next;
    if (done || hi - lo <= tol) break;
  }
  return nu;
}

// The constant of the weighted least-squares fit of z by c + a exp(2 pi i nu t).
cplx background(std::span<const cplx> z, const std::vector<double>& w, double nu) {
  const std::size_t n = z.size();
  const double t0 = -0.5 * static_cast<double>(n - 1);
  double sw = 0.0;
  cplx swe = 0.0, swz = 0.0, swez = 0.0;
  const cplx step = std::polar(1.0, kTwoPi * nu);
  cplx e = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    e = (i % kPhaseResync == 0) ? std::polar(1.0, kTwoPi * nu * (t0 + static_cast<double>(i)))
                                : mul(e, step);
    sw += w[i];
    swe += w[i] * e;
    swz += w[i] * z[i];
    swez += w[i] * mul(std::conj(e), z[i]);
  }
  const double det = sw * sw - std::norm(swe);
  if (!(det > 0.0)) return swz / sw;
  return (sw * swz - swe * swez) / det;
}

// The frequency of the largest line of the windowed record, from a
// transform padded to a power of two: within half a bin, well inside the
// main lobe of the window (two bins either side).
double coarse_peak(const std::vector<cplx>& zw, std::vector<cplx>& fft, std::vector<cplx>& tw) {
  std::size_t m = 1;
  while (m < zw.size()) m <<= 1;
  if (tw.size() != m / 2) {
    tw.resize(m / 2);
    for (std::size_t k = 0; k < m / 2; ++k)
      tw[k] = std::polar(1.0, -kTwoPi * static_cast<double>(k) / static_cast<double>(m));
  }
  fft.assign(m, 0.0);
  std::copy(zw.begin(), zw.end(), fft.begin());
  fft_pow2(fft, tw);
  std::size_t k = 0;
  double best = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    if (std::norm(fft[i]) > best) {
      best = std::norm(fft[i]);
      k = i;
    }
  }
  if (!(best > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(k) / static_cast<double>(m);
}

}  // namespace

double refined_tune(std::span<const cplx> z, TuneWork& work) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = z.size();
  if (n < kMinTurns) return nan;
  for (const cplx& v : z)
    if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) return nan;

  auto& w = work.w;
  if (w.size() != n) {
    w.resize(n);
    for (std::size_t i = 0; i < n; ++i)
      w[i] = 0.5 - 0.5 * std::cos(kTwoPi * (static_cast<double>(i) + 0.5) / static_cast<double>(n));
  }
  double sw = 0.0;
  cplx swz = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sw += w[i];
    swz += w[i] * z[i];
  }
  cplx c = swz / sw;
  auto& zw = work.zw;
  zw.resize(n);
  for (std::size_t i = 0; i < n; ++i) zw[i] = (z[i] - c) * w[i];
  double nu = coarse_peak(zw, work.fft, work.twiddle);
  if (!std::isfinite(nu)) return nan;

  for (int pass = 0; pass < kBackgroundPasses; ++pass) {
    if (pass > 0) {
      // A line within one bin of zero frequency cannot be told from the
      // constant: keep the mean.
      const double q = nu - std::floor(nu);
      if (static_cast<double>(n) * std::min(q, 1.0 - q) <= 1.0) break;
      c = background(z, w, nu);
      for (std::size_t i = 0; i < n; ++i) zw[i] = (z[i] - c) * w[i];
    }
    const std::optional<double> found = maximise(zw, nu, pass == 0 ? kFirstPassDone : kQuickDone);
    if (!found) break;  // no bracket: keep the value found so far
    const double moved = std::fabs(*found - nu);
    nu = *found;
    if (pass > 0 && moved <= kPassesDone) break;
  }
  const double q = nu - std::floor(nu);
  return q < 1.0 ? q : 0.0;
}

}  // namespace bbtrack
