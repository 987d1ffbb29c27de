// The factorisation lists and the digit-reversal permutation on their own,
// so that a fault shows where it is rather than as a wrong spectrum.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "spectral/fft_steps.h"
#include "spectral/dft_reference.h"

namespace bbtrack {
namespace {

using List = std::vector<std::int32_t>;

List until_zero(const std::array<std::int32_t, kNest + 1>& a) {
  List out;
  for (std::int32_t v : a) {
    if (v == 0) break;
    out.push_back(v);
  }
  return out;
}

C06EAFactors factorise(std::int32_t n) {
  C06EAFactors f;
  std::int32_t ierror = -1;
  C06EAZ(n, f, ierror);
  EXPECT_EQ(ierror, 0) << "n = " << n;
  return f;
}

TEST(C06EAZ, ListsOfTypicalLengths) {
  struct Case {
    std::int32_t n;
    List pass, sym, sqfree;
    std::int32_t sqprod;
  };
  const Case cases[] = {
      {4, {1, 4}, {2, 2}, {}, 2},
      {12, {2, 3, 2}, {2, 3, 2}, {}, 2},
      {72, {3, 1, 1, 8, 3}, {3, 2, 2, 2, 3}, {}, 6},
      {1000, {5, 1, 4, 5, 2, 5}, {5, 2, 10, 2, 5}, {2, 5}, 10},
      {1024, {1, 1, 8, 1, 1, 8, 1, 1, 8, 2}, List(10, 2), {}, 32},
      {4199, {13, 17, 19}, {4199}, {13, 17, 19}, 1},
      {1 << 20,
       {1, 1, 8, 1, 1, 8, 1, 1, 8, 1, 1, 8, 1, 1, 8, 1, 1, 8, 1, 4},
       List(20, 2),
       {},
       1024},
  };
  for (const Case& c : cases) {
    const C06EAFactors f = factorise(c.n);
    EXPECT_EQ(until_zero(f.pass), c.pass) << "n = " << c.n;
    EXPECT_EQ(until_zero(f.sym), c.sym) << "n = " << c.n;
    EXPECT_EQ(until_zero(f.sqfree), c.sqfree) << "n = " << c.n;
    EXPECT_EQ(f.sqprod, c.sqprod) << "n = " << c.n;
  }
}

// The first limit the ascending search meets decides the code.
TEST(C06EAZ, LimitsOnFactorsAndTheirNumber) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {23, 1},
      {9699690 * 23, 1},    // 2*3*...*19, then 23
      {(1 << 20) * 23, 1},  // twenty 2s fit, then 23
      {(1 << 21) * 23, 2},  // the 21st factor comes before 23
      {2048 * 59049, 2},    // 2^11 * 3^10
      {1024 * 59049, 0},    // 2^10 * 3^10
      {1162261467, 0},      // 3^19
      {9699690, 0},
  };
  for (auto [n, code] : cases) {
    C06EAFactors f;
    std::int32_t ierror = -1;
    C06EAZ(n, f, ierror);
    EXPECT_EQ(ierror, code) << "n = " << n;
  }
}

// Pass factors before the 2s are grouped, worked out here from the rule:
// square factors descending, single factors ascending, squares ascending.
List ungrouped_factors(std::int32_t n) {
  List sq, un;
  for (std::int32_t t = 2; n > 1; ++t) {
    while (n % t == 0) {
      n /= t;
      if (n % t == 0) {
        n /= t;
        sq.push_back(t);
      } else {
        un.push_back(t);
      }
    }
  }
  List f(sq.rbegin(), sq.rend());
  f.insert(f.end(), un.begin(), un.end());
  f.insert(f.end(), sq.begin(), sq.end());
  return f;
}

TEST(C06EAY, MovesEveryElementToItsDigitReversedPosition) {
  std::vector<std::int32_t> lengths;
  for (std::int32_t n = 2; n <= 300; ++n) {
    if (testing::accepted_length(n)) lengths.push_back(n);
  }
  for (std::int32_t n : {1000, 1024, 2310, 4096, 4199, 30030, 17 * 17 * 19 * 2}) {
    lengths.push_back(n);
  }
  for (std::int32_t n : lengths) {
    const List f = ungrouped_factors(n);
    std::vector<double> x(static_cast<std::size_t>(n));
    std::iota(x.begin(), x.end(), 0.0);
    C06EAY(x.data(), n, factorise(n));
    // Position q_1 + f_1*(q_2 + ...) must hold q_r + f_r*(q_(r-1) + ...).
    for (std::int32_t pos = 0; pos < n; ++pos) {
      std::int32_t rest = pos, src = 0;
      for (std::int32_t base : f) {
        src = src * base + rest % base;
        rest /= base;
      }
      ASSERT_EQ(x[static_cast<std::size_t>(pos)], src) << "n = " << n << ", position " << pos;
    }
  }
}

}  // namespace
}  // namespace bbtrack
