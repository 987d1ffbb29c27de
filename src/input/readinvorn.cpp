#include <charconv>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>

#include "input/readers.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {
namespace {

// excluded.dat is read one number per record: the rest of a line is
// skipped, a real is cut to its whole part, a number that is no encounter
// (outside 1 ... 73, the point without encounter, one listed before)
// excludes nothing, and entries past the 73rd are not read. Each reads
// cleanly, so each gets a warning.

// Why entry j excludes nothing, or "" when it excludes an encounter.
std::string idle_entry(const State& st, int32 j) {
  const auto& ex = st.excluded;
  const int32 k = ex.excl(j);
  if (k < 1 || k > kSections)
    return ", outside 1 ... " + num(int32{kSections}) + ": it excludes nothing";
  if (k == st.qarcavind.cavind) return ", the point without encounter: it excludes nothing";
  for (int32 i = 1; i < j; ++i)
    if (ex.excl(i) == k) return ", listed before: it excludes nothing more";
  return {};
}

// The encounters the entries exclude.
int32 excluded_encounters(const State& st) {
  int32 n = 0;
  for (int32 j = 1; j <= st.excluded.nexcl; ++j) n += idle_entry(st, j).empty() ? 1 : 0;
  return n;
}

void warn_excluded(const State& st, textio::Io& io) {
  const auto& ex = st.excluded;
  for (int32 j = 1; j <= ex.nexcl; ++j) {
    const std::string why = idle_entry(st, j);
    if (!why.empty()) warn(io, "excluded.dat: entry " + num(j) + " is " + num(ex.excl(j)) + why);
  }
  std::ifstream in(io.path(kExcludedFile.name));
  std::string line;
  int32 entries = 0;
  for (int32 no = 1; std::getline(in, line); ++no) {
    int values = 0;
    bool in_value = false;
    std::string first;
    for (const char c : line) {
      if (c == '/') break;  // the end of a list-directed record
      const bool sep = c == ' ' || c == '\t' || c == ',' || c == '\r';
      if (!sep && !in_value) ++values;
      if (!sep && values == 1) first += c;
      in_value = !sep;
    }
    if (values == 0) continue;
    if (++entries == kSections + 1)
      warn(io, "excluded.dat: line " + num(no) + " holds entry " + num(entries) +
                   ", more than the " + num(int32{kSections}) +
                   " points of the ring: it and every later line are not read");
    if (values > 1)
      warn(io, "excluded.dat: line " + std::to_string(no) + " holds " + std::to_string(values) +
                   " values; only the first is read (one encounter per line)");
    if (first.find_first_of(".eEdD") != std::string::npos && entries <= ex.nexcl) {
      std::string t = first;
      for (char& c : t)
        if (c == 'd' || c == 'D') c = 'e';
      const char* b = t.data() + (t[0] == '+' ? 1 : 0);
      double v = 0.0;
      const auto r = std::from_chars(b, t.data() + t.size(), v);
      if (r.ec == std::errc() && std::isfinite(v) && std::trunc(v) != v)
        warn(io, "excluded.dat: line " + num(no) + ": " + first +
                     " is not a whole number; it is read as " + num(ex.excl(entries)));
    }
  }
}

using Mat6 = double[6][6];

constexpr auto kMatrixRow = textio::fixed_format<"(6(1X,E12.5))">;

// Stability of one transverse plane of the one-turn matrix. Every number
// derived from an unstable or below-half-integer matrix is meaningless, so
// say so on standard error instead of failing silently.
void warn_plane(textio::Io& io, const char* plane, const char* beta_name, double trace,
                double beta) {
  if (!(std::fabs(trace) < 2.0)) {
    warn(io,
         std::string("the ") + plane +
             " one-turn matrix of Matrices.dat is unstable (|trace| = " + num(std::fabs(trace)) +
             ", limit 2): its tune, Twiss functions and every"
             " result derived from them are meaningless");
  } else if (!(beta > 0.0)) {
    warn(io, std::string("the ") + plane +
                 " beta function at the observation point is not positive (" + beta_name + " = " +
                 num(beta) +
                 "): the tune of the one-turn matrix of Matrices.dat is below the half integer");
  }
}

// The beam size sqrt(beta emit) at the observation point of a plane that
// warn_plane finds sound: the unit of every amplitude of the run.
void check_beam_size(textio::Io& io, const char* plane, double trace, double beta, double emit) {
  if (std::fabs(trace) < 2.0 && beta > 0.0)
    require_derived(
        io, std::string("the beam size at the observation point sqrt(bet") + plane + " emit)",
        std::sqrt(beta * emit), Derived::positive);
}

// A record of Sigmas.dat for encounter k: its sizes must be beam sizes. Its
// point number is k, or its place in the file (files number their 72
// records either way); any other number is said once, at the first such
// record, since a missing or extra line shifts every later encounter.
void check_sigmas_record(textio::Io& io, int k, std::int32_t point, double sx, double sy,
                         bool& misnumbered) {
  const std::string rec = "Sigmas.dat: the record for encounter " + num(int32{k});
  if (!(sx > 0.0) || !(sy > 0.0))
    refuse(io, rec + " (point " + num(point) + ") has the beam size " + num(!(sx > 0.0) ? sx : sy) +
                   (!(sx > 0.0) ? " (x)" : " (y)") + "; accepted: a size > 0 (mm)");
  // In metres the size must still be a normal number: the kick divides by it.
  for (const double s : {sx, sy})
    require_derived(io, rec + ": the beam size in metres", 0.001 * s, Derived::positive);
  const int place = k < 25 ? k : k - 1;
  if (point != k && point != place && !misnumbered) {
    misnumbered = true;
    warn(io, rec + " carries point number " + num(point) +
                 ": a missing or extra line shifts every later encounter");
  }
}

// Lines of an input past what the ring reads: the reader stops at the 73rd
// block of Matrices.dat and the 72nd record of Sigmas.dat, so a file with
// more belongs to another ring, or has a line too many that shifted every
// later one. counted: the lines that begin with a letter (the block
// headers), or every non-blank line.
enum class LineCount { headers, nonblank };

int count_lines(textio::Io& io, const char* name, LineCount counted) {
  std::ifstream in(io.path(name));
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    const std::size_t at = line.find_first_not_of(" \t\r");
    if (at == std::string::npos) continue;
    const char c = line[at];
    if (counted == LineCount::nonblank || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) ++n;
  }
  return n;
}

