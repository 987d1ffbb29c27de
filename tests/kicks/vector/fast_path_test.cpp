// The particle blocks of FastTurn against the scalar routines: after many
// turns every coordinate (and the reference-orbit cache) must be the same
// bit for bit, for every lane width the processor runs and any thread count.
#include "kicks/vector/fast_turn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "kicks/ring_states.h"
#include "kicks/transport.h"
#include "run/diagnostics.h"

namespace bbtrack {
namespace {

using testring::Encounter;
using testring::kSig;
using testring::Particle;

struct Variant {
  TurnPath path;
  int threads;
  std::string name() const {
    const char* p = path == TurnPath::avx512 ? "avx512" : path == TurnPath::avx2 ? "avx2" : "scalar";
    return std::string(p) + "/" + std::to_string(threads) + " threads";
  }
};

// Every block path this processor runs, in one thread and in several (two,
// and three for an uneven split).
std::vector<Variant> variants() {
  std::vector<Variant> v;
  if (FastTurn::supported(TurnPath::avx512)) {
    v.push_back({TurnPath::avx512, 1});
    v.push_back({TurnPath::avx512, 2});
  }
  if (FastTurn::supported(TurnPath::avx2)) {
    v.push_back({TurnPath::avx2, 1});
    v.push_back({TurnPath::avx2, 3});
  }
  return v;
}

// The same bits (signs of zero included), or NaN on both sides: the sign
// and payload of a NaN are not reproducible between two codings of the same
// arithmetic, because the compiler may rewrite fabs(x)*fabs(x) as x*x or
// swap the operands of a sum, which changes which NaN comes out (and NaN is
// not a result a run can produce from valid input).
bool same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

template <class A>
bool same_values(const A& a, const A& b) {
  for (int i = 0; i < A::kSize; ++i)
    if (!same(a.data()[i], b.data()[i])) return false;
  return true;
}

// First differing slot and coordinate, for the failure message.
std::string first_difference(const State& a, const State& b) {
  for (int m = 1; m <= 4; ++m)
    for (int i = 1; i <= kSlots; ++i) {
      const double x = a.coord.coord(i, m), y = b.coord.coord(i, m);
      if (!same(x, y))
        return "slot " + std::to_string(i) + " coordinate " + std::to_string(m) + ": " +
               std::to_string(x) + " vs " + std::to_string(y);
    }
  return "coordinates agree";
}

// Tracks a copy of `start` for `turns` turns by each path, with the loss
// check after every turn as the driver does, and compares the results with
// the scalar routines'.
void expect_identical(const State& start, int turns, const std::string& what) {
  auto ref = std::make_unique<State>(start);
  for (int i = 0; i < turns; ++i) {
    track_turn(*ref);
    overflow(*ref);
  }
  for (const Variant& v : variants()) {
    auto st = std::make_unique<State>(start);
    FastTurn turner(v.path, v.threads);
    ASSERT_EQ(turner.path(), v.path);
    for (int i = 0; i < turns; ++i) {
      turner.turn(*st);
      overflow(*st);
    }
    EXPECT_TRUE(same_values(st->coord.coord, ref->coord.coord))
        << what << ", " << v.name() << ": " << first_difference(*st, *ref);
    EXPECT_TRUE(same_values(st->qarkick.kick0, ref->qarkick.kick0)) << what << ", " << v.name();
    EXPECT_TRUE(std::memcmp(&st->qarind, &ref->qarind, sizeof(Qarind)) == 0) << what << ", " << v.name();
    EXPECT_EQ(st->np.npart, ref->np.npart) << what << ", " << v.name();
    EXPECT_EQ(st->np.nlost, ref->np.nlost) << what << ", " << v.name();
  }
}

TEST(FastPath, ProcessorHasBlockLanes) {
  // The comparisons below are empty without them: say so rather than pass.
  if (!FastTurn::supported(TurnPath::avx2)) GTEST_SKIP() << "no AVX2: only the scalar path runs";
  FastTurn best;
  EXPECT_NE(best.path(), TurnPath::scalar);
  EXPECT_NE(best.path(), TurnPath::best);
  EXPECT_GE(best.threads(), 1);
}

TEST(FastPath, OnlyScalarOneSelectsTheScalarRoutines) {
  EXPECT_EQ(turn_path_for("1"), TurnPath::scalar);
  EXPECT_EQ(turn_path_for(nullptr), TurnPath::best);
  for (const char* v : {"", "0", "yes", "10", " 1"}) EXPECT_EQ(turn_path_for(v), TurnPath::best) << v;
  EXPECT_EQ(FastTurn(TurnPath::scalar, 2).threads(), 1);
  EXPECT_EQ(FastTurn(TurnPath::scalar).lanes(), 1);
}

TEST(FastPath, BundledExample300Turns) {
  auto st = testring::example_state();
  ASSERT_EQ(st->np.npart, 169);
  expect_identical(*st, 300, "example");
}

TEST(FastPath, BundledExampleWithParticlesNearTheHeadOnCentre) {
  // Small amplitudes put most errf arguments of the head-on encounters in
  // the inner region, with a different step count in every lane.
  auto st = testring::example_state();
  const double sx = std::sqrt(st->twiss.betx * st->bb.emit);
  const double sy = std::sqrt(st->twiss.bety * st->bb.emit);
  testring::set_particles(*st, testring::spread(45, sx, sy, 3.0));
  expect_identical(*st, 200, "example, small amplitudes");
}

TEST(FastPath, InnerRegionRing200Turns) {
  // Half the errf arguments in the inner region, 10 to 31 steps each: the
  // lanes are filled in the order of their step counts.
  auto st = testring::example_state("bench/rings/inner");
  expect_identical(*st, 200, "inner-region ring");
}

TEST(FastPath, RoundBeams) {
  auto st = testring::ring([](int k) {
    const double ratio = k % 3 == 0 ? 1.0099 : 1.0;  // both still round
    return Encounter{kSig * ratio, kSig, k % 4 == 1 ? 7 * kSig : 0.0, k % 5 == 2 ? -5 * kSig : 0.0};
  });
  testring::set_particles(*st, testring::spread(37, kSig, kSig, 6.0));
  expect_identical(*st, 250, "round");
}

TEST(FastPath, EllipticalAndTurnedBeams) {
  auto st = testring::ring([](int k) {
    const double a = kSig, b = k % 2 ? kSig / 1.118 : kSig / 1.5;
    // Odd-numbered encounters are taller than wide: the quarter turn.
    return k % 4 < 2 ? Encounter{a, b, k % 3 ? 9 * kSig : 0.0, 0.0}
                     : Encounter{b, a, 0.0, k % 3 ? 0.0 : -8 * kSig};
  }, {3, 40, 3});
  testring::set_particles(*st, testring::spread(53, kSig, kSig / 1.2, 5.0));
  expect_identical(*st, 250, "elliptical");
}

TEST(FastPath, FlatBeams) {
  auto st = testring::ring([](int k) {
    return k % 2 ? Encounter{kSig, kSig / 20, 0.0, k % 3 ? 0.0 : 2 * kSig}
                 : Encounter{kSig / 20, kSig, k % 5 ? 0.0 : 3 * kSig, 0.0};
  });
  testring::set_particles(*st, testring::spread(29, kSig, kSig, 4.0));
  expect_identical(*st, 250, "flat");
}

TEST(FastPath, OnAxisParticlesStayExactlyOnAxis) {
  // Head-on everywhere: a particle with x = x' = 0 (or y = y' = 0) feels no
  // force across that axis and stays on it; one at the centre stays there.
  auto st = testring::ring([](int k) {
    return k % 2 ? Encounter{kSig, kSig / 1.3, 0.0, 0.0} : Encounter{kSig, kSig, 0.0, 0.0};
  });
  std::vector<Particle> p = {
      {0, 0, 0, 0},           {0, 0, kSig, 1e-6},     {2 * kSig, -1e-6, 0, 0}, {-0.0, -0.0, -0.0, -0.0},
      {0, 0, -3 * kSig, 0},   {-kSig, 2e-6, -0.0, 0}, {0.5 * kSig, 0, 0.2 * kSig, 0},
      {0, 0, 5.5 * kSig, 0}};
  testring::set_particles(*st, p);
  expect_identical(*st, 300, "on axis");
  auto fast = std::make_unique<State>(*st);
  FastTurn turner;
  for (int i = 0; i < 50; ++i) turner.turn(*fast);
  EXPECT_EQ(fast->coord.coord(1, 1), 0.0);
  EXPECT_EQ(fast->coord.coord(1, 4), 0.0);
  EXPECT_EQ(fast->coord.coord(2, 1), 0.0);
  EXPECT_EQ(fast->coord.coord(3, 3), 0.0);
  EXPECT_NE(fast->coord.coord(2, 3), 0.0);
}

TEST(FastPath, ParticlesAtTheOpposingCentre) {
  // Encounter 1 is long-range; particles start on its centre in one plane,
  // in the other or in both.
  const double x0 = 6 * kSig, y0 = -2 * kSig;
  auto st = testring::ring([&](int k) {
    return k == 1 ? Encounter{kSig, kSig / 1.25, x0, y0} : Encounter{kSig, kSig, 0.0, 0.0};
  });
  std::vector<Particle> p = {{x0, 0, y0, 0}, {x0, 1e-6, 0, 0}, {0, 0, y0, -1e-6}, {x0, 0, 3 * kSig, 0},
                             {-kSig, 0, y0, 0}};
  testring::set_particles(*st, p);
  expect_identical(*st, 1, "opposing centre, first turn");
  expect_identical(*st, 200, "opposing centre");
}

TEST(FastPath, EveryParticleCountAroundTheBlockSizes) {
  auto st = testring::ring([](int k) {
    return Encounter{kSig, kSig / 1.118, k % 2 ? 4 * kSig : 0.0, 0.0};
  });
  const auto all = testring::spread(40, kSig, kSig, 5.0);
  for (int n : {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 23, 24, 25, 31, 33, 40}) {
    testring::set_particles(*st, std::vector<Particle>(all.begin(), all.begin() + n));
    expect_identical(*st, 40, "npart " + std::to_string(n));
  }
}

TEST(FastPath, AllSlotsInUse) {
  auto st = testring::ring([](int k) { return Encounter{kSig, kSig / 1.118, k % 2 ? 4 * kSig : 0.0, 0.0}; });
  testring::set_particles(*st, testring::spread(kSlots, kSig, kSig, 6.0));
  expect_identical(*st, 30, "1001 particles");
}

TEST(FastPath, NoParticlesTouchesNothing) {
  auto st = testring::ring([](int) { return Encounter{kSig, kSig / 2, 0.0, 0.0}; });
  for (int m = 1; m <= 4; ++m) st->coord.coord(1, m) = 1e-5 * m;
  for (int n : {0, -2}) {
    st->np.npart = n;
    for (const Variant& v : variants()) {
      auto copy = std::make_unique<State>(*st);
      FastTurn turner(v.path, v.threads);
      turner.turn(*copy);
      EXPECT_TRUE(same_values(copy->coord.coord, st->coord.coord)) << v.name();
      for (int k = 1; k <= kSections; ++k) EXPECT_EQ(copy->qarind.kick0set(k), 0) << v.name();
    }
  }
}

TEST(FastPath, LossesCompactTheSlots) {
  auto st = testring::ring([](int k) { return Encounter{kSig, kSig / 1.118, k % 2 ? 5 * kSig : 0.0, 0.0}; });
  auto p = testring::spread(30, kSig, kSig, 4.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  p[2] = {2000.0, 0, 0, 0};       // beyond the limit at once
  p[5] = {800.0, 400.0, 0, 0};    // amplitude above the limit: lost after a few turns
  p[11] = {0, 0, -700.0, 300.0};
  p[17] = {nan, 0, 1e-5, 0};      // not a number is lost too
  p[29] = {1e-5, 0, 999.0, 0.0};  // last slot
  testring::set_particles(*st, p);
  auto probe = std::make_unique<State>(*st);
  for (int i = 0; i < 100; ++i) {
    track_turn(*probe);
    overflow(*probe);
  }
  ASSERT_GE(probe->np.nlost, 4);  // the test is about compaction: losses must happen
  expect_identical(*st, 100, "losses");
}

TEST(FastPath, OddEncountersTakeTheGeneralErrfPaths) {
  // A negative size makes rho negative, so errf gets arguments in the lower
  // half plane (exp, sine and cosine of the mapping); a zero size divides by
  // zero. Nothing physical, but the blocks must still agree bit for bit.
  auto st = testring::ring([](int k) {
    if (k == 4) return Encounter{kSig, -kSig / 2, kSig, 0.0};
    if (k == 9) return Encounter{-kSig, -2 * kSig, 0.0, kSig};
    if (k == 13) return Encounter{kSig, 0.0, 0.0, 0.0};
    return Encounter{kSig, kSig / 1.5, 0.0, 0.0};
  });
  testring::set_particles(*st, testring::spread(21, kSig, kSig, 4.0));
  expect_identical(*st, 5, "odd encounters");
}

TEST(FastPath, KickCacheIsFilledOnlyForKickingEncounters) {
  auto st = testring::ring([](int) { return Encounter{kSig, kSig / 1.5, 3 * kSig, kSig}; }, {7, 60});
  testring::set_particles(*st, testring::spread(9, kSig, kSig, 3.0));
  FastTurn turner;
  turner.turn(*st);
  for (int k = 1; k <= kSections; ++k)
    EXPECT_EQ(st->qarind.kick0set(k), k == 7 || k == 60 || k == 25 ? 0 : 1) << k;
  // A value already cached is used, not recomputed (as kickvorn does).
  auto a = std::make_unique<State>(*st);
  auto b = std::make_unique<State>(*st);
  a->qarkick.kick0(3, 2) = 1.0;
  b->qarkick.kick0(3, 2) = 1.0;
  turner.turn(*a);
  track_turn(*b);
  EXPECT_TRUE(same_values(a->coord.coord, b->coord.coord));
  EXPECT_EQ(a->qarkick.kick0(3, 2), 1.0);
}

}  // namespace
}  // namespace bbtrack
