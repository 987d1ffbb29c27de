// Format engine: parsing, the Iw / Fw.d / Ew.d fields and record assembly.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>

#include "textio/detail.h"
#include "textio/textio_fixture.h"

namespace textio {
namespace {

std::string I(std::int32_t v, int w) {
  std::string s;
  put_i(s, v, w);
  return s;
}
std::string F(double v, int w, int d) {
  std::string s;
  put_f(s, v, w, d);
  return s;
}
std::string E(double v, int w, int d) {
  std::string s;
  put_e(s, v, w, d);
  return s;
}
std::string fit(std::string t, int w) {
  if (static_cast<int>(t.size()) > w && (t.rfind("0.", 0) == 0 || t.rfind("-0.", 0) == 0))
    t.erase(t[0] == '-' ? 1 : 0, 1);
  if (static_cast<int>(t.size()) > w) return std::string(w, '*');
  return std::string(w - t.size(), ' ') + t;
}

// Independent references: the C library's correctly rounded expansion, then
// the field rounding in integer arithmetic.
std::string ref_e(double v, int w, int d) {
  if (v == 0) return fit("0." + std::string(d, '0') + "E+00", w);
  char b[64];
  std::snprintf(b, sizeof b, "%.16e", std::fabs(v));
  std::string digs = std::string(1, b[0]) + std::string(b + 2, 16);
  int k = std::atoi(b + 19) + 1;
  std::uint64_t pow = 1;
  for (int i = 0; i < d; ++i) pow *= 10;
  std::uint64_t m = d ? std::stoull(digs.substr(0, d)) : 0;
  if (digs[d] >= '5') ++m;
  if (m == pow) {
    m = pow / 10;
    ++k;
  }
  std::snprintf(b, sizeof b, "%0*" PRIu64, d, m);
  std::string t = std::string(std::signbit(v) ? "-" : "") + "0." + (d ? b : "");
  std::snprintf(b, sizeof b, std::abs(k) <= 99 ? "E%+03d" : "%+04d", k);
  return fit(t + b, w);
}

std::string ref_f(double v, int w, int d) {
  char b[64];
  std::snprintf(b, sizeof b, "%.15e", std::fabs(v));
  std::uint64_t n = std::stoull(std::string(1, b[0]) + std::string(b + 2, 15));
  int shift = std::atoi(b + 18) - 15 + d;  // value * 10^d = n * 10^shift
  std::string digits;
  if (v == 0) {
    digits = "0";
  } else if (shift >= 0) {
    digits = std::to_string(n) + std::string(shift, '0');
  } else if (-shift > 17) {
    digits = "0";
  } else {
    std::uint64_t p = 1;
    for (int i = 0; i < -shift; ++i) p *= 10;
    digits = std::to_string((n + p / 2) / p);
  }
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  if (digits.size() < static_cast<std::size_t>(d) + 1)
    digits.insert(0, d + 1 - digits.size(), '0');
  std::string ip = digits.substr(0, digits.size() - d);
  if (ip == "0") ip = "";
  if (static_cast<int>(ip.size()) > w - d - 1) return std::string(w, '*');
  std::string t = (std::signbit(v) && !zero ? "-" : "") + (ip.empty() ? "0" : ip) + "." +
                  digits.substr(digits.size() - d);
  return fit(t, w);
}

TEST(FormatFields, IntegerFields) {
  EXPECT_EQ(I(123456, 5), "*****");
  EXPECT_EQ(I(-100, 3), "***");
  EXPECT_EQ(I(-9, 2), "-9");
  EXPECT_EQ(I(0, 3), "  0");
  EXPECT_EQ(I(42, 6), "    42");
  EXPECT_EQ(I(std::numeric_limits<std::int32_t>::min(), 12), " -2147483648");
  EXPECT_EQ(I(std::numeric_limits<std::int32_t>::min(), 11), "-2147483648");
}

TEST(FormatFields, FixedPointFields) {
  EXPECT_EQ(F(1234.56785, 10, 4), " 1234.5679");  // double rounding
  EXPECT_EQ(F(3.14159265, 10, 4), "    3.1416");
  EXPECT_EQ(F(-0.5, 10, 4), "   -0.5000");
  EXPECT_EQ(F(12345.67891, 10, 4), "12345.6789");
  EXPECT_EQ(F(-12345.6, 10, 4), "**********");
  EXPECT_EQ(F(99999.99999, 10, 4), "**********");
  EXPECT_EQ(F(-0.00004, 10, 4), "    0.0000");
  EXPECT_EQ(F(-0.0, 10, 4), "    0.0000");
  EXPECT_EQ(F(0.00005, 10, 4), "    0.0001");
  EXPECT_EQ(F(-0.99999, 10, 4), "   -1.0000");
  EXPECT_EQ(F(-0.5, 6, 4), "-.5000");  // leading 0 dropped to fit
  EXPECT_EQ(F(0.5, 5, 4), "*****");  // no column left for the 0 before the point
  EXPECT_EQ(F(-0.5, 5, 4), "*****");
  EXPECT_EQ(F(1e20, 30, 2), "      100000000000000000000.00");
  EXPECT_EQ(F(1.0 / 3.0, 24, 20), "  0.33333333333333330000");
}

TEST(FormatFields, ExponentFields) {
  EXPECT_EQ(E(1.23, 10, 3), " 0.123E+01");
  EXPECT_EQ(E(-1.23, 10, 3), "-0.123E+01");
  EXPECT_EQ(E(123.456, 10, 4), "0.1235E+03");
  EXPECT_EQ(E(-123.456, 10, 4), "-.1235E+03");
  EXPECT_EQ(E(123.456, 12, 5), " 0.12346E+03");
  EXPECT_EQ(E(-123.456, 12, 5), "-0.12346E+03");
  EXPECT_EQ(E(1.23456789012, 18, 12), "0.123456789012E+01");
  EXPECT_EQ(E(-1.23456789012, 18, 12), "-.123456789012E+01");
  EXPECT_EQ(E(0.99996, 10, 4), "0.1000E+01");  // carry raises the exponent
  EXPECT_EQ(E(0.0, 10, 4), "0.0000E+00");
  EXPECT_EQ(E(-0.0, 10, 4), "0.0000E+00");
  EXPECT_EQ(E(1.0e-120, 10, 4), "0.1000-119");
  EXPECT_EQ(E(-1.0e-120, 10, 4), "-.1000-119");
  EXPECT_EQ(E(1.0e99, 10, 4), "0.1000+100");
  EXPECT_EQ(E(9.9999e98, 10, 3), " 0.100+100");
  EXPECT_EQ(E(0.1, 10, 4), "0.1000E+00");
  EXPECT_EQ(E(-1.0e-120, 9, 4), "*********");
  EXPECT_EQ(E(std::numeric_limits<double>::denorm_min(), 12, 5), " 0.49407-323");
  EXPECT_EQ(E(std::numeric_limits<double>::max(), 12, 5), " 0.17977+309");
  // Past the 17 digits of the expansion come zeros.
  EXPECT_EQ(E(0.1, 24, 19), ".1000000000000000100E+00");
}

TEST(FormatFields, NonFiniteValuesAreNeverAsterisks) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(E(inf, 10, 4), "       inf");
  EXPECT_EQ(E(-inf, 10, 4), "      -inf");
  EXPECT_EQ(F(nan, 10, 4), "       nan");
  EXPECT_EQ(F(-nan, 10, 4), "      -nan");
  EXPECT_EQ(E(-nan, 4, 1), "-nan");
}

TEST(FormatFields, AgreeWithIndependentReference) {
  std::mt19937_64 gen(20240611);
  std::uniform_real_distribution<double> mant(1.0, 10.0);
  std::uniform_int_distribution<int> expo(-40, 40);
  struct Desc { int w, d; } edescs[] = {{10, 3}, {10, 4}, {12, 5}, {18, 12}, {26, 16}};
  for (int n = 0; n < 20000; ++n) {
    double v = mant(gen) * std::pow(10.0, expo(gen));
    if (n % 2) v = -v;
    if (n % 7 == 0) v = std::round(v * 1e4) / 1e4 + 0.00005;  // near-ties of F10.4
    for (auto [w, d] : edescs) ASSERT_EQ(E(v, w, d), ref_e(v, w, d)) << v << " E" << w << "." << d;
    ASSERT_EQ(F(v, 10, 4), ref_f(v, 10, 4)) << v;
    ASSERT_EQ(F(v, 20, 8), ref_f(v, 20, 8)) << v;
  }
}

// Values at and next to the half-points of each field's rounding grid, where
// the double rounding decides, and subnormals.
TEST(FormatFields, HalfPointsAgreeWithIndependentReference) {
  std::mt19937_64 gen(99);
  std::uniform_int_distribution<int> expo(-30, 30);
  struct Desc { int w, d; } edescs[] = {{10, 3}, {10, 4}, {12, 5}, {18, 12}, {26, 14}};
  for (int n = 0; n < 4000; ++n) {
    for (auto [w, d] : edescs) {
      std::uniform_int_distribution<std::int64_t> mant(std::llround(std::pow(10, d - 1)),
                                                       std::llround(std::pow(10, d)) - 1);
      double t = (static_cast<double>(mant(gen)) + 0.5) * std::pow(10.0, expo(gen) - d);
      for (double v : {t, std::nextafter(t, 0.0), std::nextafter(t, 1e300), -t})
        ASSERT_EQ(E(v, w, d), ref_e(v, w, d)) << v << " E" << w << "." << d;
    }
    std::uniform_int_distribution<std::int64_t> fm(0, 999999999);
    double t = (static_cast<double>(fm(gen)) + 0.5) * 1e-4;
    for (double v : {t, std::nextafter(t, 0.0), std::nextafter(t, 1e300), -t})
      ASSERT_EQ(F(v, 16, 4), ref_f(v, 16, 4)) << v;
  }
  for (double v : {4.9e-324, 1.5e-323, 2.2e-308, 1.234e-310})
    for (auto [w, d] : edescs) ASSERT_EQ(E(v, w, d), ref_e(v, w, d)) << v;
}

TEST(FormatParse, ExpandsRepeatsAndGroups) {
  using K = Format::Op::Kind;
  Format f("(1X,I5,4(1X,E10.4))");
  ASSERT_EQ(f.ops().size(), 10u);
  EXPECT_EQ(f.ops()[0].kind, K::X);
  EXPECT_EQ(f.ops()[1].kind, K::I);
  EXPECT_EQ(f.ops()[1].w, 5);
  EXPECT_EQ(f.ops()[9].kind, K::E);
  EXPECT_EQ(f.ops()[9].w, 10);
  EXPECT_EQ(f.ops()[9].d, 4);
  EXPECT_EQ(f.reversion(), 2u);
  EXPECT_EQ(f.text(), "(1X,I5,4(1X,E10.4))");
  Format copy = f;
  EXPECT_EQ(copy.ops().size(), 10u);
  EXPECT_EQ(Format(" ( 2( 1x , i5 ) ,2(1X,e10.4) ) ").ops().size(), 8u);
  EXPECT_EQ(Format("(A80)").ops()[0].w, 80);
  EXPECT_EQ(Format("(A)").ops()[0].w, 0);
  for (const char* bad : {"", "I5", "(I5", "(I5))", "(I)", "(E10)", "(F10.)", "(Q5)", "(0I5)",
                          "(I5,)", "(())", "(I0)"})
    EXPECT_THROW(Format{bad}, std::invalid_argument) << bad;
}

// The program's formats are expanded while it is compiled, by the same
// parser as the run-time ones.
TEST(FormatParse, FixedFormatsExpandAsAtRunTime) {
  constexpr auto fixed = fixed_format<"(1X,3(1X,E10.4),1X,I2,1X,4(1X,e10.4))">;
  static_assert(fixed.ops.size() == 18 && fixed.reversion == 10);
  const Format f(fixed.text);
  ASSERT_EQ(f.ops().size(), fixed.ops.size());
  for (std::size_t i = 0; i < f.ops().size(); ++i) {
    EXPECT_EQ(f.ops()[i].kind, fixed.ops[i].kind) << i;
    EXPECT_EQ(f.ops()[i].w, fixed.ops[i].w) << i;
    EXPECT_EQ(f.ops()[i].d, fixed.ops[i].d) << i;
  }
  EXPECT_EQ(f.reversion(), fixed.reversion);
}

using FormattedWrite = testing::TextioTest;

TEST_F(FormattedWrite, RecordsOfTheSystemFormats) {
  io().write(6, Format("(I6,3(1X,E10.3),1X,I3,1X,I3)"), {1000, 1.5, -2.25e-3, 0.0, 7, -12});
  io().write(6, Format("(I3)"), {-100});
  io().write(6, Format("(1X,I5,4(1X,E10.4))"), {3, 1.0, -1.0, 123.456, -123.456});
  io().write(6, Format("(I5,9(1X,F10.4))"), {72, 0.5, -0.5, 1234.56785});  // items run out
  io().write(6, Format("(6(1X,E12.5))"), {1.0, 2.0});
  io().write(6, Format("(2X,I2,3X)"), {5});  // trailing X adds nothing
  io().write(6, Format("(1X,A,A5,A2)"), {"ab", "xyz", "long"});
  EXPECT_EQ(stdout_text(),
            "  1000  0.150E+01 -0.225E-02  0.000E+00   7 -12\n"
            "***\n"
            "     3 0.1000E+01 -.1000E+01 0.1235E+03 -.1235E+03\n"
            "   72     0.5000    -0.5000  1234.5679\n"
            "  0.10000E+01  0.20000E+01\n"
            "   5\n"
            " ab  xyzlo\n");
}

TEST_F(FormattedWrite, LeftoverItemsReuseTheLastGroup) {
  io().write(6, Format("(I2,2(1X,I1))"), {10, 1, 2, 3, 4, 5});
  EXPECT_EQ(stdout_text(), "10 1 2\n 3 4\n 5\n");
  EXPECT_THROW(io().write(6, Format("(I1)"), {1.5}), std::invalid_argument);
  EXPECT_THROW(io().write(6, Format("(1X)"), {1}), std::invalid_argument);
  io().write_record(6, "after");
  EXPECT_EQ(stdout_text(), "10 1 2\n 3 4\n 5\nafter\n");
}

}  // namespace
}  // namespace textio
