// Whole runs of each option against the reference model, on rings small
// enough (few encounters) for the model to track them quickly.
#include <gtest/gtest.h>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

// A ring with one round head-on and one elliptical long-range encounter
// kept, everything else excluded.
Inputs two_encounters(const DiffInput& d) {
  std::string sig;
  for (int k = 1; k <= 73; ++k) {
    if (k == 25) continue;
    if (k == 1)
      sig += "1 0.2 0.2 0.0 0.0\n";
    else if (k == 10)
      sig += "10 0.3 0.12 0.9 -0.3\n";
    else
      sig += std::to_string(k) + " 0.2 0.17 1.2 -0.4\n";
  }
  return {{"diff.input", d.text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", sig},
          {"excluded.dat", exclude_all_but({1, 10})}};
}

Inputs linear(const DiffInput& d) {
  Inputs in = two_encounters(d);
  in["excluded.dat"] = exclude_all_but({});
  return in;
}

TEST(Tracking, DiffusionRunOf500TurnsWritesOnlyTheSummary) {
  auto b = run_both(two_encounters(DiffInput().set(kNtrack, "500").set(kAmp, "8.0")));
  expect_same(b);
  EXPECT_EQ(b.prog_files["diff.dat"], "");
  EXPECT_EQ(b.prog_files["resav.out"],
            "  0.4000E+01 0.0000E+00 0.0000E+00  1  0.6431E+02 0.3100E+00 0.5932E+02 0.3200E+00\n");
  EXPECT_NE(b.prog.out.find(" i =          500\n"), std::string::npos);
  EXPECT_NE(b.prog.out.find(" after tracking loop          501\n"), std::string::npos);
}

TEST(Tracking, DiffusionRunOfExactly1000TurnsHasNanRates) {
  auto b = run_both(linear(DiffInput().set(kNtrack, "1000")));
  expect_same(b);
  EXPECT_EQ(count_lines(b.prog_files["diff.dat"]), 1);
  EXPECT_EQ(b.prog_files["diff.dat"].substr(0, 6), "  1000");
  EXPECT_NE(b.prog_files["resav.out"].find("-nan"), std::string::npos);
}

TEST(Tracking, DiffusionRunOf1250Turns) {
  auto b = run_both(two_encounters(DiffInput().set(kNtrack, "1250").set(kIopt, "4")));
  expect_same(b);
  auto lines = split_lines(b.prog_files["diff.dat"]);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 6), "  1000");
  EXPECT_EQ(lines[2].substr(0, 6), "  1200");
  EXPECT_EQ(b.prog_files["resav.out"], "");  // option 4: no summary
}

TEST(Tracking, LossesBeforeTurn2000EndTheRunAtTurn2001) {
  // Amplitudes of 1e7 beam sizes put some particles beyond 1000 m at once.
  auto b = run_both(linear(DiffInput().set(kNtrack, "3000").set(kAmp, "1.0e7")));
  expect_same(b);
  EXPECT_NE(b.prog.out.find(" after tracking loop         2001\n"), std::string::npos);
  auto lines = split_lines(b.prog_files["diff.dat"]);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(0, 6), "  2000");
  EXPECT_EQ(count_lines(b.prog_files["diff.dat"]), 11);
}

TEST(Tracking, EveryParticleLostStillEndsNormally) {
  auto b = run_both(linear(DiffInput().set(kNtrack, "1100").set(kAmp, "1.0e12")));
  expect_same(b);
  EXPECT_EQ(b.prog.status, 0);
  EXPECT_NE(b.prog.out.find(" lost particles =          169\n"), std::string::npos);
}

TEST(Tracking, PhaseSpaceRun) {
  auto b = run_both(two_encounters(DiffInput().set(kIopt, "1").set(kNtrack, "7")));
  expect_same(b);
  EXPECT_EQ(count_lines(b.prog_files["phasespace.dat"]), 15 * 500);
}

TEST(Tracking, TurnByTurnRun) {
  auto b = run_both(two_encounters(DiffInput().set(kIopt, "2").set(kNtrack, "40")));
  expect_same(b);
  EXPECT_EQ(count_lines(b.prog_files["frequencymap.dat"]), 169 * 40);
  // Its unit was reopened on "frequencymap.dat", which closed it whole.
  EXPECT_EQ(count_lines(b.prog_files["imageoflrbb.dat"]), 72);
  // Emptied at start-up with the other results; no record below 1000 turns.
  EXPECT_EQ(b.prog_files.at("fort.20"), "");
}

TEST(Tracking, TurnByTurnRowsFollowTheirParticlesThroughLosses) {
  // Vertically unstable ring: particles leave one after another, the
  // largest vertical amplitudes first.
  DiffInput d = DiffInput().set(kIopt, "2").set(kNtrack, "30");
  Inputs in = linear(d);
  std::string m;
  const std::string stable = ring_matrices(0.67, 0.68, 80.0, 60.0);
  auto lines = split_lines(stable);
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t row = i % 7;
    if (row == 3) lines[i] = "0 0 1.01 0 0 0";  // y grows by 1.01^73 a turn
    if (row == 4) lines[i] = "0 0 0 0.9900990099009901 0 0";
  }
  for (const auto& l : lines) m += l + "\n";
  in["Matrices.dat"] = m;
  auto b = run_both(in);
  expect_same(b);
  EXPECT_NE(b.prog.out.find(" lost particles = "), std::string::npos);
}

TEST(Tracking, FootprintRun) {
  auto b = run_both(two_encounters(DiffInput().set(kIopt, "3").set(kNtrack, "60")));
  expect_same(b);
  EXPECT_EQ(count_lines(b.prog_files["footprint.dat"]), 196);
  EXPECT_EQ(count_lines(b.prog_files["phasespace.dat"]), 60);
}

TEST(Tracking, FootprintOfTheLinearLatticeIsItsTunes) {
  TempDir d;
  for (const auto& [n, t] : linear(DiffInput().set(kIopt, "3").set(kNtrack, "1000")))
    write_file(d.file(n), t);
  auto r = run_program(d.path());
  ASSERT_EQ(r.status, 0);
  auto lines = split_lines(read_file(d.file("footprint.dat")));
  ASSERT_EQ(lines.size(), 196u);
  int with_data = 0;
  for (const auto& l : lines) {
    const int iang = std::stoi(l.substr(1, 5)), iamp = std::stoi(l.substr(7, 5));
    const std::string qx = l.substr(13, 10), qy = l.substr(24, 10);
    // Grid point (iang, iamp) sits in slot 14 iamp + iang + 1; 169 are tracked.
    const bool tracked = iang < 13 && iamp < 13 && 14 * iamp + iang + 1 <= 169;
    SCOPED_TRACE(l);
    if (!tracked) {
      EXPECT_EQ(qx, "       nan");
      EXPECT_EQ(qy, "       nan");
      continue;
    }
    ++with_data;
    EXPECT_NEAR(std::stod(qx), 0.67, 1e-3);
    EXPECT_NEAR(std::stod(qy), 0.68, 1e-3);
  }
  EXPECT_EQ(with_data, 12 * 13 + 1);
}

TEST(Tracking, FootprintTurnCountTheTransformRejectsIsRefusedBeforeTracking) {
  auto b = run_both(linear(DiffInput().set(kIopt, "3").set(kNtrack, "1009")));
  expect_same(b);
  EXPECT_EQ(b.prog.status, 2);
  EXPECT_EQ(b.prog.out.find("ABNORMAL EXIT"), std::string::npos);
  EXPECT_EQ(b.prog_files.count("footprint.dat"), 0u);
}

}  // namespace
}  // namespace e2e
