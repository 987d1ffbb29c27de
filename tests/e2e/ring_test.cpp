// The study run on a general ring (`dynap --ring FILE`): the bundled
// example with lattice elements, written element by element, gives the
// classic folder's results;
// linear rings at any working point, coupled or not, give the tunes of
// their one-turn matrix; a head-on encounter shifts them as its thin lens;
// every path, thread count and error-function mode gives the same bytes; a
// ring of 10,000 elements runs; bad lines and an unstable ring are refused.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <complex>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace e2e {
namespace {

using Env = std::map<std::string, std::string>;
using Mat = std::vector<std::vector<double>>;  // 4x4, m and rad
const double kPi = 4.0 * std::atan(1.0);

std::string num(double v) {
  char b[32];
  return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
}

// A matrix record of m (tracking units) in the file's units (mm, rad).
std::string matrix_record(const Mat& m) {
  std::string t = "matrix m=";
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      const double f = (i % 2 == 0 ? 1000.0 : 1.0) * (j % 2 == 0 ? 0.001 : 1.0);
      if (i + j) t += ',';
      t += num(m[i][j] * f);
    }
  return t + "\n";
}

Mat identity() {
  Mat m(4, std::vector<double>(4, 0.0));
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0;
  return m;
}

Mat product(const Mat& a, const Mat& b) {
  Mat p(4, std::vector<double>(4, 0.0));
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int l = 0; l < 4; ++l) p[i][j] += a[i][l] * b[l][j];
  return p;
}

// The matched rotation of both planes through 2 pi q (beta, alpha).
Mat rotation(double qx, double qy, double bx, double ax, double by, double ay) {
  Mat m = identity();
  auto plane = [&](int p, double q, double b, double a) {
    const double c = std::cos(2 * kPi * q), s = std::sin(2 * kPi * q);
    m[p][p] = c + a * s;
    m[p][p + 1] = b * s;
    m[p + 1][p] = -(1 + a * a) / b * s;
    m[p + 1][p + 1] = c - a * s;
  };
  plane(0, qx, bx, ax);
  plane(2, qy, by, ay);
  return m;
}

// The tune of a stable 2x2 block: acos(trace/2)/2pi, on the far side of
// 1/2 when M12 < 0 (sin mu < 0).
double block_tune(const Mat& m, int p) {
  const double a = std::acos((m[p][p] + m[p + 1][p + 1]) / 2) / (2 * kPi);
  return m[p][p + 1] < 0 ? 1 - a : a;
}

struct Study {
  RunResult run;
  std::map<std::string, std::string> files;
};

Study study(const std::map<std::string, std::string>& inputs, std::vector<std::string> args,
            const Env& env = {}) {
  TempDir d;
  for (const auto& [name, text] : inputs) write_file(d.file(name), text);
  args.insert(args.begin(), {"dynap", "--quiet"});
  Study s{run_program_args(d.path(), args, env), {}};
  for (const auto& name : list_files(d.path()))
    if (name[0] != '.' && !inputs.count(name)) s.files[name] = read_file(d.file(name));
  return s;
}

// The rows of dynap.csv as numbers by column name.
std::vector<std::map<std::string, double>> rows(const std::string& csv) {
  std::vector<std::map<std::string, double>> out;
  std::vector<std::string> head;
  for (const auto& line : split_lines(csv)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string x; std::getline(ss, x, ',');) f.push_back(x);
    if (!line.empty() && line.back() == ',') f.emplace_back();
    if (head.empty()) {
      head = f;
      continue;
    }
    std::map<std::string, double> r;
    for (std::size_t i = 0; i < head.size() && i < f.size(); ++i)
      r[head[i]] = f[i].empty() ? std::nan("") : std::stod(f[i]);
    out.push_back(r);
  }
  return out;
}

// The tunes of the study's first particle.
void tunes(const Study& s, double& qx, double& qy) {
  ASSERT_EQ(s.run.status, 0) << s.run.err;
  const auto r = rows(s.files.at("dynap.csv"));
  ASSERT_FALSE(r.empty());
  qx = r[0].at("qx1");
  qy = r[0].at("qy1");
}

