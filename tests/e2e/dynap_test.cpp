// The study run `diff2wirenew dynap`: in a linear ring every particle's
// refined tunes are the lattice tunes, and with a thin quadrupole those of
// the one-turn matrix with it; its results are the same on every
// path and thread count; it writes only its own files and prints only its
// summary; a wrong option is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/compare.h"
#include "e2e/harness.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

using Env = std::map<std::string, std::string>;

struct Study {
  RunResult run;
  std::map<std::string, std::string> files;  // every file left in the folder
};

Study study(const Inputs& inputs, const std::vector<std::string>& args, const Env& env = {}) {
  TempDir d;
  for (const auto& [name, text] : inputs) write_file(d.file(name), text);
  std::vector<std::string> a{"dynap", "--quiet"};
  a.insert(a.end(), args.begin(), args.end());
  Study s{run_program_args(d.path(), a, env), {}};
  for (const auto& name : list_files(d.path()))
    if (name[0] != '.' && !inputs.count(name)) s.files[name] = read_file(d.file(name));
  return s;
}

// The rows of a CSV file as fields by column name.
std::vector<std::map<std::string, std::string>> csv(const std::string& text) {
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> head;
  for (const auto& line : split_lines(text)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string x; std::getline(ss, x, ',');) f.push_back(x);
    if (line.back() == ',') f.emplace_back();
    if (head.empty()) {
      head = f;
      continue;
    }
    std::map<std::string, std::string> r;
    for (std::size_t i = 0; i < head.size() && i < f.size(); ++i) r[head[i]] = f[i];
    rows.push_back(r);
  }
  return rows;
}

TEST(Dynap, LinearRingGivesTheLatticeTunes) {
  // Every encounter excluded: the ring is the product of the 73 rotations,
  // whose fractional tunes are 0.69 and 0.72.
  Inputs in;
  in["diff.input"] = DiffInput().text();
  in["Matrices.dat"] = ring_matrices(64.69, 59.72, 120.0, 80.0);
  in["Sigmas.dat"] = uniform_sigmas(0.02, 0.02, 0.0, 0.0);
  in["excluded.dat"] = exclude_all_but({});
  const Study s = study(in, {"--amplitudes", "1:9:4", "--angles", "3", "--turns", "2048"});
  ASSERT_EQ(s.run.status, 0) << s.run.err;
  EXPECT_EQ(s.run.err, "");
  // Only the study's files, and the summary is all of standard output.
  std::vector<std::string> names;
  for (const auto& [name, text] : s.files) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"dynap.csv", "dynap_angles.csv", "dynap_summary.txt"}));
  EXPECT_EQ(s.run.out, s.files.at("dynap_summary.txt"));
  EXPECT_NE(s.run.out.find("da_min = 9\n"), std::string::npos) << s.run.out;

  const auto rows = csv(s.files.at("dynap.csv"));
  ASSERT_EQ(rows.size(), 9u);
  for (const auto& r : rows) {
    EXPECT_EQ(r.at("lost"), "0");
    EXPECT_EQ(r.at("turns"), "2048");
    for (const char* q : {"qx1", "qx2"}) EXPECT_NEAR(std::stod(r.at(q)), 0.69, 1e-9) << q;
    for (const char* q : {"qy1", "qy2"}) EXPECT_NEAR(std::stod(r.at(q)), 0.72, 1e-9) << q;
    EXPECT_LT(std::stod(r.at("diffusion")), -9.0);
  }
}

TEST(Dynap, ThinQuadrupoleMovesTheTunesAsTheOneTurnMatrix) {
  // The linear ring of rotations (alpha 0, the same beta everywhere) with a
  // thin quadrupole at point 30: the one-turn matrix's trace is
  // 2 cos mu - k beta sin mu, k = K1L in x and -K1L in y.
  const double pi = 4.0 * std::atan(1.0), k1l = 1.0e-3, betx = 120.0, bety = 80.0;
  Inputs in;
  in["diff.input"] = DiffInput().text();
  in["Matrices.dat"] = ring_matrices(64.69, 59.72, betx, bety);
  in["Sigmas.dat"] = uniform_sigmas(0.02, 0.02, 0.0, 0.0);
  in["excluded.dat"] = exclude_all_but({});
  in["multipoles.dat"] = "30 1 1.0e-3 0\n";  // k1l
  auto tune = [&](double q, double k, double beta) {
    const double mu = 2 * pi * q;
    const double c = (2 * std::cos(mu) - k * beta * std::sin(mu)) / 2;
    return 1.0 - std::acos(c) / (2 * pi);  // both fractional tunes above 1/2
  };
  const double qx = tune(0.69, k1l, betx), qy = tune(0.72, -k1l, bety);
  ASSERT_GT(qx - 0.69, 5e-3);
  ASSERT_LT(qy - 0.72, -3e-3);
  const Study s = study(in, {"--amplitudes", "1:3:2", "--angles", "2", "--turns", "2048"});
  ASSERT_EQ(s.run.status, 0) << s.run.err;
  const auto rows = csv(s.files.at("dynap.csv"));
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& r : rows) {
    for (const char* q : {"qx1", "qx2"}) EXPECT_NEAR(std::stod(r.at(q)), qx, 1e-9) << q;
    for (const char* q : {"qy1", "qy2"}) EXPECT_NEAR(std::stod(r.at(q)), qy, 1e-9) << q;
  }
}

TEST(Dynap, SameResultsOnEveryPathAndThreadCount) {
  // The bundled example, with an aperture that loses some of the particles
  // (the batch is compacted as they go) and a window that ends early.
  const Inputs in = example_inputs();
  const std::vector<std::string> args = {"--amplitudes", "3:15:4", "--angles", "2", "--turns",
                                         "700", "--window", "300", "--aperture", "13"};
  const Study ref = study(in, args, {{"BBTRACK_SCALAR", "1"}});
  ASSERT_EQ(ref.run.status, 0) << ref.run.err;
  const auto rows = csv(ref.files.at("dynap.csv"));
  int lost = 0;
  for (const auto& r : rows) lost += r.at("lost") == "1";
  EXPECT_GT(lost, 0);
  EXPECT_LT(lost, static_cast<int>(rows.size()));
  for (const char* threads : {"1", "2"}) {
    const Study s = study(in, args,
                          {{"-BBTRACK_SCALAR", ""}, {"OMP_NUM_THREADS", threads},
                           {"OMP_WAIT_POLICY", "passive"}});
    EXPECT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(s.run.out, ref.run.out) << threads;
    EXPECT_TRUE(s.files == ref.files) << threads << " threads: results differ";
  }
}

TEST(Dynap, WrongOptionsAreRefused) {
  const Inputs in = example_inputs();
  const std::vector<std::vector<std::string>> wrong = {
      {"--amplitudes", "1:10"}, {"--amplitudes", "5:1:1"}, {"--angles", "0"}, {"--grid", "rz"},
      {"--turns", "1000"},  // less than two windows of 1024
      {"--window", "-1"},   {"--aperture", "0"},       {"--bogus", "1"},   {"--turns"}};
  for (const auto& args : wrong) {
    const Study s = study(in, args);
    EXPECT_EQ(s.run.status, 2) << args[0];
    EXPECT_EQ(s.run.err.rfind("diff2wirenew: error: dynap: ", 0), 0u) << s.run.err;
    EXPECT_TRUE(s.files.empty()) << args[0];
    EXPECT_EQ(s.run.out, "");
  }
}

}  // namespace
}  // namespace e2e
