// The turn of one block of particles, one particle per lane of a register:
// the beam-beam kick of each encounter (ffrank and bbkick for all lanes at
// once, errf by errf_lanes.h) followed by the section's matrix, with the
// block kept in registers through all 73 sections.
//
// Every lane goes through exactly the operations the scalar routines perform
// for its particle, in the same order, so the results are identical bit for
// bit. Where the scalar code branches per particle, both sides are computed
// and the lane's side is chosen by a mask. The exponential is the scalar
// library function, called lane by lane.
//
// Templated on the lane type and included only by the translation unit
// compiled for that processor; internal linkage for the reason given in
// simd_avx512.h.
#pragma once

#include <cmath>

#include "kicks/vector/errf_fast_lanes.h"
#include "kicks/vector/errf_lanes.h"
#include "kicks/vector/block_entry_points.h"
#include "kicks/vector/turn_plan.h"
#include "kicks/vector/wire_lanes.h"

namespace bbtrack {
namespace {

// std::exp of every lane.
template <class V>
D<V> exp_lanes(D<V> a) {
  alignas(64) double t[V::kWidth];
  V::store(t, a);
  for (int i = 0; i < V::kWidth; ++i) t[i] = std::exp(t[i]);
  return V::load(t);
}

// B blocks of particles, B x lanes particles, processed together so that
// the divisions of one block fill the divider while another waits for a
// result.
template <class V, int B>
struct Blocks {
  D<V> x[B], xp[B], y[B], yp[B];
};

// Kick of one encounter (ffrank, then kickvorn's difference from the
// reference orbit, added to the angles as bbkickvorn does), with w from
// errf_lanes or, in the opt-in mode, errf_fast_lanes.
template <class V, int B, ErrfMode kErrf = ErrfMode::exact>
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
    if constexpr (kErrf == ErrfMode::fast) {
      errf_fast_lanes<V, 2 * B>(zx, zy, wr, wi);
      D<V> t[B];
      for (int j = 0; j < B; ++j) t[j] = V::load(ex + j * V::kWidth);
      errf_fast_detail::exp_nonpositive<V, B>(t, e);
    } else {
      errf_lanes<V, 2 * B>(zx, zy, wr, wi, side);
      side.finish();
      for (int j = 0; j < B; ++j) e[j] = V::load(ex + j * V::kWidth);
    }
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
template <class V, int B, ErrfMode kErrf = ErrfMode::exact>
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
    if (p.kick) kick<V, B, kErrf>(p, b);
    if (p.nwire != 0) wire_kicks<V, B>(p.wire, p.nwire, b.x, b.xp, b.y, b.yp);
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

}  // namespace
}  // namespace bbtrack
