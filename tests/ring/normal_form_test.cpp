// The normal form of a coupled one-turn map: A is symplectic and turns the
// map into the rotations of its two modes, whose tunes lie on the side of
// 1/2 that the map's own rotation sense gives.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ring/normal_form.h"

namespace bbtrack {
namespace {

using M4 = double[4][4];

void multiply(const M4& a, const M4& b, M4& c) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      c[i][j] = 0.0;
      for (int l = 0; l < 4; ++l) c[i][j] += a[i][l] * b[l][j];
    }
}

TEST(NormalForm, CoupledMapBecomesTwoRotations) {
  const double pi = 4.0 * std::atan(1.0);
  for (const double q0 : {0.31, 0.69, 0.08, 0.93}) {
    // Rotations (beta 30 and 50 m, alpha 1.5 and -0.4) through q0, q0 + 0.05,
    // then a thin skew quadrupole and a tilted drift-like coupling.
    M4 r{}, k{}, m{};
    auto plane = [&](int p, double q, double b, double a) {
      const double c = std::cos(2 * pi * q), s = std::sin(2 * pi * q);
      r[p][p] = c + a * s;
      r[p][p + 1] = b * s;
      r[p + 1][p] = -(1 + a * a) / b * s;
      r[p + 1][p + 1] = c - a * s;
    };
    plane(0, q0, 30.0, 1.5);
    plane(2, q0 + 0.05, 50.0, -0.4);
    for (int i = 0; i < 4; ++i) k[i][i] = 1.0;
    k[1][2] = k[3][0] = 3e-3;
    multiply(r, k, m);
    NormalForm nf;
    std::string why;
    ASSERT_TRUE(normal_form(m, nf, why)) << why;
    EXPECT_TRUE(nf.coupled);
    EXPECT_NEAR(nf.q1, q0, 5e-3);
    EXPECT_NEAR(nf.q2, q0 + 0.05, 5e-3);
    // A^-1 M A is the rotation [[cos, sin], [-sin, cos]] of each mode, and
    // A^-1 A = 1.
    M4 t{}, u{}, one{};
    multiply(m, nf.a, t);
    multiply(nf.ainv, t, u);
    multiply(nf.ainv, nf.a, one);
    const double mu[2] = {2 * pi * nf.q1, 2 * pi * nf.q2};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        double want = 0.0;
        if (i / 2 == j / 2) {
          const double c = std::cos(mu[i / 2]), s = std::sin(mu[i / 2]);
          want = i == j ? c : (i % 2 == 0 ? s : -s);
        }
        EXPECT_NEAR(u[i][j], want, 1e-12) << q0 << " " << i << j;
        EXPECT_NEAR(one[i][j], i == j ? 1.0 : 0.0, 1e-12);
      }
    EXPECT_NEAR(nf.a[0][1], 0.0, 1e-15);  // the Courant-Snyder phase of mode 1
    EXPECT_NEAR(nf.a[2][3], 0.0, 1e-15);
  }
  // A map with |trace| > 2 in a plane is not stable.
  M4 m{};
  m[0][0] = 3.0, m[1][1] = 1.0 / 3.0;
  m[2][3] = 1.0, m[3][2] = -1.0;
  NormalForm nf;
  std::string why;
  EXPECT_FALSE(normal_form(m, nf, why));
  EXPECT_EQ(why, "mode 1 (horizontal) is unstable: its trace 2 cos mu = 3.33333, "
                 "|2 cos mu| >= 2");
}

}  // namespace
}  // namespace bbtrack
