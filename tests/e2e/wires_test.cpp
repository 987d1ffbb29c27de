// Wire compensators ("wires.dat"): refused files, a particle on a wire, the
// same results on every path, and the compensation of a long-range
// encounter seen in the tunes.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "e2e/compare.h"
#include "e2e/harness.h"
#include "e2e/inputs.h"
#include "kicks/tune_estimate.h"

namespace e2e {
namespace {

std::string num(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

TEST(Wires, BadFilesEndTheRunBeforeTracking) {
  std::string many;
  for (int n = 1; n <= 101; ++n) many += "30 1.0 0.0 -10.0 1.0\n";
  const std::string e = "diff2wirenew: error: wires.dat: record ";
  const std::map<std::string, std::string> refused = {
      {"0 1.0 0.0 -10.0 1.0\n", e + "1: point 0 is outside 1 ... 73\n"},
      {"5 1 0 1 1\n74 1.0 0.0 -10.0 1.0\n", e + "2: point 74 is outside 1 ... 73\n"},
      {"5 1.0 0.0 -10.0 0.0\n", e + "1: the wire length is not positive\n"},
      {"5 1.0 0.0 -10.0 -2\n", e + "1: the wire length is not positive\n"},
      {"5 1.0,,-10.0 1\n", e + "1: a value is missing (null value)\n"},
      {many, e + "101: more than 100 wires\n"}};
  const Inputs ex = example_inputs({{kIopt, "0"}, {kNtrack, "10"}});
  for (const auto& [file, err] : refused) {
    Inputs in = ex;
    in["wires.dat"] = file;
    const Outcome o = run_program_on(in);
    EXPECT_EQ(o.run.status, 1) << file;
    EXPECT_EQ(o.run.err, err) << file;
    EXPECT_EQ(o.run.out.find(" start tracking "), std::string::npos) << file;
    EXPECT_NE(o.run.out.find(" wirecoef = "), std::string::npos) << file;
  }
  // A short record and a letter are refused the same way, one record per line.
  const std::map<std::string, std::string> unreadable = {
      {"5 1.0 0.0 -10.0 1.0\n7 1.0 0.0\n", e + "2: a value is missing (current)\n"},
      {"5 1.0 x -10.0 1.0\n", e + "1: yw 'x' is not a finite number\n"},
      // Bytes no terminal shows are escaped, and a long value is cut.
      {"\xEF\xBB\xBF"
       "5 1.0 0.0 -10.0 1.0\n",
       e + "1: point '\\xef\\xbb\\xbf5' (a UTF-8 byte-order mark begins it) is not a whole "
           "number\n"},
      {std::string("5 1.") + '\0' + "0 0.0 -10.0 1.0\n",
       e + "1: xw '1.\\x000' is not a finite number\n"},
      {"\x01\x7f\xff\n", e + "1: point '\\x01\\x7f\\xff' is not a whole number\n"},
      {"5 " + std::string(100000, '7') + " 0.0 -10.0 1.0\n",
       e + "1: xw '" + std::string(32, '7') + "...' (100000 bytes) is not a finite number\n"}};
  for (const auto& [file, err] : unreadable) {
    Inputs in = ex;
    in["wires.dat"] = file;
    const Outcome o = run_program_on(in);
    EXPECT_EQ(o.run.status, 1) << file;
    EXPECT_EQ(o.run.err, err) << file;
  }
}

TEST(Wires, EveryPathGivesTheSameResultsAndAParticleOnAWireIsLost) {
  // Four wires of the compensating kind near the encounters of the example,
  // two at one point, and in the footprint run one on the reference orbit,
  // where the slots without a grid point sit (12 particles at x = y = 0).
  const std::string wires =
      "9 -8.5272 0 -5.43 1.0\n"
      "40 0.0 -9.5931 -5.43 1.0\n"
      "40 0.3 -9.0 -2.0 0.5\n"
      "60 7.0 0.0 -5.43 1.0\n";
  for (const char* iopt : {"0", "1", "2", "3"}) {
    Inputs in = example_inputs({{kIopt, iopt}, {kNtrack, "300"}});
    in["wires.dat"] = wires + (std::string(iopt) == "3" ? "1 0 0 -5.43 1.0\n" : "");
    const Outcome ref = run_program_on(in, {{"BBTRACK_SCALAR", "1"}});
    ASSERT_EQ(ref.run.status, 0) << iopt << ref.run.err;
    EXPECT_NE(ref.run.out.find(
                  "  wire            9  -8.527200000000001       0.0000000000000000E+000\n"
                  "   -5.430000000000000        1.000000000000000      -4.6241928401297118E-011\n"),
              std::string::npos) << ref.run.out.substr(ref.run.out.find(" wirecoef"), 400);
    if (std::string(iopt) == "3") {
      EXPECT_NE(ref.run.out.find(" lost particles =           12\n"), std::string::npos);
    }
    for (const char* threads : {"1", "2"}) {
      const Outcome o = run_program_on(in, {{"-BBTRACK_SCALAR", ""}, {"OMP_NUM_THREADS", threads},
                                    {"OMP_WAIT_POLICY", "passive"}});
      EXPECT_TRUE(o.run.out == ref.run.out) << iopt << " " << threads;
      EXPECT_EQ(o.run.err, ref.run.err);
      EXPECT_TRUE(o.files == ref.files) << iopt << " " << threads;
    }
  }
}

// The tune of a betatron signal near the lattice tunes (fractional part
// 1 - Q of 0.67 and 0.68): the peak of the Hann-windowed amplitude on a
// grid over 0.25 ... 0.45, refined by golden-section search.
double tune_near_lattice(const std::vector<double>& s) {
  using bbtrack::testref::windowed_amplitude;
  const double n = static_cast<double>(s.size());
  double best = 0, peak = -1;
  for (double nu = 0.25; nu < 0.45; nu += 1 / n) {
    const double a = windowed_amplitude(s, nu);
    if (a > peak) peak = a, best = nu;
  }
  const double g = 0.5 * (std::sqrt(5.0) - 1);
  double lo = best - 1 / n, hi = best + 1 / n;
  for (int it = 0; it < 60; ++it) {
    const double c = hi - g * (hi - lo), d = lo + g * (hi - lo);
    if (windowed_amplitude(s, c) > windowed_amplitude(s, d))
      hi = d;
    else
      lo = c;
  }
  return 0.5 * (lo + hi);
}

// The tunes of the turn-by-turn run's particles of amplitude up to 6 sigma.
std::vector<std::array<double, 2>> tunes(const std::string& fmap, int nturn) {
  std::vector<std::array<double, 2>> q;
  const auto lines = split_lines(fmap);
  const int np = static_cast<int>(lines.size()) / nturn;
  for (int p = 1; p <= np; ++p) {
    // Grid point (i, j) of slot p = 1 + (j - 1) 12 + i, 10/12 sigma apart.
    const int i = (p - 2) % 12 + 1, j = (p - 2) / 12 + 1;
    if (p > 1 && std::hypot(i, j) * 10.0 / 12.0 > 6.0) continue;
    std::vector<double> x, y;
    for (int s = 2; s <= nturn; ++s) {  // sample 1 is in other units
      double v[4];
      std::sscanf(lines[static_cast<size_t>((p - 1) * nturn + s - 1)].c_str(), "%lf %lf %lf %lf",
                  &v[0], &v[1], &v[2], &v[3]);
      x.push_back(v[0]);
      y.push_back(v[2]);
    }
    q.push_back({tune_near_lattice(x), tune_near_lattice(y)});
  }
  return q;
}

// A ring of one long-range encounter at 10 sigma (point 10), without and
// with a wire on the bunch's centre carrying the current of the start-up
// evaluation for npar = 1, with the compensating and the reversed sign.
TEST(Wires, CompensatingWireCancelsTheTuneShiftOfALongRangeEncounter) {
  const int nturn = 512;
  const double beta = 80.0, emit = 3.75e-6 / 7460.52;
  const double sig = 1000.0 * std::sqrt(beta * emit);  // mm
  const double sep = 10.0 * sig;
  // The opposing bunch at x0 = -0.001 s3 = +10 sigma.
  std::string sigmas;
  for (int k = 1; k <= 73; ++k)
    if (k != 25) sigmas += std::to_string(k) + " " + num(sig) + " " + num(sig) + " " +
                           num(-sep) + " 0.0\n";
  const DiffInput d = DiffInput()
                          .set(kIopt, "2")
                          .set(kNtrack, std::to_string(nturn))
                          .set(kDnb, "1.15e11")
                          .set(kNpar, "1")
                          .set(kIwire, "1");
  Inputs in = {{"diff.input", d.text()},
               {"Matrices.dat", ring_matrices(0.67, 0.68, beta, beta)},
               {"Sigmas.dat", sigmas},
               {"excluded.dat", exclude_all_but({10})}};
  const Outcome bare = run_program_on(in);
  ASSERT_EQ(bare.run.status, 0) << bare.run.err;
  const std::string tag = " wire current = ";
  const auto at = bare.run.out.rfind(tag);  // the evaluation, after the parameter echo
  ASSERT_NE(at, std::string::npos);
  const double current = std::stod(bare.run.out.substr(at + tag.size(), 30));
  // On the bunch's centre: the numbers of the kick, xw = -s3.
  auto with_wire = [&](double i) {
    Inputs w = in;
    w["wires.dat"] = "10 " + num(sep) + " 0.0 " + num(i) + " 1.0\n";
    const Outcome o = run_program_on(w);
    EXPECT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_NE(o.run.out.find(" lost particles =            0\n"), std::string::npos);
    return o;
  };
  Inputs lin = in;
  lin["excluded.dat"] = exclude_all_but({});
  const auto q0 = tunes(run_program_on(lin).files.at("frequencymap.dat"), nturn);
  auto shift = [&](const Outcome& o) {
    const auto q = tunes(o.files.at("frequencymap.dat"), nturn);
    double s = 0;
    for (size_t n = 0; n < q.size(); ++n)
      s += std::fabs(q[n][0] - q0[n][0]) + std::fabs(q[n][1] - q0[n][1]);
    return s / static_cast<double>(2 * q.size());
  };
  const double none = shift(bare);
  const double comp = shift(with_wire(-current));
  const double twice = shift(with_wire(current));
  std::printf("[ wires    ] mean |tune shift| over %zu particles: %.4g without wire, %.4g with "
              "the compensating wire (%.2g %%), %.4g with the current reversed (x %.4f)\n",
              q0.size(), none, comp, 100.0 * comp / none, twice, twice / none);
  EXPECT_GT(none, 1e-5);
  EXPECT_LT(comp, 0.05 * none);
  EXPECT_NEAR(twice / none, 2.0, 0.1);
}

}  // namespace
}  // namespace e2e
