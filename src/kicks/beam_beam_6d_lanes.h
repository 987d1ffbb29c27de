// The six-dimensional encounter (kicks/beam_beam_6d.h) over the lane type,
// one particle per lane, written once: encounter6d is its one-lane
// instance, every lane type computes the same operations in the same order.
// The sizes at a particle's collision point differ from lane to lane, so
// the field's constants are registers (SizeLanes), and whether the field is
// round or elliptical, and whether its frame is turned, is chosen per lane
// by a mask; a register whose lanes need both fields computes both.
//
// Coordinates, in the crossing plane's frame: x, px, y, py, z, delta, with
// px, py taken as the canonical momenta over the reference momentum.
//
// Internal linkage (see lanes/lane.h).
#pragma once

#include <utility>

#include "kicks/beam_beam_6d.h"
#include "kicks/kick_lanes.h"
#include "kicks/lanes/lane.h"

namespace bbtrack {
namespace {

template <class V>
struct Coords6 {
  D<V> x, px, y, py, z, d;
};

// The Lorentz boost to the head-on frame for the half crossing angle phi in
// the x-z plane (Hirata, Moshammer, Ruggiero, Part. Accel. 40 (1993) 205;
// Leunissen, Schmidt, Ripken, PRSTAB 3 (2000) 124002), with
// h = 1 + delta - ps, ps = sqrt((1 + delta)^2 - px^2 - py^2), written
// without cancellation as (px^2 + py^2)/(1 + delta + ps):
//   px* = (px - h tan phi)/cos phi,  py* = py/cos phi,
//   delta* = delta - px tan phi + h tan^2 phi,
//   hx* = px*/ps*, hy* = py*/ps*, hs* = 1 - (1 + delta*)/ps*,
//   x* = (1 + hx* sin phi) x + tan phi z,  y* = y + hy* sin phi x,
//   z* = z/cos phi + hs* sin phi x.
template <class V>
void boost(const Encounter6d& e, Coords6<V>& p) {
  const D<V> one = V::set1(1.0);
  const D<V> s = V::set1(e.sphi), t = V::set1(e.tphi), rc = V::set1(e.rcphi);
  const D<V> opd = one + p.d;
  const D<V> p2 = p.px * p.px + p.py * p.py;
  const D<V> h = p2 / (opd + V::sqrt(opd * opd - p2));
  const D<V> px = (p.px - h * t) * rc;
  const D<V> py = p.py * rc;
  const D<V> d = (p.d - p.px * t) + h * V::set1(e.t2);
  const D<V> opds = one + d;
  const D<V> p2s = px * px + py * py;
  const D<V> ps = V::sqrt(opds * opds - p2s);
  const D<V> rps = one / ps;
  const D<V> hx = px * rps, hy = py * rps;
  const D<V> hs = -(p2s / (ps * (opds + ps)));
  const D<V> x = p.x;
  p.x = (one + hx * s) * x + t * p.z;
  p.y = p.y + hy * s * x;
  p.z = p.z * rc + hs * s * x;
  p.px = px;
  p.py = py;
  p.d = d;
}

// Its inverse (same sources): with ps*, hx*, hy*, hs* of the boosted
// momenta and Det = 1/cos phi + (hx* - hs* sin phi) tan phi,
//   x = (x*/cos phi - tan phi z*)/Det,  z = ((1 + hx* sin phi) z* - hs* sin phi x*)/Det,
//   y = y* - hy* sin phi x,  h = (1 + delta* - ps*) cos^2 phi,
//   px = px* cos phi + h tan phi,  py = py* cos phi,
//   delta = delta* + px tan phi - h tan^2 phi.
template <class V>
void boost_back(const Encounter6d& e, Coords6<V>& p) {
  const D<V> one = V::set1(1.0);
  const D<V> s = V::set1(e.sphi), t = V::set1(e.tphi), c = V::set1(e.cphi);
  const D<V> rc = V::set1(e.rcphi);
  const D<V> opds = one + p.d;
  const D<V> p2s = p.px * p.px + p.py * p.py;
  const D<V> ps = V::sqrt(opds * opds - p2s);
  const D<V> rps = one / ps;
  const D<V> hx = p.px * rps, hy = p.py * rps;
  const D<V> hstar = p2s / (opds + ps);  // 1 + delta* - ps*
  const D<V> hs = -(hstar * rps);
  const D<V> rdet = one / (rc + (hx - hs * s) * t);
  const D<V> xs = p.x, zs = p.z;
  p.x = (xs * rc - t * zs) * rdet;
  p.z = ((one + hx * s) * zs - hs * s * xs) * rdet;
  p.y = p.y - hy * s * p.x;
  const D<V> h = hstar * V::set1(e.c2);
  p.px = p.px * c + h * t;
  p.py = p.py * c;
  p.d = (p.d + p.px * t) - h * V::set1(e.t2);
}

// The field of one slice on B registers of particles: with S = (z - zs)/2
// the collision point, the particle's separation from the slice's centre
// there X = x + px S - xc, Y = y + py S - yc, and the squared sizes there
// sigma_x^2(S), sigma_y^2(S), the kick function G = (gx, gy) of the
// four-dimensional encounter (kick_lanes.h) and du = dU/dS, the derivative
// of the slice's potential U = f q Phi along the collision point at fixed
// X, Y: dU/dS = f q (dPhi/d sigma_x^2 . d sigma_x^2/dS + dPhi/d sigma_y^2 .
// d sigma_y^2/dS) (docs/physics.md gives both fields' closed forms).
template <class V, int B, ErrfMode kErrf>
void slice_field(const Encounter6d& e, const Slice6d& sl, const Coords6<V> (&p)[B], D<V> (&S)[B],
                 D<V> (&gx)[B], D<V> (&gy)[B], D<V> (&du)[B]) {
  const D<V> one = V::set1(1.0), half = V::set1(0.5), zero = V::set1(0.0);
  SizeBlock<V, B> c;
  Separation<V> s[B];
  D<V> A[B], Bs[B], dA[B], dB[B], a[B], b[B];
  M<V> turned[B], round[B];
  bool any_round = false, all_round = true;
  for (int j = 0; j < B; ++j) {
    S[j] = (p[j].z - V::set1(sl.zs)) * half;
    const D<V> X = (p[j].x + p[j].px * S[j]) - V::set1(sl.xc);
    const D<V> Y = (p[j].y + p[j].py * S[j]) - V::set1(sl.yc);
    A[j] = V::set1(e.sx2) * (one + S[j] * (V::set1(e.ax1) + S[j] * V::set1(e.ax2)));
    Bs[j] = V::set1(e.sy2) * (one + S[j] * (V::set1(e.ay1) + S[j] * V::set1(e.ay2)));
    dA[j] = V::set1(e.sx2) * (V::set1(e.ax1) + S[j] * V::set1(e.ax2d));
    dB[j] = V::set1(e.sy2) * (V::set1(e.ay1) + S[j] * V::set1(e.ay2d));
    const D<V> sx = V::sqrt(A[j]), sy = V::sqrt(Bs[j]);
    turned[j] = V::lt(sx, sy);
    a[j] = V::select(turned[j], sy, sx);
    b[j] = V::select(turned[j], sx, sy);
    s[j].u = V::select(turned[j], Y, X);
    s[j].v = V::select(turned[j], -X, Y);
    s[j].r2 = s[j].u * s[j].u + s[j].v * s[j].v;
    round[j] = V::lt(V::abs(a[j] / b[j] - one), V::set1(kRoundTolerance));
    any_round = any_round || V::any(round[j]);
    all_round = all_round && V::all(round[j]);
    c.r[j].q = e.q;
    c.r[j].far1 = sl.far1;
    c.r[j].far2 = sl.far2;
  }
  // The elliptical field's constants only where a lane needs them (the
  // round field's 2 a b is theirs too).
  for (int j = 0; j < B; ++j)
    if (all_round)
      c.r[j].ab2 = V::set1(2.0) * a[j] * b[j];
    else
      field_constants<V, kErrf == ErrfMode::fast>(a[j], b[j], c.r[j]);
  D<V> hu[B], hv[B], ee[B], ru[B], rv[B], re[B];
  for (int j = 0; j < B; ++j) hu[j] = hv[j] = ee[j] = ru[j] = rv[j] = re[j] = zero;
  if (any_round)
    for (int j = 0; j < B; ++j) round_field<V>(c.r[j], s[j], ru[j], rv[j], re[j]);
  if (!all_round) ellipse_field<V, B, kErrf>(c, s, hu, hv, ee);
  for (int j = 0; j < B; ++j) {
    if (all_round) {
      hu[j] = ru[j], hv[j] = rv[j], ee[j] = re[j];
    } else if (any_round) {
      hu[j] = V::select(round[j], ru[j], hu[j]);
      hv[j] = V::select(round[j], rv[j], hv[j]);
      ee[j] = V::select(round[j], re[j], ee[j]);
    }
    // The kick function in the crossing plane's frame (ring_frame per lane).
    at_centre<V>(s[j], hu[j], hv[j]);
    const D<V> h_u = hu[j], h_v = hv[j];
    gx[j] = V::select(turned[j], -h_v, h_u);
    gy[j] = V::select(turned[j], h_u, h_v);
    // dU/dS. Round: the potential depends on a b only, dPhi/d(ab) = E/(2ab),
    // so dU/dS = f q E (A' B + A B')/(2 a b)^2. Elliptical (a >= b in the
    // field's frame, P = u Gu + v Gv):
    // dU/dS = f [q (a'-b') ab - q E (b^2 a' - a^2 b') - P (a'-b') ab] / (ab 2 (a^2 - b^2))
    // with a' = d a^2/dS, b' = d b^2/dS.
    const D<V> du_round =
        any_round ? V::set1(e.fq) * ee[j] * (dA[j] * Bs[j] + A[j] * dB[j]) / (c.r[j].ab2 * c.r[j].ab2)
                  : zero;
    du[j] = du_round;
    if (!all_round) {
      const D<V> da = V::select(turned[j], dB[j], dA[j]);
      const D<V> db = V::select(turned[j], dA[j], dB[j]);
      const D<V> a2 = V::select(turned[j], Bs[j], A[j]);
      const D<V> b2 = V::select(turned[j], A[j], Bs[j]);
      const D<V> ab = a[j] * b[j];
      const D<V> pp = s[j].u * h_u + s[j].v * h_v;
      const D<V> q = V::set1(e.q);
      const D<V> dd = da - db;
      D<V> du_ellipse;
      if constexpr (kErrf == ErrfMode::fast) {
        // The fast mode's reciprocals instead of the division: 1/rho =
        // s/(rho s), 1/(2 (a^2 - b^2)) = D^-2/2.
        const SizeLanes<V>& k = c.r[j];
        const D<V> num = (q * dd - q * ee[j] * (k.rho * da - db * (k.rrhos * k.s))) - pp * dd;
        du_ellipse = V::set1(e.f) * num * (half * k.rd * k.rd);
      } else {
        const D<V> num = (q * dd * ab - q * ee[j] * (b2 * da - a2 * db)) - pp * dd * ab;
        du_ellipse = V::set1(e.f) * num / (ab * (c.r[j].a2x2 - c.r[j].b2x2));
      }
      du[j] = any_round ? V::select(round[j], du_round, du_ellipse) : du_ellipse;
    }
  }
}

// The collision of B registers of particles with one slice: the kick of the
// four-dimensional encounter with the slice's strength f and its
// reference-orbit kick, dpx = fk2 - f gx, dpy = fk1 - f gy, is the exact
// map of the potential U(X, Y, S) (X, Y stay constant along it):
//   px += dpx,  py += dpy,  x -= S dpx,  y -= S dpy,
//   delta += (dpx (px + dpx/2) + dpy (py + dpy/2))/2 - (dU/dS - dref)/2.
template <class V, int B, ErrfMode kErrf>
void slice_kick(const Encounter6d& e, const Slice6d& sl, Coords6<V> (&p)[B]) {
  const D<V> half = V::set1(0.5);
  D<V> S[B], gx[B], gy[B], du[B];
  slice_field<V, B, kErrf>(e, sl, p, S, gx, gy, du);
  for (int j = 0; j < B; ++j) {
    const D<V> dpx = V::set1(sl.fk2) - V::set1(e.f) * gx[j];
    const D<V> dpy = V::set1(sl.fk1) - V::set1(e.f) * gy[j];
    p[j].d = (p[j].d + half * (dpx * (p[j].px + half * dpx) + dpy * (p[j].py + half * dpy))) -
             half * (du[j] - V::set1(sl.dref));
    p[j].px = p[j].px + dpx;
    p[j].py = p[j].py + dpy;
    p[j].x = p[j].x - S[j] * dpx;
    p[j].y = p[j].y - S[j] * dpy;
  }
}

// The whole element on B registers: the boost, the slices from the head,
// the inverse boost; x and y exchanged for a vertical crossing.
template <class V, int B, ErrfMode kErrf>
void encounter6d_block(const Encounter6d& e, Coords6<V> (&p)[B]) {
  if (e.plane_y)
    for (int j = 0; j < B; ++j) std::swap(p[j].x, p[j].y), std::swap(p[j].px, p[j].py);
  if (e.boost)
    for (int j = 0; j < B; ++j) boost<V>(e, p[j]);
  for (const Slice6d& sl : e.slice) slice_kick<V, B, kErrf>(e, sl, p);
  if (e.boost)
    for (int j = 0; j < B; ++j) boost_back<V>(e, p[j]);
  if (e.plane_y)
    for (int j = 0; j < B; ++j) std::swap(p[j].x, p[j].y), std::swap(p[j].px, p[j].py);
}

// B registers of the columns from particle i, loaded, through the element,
// stored back.
template <class V, int B, ErrfMode kErrf>
void encounter6d_at(const Encounter6d& e, const SixColumns& c, int i) {
  constexpr int W = V::kWidth;
  Coords6<V> p[B];
  for (int j = 0; j < B; ++j) {
    const int k = i + j * W;
    p[j] = {V::load(c.x + k), V::load(c.px + k), V::load(c.y + k),
            V::load(c.py + k), V::load(c.z + k),  V::load(c.d + k)};
  }
  encounter6d_block<V, B, kErrf>(e, p);
  for (int j = 0; j < B; ++j) {
    const int k = i + j * W;
    V::store(c.x + k, p[j].x);
    V::store(c.px + k, p[j].px);
    V::store(c.y + k, p[j].y);
    V::store(c.py + k, p[j].py);
    V::store(c.z + k, p[j].z);
    V::store(c.d + k, p[j].d);
  }
}

// The element on particles 0 .. n - 1 of c, two registers at a time (their
// arguments of w side by side); a last part register is filled with copies
// of its first particle, and only the particles' own values are kept.
template <class V, ErrfMode kErrf>
void encounter6d_range(const Encounter6d& e, const SixColumns& c, int n) {
  constexpr int W = V::kWidth;
  int i = 0;
  for (; i + 2 * W <= n; i += 2 * W) encounter6d_at<V, 2, kErrf>(e, c, i);
  for (; i + W <= n; i += W) encounter6d_at<V, 1, kErrf>(e, c, i);
  if (i < n) {
    alignas(64) double t[6][W];
    double* const col[6] = {c.x, c.px, c.y, c.py, c.z, c.d};
    for (int m = 0; m < 6; ++m)
      for (int l = 0; l < W; ++l) t[m][l] = col[m][i + l < n ? i + l : i];
    const SixColumns tc{t[0], t[1], t[2], t[3], t[4], t[5]};
    encounter6d_at<V, 1, kErrf>(e, tc, 0);
    for (int m = 0; m < 6; ++m)
      for (int l = 0; i + l < n; ++l) col[m][i + l] = t[m][l];
  }
}

}  // namespace
}  // namespace bbtrack
