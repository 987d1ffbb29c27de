#include "kicks/beam_beam_6d.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "kicks/bbkick.h"
#include "kicks/vector/lane_kernels.h"
#include "run/state.h"

namespace bbtrack {
namespace {

using Particle = std::array<double, 6>;  // x, px, y, py, z, delta

constexpr ErrfMode kModes[] = {ErrfMode::exact, ErrfMode::fast};

// An LHC-like head-on collision: 1.15e11 protons at gamma 7461 with the
// program's rounded rp, 16.7 um at beta* 0.55 m, 7.55 cm bunches.
constexpr double kSig = 16.7e-6, kBeta = 0.55, kSigz = 0.0755;
const double kFactor = std::sqrt(2.0 * 3.141592653589793) * 1.15e11 * 1.5e-18 / 7461.0;

Encounter6dSpec lhc_like(double phi, int slices) {
  return {kFactor, kSig, kSig, kBeta, kBeta, 0.0, 0.0, kSigz, slices, phi, false, 0.0, 0.0};
}

// The element on the particles, through the scalar path or a lane target.
void track(const Encounter6d& e, std::vector<Particle>& p, ErrfMode mode,
           const LaneKernels* lanes = nullptr) {
  const int n = static_cast<int>(p.size());
  std::vector<double> col[6];
  for (int m = 0; m < 6; ++m)
    for (const Particle& q : p) col[m].push_back(q[m]);
  const SixColumns c{col[0].data(), col[1].data(), col[2].data(),
                     col[3].data(), col[4].data(), col[5].data()};
  if (lanes != nullptr)
    lanes->encounter6d[static_cast<int>(mode)](e, c, n);
  else
    encounter6d(e, c, n, mode);
  for (int i = 0; i < n; ++i)
    for (int m = 0; m < 6; ++m) p[i][m] = col[m][i];
}

Particle track1(const Encounter6d& e, Particle p, ErrfMode mode) {
  std::vector<Particle> v{p};
  track(e, v, mode);
  return v[0];
}

TEST(Slices, CentroidsOfEqualChargeSlicesOfAGaussian) {
  EXPECT_EQ(slice_centroids(1), std::vector<double>{0.0});
  // Two halves: the mean of a half Gaussian, sqrt(2/pi).
  const auto two = slice_centroids(2);
  EXPECT_NEAR(two[0], std::sqrt(2.0 / 3.141592653589793), 1e-15);
  EXPECT_EQ(two[1], -two[0]);
  // Thirds: borders at -+0.4307272992954576 (tables of the normal
  // quantile), outer centroids 3 exp(-t^2/2)/sqrt(2 pi).
  const auto three = slice_centroids(3);
  const double t = 0.4307272992954576;
  EXPECT_NEAR(three[0], 3 * std::exp(-t * t / 2) / std::sqrt(2 * 3.141592653589793), 1e-14);
  EXPECT_EQ(three[1], 0.0);
  // Many: head first, antisymmetric; the centroids' variance is the
  // bunch's less the slices' own, just below 1.
  const auto c = slice_centroids(100);
  double sum2 = 0;
  for (int k = 0; k < 100; ++k) {
    EXPECT_EQ(c[k], -c[99 - k]);
    if (k > 0) {
      EXPECT_LT(c[k], c[k - 1]);
    }
    sum2 += c[k] * c[k];
  }
  EXPECT_GT(sum2 / 100, 0.97);
  EXPECT_LT(sum2 / 100, 1.0);
}

// Without crossing, one slice and z = delta = 0 the element is the
// four-dimensional kick (kickvorn) to the last bit, in both modes and on
// every lane target; x and y stay. With no strength and a crossing angle
// the boost and its inverse give the particle back within a few roundings.
TEST(Encounter6d, ReducesToTheFourDimensionalKick) {
  struct Case {
    double sigx, sigy, x0, y0;
  };
  const Case cases[] = {{kSig, kSig, 0, 0},
                        {2.0 * kSig, kSig, 0, 0},
                        {kSig, 3.0 * kSig, 0, 0},
                        {1.5 * kSig, kSig, -4e-5, 1.5e-5},
                        {kSig, 1.002 * kSig, 2e-6, -1e-6}};
  for (const Case& k : cases)
    for (const ErrfMode mode : kModes) {
      auto st = std::make_unique<State>();
      st->vorn.factor = kFactor;
      auto& b = st->bbcoord.bbcoord;
      b(1, 1) = k.sigx, b(1, 2) = k.sigy, b(1, 3) = k.x0, b(1, 4) = k.y0;
      Encounter6dSpec sp = lhc_like(0.0, 1);
      sp.sigx = k.sigx, sp.sigy = k.sigy, sp.x0 = k.x0, sp.y0 = k.y0, sp.betx = 0.3;
      const Encounter6d e = make_encounter6d(sp, mode);
      std::vector<Particle> p;
      for (int i = 0; i < 41; ++i)
        p.push_back({k.sigx * 5.5 * std::cos(0.7 * i) * (i % 7 + 1) / 7, 3e-5 * std::sin(i),
                     k.sigy * 5.5 * std::sin(0.7 * i) * (i % 5 + 1) / 5, -2e-5 * std::cos(i),
                     0.0, 0.0});
      for (const LaneTarget& l : lane_targets()) {
        if (!l.supported) continue;
        auto out = p;
        track(e, out, mode, l.kernels);
        for (std::size_t i = 0; i < p.size(); ++i) {
          double dxp, dyp;
          kickvorn(*st, p[i][0], p[i][2], dxp, dyp, 1, mode);
          EXPECT_EQ(out[i][1], p[i][1] + dxp) << l.name << " " << i;
          EXPECT_EQ(out[i][3], p[i][3] + dyp) << l.name << " " << i;
          EXPECT_EQ(out[i][0], p[i][0]);
          EXPECT_EQ(out[i][2], p[i][2]);
        }
      }
    }
  for (const bool plane_y : {false, true}) {
    Encounter6dSpec sp = lhc_like(150e-6, 5);
    sp.factor = 0.0, sp.plane_y = plane_y;
    const Encounter6d e = make_encounter6d(sp, ErrfMode::exact);
    const Particle p{3e-5, 2e-5, -4e-5, 1e-5, 0.1, 3e-4};
    const Particle out = track1(e, p, ErrfMode::exact);
    for (int m = 0; m < 6; ++m) EXPECT_NEAR(out[m], p[m], 4e-16 * std::fabs(p[m])) << m;
  }
}

// The 6x6 Jacobian by five-point differences, in coordinates scaled by a
// symplectic diagonal (pairs a, 1/a) so that all six have the beam's size.
using Matrix = std::array<std::array<double, 6>, 6>;
Matrix jacobian(const Encounter6d& e, const Particle& p, const Particle& step, ErrfMode mode) {
  Matrix j{};
  for (int c = 0; c < 6; ++c) {
    Particle at[4];
    const double k[4] = {2, 1, -1, -2};
    std::vector<Particle> v;
    for (int s = 0; s < 4; ++s) {
      at[s] = p;
      at[s][c] += k[s] * step[c];
      v.push_back(at[s]);
    }
    track(e, v, mode);
    for (int r = 0; r < 6; ++r)
      j[r][c] = (-v[0][r] + 8 * v[1][r] - 8 * v[2][r] + v[3][r]) / (12 * step[c]);
  }
  return j;
}

double determinant(Matrix a) {
  double det = 1;
  for (int c = 0; c < 6; ++c) {
    int piv = c;
    for (int r = c + 1; r < 6; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (piv != c) std::swap(a[piv], a[c]), det = -det;
    det *= a[c][c];
    for (int r = c + 1; r < 6; ++r) {
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < 6; ++k) a[r][k] -= f * a[c][k];
    }
  }
  return det;
}

// The element is symplectic: over a grid of particles within 6 sigma, with
// crossing angles 0 and 300 urad (full) and 1, 5 and 50 slices, its 6x6
// Jacobian has determinant 1 within 1e-10 and J^T Omega J = Omega within
// 1e-9 (scaled coordinates), for a round bunch (exact w) and a flat one
// with a different beta* in each plane (fast w: the exact one's step counts
// make it jump by its 1e-10 error, which differences cannot take).
TEST(Encounter6d, IsSymplectic) {
  double worst_det = 0, worst_form = 0;
  for (const bool flat : {false, true})
    for (const double phi : {0.0, 150e-6})
      for (const int slices : {1, 5, 50}) {
        Encounter6dSpec sp = lhc_like(phi, slices);
        if (flat) sp.sigx = 2 * kSig, sp.betx = 1.5, sp.alfx = 0.3, sp.y0 = 3e-6;
        const ErrfMode mode = flat ? ErrfMode::fast : ErrfMode::exact;
        const Encounter6d e = make_encounter6d(sp, mode);
        const double sx = sp.sigx, sy = sp.sigy, sxp = kSig / kBeta, sd = 1.1e-4;
        const double scale[6] = {std::sqrt(sx / sxp), std::sqrt(sxp / sx), std::sqrt(sy / sxp),
                                 std::sqrt(sxp / sy), std::sqrt(kSigz / sd), std::sqrt(sd / kSigz)};
        const Particle step{1e-3 * sx, 1e-3 * sxp, 1e-3 * sy, 1e-3 * sxp, 1e-3 * kSigz, 1e-3 * sd};
        for (const double ax : {-6.0, -2.5, 0.5, 4.0})
          for (const double ay : {-4.5, 1.5, 6.0})
            for (const double az : {-2.0, 0.3, 1.7}) {
              const Particle p{ax * sx, 0.7 * ay * sxp, ay * sy, -0.4 * ax * sxp, az * kSigz,
                               -0.8 * az * sd};
              Matrix j = jacobian(e, p, step, mode);
              for (int r = 0; r < 6; ++r)
                for (int c = 0; c < 6; ++c) j[r][c] *= scale[c] / scale[r];
              const double det = determinant(j);
              EXPECT_NEAR(det, 1.0, 1e-10) << flat << " " << phi << " " << slices;
              worst_det = std::fmax(worst_det, std::fabs(det - 1));
              // (J^T Omega J)_rc = sum over pairs k of J_2k,r J_2k+1,c - J_2k+1,r J_2k,c.
              for (int r = 0; r < 6; ++r)
                for (int c = 0; c < 6; ++c) {
                  double f = 0;
                  for (int k = 0; k < 6; k += 2) f += j[k][r] * j[k + 1][c] - j[k + 1][r] * j[k][c];
                  const double omega = (r % 2 == 0 && c == r + 1) ? 1 : (c % 2 == 0 && r == c + 1) ? -1 : 0;
                  EXPECT_NEAR(f, omega, 1e-9);
                  worst_form = std::fmax(worst_form, std::fabs(f - omega));
                }
            }
      }
  std::printf("[ 6d       ] |det J - 1| <= %.2g, |J^T Omega J - Omega| <= %.2g\n", worst_det,
              worst_form);
}

// The energy change of the two fields agrees where the field switches from
// round to elliptical (the sizes' ratio 1.01): their closed forms of the
// potential's derivative along the collision point are independent.
TEST(Encounter6d, EnergyKickOfBothFieldsMeetsAtTheRoundBorder) {
  double de[2];
  int i = 0;
  for (const double ratio : {1.0099, 1.0101}) {
    Encounter6dSpec sp = lhc_like(0.0, 1);
    sp.sigy = kSig / ratio, sp.bety = 0.4, sp.alfx = 0.5;
    const Encounter6d e = make_encounter6d(sp, ErrfMode::exact);
    // At z = sigma_z the collision is sigma_z/2 from the interaction point.
    const Particle out = track1(e, {0.8 * kSig, 0.0, -1.1 * kSig, 0.0, kSigz, 0.0}, ErrfMode::exact);
    de[i++] = out[5];
  }
  EXPECT_NE(de[0], 0.0);
  EXPECT_NEAR(de[1] / de[0], 1.0, 0.01);
}

// The Piwinski reduction: for a round bunch with beta* >> sigma_z cut into
// 50 slices, the small-amplitude tune shift (from the kick's slope at
// z = 0) relative to that of the head-on collision is
// 2/(sqrt(1+P^2)(1+sqrt(1+P^2))) in the crossing plane and 2/(1+sqrt(1+P^2))
// in the other, P = phi sigma_z/sigma_x, within 1 %, for either crossing
// plane.
TEST(Encounter6d, TuneShiftFollowsThePiwinskiReduction) {
  // The slope -d(p_out)/d(position) of plane m (0 x, 2 y) at the origin.
  auto slope = [](const Encounter6d& e, int m) {
    const double h = 1e-3 * kSig;
    Particle a{}, b{};
    a[m] = h, b[m] = -h;
    return -(track1(e, a, ErrfMode::exact)[m + 1] - track1(e, b, ErrfMode::exact)[m + 1]) / (2 * h);
  };
  double worst = 0;
  for (const bool plane_y : {false, true}) {
    Encounter6dSpec sp = lhc_like(0.0, 50);
    sp.betx = sp.bety = 1000.0;
    sp.plane_y = plane_y;
    const int cross = plane_y ? 2 : 0, other = plane_y ? 0 : 2;
    const Encounter6d head_on = make_encounter6d(sp, ErrfMode::exact);
    const double k0c = slope(head_on, cross), k0o = slope(head_on, other);
    for (const double piw : {0.5, 1.0, 2.0, 3.0}) {
      sp.phi = piw * kSig / kSigz;
      const Encounter6d e = make_encounter6d(sp, ErrfMode::exact);
      const double r = std::sqrt(1 + piw * piw);
      const double dc = slope(e, cross) / k0c / (2 / (r * (1 + r))) - 1;
      const double dother = slope(e, other) / k0o / (2 / (1 + r)) - 1;
      EXPECT_LT(std::fabs(dc), 0.01) << plane_y << " " << piw;
      EXPECT_LT(std::fabs(dother), 0.01) << plane_y << " " << piw;
      worst = std::fmax(worst, std::fmax(std::fabs(dc), std::fabs(dother)));
    }
  }
  std::printf("[ 6d       ] Piwinski factors met within %.2g relative\n", worst);
}

// Every lane target gives the scalar path's bits, in both modes, with the
// field round in some lanes and elliptical or turned in others (beta*
// differs between the planes) and a crossing in either plane.
TEST(Encounter6d, LanesGiveTheScalarBits) {
  for (const bool plane_y : {false, true})
    for (const ErrfMode mode : kModes) {
      Encounter6dSpec sp = lhc_like(150e-6, 7);
      sp.betx = 0.3, sp.alfy = -0.2, sp.x0 = 1e-6, sp.plane_y = plane_y;
      const Encounter6d e = make_encounter6d(sp, mode);
      std::vector<Particle> p;
      for (int i = 0; i < 37; ++i)
        p.push_back({kSig * 6 * std::cos(1.3 * i), 3e-5 * std::sin(0.4 * i),
                     kSig * 6 * std::sin(2.1 * i), 2e-5 * std::cos(0.9 * i),
                     kSigz * 2.5 * std::sin(0.37 * i), 2e-4 * std::cos(0.23 * i)});
      auto ref = p;
      track(e, ref, mode);
      for (const LaneTarget& l : lane_targets()) {
        if (!l.supported) continue;
        auto out = p;
        track(e, out, mode, l.kernels);
        for (std::size_t i = 0; i < p.size(); ++i)
          for (int m = 0; m < 6; ++m) EXPECT_EQ(out[i][m], ref[i][m]) << l.name << " " << i;
      }
    }
}

}  // namespace
}  // namespace bbtrack