void check_extra_lines(textio::Io& io, const char* name, LineCount counted, int expected,
                       const char* what) {
  const int n = count_lines(io, name, counted);
  if (n > expected)
    warn(io, std::string(name) + " holds " + num(int32{n}) + " " + what + ", more than the " +
                 num(int32{expected}) + " of the ring: only the first " + num(int32{expected}) +
                 " are read");
}

// A section matrix is symplectic: each 2x2 block of an uncoupled plane has
// determinant 1. One that is not damps or pumps the motion at every turn,
// so the first such block is said, with the number of others.
constexpr double kDetTolerance = 1e-9;

void check_determinants(textio::Io& io, const State& st) {
  static const char* const kPlane[3] = {"horizontal", "vertical", "longitudinal"};
  const auto& t = st.qarrot.tmat;
  std::string first;
  int32 others = 0;
  for (int k = 1; k <= kSections; ++k)
    for (int p = 0; p < 3; ++p) {
      const int a = 2 * p + 1, b = a + 1;
      const double det = t(k, a, a) * t(k, b, b) - t(k, a, b) * t(k, b, a);
      if (std::fabs(det - 1.0) <= kDetTolerance) continue;
      if (!first.empty()) {
        ++others;
        continue;
      }
      first = "Matrices.dat: section " + num(int32{k}) + ", " + kPlane[p] +
              " plane: the determinant of the 2x2 block is " + num(det) + ", not 1 within 1e-09";
    }
  if (first.empty()) return;
  if (others > 0) first += " (and " + num(others) + " more blocks)";
  warn(io, first + ": the matrix does not conserve phase-space area");
}

}  // namespace

