// The kicks and the transport of one section, written once over the lane
// type (lanes/lane.h), one particle per lane: the beam-beam kick function
// and its angle changes (ffrank, bbkick and kickvorn are their one-lane
// instances), the kick of a wire (wirekicks) and the section's matrix
// (rotvorn). The turn of every path (kicks/vector/turn_kernel.h) runs them
// on registers, the scalar path on one double.
//
// A lane computes exactly the operations of the one-lane instance for its
// particle, in the same order, so every lane type gives the same bits.
// Where the kick branches per particle (a zero separation, the centre
// itself, errf's two regions) both sides are computed and the lane's side
// is chosen by a mask; what branches per encounter (round or elliptical)
// is chosen once for all lanes. The exponentials of the exact kick are the
// library's std::exp, lane by lane.
//
// The field's functions take the field's constants as an Encounter (the
// same in every lane) or as a register's SizeLanes (one value per lane: the
// sizes of the six-dimensional encounter at each particle's collision
// point, kicks/beam_beam_6d_lanes.h); both compute the same operations.
//
// Internal linkage (see lanes/lane.h).
#pragma once

#include <cmath>
#include <type_traits>

#include "kicks/encounter.h"
#include "kicks/errf_fast_lanes.h"
#include "kicks/errf_lanes.h"
#include "kicks/lanes/lane.h"
#include "kicks/transport.h"
#include "run/state.h"

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

// A constant of the field as a register: a constant of the encounter
// (double, in every lane) or a register of constants, one per lane.
template <class V>
D<V> lanes(double a) {
  return V::set1(a);
}
template <class V>
  requires(!std::is_same_v<D<V>, double>)
D<V> lanes(D<V> a) {
  return a;
}

// The field's constants of encounter_in_frame, one per lane: those of the
// sizes a >= b of each lane (field_constants); q and the fast mode's
// borders far1, far2 are the same in every lane.
template <class V>
struct SizeLanes {
  double q;
  D<V> ab2, s, rho, rhos, a2x2, b2x2, d;
  D<V> rs, rrhos, ra2x2, rb2x2, rd;  // the fast mode's reciprocals
  double far1, far2;
};

// The constants of B registers, register j's in r[j].
template <class V, int B>
struct SizeBlock {
  SizeLanes<V> r[B];
};

// The constants of register j: an encounter's are those of every register.
inline const Encounter& constants_of(const Encounter& e, int) {
  return e;
}
template <class V, int B>
const SizeLanes<V>& constants_of(const SizeBlock<V, B>& e, int j) {
  return e.r[j];
}

// The field's constants of sizes a >= b into e (an Encounter with one lane,
// or a SizeLanes): 2 a b, S = sqrt(2 (a^2 - b^2)), rho = b/a, rho S, 2 a^2,
// 2 b^2, D = sqrt(a^2 - b^2), and with kReciprocals the reciprocals of the
// fast mode. encounter_in_frame is its one-lane instance.
template <class V, bool kReciprocals, class E>
void field_constants(D<V> a, D<V> b, E& e) {
  const D<V> two = V::set1(2.0);
  e.ab2 = two * a * b;
  e.s = V::sqrt(two * (a * a - b * b));
  e.rho = b / a;
  e.rhos = e.rho * e.s;
  e.a2x2 = two * (a * a);
  e.b2x2 = two * (b * b);
  e.d = V::sqrt(a * a - b * b);
  if constexpr (kReciprocals) {
    const D<V> one = V::set1(1.0);
    e.rs = one / e.s;
    e.rrhos = one / e.rhos;
    e.ra2x2 = one / e.a2x2;
    e.rb2x2 = one / e.b2x2;
    e.rd = one / e.d;
  }
}

// The particles' separations u, v from the bunch's centre in the frame
// where the wider plane is horizontal, and r^2 = u^2 + v^2.
template <class V>
struct Separation {
  D<V> u, v, r2;
};

template <class V>
Separation<V> separation(const Encounter& e, D<V> x, D<V> y) {
  const D<V> x0 = V::set1(e.x0);
  const D<V> y0 = V::set1(e.y0);
  Separation<V> s;
  if (e.turned) {
    s.u = y - y0;
    s.v = -(x - x0);
  } else {
    s.u = x - x0;
    s.v = y - y0;
  }
  s.r2 = s.u * s.u + s.v * s.v;
  return s;
}

// The round-beam field (Hu, Hv) = (u, v) q/r^2 (1 - exp(-r^2/(2 a b))),
// the exponent with the product of the sizes; ee = exp(-r^2/(2 a b)).
template <class V, class E>
void round_field(const E& e, const Separation<V>& s, D<V>& hu, D<V>& hv, D<V>& ee) {
  const D<V> g = lanes<V>(e.q) / s.r2;
  ee = exp_lanes<V>(-(s.r2 / lanes<V>(e.ab2)));
  const D<V> c = V::set1(1.0) - ee;
  hu = s.u * g * c;
  hv = s.v * g * c;
}
template <class V>
void round_field(const Encounter& e, const Separation<V>& s, D<V>& hu, D<V>& hv) {
  D<V> ee;
  round_field<V>(e, s, hu, hv, ee);
}

