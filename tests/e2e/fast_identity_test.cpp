// The program's results do not depend on how a turn is computed: the
// scalar routines (BBTRACK_SCALAR=1), the particle blocks in one thread and
// in two leave the same standard output, standard error and files, byte for
// byte, in every run option of the bundled example, and with thin
// multipoles, tune modulation and wire ripple and noise in both
// error-function modes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "e2e/compare.h"
#include "e2e/harness.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

void expect_same_for_every_path(const Inputs& inputs, const std::string& what,
                                const std::map<std::string, std::string>& also = {}) {
  std::map<std::string, std::string> scalar = {{"BBTRACK_SCALAR", "1"}};
  // Threads that sleep while they wait keep the two-thread runs quick on a
  // machine whose other core is busy; the results do not depend on it.
  std::vector<std::map<std::string, std::string>> fast = {
      {{"-BBTRACK_SCALAR", ""}, {"OMP_NUM_THREADS", "1"}},
      {{"-BBTRACK_SCALAR", ""}, {"OMP_NUM_THREADS", "2"}, {"OMP_WAIT_POLICY", "passive"}}};
  scalar.insert(also.begin(), also.end());
  for (auto& env : fast) env.insert(also.begin(), also.end());
  const Outcome ref = run_program_on(inputs, scalar);
  ASSERT_EQ(ref.run.status, 0) << what << ": " << ref.run.err;
  for (const auto& env : fast) {
    const std::string how = what + ", OMP_NUM_THREADS=" + env.at("OMP_NUM_THREADS");
    const Outcome o = run_program_on(inputs, env);
    EXPECT_EQ(o.run.status, ref.run.status) << how;
    EXPECT_TRUE(o.run.out == ref.run.out) << how << ": standard output differs";
    EXPECT_EQ(o.run.err, ref.run.err) << how;
    ASSERT_EQ(o.files.size(), ref.files.size()) << how;
    for (const auto& [name, text] : ref.files) {
      ASSERT_TRUE(o.files.count(name)) << how << ": no " << name;
      EXPECT_TRUE(o.files.at(name) == text) << how << ": " << name << " differs";
    }
  }
}

TEST(FastIdentity, DiffusionRun) {
  const Inputs in = example_inputs({{kIopt, "0"}, {kNtrack, "300"}});
  expect_same_for_every_path(in, "diffusion");
}

TEST(FastIdentity, PhaseSpaceRun) {
  // Option 1 always tracks 15 particles for 500 turns.
  const Inputs in = example_inputs({{kIopt, "1"}});
  expect_same_for_every_path(in, "phase space");
}

TEST(FastIdentity, TurnByTurnRun) {
  const Inputs in = example_inputs({{kIopt, "2"}, {kNtrack, "300"}});
  expect_same_for_every_path(in, "turn by turn");
}

TEST(FastIdentity, FootprintRun) {
  const Inputs in = example_inputs({{kIopt, "3"}, {kNtrack, "300"}});
  expect_same_for_every_path(in, "footprint");
}

TEST(FastIdentity, InnerRegionRingDiffusionRun) {
  // The benchmark ring whose kicks fall mostly in errf's inner region.
  const std::string dir = std::string(BBTRACK_SOURCE_DIR) + "/bench/rings/inner";
  Inputs in;
  for (const auto& name : list_files(dir)) in[name] = read_file(dir + "/" + name);
  in["diff.input"] = replace_line(in["diff.input"], kNtrack, "300");
  expect_same_for_every_path(in, "inner-region ring, diffusion");
}

TEST(FastIdentity, DiffusionRunPastTheRunningAverageStart) {
  // 1100 turns: the diffusion records of turns 1000 and 1100 and a summary
  // from the running average are written too.
  const Inputs in = example_inputs({{kIopt, "0"}, {kNtrack, "1100"}});
  expect_same_for_every_path(in, "diffusion, 1100 turns");
}

TEST(FastIdentity, LatticeElementsInBothErrorFunctionModes) {
  // 16 thin multipoles of orders 1 to 10 at points with encounters, a
  // modulated tune in each plane, two wires, one with ripple and noise:
  // every particle survives the 300 turns.
  Inputs in = example_inputs({{kIopt, "2"}, {kNtrack, "300"}});
  const char* mult[] = {"2 1 2e-4 -1e-4", "2 3 1e-3 4e-4",  "3 2 1e-4 5e-5",  "5 4 3e-2 0",
                        "7 5 1e2 -4e1",    "9 6 2e3 1e3",     "11 7 5e4 0",     "13 8 1e6 3e5",
                        "15 9 4e7 0",      "17 10 3e9 -1e9",  "20 2 -2e-4 0",   "28 3 -8e-4 0",
                        "33 1 -3e-4 0",    "41 6 -1e3 0",     "50 10 0 2e9",    "60 4 0 -2e-2"};
  for (const char* r : mult) in["multipoles.dat"] += std::string(r) + "\n";
  in["modulation.dat"] = "x 2e-4 97 0.3\ny 1e-4 250 1.1\nx 5e-5 31 0\n";
  in["wires.dat"] = "30 5.0 0.0 50.0 1.0 0.05 37 0.3 0.01 7\n40 0.0 5.0 50.0 1.0\n";
  expect_same_for_every_path(in, "lattice elements, exact errf");
  expect_same_for_every_path(in, "lattice elements, fast errf", {{"BBTRACK_ERRF", "fast"}});
  // They act: the turn-by-turn record differs from the run without them.
  const Outcome with = run_program_on(in, {{"BBTRACK_SCALAR", "1"}});
  const Outcome without = run_program_on(example_inputs({{kIopt, "2"}, {kNtrack, "300"}}),
                                         {{"BBTRACK_SCALAR", "1"}});
  ASSERT_EQ(with.run.status, 0) << with.run.err;
  EXPECT_NE(with.run.out.find("lost particles =            0\n"), std::string::npos);
  EXPECT_NE(with.files.at("frequencymap.dat"), without.files.at("frequencymap.dat"));
}

}  // namespace
}  // namespace e2e
