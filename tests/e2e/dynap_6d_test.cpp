// The study run with synchrotron motion: a ring of a six-dimensional
// encounter and a 6x6 one-turn matrix starts its particles at --delta and
// --z and reports the synchrotron tune; a ring without it keeps the
// four-dimensional columns; the options that need it are refused without.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace e2e {
namespace {

double num(const std::string& s) {
  double v = std::nan("");
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

std::string text(double v) {
  char b[32];
  return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
}

// The file's 6x6 one-turn matrix of tunes 0.31, 0.32, 0.0021, beta 0.55 m
// and beta_z 668 m, positions in mm.
std::string one_turn_matrix() {
  const double pi = 3.141592653589793, q[3] = {0.31, 0.32, 0.0021}, beta[3] = {550.0, 550.0, 668e3};
  double m[6][6] = {};
  for (int k = 0; k < 3; ++k) {
    const double c = std::cos(2 * pi * q[k]), s = std::sin(2 * pi * q[k]);
    m[2 * k][2 * k] = c, m[2 * k][2 * k + 1] = beta[k] * s;
    m[2 * k + 1][2 * k] = -s / beta[k], m[2 * k + 1][2 * k + 1] = c;
  }
  std::string r = "matrix m=";
  for (int i = 0; i < 36; ++i) {
    if (i > 0) r.push_back(',');
    r.append(text(m[i / 6][i % 6]));
  }
  r.push_back('\n');
  return r;
}

RunResult study(const std::string& ring, const std::vector<std::string>& args, std::string* csv) {
  TempDir d;
  write_file(d.file("ring.txt"), ring);
  std::vector<std::string> a{"dynap", "--quiet", "--ring", "ring.txt", "--amplitudes", "1:2:1",
                             "--angles", "1", "--turns", "2048", "--window", "1024"};
  a.insert(a.end(), args.begin(), args.end());
  RunResult r = run_program_args(d.path(), a);
  if (csv != nullptr && file_exists(d.file("dynap.csv"))) *csv = read_file(d.file("dynap.csv"));
  return r;
}

TEST(Dynap6d, StartsAtDeltaAndZAndReportsTheSynchrotronTune) {
  const std::string head = "bbtrack-ring 1\nbeam gamma=7461 emitn=3.75e-6\n";
  const std::string bb =
      "encounter6d npart=1.15e11 sigx=0.0167 sigy=0.0167 betx=0.55 bety=0.55 sigz=0.0755 "
      "slices=11 phi=150e-6\n";
  std::string csv;
  const RunResult r = study(head + bb + one_turn_matrix(), {"--delta", "2.7e-4", "--z", "0.05"}, &csv);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = split_lines(csv);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion,z,delta,qs");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    std::string::size_type at = 0;
    for (std::string::size_type c; (c = lines[i].find(',', at)) != std::string::npos; at = c + 1)
      f.push_back(lines[i].substr(at, c - at));
    f.push_back(lines[i].substr(at));
    ASSERT_EQ(f.size(), 19u);
    // No dispersion: x = ax sigma_x, the start z and delta as asked.
    EXPECT_NEAR(num(f[5]), num(f[3]) * std::sqrt(0.55 * 3.75e-6 / 7461), 1e-15);
    EXPECT_NEAR(num(f[16]), 0.05, 1e-15);
    EXPECT_NEAR(num(f[17]), 2.7e-4, 1e-18);
    EXPECT_NEAR(num(f[18]), 0.0021, 1e-6);
    EXPECT_GT(num(f[11]), 0.31);  // the beam-beam tune shift
  }
  // Without synchrotron motion the rows are the four-dimensional ones, and
  // the options that need it are refused.
  const std::string plain = head + one_turn_matrix();
  ASSERT_EQ(study(plain, {}, &csv).status, 0);
  EXPECT_EQ(split_lines(csv)[0],
            "index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion");
  const RunResult refused = study(plain, {"--delta", "1e-4"}, nullptr);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--delta and --z need synchrotron motion"), std::string::npos) << refused.err;
  const RunResult no_bucket =
      study(head + "matrix m=0.5,1,0,0,-0.75,0.5,0,0,0,0,0.5,1,0,0,-0.75,0.5\n", {"--6d"}, nullptr);
  EXPECT_EQ(no_bucket.status, 2);
  EXPECT_NE(no_bucket.err.find("needs the ring's 6x6 maps"), std::string::npos) << no_bucket.err;
}

// Shards of a study with synchrotron motion merge to the study's own rows.
TEST(Dynap6d, ShardsMergeToTheWholeStudy) {
  TempDir d;
  write_file(d.file("ring.txt"),
             "bbtrack-ring 1\nbeam gamma=7461 emitn=3.75e-6\n"
             "encounter6d npart=1.15e11 sigx=0.0167 sigy=0.0167 betx=0.55 bety=0.55 "
             "sigz=0.0755 slices=5 phi=150e-6\n" + one_turn_matrix());
  const std::vector<std::string> a{"dynap",    "--quiet", "--ring",   "ring.txt", "--amplitudes",
                                   "1:3:1",    "--angles", "2",       "--turns",  "512",
                                   "--window", "256",     "--delta",  "2.7e-4"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> v = a;
    v.insert(v.end(), more.begin(), more.end());
    return run_program_args(d.path(), v).status;
  };
  ASSERT_EQ(with({"--out", "whole"}), 0);
  ASSERT_EQ(with({"--shard", "1/2", "--out", "s1"}), 0);
  ASSERT_EQ(with({"--shard", "2/2", "--out", "s2"}), 0);
  ASSERT_EQ(with({"--merge", "s1", "--merge", "s2", "--out", "merged"}), 0);
  EXPECT_EQ(read_file(d.file("merged/dynap.csv")), read_file(d.file("whole/dynap.csv")));
}

}  // namespace
}  // namespace e2e
