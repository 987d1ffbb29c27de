// The fast complex error function of the opt-in mode BBTRACK_ERRF=fast:
// w(z) = exp(-z^2) erfc(-i z) by the rational approximation of Weideman
// (SIAM J. Numer. Anal. 31 (1994) 1497) near the origin and by the
// asymptotic series from |z| = 10 on, or from 7.75 on in long-range
// encounters (far_quadrant), one division per evaluation in place of the
// two per continued-fraction step of errf. It agrees with w to
// about 1e-14 relative in the whole first quadrant and so differs from errf
// by errf's own error (up to about 1e-9 absolute); docs/physics.md gives
// the accuracy measured.
//
// Each first-quadrant evaluation is written once, as a template on the lane
// type (kicks/lanes/lane.h): the scalar routine errf_fast instantiates it for
// one double, the particle blocks (kicks/errf_fast_lanes.h) for a register, and both
// perform the same additions, multiplications, fused multiply-adds (V::fma:
// std::fma for one double, the processor's instruction for a register, both
// a b + c rounded once) and the one division in the same order, so they
// round identically lane by lane. The fused operations are this mode's
// only: each takes one step off the chain of a sum and one rounding out.
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

// exp(t) for t <= 0, K arguments at once, to about two units in the last
// place; 0 for t < -708 (where exp(t) is below 2^-1021). The Gaussian
// factor of the elliptical kick, in this mode: a library call per lane
// would cost about as much as the error functions.
//   n = round(t / ln 2) (by adding and subtracting 1.5 * 2^52),
//   r = t - n ln2_hi - n ln2_lo (the split of ln 2 of fdlibm: n ln2_hi is
//   exact), |r| <= ln 2 / 2; exp(r) by its Taylor polynomial of degree 13
//   (remainder below 5e-18), summed by Estrin's scheme with fused
//   multiply-adds (pairs, then pairs of pairs with r^2, r^4, r^8: a short
//   chain); then times 2^n, exact.
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
    for (int j = 0; j < 7; ++j) p[j] = V::fma(V::set1(c[2 * j + 1]), r, V::set1(c[2 * j]));
    const D q0 = V::fma(p[1], r2, p[0]);
    const D q1 = V::fma(p[3], r2, p[2]);
    const D q2 = V::fma(p[5], r2, p[4]);
    const D s0 = V::fma(q1, r4, q0);
    const D s1 = V::fma(p[6], r4, q2);
    e[k] = V::select(under, zero, V::fma(s1, r8, s0) * V::pow2(n));
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
//   b_j = 2 Re W b_(j+1) + (c_j - |W|^2 b_(j+2)),  sum = W b_1 + (c_0 - |W|^2 b_2),
// two multiplications per term where Horner's rule in complex arithmetic
// needs four, each step two fused multiply-adds of which one is on the
// chain from term to term (sw holds -|W|^2).
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
    const D r = one / V::fma(a, a, x[k] * x[k]);
    qr[k] = a * r;
    qi[k] = x[k] * r;
    zr[k] = V::fma(b, a, -(x[k] * x[k])) * r;
    zi[k] = (V::set1(kTwoL) * x[k]) * r;
    const D wr = V::fma(zr[k], zr[k], -(zi[k] * zi[k]));
    const D wi = two * (zr[k] * zi[k]);
    rw[k] = two * wr;
    sw[k] = -V::fma(wr, wr, wi * wi);  // -|W|^2
    wx[k] = wr;  // W, kept until the end of the sums
    wy[k] = wi;
    // The two highest terms: c_(h-1), then c_(h-2) + 2 Re W c_(h-1).
    e2[k] = V::set1(kA[2 * (kHalf - 1)]);
    o2[k] = V::set1(kA[2 * (kHalf - 1) + 1]);
    e1[k] = V::fma(rw[k], e2[k], V::set1(kA[2 * (kHalf - 2)]));
    o1[k] = V::fma(rw[k], o2[k], V::set1(kA[2 * (kHalf - 2) + 1]));
  }
  // Unrolled, so that the compiler keeps the chains in registers.
