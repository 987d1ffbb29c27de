// The fast complex error function of the opt-in mode BBTRACK_ERRF=fast:
// w(z) = exp(-z^2) erfc(-i z) by the rational approximation of Weideman
// (SIAM J. Numer. Anal. 31 (1994) 1497) for |z| < 10 and by the asymptotic
// series beyond (far_quadrant), one division per evaluation in place of the
// two per continued-fraction step of errf. It agrees with w to
// about 1e-14 relative in the whole first quadrant and so differs from errf
// by errf's own error (up to about 1e-9 absolute); docs/physics.md gives
// the accuracy measured.
//
// Each first-quadrant evaluation is written once, as a template on the lane
// type: the scalar routine errf_fast instantiates it for one double, the
// particle blocks (kicks/vector/errf_fast_lanes.h) for a register, and both
// perform the same additions, multiplications and the one division in the
// same order (no fused multiply-add), so they round identically lane by lane.
// The exponential of the elliptical kick's Gaussian factor in this mode,
// exp_fast, is written the same way.
#pragma once

#include <cmath>

namespace bbtrack {

// Which evaluation of w the beam-beam kick uses.
enum class ErrfMode { exact, fast };

// The mode a run asks for by the value of its BBTRACK_ERRF setting
// (nullptr when unset): "fast" selects errf_fast, anything else errf.
ErrfMode errf_mode_for(const char* bbtrack_errf);

// w(xx + i yy) = wx + i wy. The first quadrant by the approximation below;
// the real-axis rule and the other quadrants by errf_tail, as errf does.
void errf_fast(double xx, double yy, double& wx, double& wy);

// exp(t) for t <= 0 as the particle blocks compute it in this mode (see
// exp_nonpositive below); the Gaussian factor of the elliptical kick.
double exp_fast(double t);

namespace errf_fast_detail {

// Weideman's form with N = 36 terms and his scale L = sqrt(N / sqrt 2):
//   w(z) ~ 1/(L - iz) * (1/sqrt(pi) + 2 p(Z)/(L - iz)),  Z = (L + iz)/(L - iz),
// with p(Z) = sum_{n=1..N} a_n Z^(n-1), where a_n are the Fourier cosine
// coefficients of f(t) = exp(-t^2) (L^2 + t^2) at t = L tan(theta/2),
// a_n = 1/(2M) sum_{k=-M..M-1} f(L tan(k pi/(2M))) cos(n k pi/M), M = 2N
// (f = 0 at k = -M). Computed in 40-digit arithmetic for the L below and
// rounded to the nearest double; kA[n - 1] = a_n.
inline constexpr int kTerms = 36;
inline constexpr double kL = 5.045378491522287;
inline constexpr double kTwoL = 2.0 * kL;  // exact
inline constexpr double kRsqrtPi = 0.5641895835477563;  // 1/sqrt(pi)
inline constexpr double kA[kTerms] = {
    2.74074502740986,       2.445378492851921,      2.0193976436113505,
    1.5401625788153654,     1.081358037176589,      0.6956621918971002,
    0.4073424189503343,     0.2150163632010741,     0.10084293371847966,
    0.04105104301657709,    0.013898253763251472,   0.003548444708699561,
    0.0004629031693998174,  -0.0001139663064446327, -8.817797141863541e-05,
    -2.1741186565527076e-05, 1.4187058478742456e-06, 2.765408665743547e-06,
    6.741655663822084e-07,  -1.289484292024587e-07, -1.1303157194258477e-07,
    -1.096227786559049e-08, 1.1883887267366118e-08, 3.773443123698582e-09,
    -9.092238350363815e-10, -6.634847173398884e-10, 3.1971919451129317e-11,
    9.939318013576688e-11,  6.346271847688264e-12,  -1.4312519349833837e-11,
    -2.1170683482393015e-12, 2.098044988097298e-12, 4.431618285200437e-13,
    -3.238862088097313e-13, -8.046291993603705e-14, 5.35639948982416e-14,
};

// The lane type of a single double, for the scalar instantiation.
struct OneLane {
  using D = double;
  using M = bool;
  static D set1(double a) { return a; }
  static M lt(D a, D b) { return a < b; }
  static D select(M m, D a, D b) { return m ? a : b; }
  // 2^n for a whole number -1022 <= n <= 1023 (exactly).
  static D pow2(D whole) { return std::ldexp(1.0, static_cast<int>(whole)); }
};

// exp(t) for t <= 0, K arguments at once, to about two units in the last
// place; 0 for t < -708 (where exp(t) is below 2^-1021). The Gaussian
// factor of the elliptical kick, in this mode: a library call per lane
// would cost about as much as the error functions.
//   n = round(t / ln 2) (by adding and subtracting 1.5 * 2^52),
//   r = t - n ln2_hi - n ln2_lo (the split of ln 2 of fdlibm: n ln2_hi is
//   exact), |r| <= ln 2 / 2; exp(r) by its Taylor polynomial of degree 13
//   (remainder below 5e-18), summed by Estrin's scheme (pairs, then pairs
//   of pairs with r^2, r^4, r^8: a short chain); then times 2^n, exact.
template <class V, int K>
inline void exp_nonpositive(const typename V::D (&t)[K], typename V::D (&e)[K]) {
  using D = typename V::D;
  using M = typename V::M;
  constexpr double c[14] = {1.0,
                            1.0,
                            1.0 / 2,
                            1.0 / 6,
                            1.0 / 24,
                            1.0 / 120,
                            1.0 / 720,
                            1.0 / 5040,
                            1.0 / 40320,
                            1.0 / 362880,
                            1.0 / 3628800,
                            1.0 / 39916800,
                            1.0 / 479001600,
                            1.0 / 6227020800.0};
  const D zero = V::set1(0.0);
  const D magic = V::set1(6755399441055744.0);  // 1.5 * 2^52
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const M under = V::lt(t[k], V::set1(-708.0));
    const D tt = V::select(under, zero, t[k]);
    const D n = (tt * V::set1(1.4426950408889634) + magic) - magic;
    const D r = (tt - n * V::set1(0x1.62e42fee00000p-1)) - n * V::set1(0x1.a39ef35793c76p-33);
    const D r2 = r * r;
    const D r4 = r2 * r2;
    const D r8 = r4 * r4;
    D p[7];
    for (int j = 0; j < 7; ++j) p[j] = V::set1(c[2 * j]) + V::set1(c[2 * j + 1]) * r;
    const D q0 = p[0] + p[1] * r2;
    const D q1 = p[2] + p[3] * r2;
    const D q2 = p[4] + p[5] * r2;
    const D s0 = q0 + q1 * r4;
    const D s1 = q2 + p[6] * r4;
    e[k] = V::select(under, zero, (s0 + s1 * r8) * V::pow2(n));
  }
}

// w(x + i y) for x, y >= 0, K arguments at once (independent chains that the
// processor overlaps); each lane's value depends on its own inputs only.
//
// With A = L + y, B = L - y and r = 1/(A^2 + x^2) (the one division):
//   1/(L - iz) = (A + i x) r,  Z = ((B A - x^2) + i 2L x) r.
// p(Z) is split into its even and odd terms, p(Z) = E(W) + Z O(W) with
// W = Z^2: two independent sums of 18 terms. Both have real coefficients
// c_j and are summed by the recurrence for a real polynomial at a complex
// point (Knuth, TAOCP vol. 2, 4.6.4),
//   b_j = (c_j - |W|^2 b_(j+2)) + 2 Re W b_(j+1),  sum = W b_1 + (c_0 - |W|^2 b_2),
// two multiplications per term where Horner's rule in complex arithmetic
// needs four, and one multiplication and one addition on the chain from
// term to term.
template <class V, int K>
inline void first_quadrant(const typename V::D (&x)[K], const typename V::D (&y)[K],
                           typename V::D (&wx)[K], typename V::D (&wy)[K]) {
  using D = typename V::D;
  constexpr int kHalf = kTerms / 2;  // terms of E and of O
  static_assert(kTerms % 2 == 0 && kHalf >= 3);
  const D one = V::set1(1.0);
  const D two = V::set1(2.0);
  const D l = V::set1(kL);
  D qr[K], qi[K], zr[K], zi[K], rw[K], sw[K];
  D e1[K], e2[K], o1[K], o2[K];  // b_(j+1), b_(j+2) of E and of O
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const D a = l + y[k];
    const D b = l - y[k];
    const D r = one / (a * a + x[k] * x[k]);
    qr[k] = a * r;
    qi[k] = x[k] * r;
    zr[k] = (b * a - x[k] * x[k]) * r;
    zi[k] = (V::set1(kTwoL) * x[k]) * r;
    const D wr = zr[k] * zr[k] - zi[k] * zi[k];
    const D wi = two * (zr[k] * zi[k]);
    rw[k] = two * wr;
    sw[k] = wr * wr + wi * wi;
    wx[k] = wr;  // W, kept until the end of the sums
    wy[k] = wi;
    // The two highest terms: c_(h-1), then c_(h-2) + 2 Re W c_(h-1).
    e2[k] = V::set1(kA[2 * (kHalf - 1)]);
    o2[k] = V::set1(kA[2 * (kHalf - 1) + 1]);
    e1[k] = V::set1(kA[2 * (kHalf - 2)]) + rw[k] * e2[k];
    o1[k] = V::set1(kA[2 * (kHalf - 2) + 1]) + rw[k] * o2[k];
  }
  // Unrolled, so that the compiler keeps the chains in registers.
#pragma GCC unroll 32
  for (int j = kHalf - 3; j >= 1; --j) {
    const D ce = V::set1(kA[2 * j]);
    const D co = V::set1(kA[2 * j + 1]);
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      const D en = (ce - sw[k] * e2[k]) + rw[k] * e1[k];
      const D on = (co - sw[k] * o2[k]) + rw[k] * o1[k];
      e2[k] = e1[k];
      e1[k] = en;
      o2[k] = o1[k];
      o1[k] = on;
    }
  }
  const D c0e = V::set1(kA[0]);
  const D c0o = V::set1(kA[1]);
  const D c = V::set1(kRsqrtPi);
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const D er = wx[k] * e1[k] + (c0e - sw[k] * e2[k]);
    const D ei = wy[k] * e1[k];
    const D orr = wx[k] * o1[k] + (c0o - sw[k] * o2[k]);
    const D oi = wy[k] * o1[k];
    // p = E + Z O; t = 1/sqrt(pi) + 2 p q; w = q t.
    const D pr = er + (zr[k] * orr - zi[k] * oi);
    const D pi = ei + (zr[k] * oi + zi[k] * orr);
    const D tr = two * (pr * qr[k] - pi * qi[k]) + c;
    const D ti = two * (pr * qi[k] + pi * qr[k]);
    wx[k] = qr[k] * tr - qi[k] * ti;
    wy[k] = qr[k] * ti + qi[k] * tr;
  }
}

