#include "run/diagnostics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace bbtrack {
namespace {

std::unique_ptr<State> make_state(int npart) {
  auto st = std::make_unique<State>();
  st->np.npart = npart;
  st->twiss = {0.5, -0.25, 2.0, 3.0};
  st->bb.emit = 1e-9;
  for (int i = 1; i <= npart; ++i) {
    st->coord.coord(i, 1) = 0.001 * i;
    st->coord.coord(i, 2) = 10.0 + i;
    st->coord.coord(i, 3) = -0.002 * i;
    st->coord.coord(i, 4) = 20.0 + i;
  }
  return st;
}

TEST(Overflow, LimitIsInclusiveAndNanIsLost) {
  auto st = make_state(4);
  st->coord.coord(1, 1) = 1000.0;       // exactly at the limit: stays
  st->coord.coord(2, 3) = -1000.0001;   // beyond: lost
  st->coord.coord(3, 1) = std::numeric_limits<double>::quiet_NaN();
  st->coord.coord(4, 2) = 1e300;        // angles are not tested
  overflow(*st);
  EXPECT_EQ(st->np.npart, 2);
  EXPECT_EQ(st->np.nlost, 2);
  EXPECT_EQ(st->coord.coord(1, 1), 1000.0);
  EXPECT_EQ(st->coord.coord(2, 2), 1e300);
  EXPECT_EQ(st->coord.coord(2, 4), 24.0);
}

TEST(Overflow, CompactionKeepsOrderAndEverythingKeyedByParticle) {
  auto st = make_state(6);
  st->fmap.size_for(6, 3);
  for (int i = 1; i <= 6; ++i) {
    st->fp.fpidx(i, 1) = 10 + i;
    st->fp.fpidx(i, 2) = 20 + i;
    st->fp.owner(i) = i % 2;
    for (int s = 1; s <= 3; ++s) st->fmap(i, s, 1) = 100.0 * i + s;
  }
  st->coord.coord(3, 1) = 2000.0;   // lost in slot 3
  st->coord.coord(6, 3) = -5000.0;  // and in the last slot, same turn
  st->np.nlost = 7;
  overflow(*st);
  ASSERT_EQ(st->np.npart, 4);
  EXPECT_EQ(st->np.nlost, 9);
  const int survivors[4] = {1, 2, 4, 5};
  for (int j = 1; j <= 4; ++j) {
    const int p = survivors[j - 1];
    EXPECT_EQ(st->coord.coord(j, 1), 0.001 * p);
    EXPECT_EQ(st->coord.coord(j, 2), 10.0 + p);
    EXPECT_EQ(st->coord.coord(j, 3), -0.002 * p);
    EXPECT_EQ(st->coord.coord(j, 4), 20.0 + p);
    EXPECT_EQ(st->fp.fpidx(j, 1), 10 + p);
    EXPECT_EQ(st->fp.fpidx(j, 2), 20 + p);
    EXPECT_EQ(st->fp.owner(j), p % 2);
    for (int s = 1; s <= 3; ++s) EXPECT_EQ(st->fmap(j, s, 1), 100.0 * p + s);
  }
}

TEST(Overflow, NothingToDoWithoutParticles) {
  auto st = make_state(0);
  overflow(*st);
  EXPECT_EQ(st->np.npart, 0);
  EXPECT_EQ(st->np.nlost, 0);
}

TEST(Varwire, SpreadOfInvariants) {
  auto st = make_state(3);
  // Independent evaluation of the spread: invariants by hand.
  const double betx = 2.0, alfx = 0.5, bety = 3.0, alfy = -0.25;
  double wx[3], wy[3];
  for (int i = 0; i < 3; ++i) {
    const double x = 0.001 * (i + 1), xp = 11.0 + i, y = -0.002 * (i + 1), yp = 21.0 + i;
    wx[i] = x * x / betx + betx * (alfx * x / betx + xp) * (alfx * x / betx + xp);
    wy[i] = y * y / bety + bety * (alfy * y / bety + yp) * (alfy * y / bety + yp);
  }
  const double mx = (wx[0] + wx[1] + wx[2]) / 3.0;
  const double my = (wy[0] + wy[1] + wy[2]) / 3.0;
  const double sdx = std::sqrt(((wx[0] - mx) * (wx[0] - mx) + (wx[1] - mx) * (wx[1] - mx) +
                                (wx[2] - mx) * (wx[2] - mx)) / 3.0);
  const double sdy = std::sqrt(((wy[0] - my) * (wy[0] - my) + (wy[1] - my) * (wy[1] - my) +
                                (wy[2] - my) * (wy[2] - my)) / 3.0);
  double varx = -1, vary = -1;
  varwire(*st, varx, vary);
  EXPECT_NEAR(varx, sdx / 1e-9, 1e-6 * sdx / 1e-9);
  EXPECT_NEAR(vary, sdy / 1e-9, 1e-6 * sdy / 1e-9);
}

TEST(Varwire, EqualInvariantsAndNoParticles) {
  auto st = make_state(5);
  for (int i = 1; i <= 5; ++i) {
    // Invariants exact in binary, so that the spread is exactly zero.
    st->coord.coord(i, 1) = 0.0;
    st->coord.coord(i, 2) = 0.5;
    st->coord.coord(i, 3) = 0.0;
    st->coord.coord(i, 4) = -0.25;
  }
  double varx = -1, vary = -1;
  varwire(*st, varx, vary);
  EXPECT_EQ(varx, 0.0);
  EXPECT_EQ(vary, 0.0);
  st->np.npart = 0;
  varx = vary = -1;
  varwire(*st, varx, vary);
  EXPECT_EQ(varx, 0.0);  // not 0/0
  EXPECT_EQ(vary, 0.0);
}

TEST(Runav, ZeroBeforeTurn1000ThenMeanOfLast1000) {
  auto st = std::make_unique<State>();
  st->ave.ave.fill(123.0);  // cleared by the call of turn 1
  double avx = -1, avy = -1;
  for (int t = 1; t <= 1001; ++t) {
    runav(*st, t, 2.0 * t, avx, avy, t);
    if (t < 1000) {
      ASSERT_EQ(avx, 0.0) << t;
      ASSERT_EQ(avy, 0.0) << t;
    }
    if (t == 1000) {
      EXPECT_DOUBLE_EQ(avx, 500.5);  // mean of 1 .. 1000
      EXPECT_DOUBLE_EQ(avy, 1001.0);
    }
  }
  EXPECT_DOUBLE_EQ(avx, 501.5);  // mean of 2 .. 1001
  EXPECT_DOUBLE_EQ(avy, 1003.0);
}

}  // namespace
}  // namespace bbtrack