// Lattice elements added to the bundled example: element files of the
// folder, and the same as records of a general ring, by point.
const char* const kWires = "5 -6 0.5 20 1 0.01 37 0.2 0.001\n40 8 -0.2 10 1.5\n";
const char* const kMultipoles = "12 3 2 0\n12 2 0 0.005\n50 4 100 20\n";
const char* const kModulation = "x 1e-3 50 0\ny 5e-4 80 1\n";
const std::map<int, std::string> kElementsAt = {
    {5, "wire x=-6 y=0.5 current=20 length=1 ripple=0.01 period=37 phase=0.2 noise=0.001 seed=1\n"},
    {12, "multipole n=3 kn=2 sn=0\nmultipole n=2 kn=0 sn=0.005\n"},
    {40, "wire x=8 y=-0.2 current=10 length=1.5\n"},
    {50, "multipole n=4 kn=100 sn=20\n"}};

// The bundled example as a general ring: section k is its encounter (unless
// excluded, or point 25), its wires and multipoles, and its matrix; every
// number as the folder has it.
std::string example_as_ring(bool elements) {
  const std::string dir = example_dir();
  const auto diff = split_lines(read_file(dir + "/diff.input"));
  auto first = [](const std::string& line) { return line.substr(0, line.find(' ')); };
  std::vector<std::string> words;
  std::vector<std::vector<std::string>> blocks;
  for (const auto& line : split_lines(read_file(dir + "/Matrices.dat"))) {
    std::stringstream ss(line);
    std::string w;
    if (!(ss >> w)) continue;
    if (std::isalpha(static_cast<unsigned char>(w[0]))) {
      blocks.emplace_back();
      continue;
    }
    do blocks.back().push_back(w);
    while (ss >> w);
  }
  std::vector<std::vector<std::string>> sig;
  for (const auto& line : split_lines(read_file(dir + "/Sigmas.dat"))) {
    std::stringstream ss(line);
    std::vector<std::string> f;
    for (std::string w; ss >> w;) f.push_back(w);
    if (!f.empty()) sig.push_back(f);
  }
  std::string t = "bbtrack-ring 1\n# the bundled example, section by section\n";
  t += "beam gamma=" + first(diff[28]) + " emitn=" + first(diff[26]) + "\n";
  if (elements)
    t += "modulation plane=x dq=1e-3 period=50 phase=0\nmodulation plane=y dq=5e-4 period=80 phase=1\n";
  std::size_t j = 0;
  for (int k = 1; k <= 73; ++k) {
    if (k != 25) {
      const auto& s = sig[j++];
      if (k != 23 && k != 24)  // excluded.dat
        t += "encounter name=P" + std::to_string(k) + " npart=" + first(diff[20]) + " sigx=" + s[1] +
             " sigy=" + s[2] + " sepx=" + s[3] + " sepy=" + s[4] + "\n";
    }
    if (elements && kElementsAt.count(k)) t += kElementsAt.at(k);
    t += "matrix name=SEC" + std::to_string(k) + " m=";
    for (std::size_t i = 0; i < blocks[k - 1].size(); ++i) {
      if (i) t += ',';
      t += blocks[k - 1][i];
    }
    t += "\n";
  }
  return t;
}

// The study of the example's folder, plain or with the lattice elements, and
// of the same written as a general ring.
void example_studies(bool elements, const std::vector<std::string>& args, Study& classic,
                     Study& ring) {
  std::map<std::string, std::string> folder;
  for (const auto& name : list_files(example_dir()))
    folder[name] = read_file(example_dir() + "/" + name);
  if (elements) {
    folder["wires.dat"] = kWires;
    folder["multipoles.dat"] = kMultipoles;
    folder["modulation.dat"] = kModulation;
  }
  classic = study(folder, args);
  auto a = args;
  a.insert(a.end(), {"--ring", "ring.txt"});
  ring = study({{"ring.txt", example_as_ring(elements)}}, a);
}

