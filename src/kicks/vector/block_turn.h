// The turn of a range of particles, one particle per lane of a register: the
// beam-beam kick of each encounter (ffrank and bbkick for all lanes at once,
// errf by errf_lanes.h in the order lane_schedule.h gives the arguments)
// followed by the section's matrix, section by section, the range's
// coordinates kept in the thread's workspace through the turn.
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
#include "kicks/vector/block_entry_points.h"
#include "kicks/vector/errf_lanes.h"
#include "kicks/vector/lane_schedule.h"
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

// The particles' separations from the opposing centre in the frame where
// the wider plane is horizontal (ffrank's u, v and r^2).
template <class V>
struct Separation {
  D<V> u, v, r2;
};

template <class V>
Separation<V> separation(const SectionPlan& p, D<V> x, D<V> y) {
  const D<V> x0 = V::set1(p.x0);
  const D<V> y0 = V::set1(p.y0);
  Separation<V> s;
  if (p.turned) {
    s.u = y - y0;
    s.v = -(x - x0);
  } else {
    s.u = x - x0;
    s.v = y - y0;
  }
  s.r2 = s.u * s.u + s.v * s.v;
  return s;
}

// The round-beam field (Hu, Hv).
template <class V>
void round_field(const SectionPlan& p, const Separation<V>& s, D<V>& hu, D<V>& hv) {
  const D<V> g = V::set1(p.q) / s.r2;
  const D<V> c = V::set1(1.0) - exp_lanes<V>(-(s.r2 / V::set1(p.ab2)));
  hu = s.u * g * c;
  hv = s.v * g * c;
}

// n / c, or in the opt-in mode of the fast error function n * rc with rc
// = 1/c from the plan (as ffrank and bbkick do in that mode).
template <class V, ErrfMode kErrf>
D<V> over(D<V> n, double c, double rc) {
  if constexpr (kErrf == ErrfMode::fast)
    return n * V::set1(rc);
  else
    return n / V::set1(c);
}

// The elliptical field's two errf arguments (bbkick's z1 and z2) and the
// exponent of its factor E.
template <class V, ErrfMode kErrf = ErrfMode::exact>
void ellipse_arguments(const SectionPlan& p, const Separation<V>& s, D<V>& zx1, D<V>& zy1,
                       D<V>& zx2, D<V>& zy2, D<V>& ex) {
  const D<V> au = V::abs(s.u);
  const D<V> av = V::abs(s.v);
  zx1 = over<V, kErrf>(au, p.s, p.rs);
  zy1 = over<V, kErrf>(av, p.s, p.rs);
  zx2 = over<V, kErrf>(V::set1(p.rho) * au, p.s, p.rs);
  zy2 = over<V, kErrf>(av, p.rhos, p.rrhos);
  ex = over<V, kErrf>(-(s.u * s.u), p.a2x2, p.ra2x2) - over<V, kErrf>(s.v * s.v, p.b2x2, p.rb2x2);
}

// The elliptical field (Hu, Hv) from w(z1), w(z2) and E.
template <class V, ErrfMode kErrf = ErrfMode::exact>
void ellipse_field(const SectionPlan& p, const Separation<V>& s, D<V> wr1, D<V> wr2, D<V> wi1,
                   D<V> wi2, D<V> e, D<V>& hu, D<V>& hv) {
  const D<V> zero = V::set1(0.0);
  hv = V::select(V::eq(s.v, zero), V::signbit(s.v),
                 over<V, kErrf>(V::sign_one(s.v) * (wr1 - e * wr2), p.d, p.rd));
  hu = V::select(V::eq(s.u, zero), V::signbit(s.u),
                 over<V, kErrf>(V::sign_one(s.u) * (wi1 - e * wi2), p.d, p.rd));
}

// kickvorn's difference from the reference orbit, added to the angles as
// bbkickvorn does.
template <class V>
void add_kick(const SectionPlan& p, const Separation<V>& s, D<V> hu, D<V> hv, D<V>& xp,
              D<V>& yp) {
  // At the centre itself both components are zeros of the separations' signs.
  const M<V> centre = V::eq(s.r2, V::set1(0.0));
  const D<V> h_u = V::select(centre, V::signbit(s.u), hu);
  const D<V> h_v = V::select(centre, V::signbit(s.v), hv);
  const D<V> gx = p.turned ? -h_v : h_u;
  const D<V> gy = p.turned ? h_u : h_v;
  const D<V> f = V::set1(p.factor);
  xp = xp + (V::set1(p.fk2) - f * gx);
  yp = yp + (V::set1(p.fk1) - f * gy);
}