// n / c, or in the opt-in mode of the fast error function n * rc with
// rc = 1/c from the encounter.
template <class V, ErrfMode kErrf, class C>
D<V> over(D<V> n, const C& c, const C& rc) {
  if constexpr (kErrf == ErrfMode::fast)
    return n * lanes<V>(rc);
  else
    return n / lanes<V>(c);
}

// The elliptical field's two arguments of w (bbkick's z1 = (|u| + i |v|)/S
// and z2 = (rho |u| + i |v|/rho)/S) and the exponent of its Gaussian factor
// E = exp(-u^2/(2 a^2) - v^2/(2 b^2)).
template <class V, ErrfMode kErrf, class E>
void ellipse_arguments(const E& e, const Separation<V>& s, D<V>& zx1, D<V>& zy1, D<V>& zx2,
                       D<V>& zy2, D<V>& ex) {
  const D<V> au = V::abs(s.u);
  const D<V> av = V::abs(s.v);
  zx1 = over<V, kErrf>(au, e.s, e.rs);
  zy1 = over<V, kErrf>(av, e.s, e.rs);
  zx2 = over<V, kErrf>(lanes<V>(e.rho) * au, e.s, e.rs);
  zy2 = over<V, kErrf>(av, e.rhos, e.rrhos);
  ex = over<V, kErrf>(-(s.u * s.u), e.a2x2, e.ra2x2) - over<V, kErrf>(s.v * s.v, e.b2x2, e.rb2x2);
}

// The elliptical (Bassetti-Erskine) field from w(z1), w(z2) and E:
// Hv = sgn(v) (Re w1 - E Re w2)/D, Hu = sgn(u) (Im w1 - E Im w2)/D.
// Mathematically (w1 - E w2) vanishes with the separation; numerically it
// leaves a rounding residue, so a zero separation gives a zero component,
// a zero of the sign of that separation (-0 counting as negative, as the
// round field's u g c gives it).
template <class V, ErrfMode kErrf, class E>
void ellipse_from_w(const E& e, const Separation<V>& s, D<V> wr1, D<V> wr2, D<V> wi1,
                    D<V> wi2, D<V> ee, D<V>& hu, D<V>& hv) {
  const D<V> zero = V::set1(0.0);
  hv = V::select(V::eq(s.v, zero), V::signbit(s.v),
                 over<V, kErrf>(V::sign_one(s.v) * (wr1 - ee * wr2), e.d, e.rd));
  hu = V::select(V::eq(s.u, zero), V::signbit(s.u),
                 over<V, kErrf>(V::sign_one(s.u) * (wi1 - ee * wi2), e.d, e.rd));
}

// The elliptical field of B registers: their 2B arguments of w at once
// (errf_lanes, or errf_fast_lanes in the opt-in mode) with the factors E
// (std::exp between the steps of the continued fractions, or
// exp_nonpositive in that mode). Returns whether any argument is in errf's
// inner region (always false in the opt-in mode, which has none). The
// constants of register j are constants_of(e, j); the factors E go to ee.
template <class V, int B, ErrfMode kErrf, class E>
bool ellipse_field(const E& e, const Separation<V> (&s)[B], D<V> (&hu)[B], D<V> (&hv)[B],
                   D<V> (&ee)[B]) {
  constexpr int W = V::kWidth;
  D<V> zx[2 * B], zy[2 * B], wr[2 * B], wi[2 * B];
  alignas(64) double ex[B * W];
  bool inner = false;
  for (int j = 0; j < B; ++j) {
    D<V> t;
    // z1 of the registers first, then z2: a register of each kind sits
    // beside one of its own kind, whose region of w it mostly shares.
    ellipse_arguments<V, kErrf>(constants_of(e, j), s[j], zx[j], zy[j], zx[B + j], zy[B + j], t);
    V::store(ex + j * W, t);
    if constexpr (kErrf == ErrfMode::exact)
      for (int h = 0; h < 2; ++h)
        inner =
            inner || V::any(errf_region::inner<V>(V::abs(zx[h * B + j]), V::abs(zy[h * B + j])));
  }
  if constexpr (kErrf == ErrfMode::fast) {
    double far2[2 * B];
    for (int j = 0; j < B; ++j) far2[j] = constants_of(e, j).far1, far2[B + j] = constants_of(e, j).far2;
    errf_fast_lanes<V, 2 * B>(zx, zy, far2, wr, wi);
    D<V> t[B], et[B];
    for (int j = 0; j < B; ++j) t[j] = V::load(ex + j * W);
    errf_fast_detail::exp_nonpositive<V, B>(t, et);
    for (int j = 0; j < B; ++j) V::store(ex + j * W, et[j]);
  } else {
    // E does not depend on the error functions: its exponentials are made
    // between the steps of their continued fractions.
    ExpQueue side{ex, B * W};
    errf_lanes<V, 2 * B>(zx, zy, wr, wi, side);
    side.finish();
  }
  for (int j = 0; j < B; ++j) {
    ee[j] = V::load(ex + j * W);
    ellipse_from_w<V, kErrf>(constants_of(e, j), s[j], wr[j], wr[B + j], wi[j], wi[B + j], ee[j],
                             hu[j], hv[j]);
  }
  return inner;
}
template <class V, int B, ErrfMode kErrf>
bool ellipse_field(const Encounter& e, const Separation<V> (&s)[B], D<V> (&hu)[B], D<V> (&hv)[B]) {
  D<V> ee[B];
  return ellipse_field<V, B, kErrf>(e, s, hu, hv, ee);
}

