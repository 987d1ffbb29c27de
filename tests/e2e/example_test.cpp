// The bundled example ring, every option, a few turns, against the model.
#include <gtest/gtest.h>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

TEST(Example, DiffusionStartAndFirstTurns) {
  auto b = run_both(example_inputs({{kNtrack, "4"}}));
  expect_same(b);
  EXPECT_EQ(b.prog.status, 0);
  EXPECT_TRUE(b.prog.err.starts_with("diff2wirenew: warning: ntrack = 4 gives no diffusion rates"));
  // The optics of the generator: tunes 0.69 / 0.70, beta* 0.55 m.
  EXPECT_NE(b.prog.out.find("  tunes \n   0.69000000000"), std::string::npos);
  EXPECT_NE(b.prog.out.find("  betas \n   0.55000000000"), std::string::npos);
  EXPECT_EQ(count_lines(b.prog_files["imageoflrbb.dat"]), 72);
}

TEST(Example, PhaseSpaceRun) {
  auto b = run_both(example_inputs({{kIopt, "1"}}));
  expect_same(b);
  EXPECT_EQ(count_lines(b.prog_files["phasespace.dat"]), 15 * 500);
}

TEST(Example, TurnByTurnAndFootprintRuns) {
  auto tbt = run_both(example_inputs({{kIopt, "2"}, {kNtrack, "6"}}));
  expect_same(tbt);
  EXPECT_EQ(count_lines(tbt.prog_files["frequencymap.dat"]), 169 * 6);
  auto fp = run_both(example_inputs({{kIopt, "3"}, {kNtrack, "8"}}));
  expect_same(fp);
  EXPECT_EQ(count_lines(fp.prog_files["footprint.dat"]), 196);
}

}  // namespace
}  // namespace e2e
