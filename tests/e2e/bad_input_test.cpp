// Missing, short and malformed inputs end the run through the error exit,
// with everything written before the error kept.
#include <gtest/gtest.h>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

Inputs ring(const DiffInput& d) {
  return {{"diff.input", d.text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", uniform_sigmas(0.2, 0.17, 0.9, -0.4)}};
}

std::string message(const std::string& first, const std::string& file, int record) {
  return first + "\n File name = " + file + "    formatted, sequential access   record = " +
         std::to_string(record) + "\n In source file SOURCE, at line number LINE\n";
}

TEST(BadInput, MissingParameterFileIsCreatedEmptyAndFailsOnItsFirstRead) {
  Inputs in = ring(DiffInput());
  in.erase("diff.input");
  auto b = run_both(in);
  expect_same(b);
  EXPECT_EQ(b.prog.status, 1);
  EXPECT_EQ(b.prog.out, "");
  EXPECT_EQ(mask_source_line(b.prog.err),
            "diff2wirenew: error: diff.input does not exist in DIR\n" +
                message("RTFIO-F-217/formatted read/unit=440/attempt to read past end of file.",
                        "diff.input", 1));
  EXPECT_EQ(b.prog_files["diff.input"], "");
}

TEST(BadInput, LetterOrStringInANumericField) {
  auto letter = run_both(ring(DiffInput().set(kIopt, "zero")));
  expect_same(letter);
  EXPECT_EQ(mask_source_line(letter.prog.err),
            message("RTFIO-F-225/list-directed read/unit=440/lexical error-- unknown token type.",
                    "diff.input", 5));
  // The echo lines before the failing read are all there.
  EXPECT_EQ(letter.prog.out.substr(0, 8), "  amp = ");

  auto quoted = run_both(ring(DiffInput().set(kNtrack, "'100'")));
  expect_same(quoted);
  EXPECT_EQ(mask_source_line(quoted.prog.err),
            message("RTFIO-F-231/list-directed read/unit=440/error on data conversion.",
                    "diff.input", 11));
}

TEST(BadInput, ParameterFileCutShort) {
  for (int keep : {1, 14, 41, 50}) {
    SCOPED_TRACE(keep);
    Inputs in = ring(DiffInput());
    std::string t;
    auto lines = split_lines(in["diff.input"]);
    for (int i = 0; i < keep; ++i) t += lines[static_cast<size_t>(i)] + "\n";
    in["diff.input"] = t;
    auto b = run_both(in);
    expect_same(b);
    EXPECT_EQ(b.prog.status, 1);
  }
}

TEST(BadInput, MatricesCutShortKeepsTheEchoSoFar) {
  Inputs in = ring(DiffInput());
  auto lines = split_lines(in["Matrices.dat"]);
  std::string t;
  for (int i = 0; i < 7 * 10 + 3; ++i) t += lines[static_cast<size_t>(i)] + "\n";
  in["Matrices.dat"] = t;
  auto b = run_both(in);
  expect_same(b);
  EXPECT_EQ(b.prog.status, 1);
  EXPECT_EQ(mask_source_line(b.prog.err),
            message("RTFIO-F-217/list-directed read/unit=450/attempt to read past end of file.",
                    "Matrices.dat", 74));
  // 10 whole sections and two rows of the eleventh were echoed.
  EXPECT_NE(b.prog.out.find("          11           2           6"), std::string::npos);
}

TEST(BadInput, SigmasCutShortLeavesTheResultFilesAlone) {
  Inputs in = ring(DiffInput());
  auto lines = split_lines(in["Sigmas.dat"]);
  std::string t;
  for (int i = 0; i < 30; ++i) t += lines[static_cast<size_t>(i)] + "\n";
  in["Sigmas.dat"] = t;
  auto b = run_both(in);
  expect_same(b);
  EXPECT_EQ(b.prog.status, 1);
  // The image is written with the other result files, after every input
  // has been read: a bad input leaves none.
  EXPECT_FALSE(b.prog_files.count("imageoflrbb.dat"));
}

TEST(BadInput, MissingSigmasAndMultipoleFiles) {
  Inputs in = ring(DiffInput());
  in.erase("Sigmas.dat");
  auto b = run_both(in);
  expect_same(b);
  EXPECT_TRUE(mask_source_line(b.prog.err)
                  .ends_with("diff2wirenew: error: Sigmas.dat does not exist in DIR\n" +
                             message("RTFIO-F-217/list-directed read/unit=460/attempt to read "
                                     "past end of file.",
                                     "Sigmas.dat", 1)));

  auto t = run_both(ring(DiffInput().set(kItrip, "1").set(kNtrack, "0")));
  expect_same(t);
  EXPECT_TRUE(mask_source_line(t.prog.err)
                  .ends_with("diff2wirenew: error: multdist.dat does not exist in DIR\n" +
                             message("RTFIO-F-217/list-directed read/unit=25/attempt to read "
                                     "past end of file.",
                                     "multdist.dat", 1)));
  EXPECT_FALSE(t.prog_files.count("test.dat"));  // the triplet file is read first
}

}  // namespace
}  // namespace e2e
