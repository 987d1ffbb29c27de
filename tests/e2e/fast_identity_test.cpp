// The program's results do not depend on how a turn is computed: the
// scalar routines (BBTRACK_SCALAR=1), the particle blocks in one thread and
// in two leave the same standard output, standard error and files, byte for
// byte, in every run option of the bundled example.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "e2e/compare.h"
#include "e2e/harness.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

void expect_same_for_every_path(const Inputs& inputs, const std::string& what) {
  const std::map<std::string, std::string> scalar = {{"BBTRACK_SCALAR", "1"}};
  // Threads that sleep while they wait keep the two-thread runs quick on a
  // machine whose other core is busy; the results do not depend on it.
  const std::vector<std::map<std::string, std::string>> fast = {
      {{"-BBTRACK_SCALAR", ""}, {"OMP_NUM_THREADS", "1"}},
      {{"-BBTRACK_SCALAR", ""}, {"OMP_NUM_THREADS", "2"}, {"OMP_WAIT_POLICY", "passive"}}};
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

}  // namespace
}  // namespace e2e