// Far from the origin, |z|^2 >= kFar2, the asymptotic series of w in the
// upper half plane,
//   w(z) ~ i/(sqrt(pi) z) sum_{k=0..K-1} (2k-1)!! v^k,   v = 1/(2 z^2),
// needs a third of the operations of the rational form or less: with
// r = 1/(x^2 + y^2) (the one division), 1/z = (x - iy) r. K = 11 terms for
// 10 <= |z| < 18 and 7 beyond; each keeps the truncation error below
// 3e-15 relative over its whole ring of the quarter plane (measured in
// 40-digit arithmetic at 49 angles on the ring's inner edge, where it is
// largest). The exponentially small term the series leaves out, exp(-x^2)
// in Re w near the real axis, is below 1e-43 there, and errf_tail puts it
// in on the axis itself. Nearer the origin the series would need many more
// terms, and registers whose lanes straddle the border compute both forms.
inline constexpr double kFar2 = 100.0;
inline constexpr double kOut2 = 324.0;  // 7 terms from here
inline constexpr int kFarTerms = 11;    // the most terms, below kOut2
// (2k-1)!!, k = 0 .. 10: whole numbers, exact in a double.
inline constexpr double kFarC[kFarTerms] = {1.0,      1.0,       3.0,        15.0,
                                            105.0,    945.0,     10395.0,    135135.0,
                                            2027025.0, 34459425.0, 654729075.0};