#pragma GCC unroll 32
  for (int j = kHalf - 3; j >= 1; --j) {
    const D ce = V::set1(kA[2 * j]);
    const D co = V::set1(kA[2 * j + 1]);
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      const D en = V::fma(rw[k], e1[k], V::fma(sw[k], e2[k], ce));
      const D on = V::fma(rw[k], o1[k], V::fma(sw[k], o2[k], co));
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
    const D er = V::fma(wx[k], e1[k], V::fma(sw[k], e2[k], c0e));
    const D ei = wy[k] * e1[k];
    const D orr = V::fma(wx[k], o1[k], V::fma(sw[k], o2[k], c0o));
    const D oi = wy[k] * o1[k];
    // p = E + Z O; t = 1/sqrt(pi) + 2 p q; w = q t.
    const D pr = er + V::fma(zr[k], orr, -(zi[k] * oi));
    const D pi = ei + V::fma(zr[k], oi, zi[k] * orr);
    const D tr = V::fma(two, V::fma(pr, qr[k], -(pi * qi[k])), c);
    const D ti = two * V::fma(pr, qi[k], pi * qr[k]);
    wx[k] = V::fma(qr[k], tr, -(qi[k] * ti));
    wy[k] = V::fma(qr[k], ti, qi[k] * tr);
  }
}

// Far from the origin the asymptotic series of w in the upper half plane,
//   w(z) ~ i/(sqrt(pi) z) sum_{k=0..T-1} (2k-1)!! v^k,   v = 1/(2 z^2),
// needs a fraction of the operations of the rational form: with
// r = 1/(x^2 + y^2) (the one division), 1/z = (x - iy) r. T = 14 terms for
// |z| < 10, 11 for 10 <= |z| < 18 and 7 beyond; each keeps the truncation
// error below 3e-15 relative over its ring of the quarter plane (measured
// in 40-digit arithmetic at 49 angles on the ring's inner edge, where it is
// largest; 14 terms are enough from |z| = 7.67 on). The exponentially small
// term the series leaves out, exp(-x^2) in Re w near the real axis, is
// 2e-25 of |w| or less there, and errf_tail puts it in on the axis itself.
//
// Where the far form starts is a border on |z|^2: kFar2 (|z| = 10) for the
// arguments of an encounter whose centre is nearer the origin than that,
// head-on ones, whose arguments run from 0 outwards; kFarLong2 (|z| = 7.75)
// for long-range encounters, whose arguments gather around their centre's,
// rarely below 8 (far_border below). Registers whose lanes straddle the
// border compute both forms, so the border of each encounter is put where
// its arguments seldom are.
inline constexpr double kFar2 = 100.0;
inline constexpr double kFarLong2 = 60.0;
inline constexpr double kOut2 = 324.0;  // 7 terms from here
inline constexpr int kFarTerms = 14;    // the most terms, below kFar2
inline constexpr int kMidTerms = 11;    // from kFar2 to kOut2
// (2k-1)!!, k = 0 .. 13: whole numbers, exact in a double.
inline constexpr double kFarC[kFarTerms] = {
    1.0,         1.0,           3.0,            15.0,          105.0,
    945.0,       10395.0,       135135.0,       2027025.0,     34459425.0,
    654729075.0, 13749310575.0, 316234143225.0, 7905853580625.0};
// The same times 1/sqrt(pi) (rounded once, at compile time), so that the
// sum comes out as s / sqrt(pi).
inline constexpr auto kFarCs = [] {
  struct {
    double c[kFarTerms];
    constexpr double operator[](int j) const { return c[j]; }
  } t{};
  for (int j = 0; j < kFarTerms; ++j) t.c[j] = kRsqrtPi * kFarC[j];
  return t;
}();

// The border of the far form for the arguments of an encounter whose centre
// (the opposing bunch as seen from the reference orbit) has the argument
// cx + i cy, computed as the particles' arguments are.
inline double far_border(double cx, double cy) {
  return cx * cx + cy * cy < kFar2 ? kFar2 : kFarLong2;
}

// The number of terms of a lane by its |z|^2 (at least the border):
// kFarTerms below kFar2, kMidTerms below kOut2, 7 beyond; held as the two
// masks of the lanes with more than kMidTerms and with more than 7.
template <class V>
struct FarTerms {
  typename V::M over_mid, over_7;
};
template <class V>
inline FarTerms<V> far_terms(typename V::D r2) {
  return {V::lt(r2, V::set1(kFar2)), V::lt(r2, V::set1(kOut2))};
}
// The count of a lane, or (from any / all of a register's masks) the
// largest or smallest of a register.
inline int far_count(bool over_mid, bool over_7) {
  return over_mid ? kFarTerms : over_7 ? kMidTerms : 7;
}

