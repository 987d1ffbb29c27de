// Every input file spoilt in each of the ways a file gets spoilt: missing,
// empty, cut short, a letter, a quoted string, a huge exponent or a too big
// INTEGER in a numeric field, CR-LF line ends, very long lines, a NUL byte.
// The run either completes normally or ends with status 1 and the exact
// three-line message, and everything written before the error is still in
// its file (compared with the reference model: standard output, standard
// error and every file). Runs are a couple of turns long.
//
// Also: a failing write to unit 20 (the host-error form of the message), and
// optics that make no sense, which run to the end with their not-a-number
// particles counted as lost.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <regex>
#include <set>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

// ---- the base input set: two encounters kept, two turns, triplets read

constexpr int kTurns = 2;

DiffInput base_diff() {
  return DiffInput().set(kNtrack, std::to_string(kTurns)).set(kItrip, "1");
}

Inputs base_inputs() {
  return {{"diff.input", base_diff().text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", uniform_sigmas(0.2, 0.17, 0.9, -0.4)},
          {"excluded.dat", exclude_all_but({1, 30})},
          {"multdist.dat", multdist(0.1, 1.0)}};
}

int unit_of(const std::string& file) {
  if (file == "diff.input") return 440;
  if (file == "Matrices.dat") return 450;
  if (file == "Sigmas.dat") return 460;
  if (file == "excluded.dat") return 470;
  return 25;  // multdist.dat
}

// Lines of "diff.input" read with (A80); all others are list-directed.
bool is_skip_line(int line) {
  static const std::set<int> values = {kAmp,    kIopt,  kItrip,      kIchoice,   kNtrack,
                                       kNpart,  kXTunes, kYTunes,    kCircumference, kDnb,
                                       kSpacing, kBetastar, kEmitn,  kGamma,     kXi,
                                       kSstar,  kDivstar, kThetac,   kNpar,      kDpxm,
                                       kFxFy,   kIwire, kWireErrors, kDisterr,   kIwswitch,
                                       kWcurrent, kWdist};
  return !values.count(line);
}

const char* error_text(int code) {
  switch (code) {
    case 217: return "attempt to read past end of file";
    case 225: return "lexical error-- unknown token type";
    case 231: return "error on data conversion";
  }
  return "?";
}

// ---- text surgery

std::string join(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

std::string first_lines(const std::string& text, int n) {
  auto lines = split_lines(text);
  lines.resize(static_cast<std::size_t>(n));
  return join(lines);
}

std::string with_line(const std::string& text, int line, const std::string& content) {
  auto lines = split_lines(text);
  lines.at(static_cast<std::size_t>(line - 1)) = content;
  return join(lines);
}

// Replaces the field-th blank-separated field (1-based) of a line.
std::string with_field(const std::string& text, int line, int field, const std::string& value) {
  auto lines = split_lines(text);
  std::string& l = lines.at(static_cast<std::size_t>(line - 1));
  std::size_t at = 0;
  for (int f = 1;; ++f) {
    at = l.find_first_not_of(' ', at);
    std::size_t end = l.find(' ', at);
    if (end == std::string::npos) end = l.size();
    if (f == field) {
      l.replace(at, end - at, value);
      break;
    }
    at = end;
  }
  return join(lines);
}

std::string crlf(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c == '\n') s += '\r';
    s += c;
  }
  return s;
}

std::string without_final_line_end(const std::string& text) {
  return text.substr(0, text.size() - 1);
}

// ---- the cases