TEST(Ring, ExampleWrittenAsARingGivesTheClassicResults) {
  Study classic, ring;
  example_studies(false,
                  {"--amplitudes", "2:22:5", "--angles", "3", "--turns", "2400", "--window", "1024",
                   "--aperture", "18"},
                  classic, ring);
  ASSERT_EQ(classic.run.status, 0) << classic.run.err;
  ASSERT_EQ(ring.run.status, 0) << ring.run.err;
  const auto a = rows(classic.files.at("dynap.csv")), b = rows(ring.files.at("dynap.csv"));
  ASSERT_EQ(a.size(), b.size());
  int regular = 0, lost = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (const char* c : {"x", "px", "y", "py"})
      EXPECT_LE(std::fabs(a[i].at(c) - b[i].at(c)), 1e-14 * std::fabs(a[i].at(c))) << c << i;
    lost += a[i].at("lost") != 0;
    if (!(a[i].at("diffusion") < -7)) continue;
    ++regular;
    EXPECT_EQ(a[i].at("turns"), b[i].at("turns")) << i;
    for (const char* q : {"qx1", "qy1", "qx2", "qy2"})
      EXPECT_NEAR(a[i].at(q), b[i].at(q), 1e-12) << q << i;
  }
  EXPECT_GT(regular, 3);
  EXPECT_GT(lost, 0);
  // Stronger than asked: the same operations in the same order, so every
  // result file is the same, byte for byte.
  EXPECT_TRUE(classic.files == ring.files);
  EXPECT_EQ(classic.run.out, ring.run.out);

  // With wires (one with ripple and noise), multipoles of orders 2 to 4 and
  // a tune modulation of both planes: again the same bytes.
  example_studies(true,
                  {"--amplitudes", "1:13:4", "--angles", "2", "--turns", "600", "--window", "256"},
                  classic, ring);
  ASSERT_EQ(classic.run.status, 0) << classic.run.err;
  EXPECT_EQ(ring.run.status, 0) << ring.run.err;
  EXPECT_TRUE(classic.files == ring.files);
  EXPECT_EQ(classic.run.out, ring.run.out);
}

TEST(Ring, LinearRingsGiveTheOneTurnMapTunesAtAnyWorkingPoint) {
  // Uncoupled: each ring three matched sections of different optics, so
  // that alpha is not zero at the observation point, no encounter.
  const std::vector<std::string> args = {"--amplitudes", "1:1:1", "--angles", "1", "--turns",
                                         "8192", "--window", "4096"};
  for (const auto& [qx, qy] : std::vector<std::pair<double, double>>{
           {0.31, 0.32}, {0.69, 0.70}, {0.08, 0.13}, {0.93, 0.88}}) {
    const Mat s1 = rotation(qx * 0.5, qy * 0.25, 30.0, 1.2, 50.0, -0.7);
    const Mat s2 = rotation(qx * 0.5, qy * 0.75, 30.0, 1.2, 50.0, -0.7);
    Mat drift = identity();
    drift[0][1] = drift[2][3] = 3.0;  // then a drift: the one-turn map is not a pure rotation
    Mat inv = identity();
    inv[0][1] = inv[2][3] = -3.0;
    // The map D (s2 s1) D^-1: the tunes qx, qy, with other optics.
    const std::string ring = "bbtrack-ring 1\nbeam gamma=7460.52 emitn=3.75e-6 emitny=2.5e-6\n" +
                             matrix_record(product(s1, inv)) + matrix_record(s2) +
                             matrix_record(drift);
    const Mat m = product(drift, product(s2, product(s1, inv)));
    double rx, ry;
    tunes(study({{"r", ring}}, [&] { auto a = args; a.insert(a.end(), {"--ring", "r"}); return a; }()),
          rx, ry);
    EXPECT_NEAR(rx, block_tune(m, 0), 1e-10) << qx;
    EXPECT_NEAR(ry, block_tune(m, 2), 1e-10) << qy;
    EXPECT_NEAR(rx, qx, 1e-9);
  }
  // Coupled by a thin skew quadrupole: the tunes of the normal modes are
  // those of the eigenvalues of the 4x4 one-turn matrix, found here from
  // N = M + M^-1 (M^-1 = -S M^T S), whose eigenvalues 2 cos mu are double:
  // tr N = 2 (t1 + t2), tr N^2 = 2 (t1^2 + t2^2).
  const double j1 = 4e-3;
  const Mat r = rotation(0.31, 0.32, 30.0, 0.0, 50.0, 0.0);
  Mat skew = identity();
  skew[1][2] = j1;
  skew[3][0] = j1;
  const Mat m = product(r, skew);
  Mat n = m;
  auto s = [](int i, int j) { return i / 2 == j / 2 ? (j - i == 1 && i % 2 == 0 ? 1.0 : i - j == 1 && j % 2 == 0 ? -1.0 : 0.0) : 0.0; };
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double v = 0;
      for (int k = 0; k < 4; ++k)
        for (int l = 0; l < 4; ++l) v += s(i, k) * m[l][k] * s(l, j);
      n[i][j] -= v;
    }
  const Mat n2 = product(n, n);
  const double tr1 = (n[0][0] + n[1][1] + n[2][2] + n[3][3]) / 2;
  const double tr2 = (n2[0][0] + n2[1][1] + n2[2][2] + n2[3][3]) / 2;
  const double d = std::sqrt(2 * tr2 - tr1 * tr1);  // t1 - t2
  const double t1 = (tr1 + d) / 2, t2 = (tr1 - d) / 2;  // cos 2pi 0.31 > cos 2pi 0.32
  const double q1 = std::acos(t1 / 2) / (2 * kPi), q2 = std::acos(t2 / 2) / (2 * kPi);
  ASSERT_GT(std::fabs(q1 - 0.31), 1e-4);  // the coupling moves the tunes
  const std::string ring = "bbtrack-ring 1\nbeam gamma=7460.52 emitn=3.75e-6\n"
                           "multipole name=SKEW n=1 kn=0 sn=" + num(j1) + "\n" + matrix_record(r);
  double rx, ry;
  tunes(study({{"r", ring}}, [&] { auto a = args; a.insert(a.end(), {"--ring", "r"}); return a; }()),
        rx, ry);
  EXPECT_NEAR(rx, q1, 1e-10);
  EXPECT_NEAR(ry, q2, 1e-10);
}

