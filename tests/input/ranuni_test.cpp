#include "input/ranuni.h"

#include <gtest/gtest.h>

#include <cmath>

namespace bbtrack {
namespace {

TEST(Ranuni, KnownSequencesAndState) {
  std::int32_t seed = 12454643;
  double x[4];
  ranuni(seed, x, 4);
  const std::int32_t expect[4] = {28757070, 924378547, 239007298, 1376441947};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(x[i], std::ldexp(expect[i], -31)) << i;
  EXPECT_EQ(x[0], 0.013391054235398769);
  EXPECT_EQ(x[3], 0.64095572894439101);
  EXPECT_EQ(seed, 1376441947);

  seed = 1;
  double y[3];
  ranuni(seed, y, 3);
  EXPECT_EQ(y[0], 0.2425861251540482);
  EXPECT_EQ(y[1], 0.85303416382521391);
  EXPECT_EQ(y[2], 0.62707380345091224);
  EXPECT_EQ(seed, 1346630739);
}

TEST(Ranuni, OneCallEqualsManyAndZeroCountIsInert) {
  std::int32_t a = 12454643, b = 12454643;
  double many[50], one;
  ranuni(a, many, 50);
  for (int i = 0; i < 50; ++i) {
    ranuni(b, &one, 1);
    EXPECT_EQ(one, many[i]);
    EXPECT_GE(one, 0.0);
    EXPECT_LT(one, 1.0);
  }
  EXPECT_EQ(a, b);

  double untouched = -3.0;
  std::int32_t s = 77;
  ranuni(s, &untouched, 0);
  EXPECT_EQ(untouched, -3.0);
  EXPECT_EQ(s, 77);
}

}  // namespace
}  // namespace bbtrack