struct Case {
  std::string name;
  std::string file;
  std::function<std::string(const std::string&)> spoil;  // new content of the file
  bool remove = false;          // the file is missing
  int code = 0;                 // 0: the run completes normally
  std::string kind = "list-directed read";
  int record = 0;
  bool same_as_base = false;    // results as with the unspoilt inputs
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

Case completes(std::string name, std::string file,
               std::function<std::string(const std::string&)> f, bool same = false) {
  Case c{std::move(name), std::move(file), std::move(f)};
  c.same_as_base = same;
  return c;
}

Case fails(std::string name, std::string file, std::function<std::string(const std::string&)> f,
           int code, int record, std::string kind = "list-directed read") {
  Case c{std::move(name), std::move(file), std::move(f)};
  c.code = code;
  c.record = record;
  c.kind = std::move(kind);
  return c;
}

std::vector<Case> cases() {
  std::vector<Case> v;
  const std::string big(100 * 1000, ' ');
  const std::string long_digits = "1" + std::string(100 * 1000, '0');
  const std::string long_tiny = "0." + std::string(100 * 1000, '0') + "1";
  using S = const std::string&;

  // Missing and empty files: created empty by the open, first read fails.
  // "excluded.dat" has an end-of-file branch: the list is simply empty.
  for (const char* f : {"diff.input", "Matrices.dat", "Sigmas.dat", "excluded.dat",
                        "multdist.dat"}) {
    const std::string file = f;
    const std::string id = file.substr(0, file.find('.'));
    const bool is_diff = file == "diff.input";
    Case missing = std::string(f) == "excluded.dat"
                       ? completes(id + "_missing", file, nullptr)
                       : fails(id + "_missing", file, nullptr, 217, 1,
                               is_diff ? "formatted read" : "list-directed read");
    missing.remove = true;
    v.push_back(missing);
    Case empty = missing;
    empty.name = id + "_empty";
    empty.remove = false;
    empty.spoil = [](S) { return std::string(); };
    v.push_back(empty);
    // A last line without its line end is still a line.
    v.push_back(completes(id + "_no_final_line_end", file, without_final_line_end, true));
    v.push_back(completes(id + "_crlf_line_ends", file, crlf, true));
  }

  // ---- "diff.input": 51 positional lines
  const std::string d = "diff.input";
  for (int keep : {1, 2, 4, 14, 15, 29, 41, 42, 46, 47, 50}) {
    const int next = keep + 1;
    v.push_back(fails("diff_cut_after_" + std::to_string(keep), d,
                      [keep](S t) { return first_lines(t, keep); }, 217, next,
                      is_skip_line(next) ? "formatted read" : "list-directed read"));
  }
  // The x tunes need two values; the last line holds one and no line end.
  v.push_back(fails("diff_cut_inside_a_read", d,
                    [](S t) { return first_lines(t, kXTunes - 1) + "64.31"; }, 217, kXTunes + 1));
  v.push_back(fails("diff_letter_in_integer", d, [](S t) { return with_line(t, kIopt, "x"); },
                    225, kIopt));
  v.push_back(fails("diff_word_in_real", d, [](S t) { return with_line(t, kGamma, "abc"); },
                    225, kGamma));
  v.push_back(fails("diff_nan_is_not_a_number", d,
                    [](S t) { return with_line(t, kEmitn, "nan"); }, 225, kEmitn));
  v.push_back(fails("diff_letter_as_second_value", d,
                    [](S t) { return with_line(t, kYTunes, "59.32 y"); }, 225, kYTunes));
  v.push_back(fails("diff_quoted_integer", d, [](S t) { return with_line(t, kNtrack, "'2'"); },
                    231, kNtrack));
  v.push_back(fails("diff_quoted_real", d,
                    [](S t) { return with_line(t, kWdist, "9.5 \"1000.0\" 1000.0"); }, 231,
                    kWdist));
  v.push_back(fails("diff_huge_exponent_real", d,
                    [](S t) { return with_line(t, kDnb, "1e999"); }, 231, kDnb));
  v.push_back(fails("diff_huge_exponent_integer", d,
                    [](S t) { return with_line(t, kIopt, "1e999"); }, 231, kIopt));
  v.push_back(fails("diff_integer_overflow", d,
                    [](S t) { return with_line(t, kNtrack, "2147483648"); }, 231, kNtrack));
  v.push_back(fails("diff_integer_underflow", d,
                    [](S t) { return with_line(t, kItrip, "-2147483649"); }, 231, kItrip));
  v.push_back(fails("diff_real_too_big_for_integer", d,
                    [](S t) { return with_line(t, kNpar, "3.0e10"); }, 231, kNpar));
  v.push_back(fails("diff_long_digit_string_integer", d,
                    [=](S t) { return with_line(t, kNpart, long_digits); }, 231, kNpart));
  v.push_back(fails("diff_long_digit_string_real", d,
                    [=](S t) { return with_line(t, kCircumference, long_digits); }, 231,
                    kCircumference));
  v.push_back(fails("diff_nul_in_integer", d,
                    [](S t) { return with_line(t, kIopt, std::string("0\0", 2)); }, 225, kIopt));
  v.push_back(fails("diff_nul_alone", d,
                    [](S t) { return with_line(t, kIwire, std::string(1, '\0')); }, 225,
                    kIwire));
  v.push_back(completes("diff_smallest_integer", d,
                        [](S t) { return with_line(t, kIchoice, "-2147483648"); }));
  v.push_back(completes("diff_tiny_exponent_is_zero", d,
                        [](S t) { return with_line(t, kThetac, "1e-999"); }));
  v.push_back(completes("diff_long_tiny_digit_string", d,
                        [=](S t) { return with_line(t, kXi, long_tiny); }));
  v.push_back(completes("diff_nul_in_title", d,
                        [](S t) { return with_line(t, 1, std::string("ti\0tle", 6)); }, true));
  v.push_back(completes("diff_long_title", d,
                        [=](S t) { return with_line(t, 1, "T" + big + "T"); }, true));
  v.push_back(completes("diff_long_trailing_comment", d,
                        [=](S t) { return with_line(t, kAmp, "6.0" + big + "comment"); }, true));
  v.push_back(completes("diff_long_leading_blanks", d,
                        [=](S t) { return with_line(t, kGamma, big + "7460.52"); }, true));
  v.push_back(completes("diff_carriage_return_between_values", d,
                        [](S t) { return with_line(t, kXTunes, "64.31\r0.31"); }, true));

  // ---- "Matrices.dat": 73 blocks of a name line and six rows
  const std::string m = "Matrices.dat";
  for (int keep : {1, 7, 250, 510}) {
    v.push_back(fails("matrices_cut_after_" + std::to_string(keep), m,
                      [keep](S t) { return first_lines(t, keep); }, 217, keep + 1));
  }
  v.push_back(fails("matrices_cut_inside_last_row", m,
                    [](S t) {
                      auto l = split_lines(t);
                      std::string last = l.back().substr(0, l.back().size() / 2);
                      last = last.substr(0, last.rfind(' '));
                      l.pop_back();
                      return join(l) + last;
                    },
                    217, 512));
  v.push_back(fails("matrices_letter", m, [](S t) { return with_field(t, 66, 2, "x1"); }, 225,
                    66));
  v.push_back(fails("matrices_quoted", m, [](S t) { return with_field(t, 3, 1, "'1.0'"); }, 231,
                    3));
  v.push_back(fails("matrices_huge_exponent", m,
                    [](S t) { return with_field(t, 300, 4, "-1.0e999"); }, 231, 300));
  v.push_back(fails("matrices_nul", m,
                    [](S t) { return with_field(t, 9, 6, std::string("0\0", 2)); }, 225, 9));
  v.push_back(completes("matrices_name_with_nul", m,
                        [](S t) { return with_line(t, 8, std::string("SE\0C2", 5)); }, true));
  v.push_back(completes("matrices_long_name", m,
                        [=](S t) { return with_line(t, 15, "N" + big); }, true));
  v.push_back(completes("matrices_quoted_name", m,
                        [](S t) { return with_line(t, 1, "'first, \"section\"' rest"); }, true));
  v.push_back(completes("matrices_long_row", m,
                        [=](S t) {
                          auto l = split_lines(t);
                          l[1] = big + l[1] + big;
                          return join(l);
                        },
                        true));

  // ---- "Sigmas.dat": 72 lines of an INTEGER and four REAL*8
  const std::string s = "Sigmas.dat";
  for (int keep : {1, 24, 25, 71}) {
    v.push_back(fails("sigmas_cut_after_" + std::to_string(keep), s,
                      [keep](S t) { return first_lines(t, keep); }, 217, keep + 1));
  }
  v.push_back(fails("sigmas_letter", s, [](S t) { return with_field(t, 30, 2, "s"); }, 225, 30));
  v.push_back(fails("sigmas_nan_size", s, [](S t) { return with_field(t, 3, 2, "nan"); }, 225,
                    3));
  v.push_back(fails("sigmas_inf_offset", s, [](S t) { return with_field(t, 4, 4, "-inf"); },
                    225, 4));
  v.push_back(fails("sigmas_quoted_integer", s, [](S t) { return with_field(t, 5, 1, "'6'"); },
                    231, 5));
  v.push_back(fails("sigmas_huge_exponent", s,
                    [](S t) { return with_field(t, 40, 3, "1D999"); }, 231, 40));
  v.push_back(fails("sigmas_integer_overflow", s,
                    [](S t) { return with_field(t, 72, 1, "99999999999"); }, 231, 72));
  v.push_back(fails("sigmas_nul", s,
                    [](S t) { return with_field(t, 10, 5, std::string(1, '\0')); }, 225, 10));
  v.push_back(completes("sigmas_long_comment", s,
                        [=](S t) { return with_line(t, 1, split_lines(t)[0] + big + "!"); },
                        true));
  v.push_back(completes("sigmas_long_tiny_digit_string", s,
                        [=](S t) { return with_field(t, 2, 4, long_tiny); }));

  // ---- "excluded.dat": one INTEGER a line, read up to the end of the file
  const std::string e = "excluded.dat";
  for (int keep : {1, 35, 70}) {
    v.push_back(completes("excluded_cut_after_" + std::to_string(keep), e,
                          [keep](S t) { return first_lines(t, keep); }));
  }
  v.push_back(fails("excluded_letter", e, [](S t) { return with_line(t, 3, "three"); }, 225, 3));
  v.push_back(fails("excluded_quoted", e, [](S t) { return with_line(t, 2, "\"5\""); }, 231, 2));
  v.push_back(fails("excluded_huge_exponent", e, [](S t) { return with_line(t, 7, "1e999"); },
                    231, 7));
  v.push_back(fails("excluded_integer_overflow", e,
                    [](S t) { return with_line(t, 50, "4294967296"); }, 231, 50));
  v.push_back(fails("excluded_nul", e,
                    [](S t) { return with_line(t, 1, std::string(1, '\0')); }, 225, 1));
  v.push_back(completes("excluded_long_leading_blanks", e,
                        [=](S t) { return with_line(t, 1, big + "2"); }, true));

  // ---- "multdist.dat": 160 records of two values, 16 betas, 16 weights
  const std::string md = "multdist.dat";
  for (int keep : {1, 159, 160, 175, 191}) {
    v.push_back(fails("multdist_cut_after_" + std::to_string(keep), md,
                      [keep](S t) { return first_lines(t, keep); }, 217, keep + 1));
  }
  v.push_back(fails("multdist_letter", md, [](S t) { return with_line(t, 100, "a b"); }, 225,
                    100));
  v.push_back(fails("multdist_quoted", md, [](S t) { return with_field(t, 170, 1, "'1'"); },
                    231, 170));
  v.push_back(fails("multdist_huge_exponent", md,
                    [](S t) { return with_field(t, 12, 2, "-2e+999"); }, 231, 12));
  v.push_back(fails("multdist_nul", md,
                    [](S t) { return with_field(t, 190, 1, std::string("\0" "1", 2)); }, 225,
                    190));
  v.push_back(completes("multdist_big_integer_in_real", md,
                        [](S t) { return with_field(t, 161, 1, "2147483648"); }));
  v.push_back(completes("multdist_long_trailing_text", md,
                        [=](S t) { return with_line(t, 5, "1.5 2.5" + big + ",,, / x"); }));
  return v;
}

// ---- the test

std::string message_head(const Case& c) {
  return "RTFIO-F-" + std::to_string(c.code) + "/" + c.kind + "/unit=" +
         std::to_string(unit_of(c.file)) + "/" + error_text(c.code) + ".\n File name = " +
         c.file + "    formatted, sequential access   record = " + std::to_string(c.record) +
         "\n";
}

class BadInputMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(BadInputMatrix, CompletesOrEndsWithTheExactMessage) {
  const Case& c = GetParam();
  const Inputs base = base_inputs();
  Inputs in = base;
  if (c.remove) in.erase(c.file);
  if (c.spoil) in[c.file] = c.spoil(base.at(c.file));
  const Both b = run_both(in);
  expect_same(b);

