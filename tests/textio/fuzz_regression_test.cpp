// Inputs found by the fuzz targets (fuzz/) that once went wrong, kept so
// that they stay right.
#include <string>

#include <gtest/gtest.h>

#include "textio/textio.h"

namespace textio {
namespace {

std::string F(double v, int w, int d) {
  std::string s;
  put_f(s, v, w, d);
  return s;
}

// The integer part of a magnitude below 1 is a single 0, and it counts as
// a digit of the integer part: a field with no room before the point
// (w = d + 1) is asterisks. The 0 is dropped only to make room for a sign.
TEST(FuzzRegression, FixedFieldWithoutRoomForTheIntegerDigit) {
  EXPECT_EQ(F(0.0, 1, 0), "*");  // found by fuzz_numfmt
  EXPECT_EQ(F(0.4, 1, 0), "*");
  EXPECT_EQ(F(0.04, 2, 1), "**");
  EXPECT_EQ(F(-0.0, 3, 2), "***");
  EXPECT_EQ(F(0.5, 5, 4), "*****");
  // One column more holds the 0, or the sign in its place.
  EXPECT_EQ(F(0.4, 2, 0), "0.");
  EXPECT_EQ(F(0.04, 3, 1), "0.0");
  EXPECT_EQ(F(-0.5, 6, 4), "-.5000");
  EXPECT_EQ(F(-0.00004, 6, 4), "0.0000");  // rounds to zero: no sign
  EXPECT_EQ(F(7.5, 2, 0), "8.");
}

}  // namespace
}  // namespace textio