void readinvorn(State& st, textio::Io& io, bool write_image) {
  auto& tmat = st.qarrot.tmat;
  auto& tw = st.twiss;
  auto& bbc = st.bbcoord.bbcoord;
  const double emit = st.bb.emit;

  // cummat[k]: map from the observation point to the end of section k.
  static_assert(kSections == 73);
  auto cummat = std::make_unique<Mat6[]>(kSections + 1);

  require_input(io, kMatricesFile.name);
  io.open_input(kMatricesFile.unit, kMatricesFile.name);
  st.image.n = 0;
  st.qarcavind.cavind = 25;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) cummat[0][i][j] = (i == j) ? 1.0 : 0.0;

  // The file's positions are in mm, the tracking's in m: tmat = D R D^-1
  // with D = diag(0.001, 1, 0.001, 1, 0.001, 1).
  std::string name;
  // Work values of the reads persist from line to line: a null value in
  // the file keeps the previous line's value.
  double v[6] = {};
  for (int k = 1; k <= kSections; ++k) {
    io.read(kMatricesFile.unit, {textio::Target(name, 10)});
    for (int i = 1; i <= 6; ++i) {
      io.read(kMatricesFile.unit, {v[0], v[1], v[2], v[3], v[4], v[5]});
      for (int j = 1; j <= 6; ++j) {
        tmat(k, i, j) = v[j - 1];
        if (j % 2 == 1) tmat(k, i, j) = tmat(k, i, j) * 1000.0;
        if (i % 2 == 1) tmat(k, i, j) = tmat(k, i, j) * 0.001;
        io.print(kStdout, {k, i, j, " ", tmat(k, i, j)});
      }
    }
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) {
        double p = 0.0;
        for (int l = 0; l < 6; ++l) p = p + tmat(k, i + 1, l + 1) * cummat[k - 1][l][j];
        cummat[k][i][j] = p;
      }
  }
  check_determinants(io, st);
  check_extra_lines(io, kMatricesFile.name, LineCount::headers, kSections, "blocks");
  const Mat6& t = cummat[kSections];

  io.print(kStdout, {" "});
  io.print(kStdout, {" matrix "});
  for (int i = 0; i < 6; ++i)
    io.write(kStdout, kMatrixRow, {t[i][0], t[i][1], t[i][2], t[i][3], t[i][4], t[i][5]});

  const double pi = 4.0 * std::atan(1.0);
  st.constant.pi = pi;
  const double qx = 1.0 - std::acos((t[0][0] + t[1][1]) / 2.0) / (2.0 * pi);
  const double qy = 1.0 - std::acos((t[2][2] + t[3][3]) / 2.0) / (2.0 * pi);
  const double qz = 1.0 - std::acos((t[4][4] + t[5][5]) / 2.0) / (2.0 * pi);
  io.print(kStdout, {" "});
  io.print(kStdout, {" tunes "});
  io.print(kStdout, {qx, " ", qy, " ", qz});
  io.print(kStdout, {" "});

  const double mux = 2.0 * pi * qx;
  const double muy = 2.0 * pi * qy;
  tw.betx = t[0][1] / std::sin(mux);
  tw.bety = t[2][3] / std::sin(muy);
  tw.alfx = (t[0][0] - std::cos(mux)) / std::sin(mux);
  tw.alfy = (t[2][2] - std::cos(muy)) / std::sin(muy);
  io.print(kStdout, {" "});
  io.print(kStdout, {" betas "});
  io.print(kStdout, {tw.betx, " ", tw.bety});
  io.print(kStdout, {" alfas "});
  io.print(kStdout, {tw.alfx, " ", tw.alfy});
  io.print(kStdout, {" "});
  warn_plane(io, "horizontal", "betx", t[0][0] + t[1][1], tw.betx);
  warn_plane(io, "vertical", "bety", t[2][2] + t[3][3], tw.bety);
  check_beam_size(io, "x", t[0][0] + t[1][1], tw.betx, emit);
  check_beam_size(io, "y", t[2][2] + t[3][3], tw.bety, emit);

  // Opposing beam at each encounter, and the image of its centre mapped
  // back to the observation point in normalised coordinates.
  require_input(io, kSigmasFile.name);
  io.open_input(kSigmasFile.unit, kSigmasFile.name);
  st.qarcavind.cavind = 25;
  const int cavind = st.qarcavind.cavind;
  const double gamx0 = (1.0 + tw.alfx * tw.alfx) / tw.betx;
  const double gamy0 = (1.0 + tw.alfy * tw.alfy) / tw.bety;
  double cx = 0.0, cy = 0.0;
  double s1 = 0.0, s2 = 0.0, s3 = 0.0, s4 = 0.0;
  std::int32_t point = 0;  // compared with k, else not used
  bool misnumbered = false;
  for (int k = 1; k <= kSections; ++k) {
    if (k == cavind) {
      s1 = s2 = s3 = s4 = 0.0;
    } else {
      io.read(kSigmasFile.unit, {point, s1, s2, s3, s4});
      check_sigmas_record(io, k, point, s1, s2, misnumbered);
    }
    bbc(k, 3) = -0.001 * s3;  // the positions change sign
    bbc(k, 4) = -0.001 * s4;
    bbc(k, 1) = 0.001 * s1;
    bbc(k, 2) = 0.001 * s2;
    io.print(kStdout, {" in readinvorn ", bbc(k, 3), s3});

    const double xo = bbc(k, 3);
    const double yo = bbc(k, 4);
    double xr, xpr, yr, ypr;
    if (k == 1) {
      xr = xo;
      xpr = -xo * tw.alfx / tw.betx;
      yr = yo;
      ypr = -yo * tw.alfy / tw.bety;
    } else {
      const Mat6& m = cummat[k - 1];
      const double m11 = m[0][0], m12 = m[0][1], m21 = m[1][0], m22 = m[1][1];
      const double m33 = m[2][2], m34 = m[2][3], m43 = m[3][2], m44 = m[3][3];
      const double bx = m11 * m11 * tw.betx - 2.0 * m11 * m12 * tw.alfx + m12 * m12 * gamx0;
      const double by = m33 * m33 * tw.bety - 2.0 * m33 * m34 * tw.alfy + m34 * m34 * gamy0;
      const double ax =
          -m11 * m21 * tw.betx + (m11 * m22 + m12 * m21) * tw.alfx - m12 * m22 * gamx0;
      const double ay =
          -m33 * m43 * tw.bety + (m33 * m44 + m34 * m43) * tw.alfy - m34 * m44 * gamy0;
      xr = xo * (m22 + m12 * ax / bx);
      xpr = -xo * (m21 + m11 * ax / bx);
      yr = yo * (m44 + m34 * ay / by);
      ypr = -yo * (m43 + m33 * ay / by);
      cx = m22 * bbc(k, 1) / std::sqrt(emit);
      cy = m44 * bbc(k, 2) / std::sqrt(emit);
    }
    const double X = xr / std::sqrt(emit * tw.betx);
    const double PX = std::sqrt(tw.betx) * (xpr + xr * tw.alfx / tw.betx) / std::sqrt(emit);
    const double Y = yr / std::sqrt(emit * tw.bety);
    const double PY = std::sqrt(tw.bety) * (ypr + yr * tw.alfy / tw.bety) / std::sqrt(emit);
    const double AX = std::sqrt(X * X + PX * PX);
    const double AY = std::sqrt(Y * Y + PY * PY);
    const double AR = std::sqrt(AX * AX + AY * AY);
    io.print(kStdout, {" in readinvorn 2 ", xr, X, emit});
    if (write_image && k != cavind) {
      const std::int32_t rec = ++st.image.n;
      const double row[9] = {X, PX, Y, PY, cx, cy, AX, AY, AR};
      for (int c = 0; c < 9; ++c) st.image.rec(rec, c + 1) = row[c];
    }
  }

  check_extra_lines(io, kSigmasFile.name, LineCount::nonblank, kSections - 1, "records");

  optional_input(io, kExcludedFile.name, "no encounter is excluded");
  io.open_input(kExcludedFile.unit, kExcludedFile.name);
  std::int32_t n = 0;
  while (n < kSections) {
    std::int32_t v = st.excluded.excl(n + 1);
    if (!io.read_or_eof(kExcludedFile.unit, {v})) break;
    st.excluded.excl(n + 1) = v;
    ++n;
  }
  st.excluded.nexcl = n;
  io.print(kStdout, {" number of excluded collisions = ", excluded_encounters(st)});
  warn_excluded(st, io);
  io.close(kSigmasFile.unit);
  io.close(kExcludedFile.unit);
}

}  // namespace bbtrack
