// Start-up of a run on hand-made input sets, against the reference model.
#include <gtest/gtest.h>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

Inputs small_ring(const DiffInput& d) {
  return {{"diff.input", d.text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", uniform_sigmas(0.2, 0.17, 0.9, -0.4)},
          {"excluded.dat", ""}};
}

DiffInput zero_turns() { return DiffInput().set(kNtrack, "0"); }

TEST(Setup, IdentityMatricesGiveUnitTunesAndWarnings) {
  Inputs in{{"diff.input", zero_turns().text()},
            {"Matrices.dat", identity_matrices()},
            {"Sigmas.dat", uniform_sigmas(0.2, 0.17, 0.0, 0.0)}};
  auto b = run_both(in);
  expect_same(b);
  EXPECT_EQ(b.prog.status, 0);
  EXPECT_NE(b.prog.out.find(" tunes \n    1.000000000000000      "), std::string::npos);
  EXPECT_NE(b.prog.err.find("diff2wirenew: warning: the horizontal one-turn matrix of Matrices.dat"
                            " is unstable (|trace| = 2, limit 2)"),
            std::string::npos);
  EXPECT_NE(b.prog.err.find("diff2wirenew: warning: the vertical one-turn matrix"),
            std::string::npos);
  EXPECT_EQ(count_lines(b.prog_files["imageoflrbb.dat"]), 72);
  EXPECT_EQ(b.prog_files["excluded.dat"], "");  // created empty by its open
}

TEST(Setup, StableRingRunsWithoutWarnings) {
  auto b = run_both(small_ring(zero_turns()));
  expect_same(b);
  EXPECT_EQ(b.prog.err.find("matrix"), std::string::npos);  // only the short-run warning
  EXPECT_NE(b.prog.out.find(" number of excluded collisions =            0"), std::string::npos);
}

TEST(Setup, FreeFormatVariantsOfTheParameterFile) {
  DiffInput d = zero_turns();
  d.set(kAmp, "  6.5   amplitude in beam sizes, comment ignored")
      .set(kXTunes, "64.31\n0.31 is the fractional part")  // the read goes on to the next line
      .set(kYTunes, "2*0.32")                      // repeat count
      .set(kWireErrors, "2.0, 0.5 , 0.1")
      .set(kWcurrent, "80.0,,")                    // null value keeps wlength at 0
      .set(kWdist, "9.5\t1000.0\t1000.0");
  auto b = run_both(small_ring(d));
  expect_same(b);
  EXPECT_NE(b.prog.out.find(" x tunes =    64.31000000000000       0.3100000000000000"),
            std::string::npos);
  EXPECT_NE(b.prog.out.find(" wire errors =    2.000000000000000       0.5000000000000000      mrad"),
            std::string::npos);
}

TEST(Setup, WireAndTripletReports) {
  DiffInput d = zero_turns();
  d.set(kIwire, "1").set(kItrip, "1").set(kWireErrors, "0.0 0.0 0.0");
  Inputs in = small_ring(d);
  in["multdist.dat"] = multdist(0.25, 3.0);
  auto b = run_both(in);
  expect_same(b);
  EXPECT_NE(b.prog.out.find(" wire current = "), std::string::npos);
  EXPECT_NE(b.prog.out.find(" beta function initialization finished "), std::string::npos);
}

TEST(Setup, ExcludedListCountsWhatActsAndWarnsAboutTheRest) {
  // Entries: 3 (its line's 7 unread), 12, 12 again, 25 (no encounter
  // there), 40, 23.7 (read as 23), then 1 on every line up to entry 74,
  // which is not read. The encounters excluded: 3, 12, 40, 23 and 1.
  Inputs in = small_ring(zero_turns());
  std::string ex = "3 7\n12\n12\n\n25\n40\n23.7\n";
  for (int i = 7; i <= 74; ++i) ex += "1\n";
  in["excluded.dat"] = ex;
  auto b = run_both(in);
  expect_same(b);
  EXPECT_NE(b.prog.out.find(" number of excluded collisions =            5"), std::string::npos);
  const std::string w = "diff2wirenew: warning: excluded.dat: ";
  for (const std::string& line :
       {w + "entry 3 is 12, listed before: it excludes nothing more",
        w + "entry 4 is 25, the point without encounter: it excludes nothing",
        w + "entry 8 is 1, listed before: it excludes nothing more",
        w + "line 1 holds 2 values; only the first is read (one encounter per line)",
        w + "line 7: 23.7 is not a whole number; it is read as 23",
        w + "line 75 holds entry 74, more than the 73 points of the ring: it and every later "
            "line are not read"})
    EXPECT_NE(b.prog.err.find(line + "\n"), std::string::npos) << line;
  // A list whose entries all exclude an encounter keeps its count and is
  // read without a word.
  in["excluded.dat"] = "3\n12\n40\n";
  auto quiet = run_both(in);
  expect_same(quiet);
  EXPECT_NE(quiet.prog.out.find(" number of excluded collisions =            3"),
            std::string::npos);
  EXPECT_EQ(quiet.prog.err.find("excluded.dat"), std::string::npos);
}

TEST(Setup, EveryOptionOpensItsResultFiles) {
  for (const char* opt : {"0", "1", "2", "3", "4"}) {
    // The footprint's transform needs at least 2 turns.
    const char* turns = opt[0] == '3' ? "2" : "0";
    auto b = run_both(small_ring(zero_turns().set(kIopt, opt).set(kNtrack, turns)));
    SCOPED_TRACE(opt);
    expect_same(b);
    EXPECT_TRUE(b.prog_files.count("test.dat"));
    EXPECT_EQ(b.prog_files["test.dat"], "");
  }
}

TEST(Setup, TurnLimitStopsBeforeAnyResultFile) {
  for (const char* opt : {"2", "3"}) {
    SCOPED_TRACE(opt);
    auto b = run_both(small_ring(DiffInput().set(kIopt, opt).set(kNtrack, "4097")));
    expect_same(b);
    EXPECT_EQ(b.prog.status, 2);
    EXPECT_TRUE(
        b.prog.err.ends_with(" turns: the run stops before tracking and writes no "
                             "results\nFORTRAN STOP\n"));
    EXPECT_NE(b.prog.out.find(" ntrack>ntmapm - abunai! \n"), std::string::npos);
    EXPECT_FALSE(b.prog_files.count("test.dat"));

    TempDir quiet;
    for (const auto& [n, t] : small_ring(DiffInput().set(kIopt, opt).set(kNtrack, "4097")))
      write_file(quiet.file(n), t);
    auto r = run_program(quiet.path(), {{"NO_STOP_MESSAGE", "1"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.find("FORTRAN STOP"), std::string::npos);
  }
}

TEST(Setup, TurnLimitItselfIsAccepted) {
  for (const char* opt : {"2", "3"}) {
    SCOPED_TRACE(opt);
    Inputs in = small_ring(DiffInput().set(kIopt, opt).set(kNtrack, "4096"));
    in["excluded.dat"] = exclude_all_but({});
    TempDir d;
    for (const auto& [n, t] : in) write_file(d.file(n), t);
    auto r = run_program(d.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(" after tracking loop         4097"), std::string::npos);
    if (std::string(opt) == "2") {
      EXPECT_EQ(count_lines(read_file(d.file("frequencymap.dat"))), 169 * 4096);
    } else {
      EXPECT_EQ(count_lines(read_file(d.file("footprint.dat"))), 196);
      EXPECT_EQ(count_lines(read_file(d.file("phasespace.dat"))), 4096);
    }
  }
}

}  // namespace
}  // namespace e2e
