// List-directed write: item texts and line breaking.
#include <cmath>
#include <limits>

#include "textio/textio_fixture.h"

namespace textio {
namespace {

std::string R(double v) {
  std::string s;
  put_list_real(s, v);
  return s;
}

TEST(ListItems, RealFormsByDecimalExponent) {
  EXPECT_EQ(R(0.1), "  0.1000000000000000     ");
  EXPECT_EQ(R(0.5), "  0.5000000000000000     ");
  EXPECT_EQ(R(5.0), "   5.000000000000000     ");
  EXPECT_EQ(R(-5.0), "  -5.000000000000000     ");
  EXPECT_EQ(R(0.05), "  5.0000000000000003E-002");
  EXPECT_EQ(R(1.0e-5), "  1.0000000000000001E-005");
  EXPECT_EQ(R(-1.0e-5), " -1.0000000000000001E-005");
  EXPECT_EQ(R(0.0), "  0.0000000000000000E+000");
  EXPECT_EQ(R(-0.0), "  0.0000000000000000E+000");
  EXPECT_EQ(R(1.0e16), "  1.0000000000000000E+016");  // k = 17
  EXPECT_EQ(R(9999999999999998.0), "   9999999999999998.     ");  // k = 16
  EXPECT_EQ(R(123.456), "   123.4560000000000     ");
  EXPECT_EQ(R(1.0e300), "  1.0000000000000001E+300");
  EXPECT_EQ(R(std::numeric_limits<double>::infinity()), std::string(22, ' ') + "inf");
  EXPECT_EQ(R(-std::numeric_limits<double>::quiet_NaN()), std::string(21, ' ') + "-nan");
  for (double v : {0.1, 3.0, 1e-300, -7.5e15, 2e16})
    EXPECT_EQ(R(v).size(), 25u) << v;
  std::string i;
  put_list_int(i, -42);
  EXPECT_EQ(i, "         -42");
}

using ListWrite = testing::TextioTest;

TEST_F(ListWrite, LineLayoutAndBreaking) {
  io().print(6, {" npart = ", 100});
  // One blank, the nine characters of the text, then I12.
  EXPECT_EQ(stdout_text(), "  npart =          100\n");

  // 1 + 5 + 25 + 25 = 56 columns; a third real would reach 81.
  io().print(6, {"abcde", 1.0, 2.0, 3.0});
  EXPECT_EQ(stdout_text(), "  npart =          100\n"
                           " abcde   1.000000000000000        2.000000000000000     \n"
                           "    3.000000000000000     \n");
}

TEST_F(ListWrite, BreaksAtEightyColumnsAndLongItemsStandAlone) {
  // 1 + 3 * 25 = 76; one more integer would make 88.
  io().print(6, {1.0, 1.0, 1.0, 7});
  // 1 + 66 + 12 = 79 fits; 1 + 67 + 12 = 80 does not.
  io().print(6, {std::string(66, 'a'), 1});
  io().print(6, {std::string(67, 'b'), 2});
  io().print(6, {std::string(90, 'c')});
  io().print(6, {});
  const std::string one = "   1.000000000000000     ";
  EXPECT_EQ(stdout_text(), " " + one + one + one + "\n" + "            7\n" +
                               " " + std::string(66, 'a') + "           1\n" +
                               " " + std::string(67, 'b') + "\n" + "            2\n" +
                               " " + std::string(90, 'c') + "\n" + " \n");
}

TEST_F(ListWrite, TrailingBlanksOfTextItemsAreKept) {
  io().print(6, {"x   ", "y"});
  EXPECT_EQ(stdout_text(), " x   y\n");
}

}  // namespace
}  // namespace textio
