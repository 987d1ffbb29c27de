#include "e2e/inputs.h"

#include <charconv>
#include <cmath>
#include <set>

namespace e2e {
namespace {

std::string num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 16);
  return std::string(buf, r.ptr);
}

}  // namespace

DiffInput::DiffInput() {
  lines = {
      "test run of the end-to-end suite",
      "6.0",
      "----",
      "iopt: 0 diffusion, 1 phase space, 2 turn by turn, 3 footprint",
      "0",
      "itrip",
      "0",
      "ichoice",
      "1",
      "ntrack",
      "10",
      "npart",
      "100",
      "x tunes",
      "64.31 0.31",
      "y tunes",
      "59.32 0.32",
      "circumference [m]",
      "26658.883",
      "bunch population",
      "1.15e11",
      "spacing",
      "7.48",
      "betastar [m]",
      "0.55",
      "normalised emittance [m rad]",
      "3.75e-6",
      "gamma",
      "7460.52",
      "xi",
      "0.0037",
      "sstar",
      "0.0",
      "divstar",
      "0.0",
      "thetac",
      "285e-6",
      "npar",
      "16",
      "dpxm, dpym / fx, fy",
      "0.0 0.0",
      "0.0 0.0",
      "iwire",
      "0",
      "wire errors [%, mrad], random, distance error [%], iwswitch",
      "0.0 0.0 0.0",
      "0.0",
      "0",
      "wire current [A], length [m], distance, betas [m]",
      "80.0 1.0",
      "9.5 1000.0 1000.0",
  };
}

DiffInput& DiffInput::set(int line, const std::string& text) {
  lines.at(static_cast<size_t>(line - 1)) = text;
  return *this;
}

std::string DiffInput::text() const {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

std::string ring_matrices(double qx, double qy, double betx, double bety) {
  const double pi = 4.0 * std::atan(1.0);
  const double mx = 2.0 * pi * qx / 73.0, my = 2.0 * pi * qy / 73.0;
  std::string s;
  for (int k = 1; k <= 73; ++k) {
    double r[6][6] = {};
    // SI matrix, then positions in mm: R_file(i,j) = R(i,j) d_j / d_i.
    r[0][0] = std::cos(mx);
    r[0][1] = betx * std::sin(mx) * 1000.0;
    r[1][0] = -std::sin(mx) / betx / 1000.0;
    r[1][1] = std::cos(mx);
    r[2][2] = std::cos(my);
    r[2][3] = bety * std::sin(my) * 1000.0;
    r[3][2] = -std::sin(my) / bety / 1000.0;
    r[3][3] = std::cos(my);
    r[4][4] = 1.0;
    r[5][5] = 1.0;
    s += "SEC" + std::to_string(k) + "\n";
    for (auto& row : r) {
      for (int j = 0; j < 6; ++j) {
        if (j) s += ' ';
        s += num(row[j]);
      }
      s += "\n";
    }
  }
  return s;
}

std::string identity_matrices() {
  std::string s;
  for (int k = 1; k <= 73; ++k) {
    s += "ID\n";
    for (int i = 0; i < 6; ++i) {
      for (int j = 0; j < 6; ++j) s += i == j ? " 1.0" : " 0.0";
      s += "\n";
    }
  }
  return s;
}

std::string uniform_sigmas(double sigx_mm, double sigy_mm, double x0_mm, double y0_mm) {
  std::string s;
  for (int k = 1; k <= 73; ++k) {
    if (k == 25) continue;
    s += std::to_string(k) + " " + num(sigx_mm) + " " + num(sigy_mm) + " " + num(x0_mm) + " " +
         num(y0_mm) + "\n";
  }
  return s;
}

std::string exclude_all_but(const std::vector<int>& keep) {
  std::set<int> k(keep.begin(), keep.end());
  std::string s;
  for (int i = 1; i <= 73; ++i)
    if (!k.count(i) && i != 25) s += std::to_string(i) + "\n";  // 25: no encounter there
  return s;
}

std::string multdist(double a, double b) {
  std::string s;
  for (int j = 1; j <= 16; ++j)
    for (int n = 1; n <= 10; ++n) s += num(a * n + 0.01 * j) + " " + num(b - 0.5 * n * j) + "\n";
  for (int j = 1; j <= 16; ++j) s += num(1000.0 + 200.0 * j) + "\n";
  for (int j = 1; j <= 16; ++j) s += num(j % 4 == 0 ? 0.5 : 1.0) + "\n";
  return s;
}

}  // namespace e2e