// (Hu, Hv) at the centre itself (r^2 = 0): both components are zeros of
// the separations' signs.
template <class V>
void at_centre(const Separation<V>& s, D<V>& hu, D<V>& hv) {
  const M<V> centre = V::eq(s.r2, V::set1(0.0));
  hu = V::select(centre, V::signbit(s.u), hu);
  hv = V::select(centre, V::signbit(s.v), hv);
}

// The kick function G = (gx, gy) in the ring's frame from (Hu, Hv) (at the
// centre, at_centre's zeros): a turned frame is turned back (Gx = -Hv,
// Gy = Hu).
template <class V>
void ring_frame(const Encounter& e, const Separation<V>& s, D<V> hu, D<V> hv, D<V>& gx, D<V>& gy) {
  at_centre<V>(s, hu, hv);
  gx = e.turned ? -hv : hu;
  gy = e.turned ? hu : hv;
}

// The kick function G of B registers of particles at (x, y), for a round
// encounter (kRound) or an elliptical one; returns whether any argument of
// w is in errf's inner region.
template <class V, int B, ErrfMode kErrf, bool kRound>
bool field_of(const Encounter& e, const D<V> (&x)[B], const D<V> (&y)[B], D<V> (&gx)[B],
              D<V> (&gy)[B]) {
  Separation<V> s[B];
  D<V> hu[B], hv[B];
  for (int j = 0; j < B; ++j) s[j] = separation<V>(e, x[j], y[j]);
  bool inner = false;
  if constexpr (kRound)
    for (int j = 0; j < B; ++j) round_field<V>(e, s[j], hu[j], hv[j]);
  else
    inner = ellipse_field<V, B, kErrf>(e, s, hu, hv);
  for (int j = 0; j < B; ++j) ring_frame<V>(e, s[j], hu[j], hv[j], gx[j], gy[j]);
  return inner;
}

// The same, round or elliptical as the encounter is.
template <class V, int B, ErrfMode kErrf>
bool field(const Encounter& e, const D<V> (&x)[B], const D<V> (&y)[B], D<V> (&gx)[B],
           D<V> (&gy)[B]) {
  return e.round ? field_of<V, B, kErrf, true>(e, x, y, gx, gy)
                 : field_of<V, B, kErrf, false>(e, x, y, gx, gy);
}

// kickvorn's angle changes from G: factor kick0 - factor G, the
// reference-orbit kick removed after scaling.
template <class V>
void angle_changes(const Encounter& e, D<V> gx, D<V> gy, D<V>& dxp, D<V>& dyp) {
  const D<V> f = V::set1(e.factor);
  dxp = V::set1(e.fk2) - f * gx;
  dyp = V::set1(e.fk1) - f * gy;
}

// The kick function of a wire at (xw, yw) felt at (x, y): the far field of a
// round bunch there, gx = u/r^2, gy = v/r^2 with u = x - xw, v = y - yw.
template <class V>
void wire_field_of(D<V> xw, D<V> yw, D<V> x, D<V> y, D<V>& gx, D<V>& gy) {
  const D<V> u = x - xw;
  const D<V> v = y - yw;
  const D<V> r2 = u * u + v * v;
  gx = u / r2;
  gy = v / r2;
}

// The kick of one wire: x' += fk2 - kw gx, y' += fk1 - kw gy.
template <class V>
void wire_kick(const WireKick& w, D<V> x, D<V> y, D<V>& xp, D<V>& yp) {
  D<V> gx, gy;
  wire_field_of<V>(V::set1(w.xw), V::set1(w.yw), x, y, gx, gy);
  xp = xp + (V::set1(w.fk2) - V::set1(w.kw) * gx);
  yp = yp + (V::set1(w.fk1) - V::set1(w.kw) * gy);
}

// The section's matrix, from the old values of all four coordinates.
template <class V>
void transport(const SectionMatrix& m, D<V>& x, D<V>& xp, D<V>& y, D<V>& yp) {
  const D<V> x0 = x, xp0 = xp, y0 = y, yp0 = yp;
  x = V::set1(m.r11) * x0 + V::set1(m.r12) * xp0;
  xp = V::set1(m.r21) * x0 + V::set1(m.r22) * xp0;
  y = V::set1(m.r33) * y0 + V::set1(m.r34) * yp0;
  yp = V::set1(m.r43) * y0 + V::set1(m.r44) * yp0;
}

}  // namespace
}  // namespace bbtrack
