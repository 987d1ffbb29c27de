// The run state: every block of data that passes between the routines of a
// run, one record created zeroed by the program entry and passed by
// reference. Members keep the short names under which the routines and the
// echo lines of the run know them (npart, ntrack, emitn, betastar, ...).
// Lengths in metres, angles in radians, unless a comment says otherwise.
#pragma once

#include <cstdint>
#include <vector>

#include "kicks/beam_beam_6d.h"
#include "run/farray.h"

namespace bbtrack {

using int32 = std::int32_t;

inline constexpr int kSlots = 1001;     // particle slots of coord
inline constexpr int kSections = 73;    // sections (and encounter points) of the ring
inline constexpr int kNtmapm = 4096;    // largest turn count of options 2 and 3
inline constexpr int kGrid = 14;        // footprint store: angle and amplitude indices 0..13

// ---- run parameters (read from "diff.input") ----
struct Readin1 {
  int32 iopt;    // run option: 0 diffusion, 1 phase space, 2 turn-by-turn, 3 footprint
  int32 ntrack;  // number of turns
  double amp;    // start amplitude of the diffusion run, r.m.s. beam sizes
};
struct Readin2 {
  int32 ichoice;  // run label
  int32 itrip;    // 1: read the triplet multipole errors
};
struct Readin3 {
  double circumference;  // m
  double spacing;        // echoed only
};
struct Readin4 {
  double xi;  // beam-beam parameter, echoed only
};
struct Phase {
  double phase[4];  // x tunes (0, 1) and y tunes (2, 3) as read
};
struct Crossing {
  double thetac;  // crossing angle, echoed only
  int32 npar;     // long-range encounters a wire would compensate
};
struct Tunemd {
  double dpxm, dpym, fx, fy;  // tune modulation, echoed only
};
struct Wire {
  double wirestr;  // integrated wire strength, m
  double wstrerr;  // relative wire strength error (fraction after reading)
  double werr2;    // mrad, echoed only
  double wranerr;  // echoed only
  int32 iwire;     // 1: evaluate the wire compensator
};
struct Wire2 {
  int32 iwswitch;
};
struct Wire3b {
  double wcurrent;  // A
  double wlength;   // m
};
struct Wire3 {
  double wbetax, wbetay, wdist;
  double wirecoef;  // wire kick coefficient, printed at start
};

// ---- beam and physical constants ----
struct Bb {
  double rp;        // classical particle radius, m
  double gamma;     // Lorentz factor
  double dnb;       // bunch population
  double emitn;     // normalised emittance, m rad
  double srparam;   // 2 rp dnb / gamma, m
  double sstar;
  double betastar;  // m, echoed only
  double emit;      // geometric emittance emitn / gamma, m rad
  double divstar;
};
struct Fundcon {
  double echarge;  // C
  double clight;   // m/s
};
struct Constant {
  double pi;
};
struct Timec {
  double trev;  // revolution time, s
};
struct Vorn {
  double factor;  // beam-beam strength sqrt(2 pi) dnb rp / gamma, m
};

// ---- ring model ----
struct Qarrot {
  FArray<double, kSections, 6, 6> tmat;  // tmat(k, i, j), tracking units
};
struct Twiss {
  double alfx, alfy, betx, bety;  // at the observation point, start of section 1
};
struct Bbcoord {
  FArray<double, kSections, 4> bbcoord;  // (k,1) sigma x, (k,2) sigma y, (k,3) x0, (k,4) y0
};
struct Excluded {
  FArray<int32, kSections> excl;  // skipped encounters, file order
  int32 nexcl;
};
struct Image {
  // imageoflrbb.dat, written with the other result files: record r holds
  // X, PX, Y, PY, cx, cy, AX, AY, AR of the r-th encounter (beam-size units)
  FArray<double, kSections - 1, 9> rec;
  int32 n;  // records held
};
struct Qarcavind {
  int32 cavind;  // the point without encounter, 25
};
struct Qarkick {
  FArray<double, kSections, 2> kick0;  // reference-orbit kick function: (k,1) vertical, (k,2) horizontal
};
struct Qarind {
  FArray<int32, kSections> kick0set;  // 1 once kick0(k, .) is known
};

// ---- particles and tracking results ----
struct Coord {
  FArray<double, kSlots, 4> coord;  // coord(i, 1..4) = x, x', y, y' of slot i
};
// The longitudinal coordinates of the slots in six-dimensional tracking:
// z[i - 1] (m, ahead of the reference particle positive) and d[i - 1] =
// delta of slot i.
struct Lcoord {
  double z[kSlots], d[kSlots];
};
struct Np {
  int32 npart;  // live particles, slots 1..npart
  int32 nlost;
};
struct Icoord {
  double ampin;  // 0.5 amp, r.m.s. beam sizes
};
struct Fp {
  FArray<int32, kSlots, 2> fpidx;  // (p,1) angle index, (p,2) amplitude index, from 0
  FArray<int32, kSlots> owner;     // 1 when the slot's particle was given a grid point
};

// Turn-by-turn store of option 2, sized for the run before tracking:
// fmap(slot, sample, coordinate), sample 1 the start.
struct Fmap {
  int32 nslot = 0;
  int32 nsample = 0;
  std::vector<double> v;
  void size_for(int32 slots, int32 samples) {
    nslot = slots;
    nsample = samples;
    v.assign(static_cast<std::size_t>(slots) * static_cast<std::size_t>(samples) * 4, 0.0);
  }
  double& operator()(int32 i, int32 s, int32 m) {
    return v[((static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(nsample)) +
              static_cast<std::size_t>(s - 1)) * 4 + static_cast<std::size_t>(m - 1)];
  }
};

// Footprint store of option 3, sized for the run before tracking: the
// beta-scaled positions of grid point (iang, iamp) after turn t, single
// precision, contiguous in t for the transform of one grid point.
struct Tbt {
  int32 nturn = 0;
  std::vector<float> tbtx, tbty;
  void size_for(int32 turns) {
    nturn = turns;
    auto n = static_cast<std::size_t>(kGrid) * kGrid * static_cast<std::size_t>(turns);
    tbtx.assign(n, 0.0f);
    tbty.assign(n, 0.0f);
  }
  std::size_t at(int32 iang, int32 iamp, int32 t) const {
    return (static_cast<std::size_t>(iang) * kGrid + static_cast<std::size_t>(iamp)) *
               static_cast<std::size_t>(nturn) + static_cast<std::size_t>(t - 1);
  }
};

struct Ave {
  FArray<double, 1000, 2> ave;  // ring buffer of the last 1000 action spreads
};

// ---- triplet multipole data ----
struct Triplet {
  FArray<double, 10, 16> trb, tra;
  FArray<double, 16> trbeta;
};
struct Triplet2 {
  FArray<double, 16> trw;
};

// ---- wire compensators (read from "wires.dat", when present) ----
inline constexpr int kMaxWires = 100;
// One wire as the kick uses it: point k, position (xw, yw) in m, current (A),
// length (m), strength kw (m), and kw times the kick function on the
// reference orbit (fk1 vertical, fk2 horizontal).
struct WireKick {
  int32 k;
  double xw, yw, current, length, kw, fk1, fk2;
};
// A wire's current ripple and noise: I(n) = I0 (1 + a sin(2 pi n / period
// + phase) + sigma xi_n) on turn n, xi_n a standard normal number drawn from
// the wire's seed and n (kicks/ripple.h).
struct WireRipple {
  double a, period, phase, sigma;  // fraction, turns, rad, fraction
  std::uint64_t seed;
};
struct Wires {
  int32 nwire;                    // wires of the run, 0 without "wires.dat"
  WireKick w[kMaxWires];          // by point, in file order within a point
  FArray<int32, kSections> first; // w[first(k)] .. w[first(k) + count(k) - 1] act at point k
  FArray<int32, kSections> count;
  int32 nripple;                  // wires whose record gives a ripple; 0: constant currents
  WireRipple ripple[kMaxWires];   // of w[j], the same order; zero without ripple
};

// ---- thin multipoles (read from "multipoles.dat", when present) ----
inline constexpr int kMaxMultipoles = 1000;     // records of the file
inline constexpr int kMaxMultipoleOrder = 10;   // n of K_nL: 1 quadrupole ... 10
// The thin multipoles of one point as one kick,
//   dx' - i dy' = -sum_n (cr[n] + i ci[n]) (x + i y)^n,  n = 1 .. order,
// with cr[n] + i ci[n] = (K_nL + i J_nL) / n! summed over the point's
// records (m^-n); order 0: no multipole at the point.
struct MultipoleKick {
  int32 order;
  double cr[kMaxMultipoleOrder + 1], ci[kMaxMultipoleOrder + 1];  // index n, [0] unused
};
struct Multipoles {
  int32 nmult;                            // records of the run, 0 without the file
  FArray<MultipoleKick, kSections> at;    // at(k): the kick at point k
};

// ---- tune modulation (read from "modulation.dat", when present) ----
inline constexpr int kMaxModulationTerms = 100;
// One term dQ sin(2 pi n / period + phase) of the tune of a plane on turn n.
struct ModulationTerm {
  int32 plane;                  // 1 horizontal, 2 vertical
  double dq, period, phase;     // tune units, turns, rad
};
struct Modulation {
  int32 nterm;  // terms of the run, 0 without the file
  ModulationTerm term[kMaxModulationTerms];
};

// ---- the general ring (`dynap --ring`, ring/ring_setup.h); inactive for
// the classic ring of the folder ----
// An encounter of the general ring: the opposing bunch's r.m.s. sizes and
// centre (m), its strength factor = sqrt(2 pi) npart rp / gamma (m), and its
// reference-orbit kick function as kick0 keeps it for the classic ring.
struct RingEncounter {
  double sigx, sigy, x0, y0, factor;
  double kick0y, kick0x;  // Gy, Gx at x = y = 0, once kick0set
  bool kick0set;
};
// A linear map of the ring in tracking units (m, rad) on x, x', y, y';
// coupled: some entry of its coupling blocks is not zero.
struct RingMatrix {
  double r[4][4];
  bool coupled;
  // On x, x', y, y', z, delta (z in m): the file's 6x6 map, or its 4x4 one
  // with z and delta unchanged; acts whole in six-dimensional tracking.
  double r6[6][6];
};
// One section of the general ring, made of consecutive elements in the
// order of a classic section: an encounter, wires, thin multipoles (added
// into one kick), a matrix; -1 (or no wires) where it has none.
struct RingSection {
  int32 encounter = -1;
  int32 wire_first = 0, wire_count = 0;
  int32 multipole = -1;
  int32 matrix = -1;
  int32 encounter6d = -1;  // a six-dimensional encounter in place of the encounter
};
struct Ring {
  bool active = false;
  std::vector<RingSection> sections;
  std::vector<RingEncounter> encounters;
  std::vector<WireKick> wires;
  std::vector<WireRipple> ripple;  // of wires[j]; zero without ripple
  int32 nripple = 0;
  std::vector<MultipoleKick> multipoles;
  std::vector<RingMatrix> matrices;
  // The linear normal form of the one-turn map at the observation point:
  // x = A z, z the normalised coordinates (x1, p1, x2, p2) of the two
  // modes; the modes' tunes and geometric emittances (m rad).
  bool coupled = false;
  double a[4][4] = {}, ainv[4][4] = {};
  double q1 = 0.0, q2 = 0.0, emit1 = 0.0, emit2 = 0.0;
  // Six-dimensional tracking (the ring holds an encounter6d, or --6d): z
  // and delta move, the matrices act whole (r6), and the normal form is the
  // 6x6 one-turn map's, x = A6 z with z = (x1, p1, x2, p2, x3, p3), mode 3
  // the synchrotron motion of tune qs.
  bool six_d = false;
  std::vector<Encounter6dSpec> enc6d_spec;
  std::vector<Encounter6d> enc6d;  // their constants, made for the evaluation of w enc6d_mode
  int enc6d_mode = -1;
  double a6[6][6] = {}, ainv6[6][6] = {};
  double qs = 0.0;
};

// The turn count of the tracking: the number of the turn last tracked (0
// before the first). The ripple of the wires and the modulation of the tunes
// depend on it; FastTurn::turn and track_turn advance it, a study that
// starts its particles afresh sets it back to 0.
struct TurnCount {
  int32 n;
};

struct State {
  Readin1 readin1{};
  Readin2 readin2{};
  Readin3 readin3{};
  Readin4 readin4{};
  Phase phase{};
  Crossing crossing{};
  Tunemd tunemd{};
  Wire wire{};
  Wire2 wire2{};
  Wire3b wire3b{};
  Wire3 wire3{};
  Bb bb{};
  Fundcon fundcon{};
  Constant constant{};
  Timec timec{};
  Vorn vorn{};
  Qarrot qarrot{};
  Twiss twiss{};
  Bbcoord bbcoord{};
  Excluded excluded{};
  Image image{};
  Qarcavind qarcavind{};
  Qarkick qarkick{};
  Qarind qarind{};
  Coord coord{};
  Np np{};
  Icoord icoord{};
  Fp fp{};
  Fmap fmap{};
  Tbt tbt{};
  Ave ave{};
  Triplet triplet{};
  Triplet2 triplet2{};
  Wires wires{};
  Multipoles multipoles{};
  Modulation modulation{};
  TurnCount turn{};
  Ring ring{};
  Lcoord lcoord{};
};

}  // namespace bbtrack