  // The program's own lines (the short run, a missing file) aside, standard
  // error is empty or holds the message.
  std::vector<std::string> lines;
  for (const auto& l : split_lines(b.prog.err))
    if (!l.starts_with("diff2wirenew: ")) lines.push_back(l);
  if (c.remove) {
    EXPECT_NE(b.prog.err.find(c.file + " does not exist in "), std::string::npos);
  }
  if (c.code == 0) {
    EXPECT_EQ(b.prog.status, 0);
    EXPECT_TRUE(lines.empty()) << b.prog.err;
    EXPECT_NE(b.prog.out.find(" lost particles = "), std::string::npos);
  } else {
    EXPECT_EQ(b.prog.status, 1);
    ASSERT_EQ(lines.size(), 3u) << b.prog.err;
    EXPECT_EQ(lines[0] + "\n" + lines[1] + "\n", message_head(c));
    EXPECT_EQ(mask_source_line(lines[2]), " In source file SOURCE, at line number LINE");
    EXPECT_EQ(b.prog.out.find(" lost particles = "), std::string::npos);
  }
  // Every input is read before the first result file is opened: a bad one
  // leaves none behind.
  if (c.code != 0) {
    for (const char* result : {"imageoflrbb.dat", "test.dat", "diff.dat", "resav.out"})
      EXPECT_EQ(b.prog_files.count(result), 0u) << result;
  }

