// The fast error function mode on every path: errf_fast in register lanes
// against the scalar errf_fast bit for bit (arguments that pair every kind
// of value in neighbouring lanes), and FastTurn in that mode against
// track_turn in that mode, coordinates and kick cache bit for bit, for each
// lane width this processor runs and one and several threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "kicks/errf_fast.h"
#include "kicks/ring_states.h"
#include "kicks/transport.h"
#include "kicks/vector/lane_kernels.h"
#include "kicks/vector/fast_turn.h"
#include "run/diagnostics.h"

namespace bbtrack {
namespace {

using testring::Encounter;
using testring::kSig;

// The same bits, or NaN on both sides (see fast_path_test.cpp).
bool same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

TEST(ErrfFastPaths, LanesRoundAsTheScalarRoutine) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> v = {0.0,  1e-300, 5e-324, 0.01, 0.5,  1.0,  2.0,  3.0,  4.29,
                           5.33, 6.9,    7.0,    9.0,  40.0, 1e6,  1e10, 1e200, inf};
  // The borders of errf's regions and of the far form (both of its starts
  // and its counts), and the ulp below each.
  for (double b : {4.29, 5.33, std::sqrt(60.0), 10.0, 18.0})
    v.insert(v.end(), {b, std::nextafter(b, 0.0)});
  const std::size_t n0 = v.size();
  for (std::size_t i = 0; i < n0; ++i) v.push_back(-v[i]);
  std::vector<double> xs, ys;
  for (double a : v)
    for (double b : v) xs.push_back(a), ys.push_back(b);
  for (int i = 0; i < 3000; ++i) {  // a dense patch, every lane different
    xs.push_back(0.0037 * i);
    ys.push_back(0.0023 * ((i * 7) % 3000));
  }
  for (const LaneTarget& l : lane_targets()) {
    if (!l.supported) continue;
    for (double far2 : {errf_fast_detail::kFar2, errf_fast_detail::kFarLong2}) {
      const int n = static_cast<int>(xs.size());
      std::vector<double> wx(xs.size()), wy(xs.size());
      l.kernels->errf_fast_array(xs.data(), ys.data(), wx.data(), wy.data(), n, far2);
      int bad = 0;
      for (int i = 0; i < n && bad < 10; ++i) {
        double rx, ry;
        errf_fast(xs[i], ys[i], rx, ry, far2);
        const bool ok = same(rx, wx[i]) && same(ry, wy[i]);
        bad += !ok;
        EXPECT_TRUE(ok) << l.name << " from " << far2 << " (" << xs[i] << ", " << ys[i]
                        << "): (" << wx[i] << ", " << wy[i] << ") vs scalar (" << rx << ", "
                        << ry << ")";
      }
    }
  }
}

void expect_identical_in_fast_mode(const State& start, int turns, const std::string& what) {
  auto ref = std::make_unique<State>(start);
  for (int i = 0; i < turns; ++i) {
    track_turn(*ref, ErrfMode::fast);
    overflow(*ref);
  }
  // The mode changes the results, though only in the last digits.
  auto exact = std::make_unique<State>(start);
  for (int i = 0; i < turns; ++i) {
    track_turn(*exact);
    overflow(*exact);
  }
  EXPECT_NE(std::memcmp(&exact->coord, &ref->coord, sizeof(exact->coord)), 0) << what;
  EXPECT_NEAR(exact->coord.coord(1, 1), ref->coord.coord(1, 1), 1e-9 * kSig) << what;

  for (TurnPath path : {TurnPath::avx512, TurnPath::avx2}) {
    if (!FastTurn::supported(path)) continue;
    for (int threads : {1, 3}) {
      auto st = std::make_unique<State>(start);
      FastTurn turner(path, threads, ErrfMode::fast);
      ASSERT_EQ(turner.errf_mode(), ErrfMode::fast);
      for (int i = 0; i < turns; ++i) {
        turner.turn(*st);
        overflow(*st);
      }
      const std::string how = what + (path == TurnPath::avx512 ? ", avx512/" : ", avx2/") +
                              std::to_string(threads) + " threads";
      bool ok = st->np.npart == ref->np.npart;
      for (int m = 1; m <= 4; ++m)
        for (int i = 1; i <= kSlots; ++i) ok = ok && same(st->coord.coord(i, m), ref->coord.coord(i, m));
      for (int k = 1; k <= kSections; ++k)
        for (int c = 1; c <= 2; ++c)
          ok = ok && same(st->qarkick.kick0(k, c), ref->qarkick.kick0(k, c));
      EXPECT_TRUE(ok) << how;
    }
  }
}

TEST(ErrfFastPaths, BlocksAsTheScalarRoutinesInTheMode) {
  auto example = testring::example_state();
  expect_identical_in_fast_mode(*example, 200, "example");

  auto flat = testring::ring([](int k) {
    return k % 2 ? Encounter{kSig, kSig / 4, k % 3 ? 0.0 : 6 * kSig, 0.0}
                 : Encounter{kSig / 4, kSig, 0.0, k % 5 ? 0.0 : 3 * kSig};
  });
  testring::set_particles(*flat, testring::spread(37, kSig, kSig, 5.0));
  expect_identical_in_fast_mode(*flat, 200, "flat");
}

}  // namespace
}  // namespace bbtrack
