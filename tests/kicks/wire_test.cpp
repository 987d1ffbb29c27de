#include "kicks/wire.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>

#include "kicks/bbkick.h"

namespace bbtrack {
namespace {

constexpr double kGamma = 7460.52;
constexpr double kDnb = 1.15e11;
constexpr double kSig = 2.0e-4;  // m

struct Kick {
  double dxp, dyp;
};

// The kick of one wire on a particle at (x, y), through wirekicks.
Kick wire_kick(const WireKick& w, double x, double y) {
  auto st = std::make_unique<State>();
  set_wires(*st, &w, 1);
  st->np.npart = 1;
  st->coord.coord(1, 1) = x;
  st->coord.coord(1, 3) = y;
  wirekicks(*st, w.k);
  return {st->coord.coord(1, 2), st->coord.coord(1, 4)};
}

double rel(const Kick& a, const Kick& b) {
  return std::hypot(a.dxp - b.dxp, a.dyp - b.dyp) / std::hypot(b.dxp, b.dyp);
}

const double kDirections[][2] = {{1, 0}, {0.6, 0.8}, {0, 1}, {-0.28, 0.96},
                                 {-1, 0}, {-0.8, -0.6}, {0, -1}, {0.96, -0.28}};

TEST(Wire, BiotSavartKickAndTheFarFieldOfAnEquivalentRoundBunch) {
  const double pi = 4.0 * std::atan(1.0);
  // Biot-Savart: mu0 I l / (2 pi r Brho), Brho = 3.356 * 0.938 * gamma T m,
  // towards the wire for a positive current, less the same on the
  // reference orbit.
  const double xw = 3.0e-3, yw = -1.2e-3, current = 86.9, length = 1.7;
  const WireKick w = make_wire(7, xw, yw, current, length, kGamma, pi);
  const long double mu0 = 4 * (long double)pi * kWireMu0Scale;
  const long double c =
      mu0 * current * length / (2 * (long double)pi * kWireRigidity * kWireProtonMass * kGamma);
  auto bs = [&](long double x, long double y) {
    const long double u = x - xw, v = y - yw, r2 = u * u + v * v;
    return std::array<long double, 2>{-c * u / r2, -c * v / r2};
  };
  for (const auto& d : kDirections)
    for (double r : {0.1 * kSig, kSig, 30 * kSig}) {
      const double x = xw + r * d[0], y = yw + r * d[1];
      const auto at = bs(x, y), ref = bs(0, 0);
      const Kick want{static_cast<double>(at[0] - ref[0]), static_cast<double>(at[1] - ref[1])};
      EXPECT_LT(rel(wire_kick(w, x, y), want), 1e-13) << r << " " << d[0];
      // Attraction: the kick points towards the wire.
      const Kick near = wire_kick(w, x, y);
      if (r < kSig) {
        EXPECT_LT(near.dxp * d[0] + near.dyp * d[1], 0.0);
      }
    }

  // A bunch of population dnb at the wire, seen from 20 sigma: the wire with
  // the current whose strength is 2 rp dnb / gamma (the start-up's current
  // for one encounter) gives the same kick to 1e-12.
  auto st = std::make_unique<State>();
  st->bb.rp = 1.5e-18;
  st->vorn.factor = std::sqrt(2.0 * pi) * (kDnb * st->bb.rp) / kGamma;
  const double x0 = 25 * kSig, y0 = -10 * kSig;
  const int k = 12;
  st->bbcoord.bbcoord(k, 1) = kSig;
  st->bbcoord.bbcoord(k, 2) = kSig;
  st->bbcoord.bbcoord(k, 3) = x0;
  st->bbcoord.bbcoord(k, 4) = y0;
  const double i1 = 2.0 * st->bb.rp * kDnb * 2.0 * pi * kWireRigidity * kWireProtonMass /
                    (4.0 * pi * kWireMu0Scale * 1.0);
  const WireKick eq = make_wire(k, x0, y0, i1, 1.0, kGamma, pi);
  EXPECT_NEAR(eq.kw / (2.0 * st->bb.rp * kDnb / kGamma), 1.0, 1e-15);
  for (const auto& d : kDirections) {
    const double x = x0 + 20 * kSig * d[0], y = y0 + 20 * kSig * d[1];
    Kick bunch{};
    kickvorn(*st, x, y, bunch.dxp, bunch.dyp, k);
    EXPECT_LT(rel(wire_kick(eq, x, y), bunch), 1e-12) << d[0] << " " << d[1];
  }
}

TEST(Wire, AParticleOnTheWireGetsNotANumber) {
  const double pi = 4.0 * std::atan(1.0);
  for (const auto& pos : {std::array<double, 2>{1e-3, -2e-3}, std::array<double, 2>{0.0, 0.0}}) {
    const WireKick w = make_wire(1, pos[0], pos[1], -50.0, 1.0, kGamma, pi);
    // A wire on the reference orbit has no reference-orbit kick to remove.
    EXPECT_TRUE(std::isfinite(w.fk1) && std::isfinite(w.fk2));
    const Kick on = wire_kick(w, pos[0], pos[1]);
    EXPECT_TRUE(std::isnan(on.dxp) && std::isnan(on.dyp));
    const Kick off = wire_kick(w, pos[0] + kSig, pos[1]);
    EXPECT_TRUE(std::isfinite(off.dxp) && std::isfinite(off.dyp));
  }
}

}  // namespace
}  // namespace bbtrack