// Kick of a round-beam encounter on the np particles of the workspace.
template <class V>
void kick_round(const SectionPlan& p, LaneWorkspace& ws, int np) {
  for (int i = 0; i < np; i += V::kWidth) {
    const Separation<V> s = separation<V>(p, V::load(ws.x + i), V::load(ws.y + i));
    D<V> hu, hv, xp = V::load(ws.xp + i), yp = V::load(ws.yp + i);
    round_field<V>(p, s, hu, hv);
    add_kick<V>(p, s, hu, hv, xp, yp);
    V::store(ws.xp + i, xp);
    V::store(ws.yp + i, yp);
  }
}

// Kick of an elliptical encounter on the n particles of the workspace (np
// with the spare lanes): the arguments of all of them, their error
// functions in the order of their step counts, then the fields; returns
// whether every argument is outside errf's inner region.
template <class V, int K>
bool kick_ellipse(const SectionPlan& p, LaneWorkspace& ws, int n, int np) {
  constexpr int P = LaneWorkspace::kParticles;
  D<V> keys = V::set1(0.0);  // the largest sort key: 0 when all are outer
  for (int i = 0; i < np; i += V::kWidth) {
    const Separation<V> s = separation<V>(p, V::load(ws.x + i), V::load(ws.y + i));
    D<V> zx1, zy1, zx2, zy2, ex;
    ellipse_arguments<V>(p, s, zx1, zy1, zx2, zy2, ex);
    V::store(ws.u + i, s.u);
    V::store(ws.v + i, s.v);
    V::store(ws.r2 + i, s.r2);
    V::store(ws.e + i, ex);
    V::store(ws.zx + i, zx1);
    V::store(ws.zy + i, zy1);
    V::store(ws.zx + P + i, zx2);
    V::store(ws.zy + P + i, zy2);
    const D<V> key1 = step_key<V>(zx1, zy1), key2 = step_key<V>(zx2, zy2);
    V::store(ws.key + i, key1);
    V::store(ws.key + P + i, key2);
    keys = V::select(V::lt(keys, key1), key1, keys);
    keys = V::select(V::lt(keys, key2), key2, keys);
  }
  int none = 0, some = 0;
  lane_range<V>(keys, none, some);
  errf_scheduled<V, K>(ws, n, np, some == 0);
  for (int i = 0; i < np; i += V::kWidth) {
    const Separation<V> s{V::load(ws.u + i), V::load(ws.v + i), V::load(ws.r2 + i)};
    D<V> hu, hv, xp = V::load(ws.xp + i), yp = V::load(ws.yp + i);
    ellipse_field<V>(p, s, V::load(ws.wr + i), V::load(ws.wr + P + i), V::load(ws.wi + i),
                     V::load(ws.wi + P + i), V::load(ws.e + i), hu, hv);
    add_kick<V>(p, s, hu, hv, xp, yp);
    V::store(ws.xp + i, xp);
    V::store(ws.yp + i, yp);
  }
  return some == 0;
}

// Kick of an elliptical encounter on B registers of particles from i,
// their errf arguments straight into errf_lanes (or, in the opt-in mode,
// errf_fast_lanes) in the particles' order; returns whether any argument is
// in errf's inner region (always false in the opt-in mode, which has none).
template <class V, int B, ErrfMode kErrf>
bool kick_block(const SectionPlan& p, LaneWorkspace& ws, int i) {
  constexpr int W = V::kWidth;
  Separation<V> s[B];
  D<V> zx[2 * B], zy[2 * B], wr[2 * B], wi[2 * B];
  alignas(64) double e[B * W];
  bool inner = false;
  for (int j = 0; j < B; ++j) {
    s[j] = separation<V>(p, V::load(ws.x + i + j * W), V::load(ws.y + i + j * W));
    D<V> ex;
    // z1 of the registers first, then z2: a register of each kind sits
    // beside one of its own kind, whose errf region it mostly shares.
    ellipse_arguments<V, kErrf>(p, s[j], zx[j], zy[j], zx[B + j], zy[B + j], ex);
    V::store(e + j * W, ex);
    if constexpr (kErrf == ErrfMode::exact)
      for (int h = 0; h < 2; ++h)
        inner = inner || V::any(V::land(V::lt(V::abs(zy[h * B + j]), V::set1(4.29)),
                                        V::lt(V::abs(zx[h * B + j]), V::set1(5.33))));
  }
  if constexpr (kErrf == ErrfMode::fast) {
    double far2[2 * B];
    for (int j = 0; j < B; ++j) far2[j] = p.far1, far2[B + j] = p.far2;
    errf_fast_lanes<V, 2 * B>(zx, zy, far2, wr, wi);
    D<V> t[B], ee[B];
    for (int j = 0; j < B; ++j) t[j] = V::load(e + j * W);
    errf_fast_detail::exp_nonpositive<V, B>(t, ee);
    for (int j = 0; j < B; ++j) V::store(e + j * W, ee[j]);
  } else {
    // E does not depend on the error functions: its exponentials are made
    // between the steps of their continued fractions.
    ExpQueue side{e, B * W};
    errf_lanes<V, 2 * B>(zx, zy, wr, wi, side);
    side.finish();
  }
  for (int j = 0; j < B; ++j) {
    const int at = i + j * W;
    D<V> hu, hv, xp = V::load(ws.xp + at), yp = V::load(ws.yp + at);
    ellipse_field<V, kErrf>(p, s[j], wr[j], wr[B + j], wi[j], wi[B + j], V::load(e + j * W), hu,
                            hv);
    add_kick<V>(p, s[j], hu, hv, xp, yp);
    V::store(ws.xp + at, xp);
    V::store(ws.yp + at, yp);
  }
  return inner;
}