TEST(Ring, HeadOnEncounterShiftsTheTunesAsItsThinLens) {
  // LHC working point, one round head-on encounter of opposite charge at the
  // observation point: at small amplitude a thin lens of strength
  // k = N rp / (gamma sigma^2) in both planes.
  const double npart = 1.15e11, sig_mm = 0.0166, gamma = 7460.52, rp = 1.5e-18;
  const double bx = 0.55, by = 0.60;
  const Mat r = rotation(0.31, 0.32, bx, 0.0, by, 0.0);
  const std::string ring = "bbtrack-ring 1\nbeam gamma=" + num(gamma) + " emitn=3.75e-6\n" +
                           "encounter name=IP1 npart=" + num(npart) + " sigx=" + num(sig_mm) +
                           " sigy=" + num(sig_mm) + "\n" + matrix_record(r);
  const double k = npart * rp / (gamma * (sig_mm * 1e-3) * (sig_mm * 1e-3));
  Mat lens = identity();
  lens[1][0] = -k;
  lens[3][2] = -k;
  const Mat m = product(r, lens);
  const double qx = block_tune(m, 0), qy = block_tune(m, 2);
  ASSERT_GT(qx - 0.31, 2e-3);
  double rx, ry;
  tunes(study({{"r", ring}}, {"--amplitudes", "0.05:0.05:1", "--angles", "1", "--turns", "8192",
                              "--window", "4096", "--ring", "r"}),
        rx, ry);
  EXPECT_NEAR(rx, qx, 1e-3 * (qx - 0.31));
  EXPECT_NEAR(ry, qy, 1e-3 * (qy - 0.32));
}

