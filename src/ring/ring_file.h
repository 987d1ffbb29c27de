// The general ring file (`diff2wirenew dynap --ring FILE`): a version line
// `bbtrack-ring 1`, then one record per line, a keyword and `key=value`
// fields in any order; `#` or `!` starts a comment. The ring-wide records
// (beam, modulation) and the elements in ring order from the observation
// point (matrix, encounter, wire, multipole, encounter6d). The
// format, field by field with units: docs/inputs.md.
//
// The reader only parses and checks: the values stay in the file's units
// (mm, rad, A, m); ring/ring_setup.h makes them the run's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bbtrack {

inline constexpr const char* kRingVersion = "bbtrack-ring 1";
// Elements of a ring: far more than any machine (10,000 and more run); the
// bound keeps a corrupt file from exhausting memory.
inline constexpr std::size_t kMaxRingElements = 10'000'000;

enum class RingKind { matrix, encounter, wire, multipole, encounter6d };

// One element as written, with the line it came from.
struct RingElement {
  RingKind kind = RingKind::matrix;
  int line = 0;
  std::string name;
  // matrix: 16 (4x4 on x, x', y, y') or 36 (6x6 on x, x', y, y', z, delta)
  // coefficients, row by row; positions mm, angles rad.
  std::vector<double> m;
  // encounter (and encounter6d): opposing population, r.m.s. sizes (mm),
  // reference orbit relative to the opposing bunch centre (mm).
  double npart = 0.0, sigx = 0.0, sigy = 0.0, sepx = 0.0, sepy = 0.0;
  // wire: position (mm), current (A), length (m); ripple as in wires.dat.
  double x = 0.0, y = 0.0, current = 0.0, length = 0.0;
  bool rippled = false;
  double ripple = 0.0, period = 0.0, phase = 0.0, noise = 0.0;
  std::int64_t seed = 0;
  // multipole: order n (1..10), K_nL and J_nL (m^-n).
  int order = 0;
  double kn = 0.0, sn = 0.0;
  // encounter6d: beta functions (m) and
  // alphas at the interaction point, bunch length (m), slices, half
  // crossing angle (rad) and its plane (1 x, 2 y).
  double betx = 0.0, bety = 0.0, alfx = 0.0, alfy = 0.0, sigz = 0.0, phi = 0.0;
  int slices = 0, plane = 1;
};

// A ring-wide tune modulation term, as a record of modulation.dat.
struct RingModulation {
  int plane = 1;  // 1 x, 2 y
  double dq = 0.0, period = 0.0, phase = 0.0;
};

struct RingFile {
  std::string path;
  double gamma = 0.0;                 // tracked beam's Lorentz factor
  double emitn = 0.0, emitny = 0.0;   // normalised emittances (modes 1, 2), m rad
  std::vector<RingModulation> modulation;
  std::vector<RingElement> elements;  // in ring order
  std::size_t encounters = 0;         // encounter and encounter6d elements
};

// Reads and checks the ring file at path. Every bad line adds one message
// `PATH:LINE: FIELD: what is wrong` to errors (a file-wide fault
// `PATH: FIELD: ...`); the ring is usable only when errors stays empty.
RingFile read_ring_file(const std::string& path, std::vector<std::string>& errors);

// The same from the text of a file named path (for the tests).
RingFile parse_ring(const std::string& path, const std::string& text,
                    std::vector<std::string>& errors);

}  // namespace bbtrack