// The recurrence of the series from above term Top - 1 down to b_1, b_2;
// terms Bottom .. Top - 1 count only in the lanes whose terms reach them
// (zero elsewhere). The two highest terms are written out: b_(Top-1) is
// c_(Top-1) and b_(Top-2) is c_(Top-2) + 2 Re v c_(Top-1), the first two
// steps from b = 0, which give exactly these values.
template <class V, int K, int Top, int Bottom>
inline void far_sum(const FarTerms<V> (&terms)[K], const typename V::D (&rw)[K],
                    const typename V::D (&sw)[K], typename V::D (&b1)[K],
                    typename V::D (&b2)[K]) {
  using D = typename V::D;
  static_assert(Top >= 3 && Bottom <= Top && Top <= kFarTerms);
  // The counts are 7, kMidTerms and kFarTerms: a term from kMidTerms on
  // counts in the lanes of more than kMidTerms terms, one from 7 on in the
  // lanes of more than 7.
  auto coefficient = [&](int j, int k) {
    const D c = V::set1(kFarCs[j]);
    if (j < Bottom) return c;
    return V::keep(j >= kMidTerms ? terms[k].over_mid : terms[k].over_7, c);
  };
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    b2[k] = coefficient(Top - 1, k);
    b1[k] = V::fma(rw[k], b2[k], coefficient(Top - 2, k));
  }
#pragma GCC unroll 16
  for (int j = Top - 3; j >= 1; --j) {
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      const D b = V::fma(rw[k], b1[k], V::fma(sw[k], b2[k], coefficient(j, k)));
      b2[k] = b1[k];
      b1[k] = b;
    }
  }
}

// w(x + i y) by the series above for x, y >= 0 with x^2 + y^2 >= kFarLong2
// (r2 holds x^2 + y^2, terms the lanes' far_terms), K arguments at once; top is
// the largest number of terms of any lane and bottom the smallest. Each
// lane's value depends on its own inputs only: the sum runs by the
// real-coefficient recurrence of first_quadrant, and a lane's terms past its
// own count are zero, which leaves its b at exactly 0 until its highest term
// (-0 cannot arise: the products with b = 0 are added to a +0 or to a
// coefficient).
template <class V, int K>
inline void far_quadrant(const typename V::D (&x)[K], const typename V::D (&y)[K],
                         const typename V::D (&r2)[K], const FarTerms<V> (&terms)[K], int top,
                         int bottom, typename V::D (&wx)[K], typename V::D (&wy)[K]) {
  using D = typename V::D;
  const D half = V::set1(0.5);
  D qr[K], yr[K], vr[K], vi[K], rw[K], sw[K], b1[K], b2[K];
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const D r = V::set1(1.0) / r2[k];
    qr[k] = x[k] * r;  // 1/z = qr - i yr
    yr[k] = y[k] * r;
    rw[k] = V::fma(qr[k], qr[k], -(yr[k] * yr[k]));  // 2 Re v
    vr[k] = half * rw[k];
    vi[k] = -(qr[k] * yr[k]);
    sw[k] = -V::fma(vr[k], vr[k], vi[k] * vi[k]);  // -|v|^2
  }
  // The counts are 7, kMidTerms and kFarTerms only, so both bounds are
  // known at compile time.
  constexpr int kLo = 7, kMid = kMidTerms, kHi = kFarTerms;
  if (top == kLo)
    far_sum<V, K, kLo, kLo>(terms, rw, sw, b1, b2);
  else if (top == kMid)
    bottom == kMid ? far_sum<V, K, kMid, kMid>(terms, rw, sw, b1, b2)
                   : far_sum<V, K, kMid, kLo>(terms, rw, sw, b1, b2);
  else if (bottom == kHi)
    far_sum<V, K, kHi, kHi>(terms, rw, sw, b1, b2);
  else
    bottom == kMid ? far_sum<V, K, kHi, kMid>(terms, rw, sw, b1, b2)
                   : far_sum<V, K, kHi, kLo>(terms, rw, sw, b1, b2);
  const D c0 = V::set1(kFarCs[0]);
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const D sr = V::fma(vr[k], b1[k], V::fma(sw[k], b2[k], c0));
    const D si = vi[k] * b1[k];
    // w = i (1/z) s / sqrt(pi).
    wx[k] = V::fma(yr[k], sr, -(qr[k] * si));
    wy[k] = V::fma(qr[k], sr, yr[k] * si);
  }
}

}  // namespace errf_fast_detail

// w(xx + i yy) = wx + i wy: the one-lane instance of errf_fast_lanes
// (kicks/errf_fast_lanes.h). The first quadrant by the approximations above,
// the far form from |z|^2 = far2 on (kFar2, or kFarLong2 for the arguments
// of a long-range encounter: see far_border); the real-axis rule and the
// other quadrants by errf_tail, as errf does.
void errf_fast(double xx, double yy, double& wx, double& wy,
               double far2 = errf_fast_detail::kFar2);

}  // namespace bbtrack