// A ring of every element kind: elliptical, round and separated encounters
// of different populations, wires with ripple and noise, multipoles of
// several orders, a coupled matrix, and kicks that follow one another
// without a matrix between them.
std::string mixed_ring(int sections) {
  std::string t = "bbtrack-ring 1\nbeam gamma=7460.52 emitn=3.75e-6 emitny=3.0e-6\n";
  for (int k = 0; k < sections; ++k) {
    const double q = 0.31 / sections, qy = 0.32 / sections;
    t += "encounter npart=" + num(1.0e11 + 1e9 * k) + " sigx=0.02 sigy=" + (k % 3 ? "0.015" : "0.02") +
         " sepx=" + num(k % 2 ? 0.19 : 0.0) + " sepy=" + num(k % 4 == 3 ? -0.12 : 0.0) + "\n";
    if (k % 5 == 1) t += "wire x=-0.3 y=0.1 current=40 length=1 ripple=0.01 period=37 phase=0.3 noise=1e-3\n";
    if (k % 7 == 2) t += "multipole n=2 kn=0.3 sn=0\nmultipole n=4 kn=0 sn=2e3\n";
    if (k % 9 == 4) t += "encounter npart=-5e10 sigx=0.03 sigy=0.02 sepx=0.3\n";
    Mat m = rotation(q, qy, 40.0 + k, 0.1, 60.0 - k, -0.2);
    if (k == 3) {
      m[0][2] = 1e-3;  // a tilted element: the map is coupled
      m[3][1] = 1e-3;
    }
    t += matrix_record(m);
  }
  return t;
}

TEST(Ring, SameBytesOnEveryPathThreadCountAndErrfMode) {
  const std::map<std::string, std::string> in = {{"r", mixed_ring(24)}};
  const std::vector<std::string> args = {"--amplitudes", "2:20:6", "--angles", "3", "--turns", "600",
                                         "--window", "256", "--aperture", "14", "--ring", "r"};
  for (const char* errf : {"exact", "fast"}) {
    const Study ref = study(in, args, {{"BBTRACK_SCALAR", "1"}, {"BBTRACK_ERRF", errf}});
    ASSERT_EQ(ref.run.status, 0) << ref.run.err;
    const auto r = rows(ref.files.at("dynap.csv"));
    int lost = 0;
    for (const auto& row : r) lost += row.at("lost") != 0;
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, static_cast<int>(r.size()));
    for (const char* threads : {"1", "2"}) {
      const Study s = study(in, args,
                            {{"-BBTRACK_SCALAR", ""}, {"BBTRACK_ERRF", errf}, {"OMP_NUM_THREADS", threads},
                             {"OMP_WAIT_POLICY", "passive"}});
      EXPECT_EQ(s.run.status, 0) << s.run.err;
      EXPECT_TRUE(s.files == ref.files) << errf << ", " << threads << " threads: results differ";
    }
  }
}

TEST(Ring, TenThousandElementsRun) {
  // 2,500 sections of an encounter, a wire, a multipole and a matrix, and
  // a tune modulation.
  std::string t = "bbtrack-ring 1\nbeam gamma=7460.52 emitn=3.75e-6\n"
                  "modulation plane=x dq=1e-3 period=100 phase=0.5\n";
  const int n = 2500;
  const std::string m = matrix_record(rotation(0.31 / n, 0.32 / n, 50.0, 0.0, 50.0, 0.0));
  for (int k = 0; k < n; ++k)
    t += "encounter npart=1e9 sigx=0.3 sigy=0.25 sepx=" + num(k % 2 ? 3.0 : -3.0) +
         "\nwire x=10 y=0 current=1 length=1\nmultipole n=3 kn=1 sn=0\n" + m;
  const Study s = study({{"r", t}}, {"--amplitudes", "1:5:4", "--angles", "2", "--turns", "40",
                                     "--window", "0", "--ring", "r"});
  ASSERT_EQ(s.run.status, 0) << s.run.err;
  for (const auto& r : rows(s.files.at("dynap.csv"))) EXPECT_EQ(r.at("lost"), 0);
}

