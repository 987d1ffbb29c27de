// List-directed read and the (A80) line read. Failures of these reads are
// covered as real processes in exit_test.cpp.
#include <cmath>

#include "textio/textio_fixture.h"

namespace textio {
namespace {

using ListRead = testing::TextioTest;

TEST_F(ListRead, RepeatsNullsAndNextReadOnFollowingLine) {
  set_stdin("3*1.5, ,2\n9 8\n");
  double a[5] = {0, 0, 0, -1, 0};
  io().read(5, {a[0], a[1], a[2], a[3], a[4]});
  EXPECT_EQ(a[0], 1.5);
  EXPECT_EQ(a[1], 1.5);
  EXPECT_EQ(a[2], 1.5);
  EXPECT_EQ(a[3], -1.0);
  EXPECT_EQ(a[4], 2.0);
  std::int32_t i = 0;
  io().read(5, {i});
  EXPECT_EQ(i, 9);  // the 8 of that line is discarded
}

TEST_F(ListRead, NumbersIntoIntegerAndRealItems) {
  set_stdin("7.9 -7.9 +12 1.5D2 -2.5e-3 .5 5. 3d0\n"
            "123456789012 1e-400 -1e-400 0.1\n");
  std::int32_t i1 = 0, i2 = 0, i3 = 0, i4 = 0;
  double d1 = 0, d2 = 0, d3 = 0, d4 = 0;
  io().read(5, {i1, i2, i3, i4, d1, d2, d3, d4});
  EXPECT_EQ(i1, 7);
  EXPECT_EQ(i2, -7);
  EXPECT_EQ(i3, 12);
  EXPECT_EQ(i4, 150);
  EXPECT_EQ(d1, -2.5e-3);
  EXPECT_EQ(d2, 0.5);
  EXPECT_EQ(d3, 5.0);
  EXPECT_EQ(d4, 3.0);
  double big = 0, tiny = 1, ntiny = 1, tenth = 0;
  io().read(5, {big, tiny, ntiny, tenth});
  EXPECT_EQ(big, 123456789012.0);
  EXPECT_EQ(tiny, 0.0);
  EXPECT_TRUE(std::signbit(ntiny) && ntiny == 0.0);
  EXPECT_EQ(tenth, 0.1);
}

TEST_F(ListRead, SeparatorsLineEndsAndSlash) {
  set_stdin("\n  \t 1,\t2 ,\r\n\n 3\r\n,,4\n5 / 6 7\n8,/\n99\n");
  std::int32_t v[4] = {0, 0, -1, 0};
  io().read(5, {v[0], v[1], v[2]});
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 3);
  v[0] = v[1] = -1;
  io().read(5, {v[0], v[1], v[2]});  // leading comma: null; ",," another null
  EXPECT_EQ(v[0], -1);
  EXPECT_EQ(v[1], -1);
  EXPECT_EQ(v[2], 4);
  v[1] = v[2] = -1;
  io().read(5, {v[0], v[1], v[2]});
  EXPECT_EQ(v[0], 5);
  EXPECT_EQ(v[1], -1);
  io().read(5, {v[0], v[1]});
  EXPECT_EQ(v[0], 8);
  EXPECT_EQ(v[1], -1);
  io().read(5, {});  // skips the line with 99
  EXPECT_FALSE(io().read_or_eof(5, {v[0]}));
}

TEST_F(ListRead, RepeatedNullsAndLastLineWithoutLineEnd) {
  set_stdin("2* 4 2*7\n10 20");
  std::int32_t v[5] = {-1, -1, 0, 0, 0};
  io().read(5, {v[0], v[1], v[2], v[3], v[4]});
  EXPECT_EQ(v[0], -1);
  EXPECT_EQ(v[1], -1);
  EXPECT_EQ(v[2], 4);
  EXPECT_EQ(v[3], 7);
  EXPECT_EQ(v[4], 7);
  std::int32_t a = 0, b = 0, c = -5;
  EXPECT_FALSE(io().read_or_eof(5, {a, b, c}));  // a, b read, then end of file
  EXPECT_EQ(a, 10);
  EXPECT_EQ(b, 20);
  EXPECT_EQ(c, -5);
}

TEST_F(ListRead, CharacterItems) {
  set_stdin("'it''s' \"a \"\"q\"\"\" word,x/y 'abcdef'\n"
            "'over\r\nlines' 2*zz\n");
  std::string s1, s2, s3, s4, s5, s6;
  io().read(5, {Target(s1, 6), Target(s2, 8), Target(s3, 3), Target(s4, 3), Target(s5, 3)});
  EXPECT_EQ(s1, "it's  ");
  EXPECT_EQ(s2, "a \"q\"   ");
  EXPECT_EQ(s3, "wor");
  EXPECT_EQ(s4, "x  ");
  EXPECT_EQ(s5, "");  // the slash ended the read
  io().read(5, {Target(s1, 10), Target(s2, 2), Target(s3, 3)});
  EXPECT_EQ(s1, "overlines ");
  EXPECT_EQ(s2, "zz");
  EXPECT_EQ(s3, "zz ");
}

TEST_F(ListRead, EndOfFileBranchKeepsItems) {
  put_file("excluded.dat", "");
  io().open(24, "excluded.dat");
  std::int32_t k = 3;
  EXPECT_FALSE(io().read_or_eof(24, {k}));
  EXPECT_EQ(k, 3);
  io().close(24);
  put_file("list.dat", "5\n\n\n");
  io().open(24, "list.dat");
  EXPECT_TRUE(io().read_or_eof(24, {k}));
  EXPECT_EQ(k, 5);
  EXPECT_FALSE(io().read_or_eof(24, {k}));  // empty lines are passed over
  EXPECT_EQ(k, 5);
}

TEST_F(ListRead, LinesOfEightyColumns) {
  std::string longline(100, 'x');
  longline[79] = 'y';
  set_stdin("\ntitle\r\n" + longline + "\nlast");
  std::string line;
  io().read_line(5, line);
  EXPECT_EQ(line, std::string(80, ' '));
  io().read_line(5, line);
  EXPECT_EQ(line, "title\r" + std::string(74, ' '));
  io().read_line(5, line);
  EXPECT_EQ(line, longline.substr(0, 80));
  io().read_line(5, line);
  EXPECT_EQ(line, "last" + std::string(76, ' '));
}

TEST_F(ListRead, MixedLineAndListReads) {
  put_file("diff.input", "comment line\n 1 2\n2.5\n");
  io().open(21, "diff.input");
  std::string title;
  std::int32_t a = 0, b = 0;
  double c = 0;
  io().read_line(21, title);
  io().read(21, {a, b});
  io().read(21, {c});
  EXPECT_EQ(title.substr(0, 12), "comment line");
  EXPECT_EQ(a + b, 3);
  EXPECT_EQ(c, 2.5);
}

}  // namespace
}  // namespace textio