// The same for all np particles, two registers at a time.
template <class V, ErrfMode kErrf = ErrfMode::exact>
bool kick_blocks(const SectionPlan& p, LaneWorkspace& ws, int np) {
  constexpr int W = V::kWidth;
  bool inner = false;
  int i = 0;
  for (; i + 2 * W <= np; i += 2 * W) inner = kick_block<V, 2, kErrf>(p, ws, i) || inner;
  if (i < np) inner = kick_block<V, 1, kErrf>(p, ws, i) || inner;
  return inner;
}

// The wires of a point on the np particles of the workspace.
template <class V>
void wire_kicks_range(const SectionPlan& p, LaneWorkspace& ws, int np) {
  for (int i = 0; i < np; i += V::kWidth) {
    D<V> x = V::load(ws.x + i), xp = V::load(ws.xp + i);
    D<V> y = V::load(ws.y + i), yp = V::load(ws.yp + i);
    wire_kicks<V, 1>(p.wire, p.nwire, &x, &xp, &y, &yp);
    V::store(ws.xp + i, xp);
    V::store(ws.yp + i, yp);
  }
}

// The section's matrix on the np particles of the workspace.
template <class V>
void rotate(const SectionPlan& p, LaneWorkspace& ws, int np) {
  for (int i = 0; i < np; i += V::kWidth) {
    const D<V> x0 = V::load(ws.x + i), xp0 = V::load(ws.xp + i);
    const D<V> y0 = V::load(ws.y + i), yp0 = V::load(ws.yp + i);
    V::store(ws.x + i, V::set1(p.r11) * x0 + V::set1(p.r12) * xp0);
    V::store(ws.xp + i, V::set1(p.r21) * x0 + V::set1(p.r22) * xp0);
    V::store(ws.y + i, V::set1(p.r33) * y0 + V::set1(p.r34) * yp0);
    V::store(ws.yp + i, V::set1(p.r43) * y0 + V::set1(p.r44) * yp0);
  }
}

// Particles first .. first + count - 1 (0-based, count >= 1) through the
// whole turn, K registers of errf arguments at a time. The spare lanes of
// the last register are copies of the first particle; only the particles'
// own values are stored back. The opt-in mode's error function has no step
// counts, so its kicks go block by block without sorting.
template <class V, int K, ErrfMode kErrf = ErrfMode::exact>
void track_range(const TurnPlan& plan, const ParticleColumns& c, int first, int count,
                 LaneWorkspace& ws) {
  const int np = (count + V::kWidth - 1) / V::kWidth * V::kWidth;
  const double* const from[4] = {c.x + first, c.xp + first, c.y + first, c.yp + first};
  double* const col[4] = {ws.x, ws.xp, ws.y, ws.yp};
  for (int m = 0; m < 4; ++m)
    for (int i = 0; i < np; ++i) col[m][i] = from[m][i < count ? i : 0];
  for (int k = 0; k < kSections; ++k) {
    const SectionPlan& p = plan.sec[k];
    if (p.kick) {
      if (p.round) {
        kick_round<V>(p, ws, np);
      } else if constexpr (kErrf == ErrfMode::fast) {
        kick_blocks<V, kErrf>(p, ws, np);
      } else if (ws.outer[k]) {
        // All arguments were outside the inner region the turn before: no
        // sort, until one is inside again.
        ws.outer[k] = !kick_blocks<V>(p, ws, np);
      } else {
        ws.outer[k] = kick_ellipse<V, K>(p, ws, count, np);
      }
    }
    if (p.nwire != 0) wire_kicks_range<V>(p, ws, np);
    rotate<V>(p, ws, np);
  }
  double* const to[4] = {c.x + first, c.xp + first, c.y + first, c.yp + first};
  for (int m = 0; m < 4; ++m)
    for (int i = 0; i < count; ++i) to[m][i] = col[m][i];
}

}  // namespace
}  // namespace bbtrack