// The number of terms of each lane, as a double, from its |z|^2 (>= kFar2).
template <class V>
inline typename V::D far_terms(typename V::D r2) {
  return V::set1(7.0) + V::select(V::lt(r2, V::set1(kOut2)), V::set1(4.0), V::set1(0.0));
}

// The recurrence of the series from b = 0 above term Top - 1 down to b_1,
// b_2; terms Bottom .. Top - 1 count only in the lanes whose terms reach
// them.
template <class V, int K, int Top, int Bottom>
inline void far_sum(const typename V::D (&terms)[K], const typename V::D (&rw)[K],
                    const typename V::D (&sw)[K], typename V::D (&b1)[K],
                    typename V::D (&b2)[K]) {
  using D = typename V::D;
  const D zero = V::set1(0.0);
#pragma GCC unroll 16
  for (int j = Top - 1; j >= 1; --j) {
    const D c = V::set1(kFarC[j]);
    const D dj = V::set1(static_cast<double>(j));
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      const D cj = j >= Bottom ? V::select(V::lt(dj, terms[k]), c, zero) : c;
      const D b = (cj - sw[k] * b2[k]) + rw[k] * b1[k];
      b2[k] = b1[k];
      b1[k] = b;
    }
  }
}

// w(x + i y) by the series above for x, y >= 0 with x^2 + y^2 >= kFar2 (r2
// holds x^2 + y^2, terms its far_terms), K arguments at once; top is at
// least the largest number of terms of any lane and bottom at most the
// smallest. Each lane's value depends on its own inputs only: the sum runs
// by the real-coefficient recurrence of first_quadrant from b = 0 above the
// highest term, and a lane's terms past its own count are zero, which
// leaves its b at exactly 0 until its highest term (-0 cannot arise: the
// products with b = 0 are added to a +0 or to a coefficient).
template <class V, int K>
inline void far_quadrant(const typename V::D (&x)[K], const typename V::D (&y)[K],
                         const typename V::D (&r2)[K], const typename V::D (&terms)[K], int top,
                         int bottom, typename V::D (&wx)[K], typename V::D (&wy)[K]) {
  using D = typename V::D;
  const D zero = V::set1(0.0);
  const D half = V::set1(0.5);
  const D two = V::set1(2.0);
  D qr[K], yr[K], vr[K], vi[K], rw[K], sw[K], b1[K], b2[K];
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const D r = V::set1(1.0) / r2[k];
    qr[k] = x[k] * r;  // 1/z = qr - i yr
    yr[k] = y[k] * r;
    vr[k] = half * (qr[k] * qr[k] - yr[k] * yr[k]);
    vi[k] = -(qr[k] * yr[k]);
    rw[k] = two * vr[k];
    sw[k] = vr[k] * vr[k] + vi[k] * vi[k];
    b1[k] = b2[k] = zero;
  }
  // The terms above the smallest count are masked lanewise; the counts
  // are 7 and kFarTerms only, so both bounds are known at compile time.
  if (top <= 7)
    far_sum<V, K, 7, 7>(terms, rw, sw, b1, b2);
  else if (bottom >= kFarTerms)
    far_sum<V, K, kFarTerms, kFarTerms>(terms, rw, sw, b1, b2);
  else
    far_sum<V, K, kFarTerms, 7>(terms, rw, sw, b1, b2);
  const D c0 = V::set1(kFarC[0]);
  const D c = V::set1(kRsqrtPi);
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const D sr = vr[k] * b1[k] + (c0 - sw[k] * b2[k]);
    const D si = vi[k] * b1[k];
    // w = i (1/z) s / sqrt(pi).
    wx[k] = c * (yr[k] * sr - qr[k] * si);
    wy[k] = c * (qr[k] * sr + yr[k] * si);
  }
}

}  // namespace errf_fast_detail
}  // namespace bbtrack
