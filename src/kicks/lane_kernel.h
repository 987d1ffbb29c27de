// The turn of one block of particles, one particle per lane of a register:
// the beam-beam kick of each encounter (ffrank, bbkick and errf for all lanes
// at once) followed by the section's matrix, with the block kept in registers
// through all 73 sections.
//
// Every lane goes through exactly the operations the scalar routines perform
// for its particle, in the same order, so the results are identical bit for
// bit. Where the scalar code branches per particle, both sides are computed
// and the lane's side is chosen by a mask; where it loops a per-particle
// number of times, the block loops as often as its longest lane needs and a
// lane whose count is done keeps its values. The exponential, sine and
// cosine are the scalar library functions, called lane by lane.
//
// Templated on the lane type (lanes_avx2.h, lanes_avx512.h) and included
// only by the translation unit compiled for that processor; internal linkage
// for the reason given in lanes_avx512.h.
#pragma once

#include <cmath>

#include "kicks/lane_kernels.h"
#include "kicks/turn_plan.h"

namespace bbtrack {
namespace {

template <class V>
using D = typename V::D;
template <class V>
using M = typename V::M;

template <class V>
D<V> exp_lanes(D<V> a) {
  alignas(64) double t[V::kWidth];
  V::store(t, a);
  for (int i = 0; i < V::kWidth; ++i) t[i] = std::exp(t[i]);
  return V::load(t);
}

// Exponentials of a set of lanes, computed a few at a time between the
// steps of a continued fraction: the library calls then run on the other
// execution ports while the divider works on the fraction. Each value is
// the same std::exp call as in the scalar code, whenever it is made.
struct ExpQueue {
  double* t;
  int size;
  int done = 0;
  void run(int count) {
    for (const int end = done + count < size ? done + count : size; done < end; ++done)
      t[done] = std::exp(t[done]);
  }
  void finish() { run(size); }
  // Calls per step to be done within a fraction of `steps` steps.
  int per_step(int steps) const { return (size - done + steps - 1) / steps; }
};

template <class V>
double max_lane(D<V> a) {
  alignas(64) double t[V::kWidth];
  V::store(t, a);
  double m = t[0];
  for (int i = 1; i < V::kWidth; ++i) m = t[i] > m ? t[i] : m;
  return m;
}

// lambda^(1 - nc) for nc >= 7 as ipow does it: with m = nc - 1, repeated
// squaring from the lowest bit of m, the factor of each set bit multiplied
// in as it comes, then one division. m <= 29 has five bits; a lane whose
// higher bits are clear is not touched by them.
template <class V>
D<V> ipow_negative(D<V> lambda, D<V> m) {
  D<V> y = V::select(V::bit_set(m, 0), lambda, V::set1(1.0));
  D<V> p = lambda;
  for (int bit = 1; bit < 5; ++bit) {
    p = p * p;
    y = V::select(V::bit_set(m, bit), y * p, y);
  }
  return V::set1(1.0) / y;
}

// The real-axis rule and the quadrant mapping of errf for one lane.
inline void errf_tail(double xx, double yy, double& wx, double& wy) {
  const double x = std::fabs(xx);
  const double y = std::fabs(yy);
  if (y == 0.0) wx = std::exp(-(x * x));
  if (yy < 0.0) {
    const double e = std::exp(y * y - x * x);
    const double arg = 2.0 * x * y;
    wx = 2.0 * e * std::cos(arg) - wx;
    wy = -2.0 * e * std::sin(arg) - wy;
    if (xx > 0.0) wy = -wy;
  } else if (xx < 0.0) {
    wy = -wy;
  }
}

// errf of K arguments per lane at once; their continued fractions are
// independent chains of divisions that the processor overlaps.
template <class V, int K>
void errf_lanes(const D<V> (&xx)[K], const D<V> (&yy)[K], D<V> (&wx)[K], D<V> (&wy)[K],
                ExpQueue& side) {
  const D<V> zero = V::set1(0.0);
  const D<V> one = V::set1(1.0);
  const D<V> half = V::set1(0.5);
  const D<V> cc = V::set1(1.12837916709551);

  // Per argument k: whether any of its lanes is in the inner region and
  // whether any is outside it; a scheme no lane needs is not computed.
  D<V> x[K], y[K];
  M<V> inner[K];
  bool some_inner[K], some_outer[K];
  bool any_inner = false, any_outer = false;
  for (int k = 0; k < K; ++k) {
    x[k] = V::abs(xx[k]);
    y[k] = V::abs(yy[k]);
    inner[k] = V::land(V::lt(y[k], V::set1(4.29)), V::lt(x[k], V::set1(5.33)));
    some_inner[k] = V::any(inner[k]);
    some_outer[k] = !V::all(inner[k]);
    any_inner = any_inner || some_inner[k];
    any_outer = any_outer || some_outer[k];
  }

  if (any_inner) {
    D<V> lambda[K], nc[K], nu[K], xl[K], xh[K];
    int numax[K], ncmax[K], nmax = 0;
    for (int k = 0; k < K; ++k) {
      numax[k] = ncmax[k] = 0;
      lambda[k] = nc[k] = nu[k] = xl[k] = xh[k] = zero;
      if (!some_inner[k]) continue;
      const D<V> xr = x[k] * V::set1(0.18761726078799248);
      D<V> s = (one - y[k] * V::set1(0.2331002331002331)) * V::sqrt(one - xr * xr);
      // Lanes of the outer region get a harmless s with the fewest steps
      // (nc = 7, nu = 10); their inner result is discarded.
      s = V::select(inner[k], s, V::set1(0.03125));
      lambda[k] = one / (V::set1(3.2) * s);
      nc[k] = V::trunc(V::set1(23.0) * s) + V::set1(7.0);
      nu[k] = V::trunc(V::set1(21.0) * s) + V::set1(10.0);
      xl[k] = ipow_negative<V>(lambda[k], nc[k] - one);
      xh[k] = y[k] + half / lambda[k];
      numax[k] = static_cast<int>(max_lane<V>(nu[k]));
      ncmax[k] = static_cast<int>(max_lane<V>(nc[k]));
      nmax = numax[k] > nmax ? numax[k] : nmax;
    }
    // The continued fraction runs n = nu .. 1 and the sum n = nc .. 1 with
    // nc < nu; both descend, so the sum's step n follows right after the
    // fraction has produced rx(n), ry(n), and no table of them is kept.
    // rx, ry hold rx(n+1), ry(n+1): zero above a lane's nu.
    D<V> rx[K], ry[K], sx[K], sy[K];
    for (int k = 0; k < K; ++k) rx[k] = ry[k] = sx[k] = sy[k] = zero;
    const int side_step = side.per_step(nmax);
    for (int n = nmax; n >= 1; --n) {
      side.run(side_step);
      const D<V> dn = V::set1(static_cast<double>(n));
      for (int k = 0; k < K; ++k) {
        if (n > numax[k]) continue;
        const D<V> tx = xh[k] + dn * rx[k];
        const D<V> ty = x[k] - dn * ry[k];
        const D<V> tn = tx * tx + ty * ty;
        const M<V> on = V::le(dn, nu[k]);
        rx[k] = V::select(on, half * tx / tn, zero);
        ry[k] = V::select(on, half * ty / tn, zero);
        if (n > ncmax[k]) continue;
        const M<V> sum = V::le(dn, nc[k]);
        const D<V> saux = sx[k] + xl[k];
        const D<V> sxn = rx[k] * saux - ry[k] * sy[k];  // both from the old sy
        const D<V> syn = rx[k] * sy[k] + ry[k] * saux;
        sx[k] = V::select(sum, sxn, sx[k]);
        sy[k] = V::select(sum, syn, sy[k]);
        xl[k] = V::select(sum, xl[k] * lambda[k], xl[k]);
      }
    }
    for (int k = 0; k < K; ++k) {
      wx[k] = cc * sx[k];
      wy[k] = cc * sy[k];
    }
  }

  if (any_outer) {
    D<V> rx[K], ry[K];
    for (int k = 0; k < K; ++k) rx[k] = ry[k] = zero;
    const int side_step = side.per_step(9);
    for (int n = 9; n >= 1; --n) {
      side.run(side_step);
      const D<V> dn = V::set1(static_cast<double>(n));
      for (int k = 0; k < K; ++k) {
        if (!some_outer[k]) continue;
        const D<V> tx = y[k] + dn * rx[k];
        const D<V> ty = x[k] - dn * ry[k];
        const D<V> tn = tx * tx + ty * ty;
        rx[k] = half * tx / tn;
        ry[k] = half * ty / tn;
      }
    }
    for (int k = 0; k < K; ++k) {
      if (!some_outer[k]) continue;
      wx[k] = some_inner[k] ? V::select(inner[k], wx[k], cc * rx[k]) : cc * rx[k];
      wy[k] = some_inner[k] ? V::select(inner[k], wy[k], cc * ry[k]) : cc * ry[k];
    }
  }

  // Lanes on the real axis or outside the first quadrant finish one by one.
  for (int k = 0; k < K; ++k) {
    const M<V> tail = V::lor(V::eq(y[k], zero), V::lor(V::lt(yy[k], zero), V::lt(xx[k], zero)));
    if (!V::any(tail)) continue;
    alignas(64) double a[V::kWidth], b[V::kWidth], re[V::kWidth], im[V::kWidth];
    V::store(a, xx[k]);
    V::store(b, yy[k]);
    V::store(re, wx[k]);
    V::store(im, wy[k]);
    for (int i = 0; i < V::kWidth; ++i)
      if (V::lane(tail, i)) errf_tail(a[i], b[i], re[i], im[i]);
    wx[k] = V::load(re);
    wy[k] = V::load(im);
  }
}

// B blocks of particles, B x lanes particles, processed together so that
// the divisions of one block fill the divider while another waits for a
// result.
template <class V, int B>
struct Blocks {
  D<V> x[B], xp[B], y[B], yp[B];
};

// Kick of one encounter (ffrank, then kickvorn's difference from the
// reference orbit, added to the angles as bbkickvorn does).
template <class V, int B>
void kick(const SectionPlan& p, Blocks<V, B>& b) {
  const D<V> zero = V::set1(0.0);
  const D<V> x0 = V::set1(p.x0);
  const D<V> y0 = V::set1(p.y0);
  D<V> u[B], v[B], r2[B], hu[B], hv[B];
  for (int j = 0; j < B; ++j) {
    if (p.turned) {
      u[j] = b.y[j] - y0;
      v[j] = -(b.x[j] - x0);
    } else {
      u[j] = b.x[j] - x0;
      v[j] = b.y[j] - y0;
    }
    r2[j] = u[j] * u[j] + v[j] * v[j];
  }

  if (p.round) {
    for (int j = 0; j < B; ++j) {
      const D<V> g = V::set1(p.q) / r2[j];
      const D<V> c = V::set1(1.0) - exp_lanes<V>(-(r2[j] / V::set1(p.ab2)));
      hu[j] = u[j] * g * c;
      hv[j] = v[j] * g * c;
    }
  } else {
    const D<V> s = V::set1(p.s);
    D<V> zx[2 * B], zy[2 * B], wr[2 * B], wi[2 * B], e[B];
    for (int j = 0; j < B; ++j) {
      const D<V> au = V::abs(u[j]);
      const D<V> av = V::abs(v[j]);
      zx[2 * j] = au / s;
      zy[2 * j] = av / s;
      zx[2 * j + 1] = V::set1(p.rho) * au / s;
      zy[2 * j + 1] = av / V::set1(p.rhos);
    }
    // E does not depend on the error functions: its exponentials are made
    // between the steps of their continued fractions.
    alignas(64) double ex[B * V::kWidth];
    for (int j = 0; j < B; ++j)
      V::store(ex + j * V::kWidth,
               -(u[j] * u[j]) / V::set1(p.a2x2) - (v[j] * v[j]) / V::set1(p.b2x2));
    ExpQueue side{ex, B * V::kWidth};
    errf_lanes<V, 2 * B>(zx, zy, wr, wi, side);
    side.finish();
    for (int j = 0; j < B; ++j) e[j] = V::load(ex + j * V::kWidth);
    const D<V> d = V::set1(p.d);
    for (int j = 0; j < B; ++j) {
      hv[j] = V::select(V::eq(v[j], zero), V::signbit(v[j]),
                        V::sign_one(v[j]) * (wr[2 * j] - e[j] * wr[2 * j + 1]) / d);
      hu[j] = V::select(V::eq(u[j], zero), V::signbit(u[j]),
                        V::sign_one(u[j]) * (wi[2 * j] - e[j] * wi[2 * j + 1]) / d);
    }
  }

  const D<V> f = V::set1(p.factor);
  for (int j = 0; j < B; ++j) {
    // At the centre itself both components are zeros of the separations' signs.
    const M<V> centre = V::eq(r2[j], zero);
    const D<V> h_u = V::select(centre, V::signbit(u[j]), hu[j]);
    const D<V> h_v = V::select(centre, V::signbit(v[j]), hv[j]);
    const D<V> gx = p.turned ? -h_v : h_u;
    const D<V> gy = p.turned ? h_u : h_v;
    b.xp[j] = b.xp[j] + (V::set1(p.fk2) - f * gx);
    b.yp[j] = b.yp[j] + (V::set1(p.fk1) - f * gy);
  }
}

template <class V, int B>
void rotate(const SectionPlan& p, Blocks<V, B>& b) {
  for (int j = 0; j < B; ++j) {
    const D<V> x = V::set1(p.r11) * b.x[j] + V::set1(p.r12) * b.xp[j];
    const D<V> xp = V::set1(p.r21) * b.x[j] + V::set1(p.r22) * b.xp[j];
    const D<V> y = V::set1(p.r33) * b.y[j] + V::set1(p.r34) * b.yp[j];
    const D<V> yp = V::set1(p.r43) * b.y[j] + V::set1(p.r44) * b.yp[j];
    b.x[j] = x;
    b.xp[j] = xp;
    b.y[j] = y;
    b.yp[j] = yp;
  }
}

// Particles first .. first + count - 1 (0-based, 1 <= count <= B x lanes)
// through the whole turn. Spare lanes are filled with copies of the first
// particle, so they need no more steps than it does; only the particles'
// own lanes are stored back.
template <class V, int B>
void track_blocks(const TurnPlan& plan, const ParticleColumns& c, int first, int count) {
  constexpr int W = V::kWidth;
  constexpr int N = B * W;
  double* const col[4] = {c.x + first, c.xp + first, c.y + first, c.yp + first};
  Blocks<V, B> b;
  D<V>* const reg[4] = {b.x, b.xp, b.y, b.yp};
  alignas(64) double pad[4][N];
  for (int m = 0; m < 4; ++m) {
    const double* from = col[m];
    if (count < N) {
      for (int i = 0; i < N; ++i) pad[m][i] = col[m][i < count ? i : 0];
      from = pad[m];
    }
    for (int j = 0; j < B; ++j) reg[m][j] = V::load(from + j * W);
  }
  for (const SectionPlan& p : plan.sec) {
    if (p.kick) kick<V, B>(p, b);
    rotate<V, B>(p, b);
  }
  for (int m = 0; m < 4; ++m) {
    if (count == N) {
      for (int j = 0; j < B; ++j) V::store(col[m] + j * W, reg[m][j]);
    } else {
      for (int j = 0; j < B; ++j) V::store(pad[m] + j * W, reg[m][j]);
      for (int i = 0; i < count; ++i) col[m][i] = pad[m][i];
    }
  }
}

// errf of n arguments, a register of them at a time (two fractions in
// flight); the arguments past n in the last register are copies of the first.
template <class V>
void errf_array(const double* xx, const double* yy, double* wx, double* wy, int n) {
  constexpr int W = V::kWidth;
  for (int first = 0; first < n; first += 2 * W) {
    alignas(64) double a[2][2 * W], w[2][2 * W];
    for (int i = 0; i < 2 * W; ++i) {
      const int from = first + i < n ? first + i : 0;
      a[0][i] = xx[from];
      a[1][i] = yy[from];
    }
    const D<V> zx[2] = {V::load(a[0]), V::load(a[0] + W)};
    const D<V> zy[2] = {V::load(a[1]), V::load(a[1] + W)};
    D<V> re[2], im[2];
    ExpQueue none{nullptr, 0};
    errf_lanes<V, 2>(zx, zy, re, im, none);
    for (int k = 0; k < 2; ++k) {
      V::store(w[0] + k * W, re[k]);
      V::store(w[1] + k * W, im[k]);
    }
    for (int i = 0; i < 2 * W && first + i < n; ++i) {
      wx[first + i] = w[0][i];
      wy[first + i] = w[1][i];
    }
  }
}

}  // namespace
}  // namespace bbtrack
