// Values the physics cannot take, runs that cannot succeed and inputs that
// are misread: refused before tracking (exit 2, no result of them), or
// warned about while the run goes on.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

Inputs ring(const DiffInput& d, const std::string& sigmas = uniform_sigmas(0.2, 0.17, 0.9, -0.4)) {
  return {{"diff.input", d.text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", sigmas},
          {"excluded.dat", ""}};
}

bool holds_nan(const Outcome& o) {
  for (const auto& [name, text] : o.files)
    if (text.find("nan") != std::string::npos || text.find("NaN") != std::string::npos) return true;
  return false;
}

TEST(Refusal, SetUpValuesThePhysicsCannotTakeEndTheRunBeforeTracking) {
  const std::string sigma0 =
      replace_line(uniform_sigmas(0.2, 0.17, 0.9, -0.4), 3, " 3   0.0   0.17   0.9   -0.4");
  const std::string tiny =
      replace_line(uniform_sigmas(0.2, 0.17, 0.9, -0.4), 3, " 3   1e-310   0.17   0.9   -0.4");
  const auto g = [](double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return std::string(b);
  };
  const std::string kUnusable =
      " is not a finite positive normal number: the inputs it is derived from give the "
      "tracking nothing it can use; the run stops before tracking";
  const struct {
    Inputs in;
    std::string err;
  } cases[] = {
      {ring(DiffInput().set(kEmitn, "0.0")),
       "diff.input: emitn = 0 is not an emittance; accepted: emitn > 0 (m rad)"},
      {ring(DiffInput().set(kEmitn, "-3.75e-6")),
       "diff.input: emitn = -3.75e-06 is not an emittance; accepted: emitn > 0 (m rad)"},
      {ring(DiffInput().set(kGamma, "0.5")),
       "diff.input: gamma = 0.5 is not a Lorentz factor; accepted: gamma >= 1"},
      {ring(DiffInput().set(kBetastar, "0")),
       "diff.input: betastar = 0 is not a beta function; accepted: betastar > 0 (m)"},
      {ring(DiffInput().set(kAmp, "-4")),
       "diff.input: amp = -4 is a negative start amplitude; accepted: amp >= 0 (sigma)"},
      {ring(DiffInput(), sigma0),
       "Sigmas.dat: the record for encounter 3 (point 3) has the beam size 0 (x); accepted: a "
       "size > 0 (mm)"},
      // Values that pass their own range but give a derived quantity the
      // tracking cannot use: an emittance or a beam size that underflows,
      // a kick strength that overflows.
      {ring(DiffInput().set(kEmitn, "1e-320").set(kGamma, "1.0")),
       "diff.input: the geometric emittance emit = emitn/gamma = " + g(1e-320) + kUnusable},
      {ring(DiffInput(), tiny),
       "Sigmas.dat: the record for encounter 3: the beam size in metres = " + g(1e-310 * 0.001) +
           kUnusable},
      {ring(DiffInput().set(kWcurrent, "1e300 1e300")),
       "the wire kick coefficient wirecoef = inf is not a finite number: the inputs it is "
       "derived from give the tracking nothing it can use; the run stops before tracking"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome o = run_program_on(c.in);
    EXPECT_EQ(o.run.status, 2);
    EXPECT_EQ(o.run.err, "diff2wirenew: error: " + c.err + "\n");
    EXPECT_EQ(o.run.out.find("start tracking"), std::string::npos);
    EXPECT_FALSE(holds_nan(o));
  }
  // The study run reads the machine by the same code.
  TempDir study;
  for (const auto& [name, text] : cases[6].in) write_file(study.file(name), text);
  const RunResult r = run_program_args(study.path(), {"dynap", "--out", "st"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "diff2wirenew: error: " + cases[6].err + "\n");
  // (the study's results folder is made and locked before its inputs are read)
  for (const char* name : {"st/dynap.csv", "st/dynap_summary.txt", "st/dynap_angles.csv"})
    EXPECT_FALSE(file_exists(study.file(name))) << name;
}

TEST(Refusal, FootprintLengthTheTransformRefusesStopsAfterTheTurnLimitCheck) {
  for (const auto& [ntrack, nearest] :
       {std::pair<std::string, std::string>{"1009", "lengths are 1008 and 1014"},
        {"1", "length is 2"},
        {"-5", "length is 2"}}) {
    SCOPED_TRACE(ntrack);
    const Outcome o = run_program_on(ring(DiffInput().set(kIopt, "3").set(kNtrack, ntrack)));
    EXPECT_EQ(o.run.status, 2);
    EXPECT_EQ(o.run.err, "diff2wirenew: error: diff.input: ntrack = " + ntrack +
                             " is not a length the footprint's Fourier transform accepts (at "
                             "least 2, prime factors at most 19, at most 20 of them); the "
                             "nearest accepted " +
                             nearest + ": the run stops before tracking and writes no results\n");
    // Standard output ends where the turn-limit check stands.
    EXPECT_NE(o.run.out.find(" iopt decision"), std::string::npos);
    EXPECT_EQ(o.run.out.find(" after initialization"), std::string::npos);
    EXPECT_EQ(o.files.count("footprint.dat"), 0u);
  }
  EXPECT_EQ(run_program_on(ring(DiffInput().set(kIopt, "3").set(kNtrack, "1008"))).run.status, 0);
}

TEST(Refusal, LegalButMeaninglessRunsAreWarnedAbout) {
  const std::string w = "diff2wirenew: warning: ";
  const Outcome unknown = run_program_on(ring(DiffInput().set(kIopt, "7")));
  EXPECT_EQ(unknown.run.status, 0);
  EXPECT_EQ(unknown.run.err, w + "diff.input: iopt = 7 is not an option (0 to 3): it runs the "
                                 "diffusion run of option 0\n");

  const Outcome short_map = run_program_on(ring(DiffInput().set(kIopt, "2").set(kNtrack, "1")));
  EXPECT_EQ(short_map.run.err, w + "diff.input: ntrack = 1 gives option 2 no turns to analyse: "
                                   "frequencymap.dat holds only the start of each particle; a "
                                   "frequency map needs ntrack >= 2\n");

  const Outcome lost = run_program_on(ring(DiffInput().set(kDnb, "1e300")));
  EXPECT_NE(lost.run.err.find(w + "every particle is lost by turn 1 (169 lost): the diffusion "
                                  "rates in resav.out then mean nothing\n"),
            std::string::npos);

  Inputs pumped = ring(DiffInput());
  pumped["Matrices.dat"] = replace_line(identity_matrices(), 2, " 1.0005 0 0 0 0 0");
  EXPECT_NE(run_program_on(pumped).run.err.find(
                w + "Matrices.dat: section 1, horizontal plane: the determinant of the 2x2 block "
                    "is 1.0005, not 1 within 1e-09: the matrix does not conserve phase-space "
                    "area\n"),
            std::string::npos);

  // Points numbered by encounter (1..24, 26..73) or by place (1..72) are
  // both read without a word.
  const std::string shifted =
      replace_line(uniform_sigmas(0.2, 0.17, 0.9, -0.4), 25, "27 0.2 0.17 0.9 -0.4");
  const Outcome misread = run_program_on(ring(DiffInput(), shifted));
  EXPECT_NE(misread.run.err.find(w + "Sigmas.dat: the record for encounter 26 carries point "
                                     "number 27: a missing or extra line shifts every later "
                                     "encounter\n"),
            std::string::npos);

  // A line too many: the 73rd record of Sigmas.dat, the 74th block of
  // Matrices.dat are never read.
  Inputs extra = ring(DiffInput(), uniform_sigmas(0.2, 0.17, 0.9, -0.4) + "73 0.2 0.17 0.9 -0.4\n");
  const std::string matrices = extra["Matrices.dat"];
  extra["Matrices.dat"] += matrices.substr(0, matrices.find("SEC2\n"));
  const Outcome longer = run_program_on(extra);
  EXPECT_NE(longer.run.err.find(w +
                                "Matrices.dat holds 74 blocks, more than the 73 of the ring: "
                                "only the first 73 are read\n" +
                                w +
                                "Sigmas.dat holds 73 records, more than the 72 of the ring: "
                                "only the first 72 are read\n"),
            std::string::npos);

  Inputs excluded = ring(DiffInput());
  excluded["excluded.dat"] = "0\n3 4\n99999\n";
  const Outcome skipped = run_program_on(excluded);
  EXPECT_EQ(skipped.run.status, 0);
  EXPECT_EQ(skipped.run.err.substr(0, skipped.run.err.find(w + "ntrack")),
            w + "excluded.dat: entry 1 is 0, outside 1 ... 73: it excludes nothing\n" + w +
                "excluded.dat: entry 3 is 99999, outside 1 ... 73: it excludes nothing\n" + w +
                "excluded.dat: line 2 holds 2 values; only the first is read (one encounter "
                "per line)\n");
}

TEST(Refusal, AnEmptyInputIsNamed) {
  Inputs in = ring(DiffInput());
  for (const char* name : {"diff.input", "Sigmas.dat"}) {
    SCOPED_TRACE(name);
    Inputs empty = in;
    empty[name] = "";
    const Outcome o = run_program_on(empty);
    EXPECT_EQ(o.run.status, 1);
    EXPECT_EQ(split_lines(o.run.err).at(0), "diff2wirenew: error: " + std::string(name) +
                                                " is empty (a run creates a missing input empty)");
  }
}

}  // namespace
}  // namespace e2e