  if (c.same_as_base) {
    // The spoilt file reads exactly like the original.
    TempDir dir;
    for (const auto& [n, t] : base) write_file(dir.file(n), t);
    const RunResult r = run_program(dir.path());
    EXPECT_TRUE(r.out == b.prog.out) << "standard output differs from the unspoilt run";
    for (const auto& name : list_files(dir.path())) {
      if (base.count(name)) continue;
      EXPECT_TRUE(read_file(dir.file(name)) == b.prog_files.at(name)) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryInputFile, BadInputMatrix, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

// ---- failures of the operating system

// An option-2 run long enough to write unit 20 (from turn 1000 on), with
// every encounter excluded so that it is quick.
Inputs turn_by_turn_1000() {
  Inputs in = base_inputs();
  in["diff.input"] = DiffInput().set(kIopt, "2").set(kNtrack, "1000").text();
  in["excluded.dat"] = exclude_all_but({});
  in.erase("multdist.dat");
  return in;
}

RunResult run_in(const TempDir& dir, const Inputs& in,
                 const std::map<std::string, std::string>& env) {
  for (const auto& [n, t] : in) write_file(dir.file(n), t);
  return run_program(dir.path(), env);
}

TEST(HostError, FullDiskOnUnit20EndsTheRunWithTheHostMessage) {
  TempDir dir;
  const RunResult r = run_in(dir, turn_by_turn_1000(), {{"FOR020", "/dev/full"}});
  EXPECT_EQ(r.status, 1);
  const auto lines = split_lines(r.err);
  ASSERT_EQ(lines.size(), 4u) << r.err;
  EXPECT_EQ(lines[0], "RTFIO/stdio: " + std::string(std::strerror(ENOSPC)));
  // The records of unit 20 wait in a buffer: the failure shows when they
  // are pushed out, by a later write or by the close at the end of the run.
  EXPECT_TRUE(std::regex_match(lines[1],
                               std::regex("RTFIO-F-/(formatted write|CLOSE)/unit=20/error code "
                                          "returned by host stdio - " +
                                          std::to_string(ENOSPC) + "\\.")))
      << lines[1];
  EXPECT_EQ(lines[2], " File name = /dev/full    formatted, sequential access   record = 1");
  EXPECT_EQ(mask_source_line(lines[3]), " In source file SOURCE, at line number LINE");
  // Everything written before is kept: the turn-by-turn records of the 169
  // particles are all in their file, and standard output is complete up to
  // the end of the loop.
  EXPECT_EQ(count_lines(read_file(dir.file("frequencymap.dat"))), 169 * 1000);
  EXPECT_NE(r.out.find(" after tracking loop         1001\n"), std::string::npos);
  EXPECT_EQ(r.out.find(" lost particles = "), std::string::npos);
}

TEST(HostError, UnitFileThatCannotBeCreated) {
  TempDir dir;
  const RunResult r =
      run_in(dir, turn_by_turn_1000(), {{"FOR020", dir.file("no/such/folder/fort.20")}});
  EXPECT_EQ(r.status, 1);
  const auto lines = split_lines(r.err);
  // Not connected, so the message has no file line: the line before it
  // names the file.
  ASSERT_EQ(lines.size(), 4u) << r.err;
  EXPECT_EQ(lines[0], "diff2wirenew: error: the result file " + dir.file("no/such/folder/fort.20") +
                          " cannot be opened for writing (" + std::strerror(ENOENT) + ")");
  EXPECT_EQ(lines[1], "RTFIO/stdio: " + std::string(std::strerror(ENOENT)));
  // Found at start-up, when the result files are opened, before any turn.
  EXPECT_EQ(lines[2], "RTFIO-F-/OPEN/unit=20/error code returned by host stdio - " +
                          std::to_string(ENOENT) + ".");
  EXPECT_EQ(mask_source_line(lines[3]), " In source file SOURCE, at line number LINE");
  EXPECT_EQ(r.out.find(" start tracking "), std::string::npos);
}

// ---- optics that make no sense

std::string lost_line(int n) {
  std::string count = std::to_string(n);
  return " lost particles = " + std::string(12 - count.size(), ' ') + count + "\n";
}

// Runs on both sides; the run must end normally.
Both completed(const Inputs& in) {
  Both b = run_both(in);
  expect_same(b);
  EXPECT_EQ(b.prog.status, 0);
  return b;
}

// Hyperbolic sections in x: the one-turn matrix has a trace far above 2,
// its tune and Twiss functions are not numbers, and so are the starting
// coordinates of every particle.
TEST(NonsenseOptics, UnstableOneTurnMatrixLosesEveryParticle) {
  std::string mats;
  for (int k = 1; k <= 73; ++k) {
    mats += "H\n1.05 300.0 0 0 0 0\n0.0002 1.01 0 0 0 0\n";
    mats += "0 0 0.99 10.0 0 0\n0 0 -0.001 1.0 0 0\n0 0 0 0 1 0\n0 0 0 0 0 1\n";
  }
  Inputs in = base_inputs();
  in["Matrices.dat"] = mats;
  const Both b = completed(in);
  EXPECT_NE(b.prog.err.find("diff2wirenew: warning: the horizontal one-turn matrix of"
                            " Matrices.dat is unstable (|trace| = "),
            std::string::npos);
  EXPECT_NE(b.prog.out.find(lost_line(169)), std::string::npos);
}

// Sizes of the opposing beam of zero or below would make the kick 0/0 and
// lose every particle that meets the encounter: refused before tracking.
Both refused(const Inputs& in) {
  Both b = run_both(in);
  expect_same(b);
  EXPECT_EQ(b.prog.status, 2);
  EXPECT_EQ(b.prog.out.find(" start tracking"), std::string::npos);
  return b;
}

TEST(NonsenseOptics, ZeroBeamSizesAreRefused) {
  for (const auto& sig : {uniform_sigmas(0.0, 0.0, 0.0, 0.0), uniform_sigmas(0.0, 0.0, 0.9, -0.4),
                          uniform_sigmas(0.2, 0.0, 0.0, 0.0), uniform_sigmas(-0.2, 0.1, 0.0, 0.0)}) {
    SCOPED_TRACE(sig.substr(0, sig.find('\n')));
    Inputs in = base_inputs();
    in["Sigmas.dat"] = sig;
    EXPECT_NE(refused(in).prog.err.find("Sigmas.dat: the record for encounter 1 (point 1)"),
              std::string::npos);
  }
}

// Sizes or separations that are not numbers cannot be read: the reader takes
// only digits, a sign, a point and an exponent.
TEST(NonsenseOptics, NotANumberCannotBeReadAsASize) {
  for (const char* text : {"nan", "NaN", "inf", "+Infinity", "0x1p3"}) {
    SCOPED_TRACE(text);
    Inputs in = base_inputs();
    in["Sigmas.dat"] = with_field(in["Sigmas.dat"], 1, 2, text);
    const Both b = run_both(in);
    expect_same(b);
    EXPECT_EQ(b.prog.status, 1);
    EXPECT_EQ(split_lines(b.prog.err).at(0),
              "RTFIO-F-225/list-directed read/unit=460/lexical error-- unknown token type.");
  }
}

// Zero emittance and zero gamma would divide by zero in the set-up: refused
// before tracking.
TEST(NonsenseOptics, ZeroEmittanceAndZeroGammaAreRefused) {
  for (auto [line, value] : {std::pair{kEmitn, "0.0"}, std::pair{kGamma, "0"},
                             std::pair{kEmitn, "-3.75e-6"}}) {
    SCOPED_TRACE(value);
    Inputs in = base_inputs();
    in["diff.input"] = base_diff().set(line, value).text();
    refused(in);
  }
}

// A tune below the half integer gives a negative beta function: square
// roots of negative numbers make every particle's coordinates not numbers.
TEST(NonsenseOptics, TuneBelowTheHalfIntegerLosesEveryParticle) {
  Inputs in = base_inputs();
  in["Matrices.dat"] = ring_matrices(0.31, 0.32, 80.0, 60.0);
  const Both b = completed(in);
  EXPECT_NE(b.prog.err.find("beta function at the observation point is not positive"),
            std::string::npos);
  EXPECT_NE(b.prog.out.find(lost_line(169)), std::string::npos);
}

// Each option with optics that make no sense still ends normally.
TEST(NonsenseOptics, EveryOptionEndsNormally) {
  for (const char* opt : {"1", "2", "3"}) {
    SCOPED_TRACE(opt);
    Inputs in = base_inputs();
    in["diff.input"] = base_diff().set(kIopt, opt).set(kItrip, "0").text();
    in["Sigmas.dat"] = uniform_sigmas(1e-12, 1e-12, 0.5, 0.5);
    in["excluded.dat"] = exclude_all_but({1});
    in.erase("multdist.dat");
    completed(in);
  }
}

}  // namespace
}  // namespace e2e
