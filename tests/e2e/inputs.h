// Small hand-made input sets for the end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// The 51 lines of a "diff.input"; value lines by their line number.
struct DiffInput {
  std::vector<std::string> lines;
  DiffInput();  // a plausible default run: option 0, 10 turns
  DiffInput& set(int line, const std::string& text);
  std::string text() const;
};

// Line numbers of the value lines.
enum DiffLine {
  kAmp = 2, kIopt = 5, kItrip = 7, kIchoice = 9, kNtrack = 11, kNpart = 13, kXTunes = 15,
  kYTunes = 17, kCircumference = 19, kDnb = 21, kSpacing = 23, kBetastar = 25, kEmitn = 27,
  kGamma = 29, kXi = 31, kSstar = 33, kDivstar = 35, kThetac = 37, kNpar = 39, kDpxm = 41,
  kFxFy = 42, kIwire = 44, kWireErrors = 46, kDisterr = 47, kIwswitch = 48, kWcurrent = 50,
  kWdist = 51
};

// An uncoupled ring of 73 sections with constant beta (m) and equal phase
// advances adding up to the tunes, in the file units of "Matrices.dat".
std::string ring_matrices(double qx, double qy, double betx, double bety);
// 73 identity matrices.
std::string identity_matrices();
// "Sigmas.dat": the same opposing beam (sizes and offsets in mm) at every
// encounter.
std::string uniform_sigmas(double sigx_mm, double sigy_mm, double x0_mm, double y0_mm);
// "excluded.dat" listing every encounter but the given ones.
std::string exclude_all_but(const std::vector<int>& keep);
// A "multdist.dat" with 160 records, 16 betas and 16 weights.
std::string multdist(double a, double b);

}  // namespace e2e
