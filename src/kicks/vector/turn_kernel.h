// The turn of a range of particles, one particle per lane of the lane type:
// section by section of the plan (the classic ring's 73, or the general
// ring's), the beam-beam kick of the encounter, the kicks of the
// point's wires and thin multipoles and the section's matrix
// (kicks/kick_lanes.h, kicks/multipole.h), all of them on every particle of
// the range before the next; at the end of the turn the tune modulation's
// rotation (kicks/modulation.h). The one-lane instance is
// the scalar path (track_turn, BBTRACK_SCALAR=1) and works on the
// coordinates in place; the register instances keep the range's
// coordinates in the thread's workspace through the turn, and in the exact
// mode sort the arguments of w by their step counts (lane_schedule.h).
// Whatever the lane type, a particle's coordinates see the same operations
// in the same order, so every path gives the same bits.
//
// Internal linkage (see kicks/lanes/lane.h).
#pragma once

#include "kicks/beam_beam_6d_lanes.h"
#include "kicks/kick_lanes.h"
#include "kicks/lanes/lane.h"
#include "kicks/modulation.h"
#include "kicks/multipole.h"
#include "kicks/vector/lane_kernels.h"
#include "kicks/vector/lane_schedule.h"
#include "kicks/vector/turn_plan.h"

namespace bbtrack {
namespace {

// The kick of a round (kRound) or elliptical encounter on B registers of
// particles from i; returns whether any argument of w is in errf's inner
// region.
template <class V, int B, ErrfMode kErrf, bool kRound>
bool kick_block(const Encounter& e, ParticleColumns c, int i) {
  constexpr int W = V::kWidth;
  D<V> x[B], y[B], gx[B], gy[B];
  for (int j = 0; j < B; ++j) {
    x[j] = V::load(c.x + i + j * W);
    y[j] = V::load(c.y + i + j * W);
  }
  const bool inner = field_of<V, B, kErrf, kRound>(e, x, y, gx, gy);
  for (int j = 0; j < B; ++j) {
    D<V> dxp, dyp;
    angle_changes<V>(e, gx[j], gy[j], dxp, dyp);
    V::store(c.xp + i + j * W, V::load(c.xp + i + j * W) + dxp);
    V::store(c.yp + i + j * W, V::load(c.yp + i + j * W) + dyp);
  }
  return inner;
}

// The same for all np particles, a register at a time for a round encounter
// and two for an elliptical one (their arguments of w side by side), in the
// particles' order.
template <class V, ErrfMode kErrf, bool kRound>
bool kick_blocks(const Encounter& e, ParticleColumns c, int np) {
  constexpr int W = V::kWidth;
  constexpr int B = kRound ? 1 : 2;
  bool inner = false;
  int i = 0;
  for (; i + B * W <= np; i += B * W) inner = kick_block<V, B, kErrf, kRound>(e, c, i) || inner;
  if (i < np) inner = kick_block<V, 1, kErrf, kRound>(e, c, i) || inner;
  return inner;
}

// The kick of an elliptical encounter on the n particles of the workspace
// (np with the spare lanes), exact mode: the arguments of all of them,
// their error functions in the order of their step counts, then the fields;
// returns whether every argument is outside errf's inner region.
template <class V, int K>
bool kick_sorted(const Encounter& e, LaneWorkspace& ws, int n, int np) {
  constexpr int P = LaneWorkspace::kParticles;
  constexpr ErrfMode kExact = ErrfMode::exact;
  D<V> keys = V::set1(0.0);  // the largest sort key: 0 when all are outer
  for (int i = 0; i < np; i += V::kWidth) {
    const Separation<V> s = separation<V>(e, V::load(ws.x + i), V::load(ws.y + i));
    D<V> zx1, zy1, zx2, zy2, ex;
    ellipse_arguments<V, kExact>(e, s, zx1, zy1, zx2, zy2, ex);
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
    D<V> hu, hv, gx, gy, dxp, dyp;
    ellipse_from_w<V, kExact>(e, s, V::load(ws.wr + i), V::load(ws.wr + P + i), V::load(ws.wi + i),
                              V::load(ws.wi + P + i), V::load(ws.e + i), hu, hv);
    ring_frame<V>(e, s, hu, hv, gx, gy);
    angle_changes<V>(e, gx, gy, dxp, dyp);
    V::store(ws.xp + i, V::load(ws.xp + i) + dxp);
    V::store(ws.yp + i, V::load(ws.yp + i) + dyp);
  }
  return some == 0;
}

// The beam-beam kick of encounter e on the count particles of c (np with
// the spare lanes). The exact mode sorts the elliptical encounters'
// arguments of w by step count, unless all of them were outside errf's
// inner region at the last kick (*outer; then none is sorted until one is
// inside again); one lane has nothing to sort, nor does the opt-in mode,
// whose error function has no step counts.
template <class V, int K, ErrfMode kErrf>
void beam_beam_kick(const Encounter& e, ParticleColumns c, int count, int np, LaneWorkspace* ws,
                    bool* outer) {
  if (e.round)
    kick_blocks<V, kErrf, true>(e, c, np);
  else if constexpr (kErrf == ErrfMode::fast || V::kWidth == 1)
    kick_blocks<V, kErrf, false>(e, c, np);
  else if (*outer)
    *outer = !kick_blocks<V, kErrf, false>(e, c, np);
  else
    *outer = kick_sorted<V, K>(e, *ws, count, np);
}

// The n wires of a point on the np particles of c, in their order.
template <class V>
void wire_kicks(const WireKick* w, int n, ParticleColumns c, int np) {
  for (int i = 0; i < np; i += V::kWidth) {
    const D<V> x = V::load(c.x + i), y = V::load(c.y + i);
    D<V> xp = V::load(c.xp + i), yp = V::load(c.yp + i);
    for (int m = 0; m < n; ++m) wire_kick<V>(w[m], x, y, xp, yp);
    V::store(c.xp + i, xp);
    V::store(c.yp + i, yp);
  }
}

// op(x, xp, y, yp) on every register of the np particles of c, loaded and
// stored back whole. The columns by value, as the lambdas' constants: no
// store to a column can change them, so they stay in registers.
template <class V, class Op>
void each_register(ParticleColumns c, int np, Op op) {
  for (int i = 0; i < np; i += V::kWidth) {
    D<V> x = V::load(c.x + i), xp = V::load(c.xp + i);
    D<V> y = V::load(c.y + i), yp = V::load(c.yp + i);
    op(x, xp, y, yp);
    V::store(c.x + i, x);
    V::store(c.xp + i, xp);
    V::store(c.y + i, y);
    V::store(c.yp + i, yp);
  }
}

// A coupled matrix, from the old values of all four coordinates.
template <class V>
void coupled_transport(const double (*m)[4], D<V>& x, D<V>& xp, D<V>& y, D<V>& yp) {
  const D<V> z[4] = {x, xp, y, yp};
  D<V> out[4];
  for (int i = 0; i < 4; ++i)
    out[i] = V::set1(m[i][0]) * z[0] + V::set1(m[i][1]) * z[1] + V::set1(m[i][2]) * z[2] +
             V::set1(m[i][3]) * z[3];
  x = out[0];
  xp = out[1];
  y = out[2];
  yp = out[3];
}

// The turn's tune-modulation rotation on the np particles of c.
template <class V>
void rotate_range(const TurnRotation r, ParticleColumns c, int np) {
  each_register<V>(
      c, np, [r](D<V>& x, D<V>& xp, D<V>& y, D<V>& yp) { modulation_rotate<V>(r, x, xp, y, yp); });
}

// The section's matrix on the np particles of c.
template <class V>
void transport_range(const SectionMatrix m, ParticleColumns c, int np) {
  each_register<V>(c, np,
                   [m](D<V>& x, D<V>& xp, D<V>& y, D<V>& yp) { transport<V>(m, x, xp, y, yp); });
}

// The point's thin multipoles and then the section's matrix on the np
// particles of c, in one pass: the kick stays in registers for the
// transport.
template <class V>
void multipole_transport_range(const MultipoleKick& mk, const SectionMatrix m, ParticleColumns c,
                               int np) {
  each_register<V>(c, np, [&mk, m](D<V>& x, D<V>& xp, D<V>& y, D<V>& yp) {
    multipole_kick<V>(mk, x, y, xp, yp);
    transport<V>(m, x, xp, y, yp);
  });
}

// The section's thin multipoles (mk, or none) and then its coupled matrix
// (m, or none) on the np particles of c, in one pass: the general ring's
// sections that are not those of a classic ring.
template <class V>
void coupled_range(const MultipoleKick* mk, const double (*m)[4], ParticleColumns c, int np) {
  if (mk == nullptr && m == nullptr) return;
  each_register<V>(c, np, [mk, m](D<V>& x, D<V>& xp, D<V>& y, D<V>& yp) {
    if (mk != nullptr) multipole_kick<V>(*mk, x, y, xp, yp);
    if (m != nullptr) coupled_transport<V>(m, x, xp, y, yp);
  });
}

// Six-dimensional tracking: the section's thin multipoles (mk, or none)
// and its whole 6x6 matrix (m6, or none) on the np particles of c, in one
// pass.
template <class V>
void six_range(const MultipoleKick* mk, const double (*m6)[6], ParticleColumns c, int np) {
  if (mk == nullptr && m6 == nullptr) return;
  for (int i = 0; i < np; i += V::kWidth) {
    D<V> z[6] = {V::load(c.x + i), V::load(c.xp + i), V::load(c.y + i),
                 V::load(c.yp + i), V::load(c.z + i), V::load(c.d + i)};
    if (mk != nullptr) multipole_kick<V>(*mk, z[0], z[2], z[1], z[3]);
    if (m6 != nullptr) {
      D<V> out[6];
      for (int r = 0; r < 6; ++r) {
        D<V> s = V::set1(m6[r][0]) * z[0];
        for (int k = 1; k < 6; ++k) s = s + V::set1(m6[r][k]) * z[k];
        out[r] = s;
      }
      for (int r = 0; r < 6; ++r) z[r] = out[r];
    }
    double* const col[6] = {c.x, c.xp, c.y, c.yp, c.z, c.d};
    for (int r = 0; r < 6; ++r) V::store(col[r] + i, z[r]);
  }
}

// Particles first .. first + count - 1 (0-based, count >= 1) through the
// whole turn, K registers of arguments of w at a time in the sorted kicks.
// For registers the range's coordinates are copied into the workspace, the
// spare lanes of the last register being copies of the first particle, and
// only the particles' own values are stored back.
template <class V, int K, ErrfMode kErrf>
void track_range(const TurnPlan& plan, ParticleColumns c, int first, int count, LaneWorkspace* ws) {
  constexpr int W = V::kWidth;
  const int np = (count + W - 1) / W * W;
  // z and delta only in six-dimensional tracking.
  const bool six = plan.six_d;
  const int ncol = six ? 6 : 4;
  const ParticleColumns range{c.x + first, c.xp + first, c.y + first, c.yp + first,
                              six ? c.z + first : nullptr, six ? c.d + first : nullptr};
  ParticleColumns at = range;
  double* const from[6] = {range.x, range.xp, range.y, range.yp, range.z, range.d};
  if constexpr (W > 1) {
    at = {ws->x, ws->xp, ws->y, ws->yp, ws->z, ws->d};
    double* const col[6] = {at.x, at.xp, at.y, at.yp, at.z, at.d};
    for (int m = 0; m < ncol; ++m)
      for (int i = 0; i < np; ++i) col[m][i] = from[m][i < count ? i : 0];
  }
  const SectionPlan* const sec = plan.sec.data();
  const int nsec = static_cast<int>(plan.sec.size());
  for (int k = 0; k < nsec; ++k) {
    const SectionPlan& p = sec[k];
    if (p.kick)
      beam_beam_kick<V, K, kErrf>(p.enc, at, count, np, ws, W > 1 ? &ws->outer[k] : nullptr);
    if (p.enc6d != nullptr)
      encounter6d_range<V, kErrf>(*p.enc6d, SixColumns{at.x, at.xp, at.y, at.yp, at.z, at.d}, np);
    if (p.nwire != 0) wire_kicks<V>(p.wire, p.nwire, at, np);
    // The point's thin multipoles, after its kicks and before its transport.
    if (six)
      six_range<V>(p.mult, p.m6, at, np);
    else if (p.coupled != nullptr)
      coupled_range<V>(p.mult, p.coupled, at, np);
    else if (!p.transport)
      coupled_range<V>(p.mult, nullptr, at, np);
    else if (p.mult != nullptr)
      multipole_transport_range<V>(*p.mult, p.matrix, at, np);
    else
      transport_range<V>(p.matrix, at, np);
  }
  // The tune modulation at the observation point (the start of section 1,
  // where the particles are now), at the end of the turn.
  if (plan.rotate) rotate_range<V>(plan.rot, at, np);
  if constexpr (W > 1) {
    const double* const col[6] = {at.x, at.xp, at.y, at.yp, at.z, at.d};
    for (int m = 0; m < ncol; ++m)
      for (int i = 0; i < count; ++i) from[m][i] = col[m][i];
  }
}

}  // namespace
}  // namespace bbtrack
