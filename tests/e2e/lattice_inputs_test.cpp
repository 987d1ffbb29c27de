// The optional inputs of the lattice's nonlinearities and ripple
// ("multipoles.dat", "modulation.dat", the ripple fields of "wires.dat"):
// bad records are refused before tracking with one error line; comment
// lines are skipped and every record is echoed.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "e2e/compare.h"
#include "e2e/harness.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

TEST(LatticeInputs, BadRecordsEndTheRunBeforeTrackingAndGoodOnesAreEchoed) {
  std::string many;
  for (int n = 1; n <= 1001; ++n) many += "30 3 1.0 0.0\n";
  const std::string m = "diff2wirenew: error: multipoles.dat: record ";
  const std::string t = "diff2wirenew: error: modulation.dat: record ";
  const std::string w = "diff2wirenew: error: wires.dat: record ";
  // file name -> (contents -> error line)
  const std::map<std::string, std::map<std::string, std::string>> refused = {
      {"multipoles.dat",
       {{"# a comment\n5 3 1.0\n", m + "1: a value is missing (skew strength)\n"},
        {"5 3 1.0 x2\n", m + "1: skew strength 'x2' is not a finite number\n"},
        {"5 3.5 1.0 0\n", m + "1: order '3.5' is not a whole number\n"},
        {"5 3 1.0 0 7\n", m + "1: more than 4 values\n"},
        {"0 3 1.0 0.0\n", m + "1: point 0 is outside 1 ... 73\n"},
        {"5 3 1 0\n! c\n74 3 1.0 0.0\n", m + "2: point 74 is outside 1 ... 73\n"},
        {"5 0 1.0 0.0\n",
         m + "1: order 0 is outside 1 ... 10 (a dipole would move the closed orbit)\n"},
        {"5 11 1.0 0.0\n", m + "1: order 11 is outside 1 ... 10\n"},
        {many, m + "1001: more than 1000 multipoles\n"}}},
      {"modulation.dat",
       {{"x 0.001 100\n", t + "1: a value is missing (phase)\n"},
        {"z 0.001 100 0\n", t + "1: plane 'z' is neither x nor y\n"},
        {"y 0.001 0 0\n", t + "1: the period is not positive\n"}}},
      {"wires.dat",
       {{"9 -8.5 0 -5.43 1.0 0.01 100\n", w + "1: a value is missing (ripple phase)\n"},
        {"9 -8.5 0 -5.43 1.0 0.01 100 0 -1e-3\n", w + "1: the noise is negative\n"},
        {"9 -8.5 0 -5.43 1.0 0.01 -100 0 0\n", w + "1: the ripple period is not positive\n"}}}};
  const Inputs ex = example_inputs({{kIopt, "0"}, {kNtrack, "10"}});
  for (const auto& [name, cases] : refused)
    for (const auto& [file, err] : cases) {
      Inputs in = ex;
      in[name] = file;
      const Outcome o = run_program_on(in);
      EXPECT_EQ(o.run.status, 1) << file;
      EXPECT_EQ(o.run.err, err) << file;
      EXPECT_EQ(o.run.out.find(" start tracking "), std::string::npos) << file;
    }

  Inputs in = ex;
  in["multipoles.dat"] = "! IR1 triplet\n1 3 -120.5 0\n\n1, 2, 0.25, -1e-3  # sextupole\n";
  in["modulation.dat"] = "# plane dQ T phi\nx 1e-3 100 0\n";
  in["wires.dat"] = "9 -8.5272 0 -5.43 1.0\n40 0 -9.5931 -5.43 1.0 0.01 100 0.5 1e-4 7\n";
  const Outcome o = run_program_on(in);
  ASSERT_EQ(o.run.status, 0) << o.run.err;
  EXPECT_NE(o.run.out.find("  multipole            1           3  -120.5000000000000     \n"
                           "   0.0000000000000000E+000\n"
                           "  multipole            1           2  0.2500000000000000     \n"),
            std::string::npos);
  EXPECT_NE(
      o.run.out.find("  tune modulation x  1.0000000000000000E-003   100.0000000000000     \n"),
      std::string::npos);
  EXPECT_NE(o.run.out.find("  wire ripple           40  1.0000000000000000E-002   "),
            std::string::npos);
}

}  // namespace
}  // namespace e2e