TEST(Ring, BadLinesAndUnstableRingsAreRefusedBeforeTracking) {
  const std::string bad =
      "# a ring with faults\n"
      "bbtrack-ring 1\n"
      "beam gamma=0.5 emitn=3.75e-6 colour=red\n"
      "matrix m=1,0,0\n"
      "encounter npart=1e11 sigx=-1 sigy=0.02 sigy=0.03\n"
      "wire x=1 y=0 current=1e2 length=1 ripple=0.1\n"
      "multipole n=0 kn=1 sn=nan\n"
      "beam gamma=7000 emitn=1e-6\n"
      "kicker strength=3\n"
      "encounter npart=1.0d11 sigx=0.02\n"
      "modulation plane=z dq=1e-3 period=0 phase=0\n"
      "encounter6d npart=1e11 sigx=0.02 sigy=0.02 betx=0.5 bety=0.5 sigz=0.08 slices=0 phi=1\n"
      "matrix name=A m=1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1 extra\n";
  const Study s = study({{"r", bad}}, {"--ring", "r"});
  EXPECT_EQ(s.run.status, 2);
  EXPECT_TRUE(s.files.empty()) << "results written";
  EXPECT_EQ(s.run.out, "");
  const std::string e = "diff2wirenew: error: r:";
  const std::vector<std::string> want = {
      e + "3: colour: unknown key of beam (its keys: gamma, emitn, emitny)",
      e + "3: gamma: a Lorentz factor > 1",
      e + "4: m: 3 coefficients; accepted: 16 (4x4) or 36 (6x6), row by row",
      e + "5: sigy: given twice",
      e + "5: sigx: a size > 0 (mm)",
      e + "6: period: missing: a ripple needs its period (turns)",
      e + "7: n: order 0 is outside 1 ... 10 (a dipole would move the closed orbit)",
      e + "7: sn: 'nan' is not a finite number",
      e + "8: beam: given twice; the ring has one beam record",
      e + "8: beam: after the first element; it comes before them",
      e + "9: kicker: unknown keyword (known: beam, modulation, matrix, encounter, wire, "
          "multipole, encounter6d)",
      e + "10: sigy: missing",
      e + "11: plane: 'z' is not a plane (x or y)",
      e + "11: period: a period > 0 (turns)",
      e + "12: slices: a whole number from 1 to 1000000",
      e + "12: phi: a half crossing angle |phi| < 0.5 (rad)",
      e + "13: extra: not a key=value field"};
  std::string expect;
  for (const auto& w : want) expect += w + "\n";
  EXPECT_EQ(s.run.err, expect);

  // A ring whose horizontal one-turn map is unstable (trace 2.5), and one
  // with no version line.
  Mat m = rotation(0.31, 0.32, 50.0, 0.0, 50.0, 0.0);
  m[0][0] = 2.0, m[0][1] = 1.0, m[1][0] = 1.0, m[1][1] = 0.5;  // det 0: trace only
  const Study u = study({{"r", "bbtrack-ring 1\nbeam gamma=100 emitn=1e-6\n" + matrix_record(m)}},
                        {"--ring", "r"});
  EXPECT_EQ(u.run.status, 2);
  EXPECT_EQ(u.run.err, "diff2wirenew: error: r: one-turn map: mode 1 (horizontal) is unstable: "
                       "its trace 2 cos mu = 2.5, |2 cos mu| >= 2\n");
  EXPECT_TRUE(u.files.empty());
  // Values each in range whose derived quantities underflow: an emittance
  // of 1e-320 and a size of 1e-310 mm.
  const Study t = study({{"r", "bbtrack-ring 1\nbeam gamma=100 emitn=1e-320 emitny=1e-6\n" +
                                   matrix_record(rotation(0.31, 0.32, 50.0, 0.0, 50.0, 0.0)) +
                                   "encounter npart=1e11 sigx=1e-310 sigy=0.02\n"}},
                        {"--ring", "r"});
  EXPECT_EQ(t.run.status, 2);
  EXPECT_EQ(t.run.err,
            "diff2wirenew: error: r: beam: the geometric emittance emitn/gamma = 1e-322 is not a "
            "finite positive normal number: the tracking could not use it\n"
            "diff2wirenew: error: r:4: sigx in metres = 1e-313 is not a finite positive normal "
            "number: the tracking could not use it\n");
  EXPECT_TRUE(t.files.empty());
  const Study v = study({{"r", "matrix m=1\n"}}, {"--ring", "r"});
  EXPECT_EQ(v.run.status, 2);
  EXPECT_EQ(v.run.err, "diff2wirenew: error: r:1: version: the first line is not `bbtrack-ring 1`\n");
}

}  // namespace
}  // namespace e2e
