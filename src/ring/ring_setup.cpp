#include "ring/ring_setup.h"

#include <charconv>
#include <cmath>

#include "kicks/wire.h"
#include "ring/normal_form6.h"
#include "run/constants.h"

namespace bbtrack {
namespace {

// The file's matrix in tracking units as the classic ring's reader makes
// it: tmat = D R D^-1, D = diag(0.001, 1, 0.001, 1, ...), by the same
// products (an entry of an odd column times 1000, of an odd row times 0.001).
// The whole map on six coordinates is converted alike (z is a position; a
// 4x4 map leaves z and delta unchanged), and r is its transverse block.
RingMatrix ring_matrix(const std::vector<double>& coef) {
  const int n = coef.size() == 36 ? 6 : 4;
  RingMatrix m{};
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 6; ++j) {
      double t = i == j ? 1.0 : 0.0;
      if (i <= n && j <= n) {
        t = coef[static_cast<std::size_t>((i - 1) * n + (j - 1))];
        if (j % 2 == 1) t = t * 1000.0;
        if (i % 2 == 1) t = t * 0.001;
      }
      m.r6[i - 1][j - 1] = t;
    }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      m.r[i][j] = m.r6[i][j];
      if (i / 2 != j / 2 && m.r[i][j] != 0.0) m.coupled = true;
    }
  return m;
}

// a = b a (4x4 or 6x6), each entry summed in the order of the classic
// ring's product of its section matrices.
template <int N>
void left_multiply(const double (&b)[N][N], double (&a)[N][N]) {
  double p[N][N];
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j) {
      double s = 0.0;
      for (int l = 0; l < N; ++l) s = s + b[i][l] * a[l][j];
      p[i][j] = s;
    }
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j) a[i][j] = p[i][j];
}

// Groups the elements into sections: a section takes, in this order, an
// encounter, wires, multipoles (added into one kick) and a matrix; an
// element that cannot follow the section's last starts the next one.
void make_sections(State& st, const RingFile& rf) {
  Ring& ring = st.ring;
  const double pi = st.constant.pi, gamma = st.bb.gamma;
  double factorial[kMaxMultipoleOrder + 1];
  factorial[0] = 1.0;
  for (int n = 1; n <= kMaxMultipoleOrder; ++n) factorial[n] = factorial[n - 1] * n;
  RingSection sec;
  int stage = 0;  // what sec holds last: 0 nothing, 1 encounter, 2 wires, 3 multipoles, 4 matrix
  auto close = [&] {
    if (stage != 0) ring.sections.push_back(sec);
    sec = RingSection{};
    stage = 0;
  };
  for (std::size_t j = 0; j < rf.elements.size(); ++j) {
    const RingElement& e = rf.elements[j];
    switch (e.kind) {
      case RingKind::encounter: {
        close();
        RingEncounter r{};
        r.sigx = 0.001 * e.sigx;
        r.sigy = 0.001 * e.sigy;
        r.x0 = -0.001 * e.sepx;  // the opposing centre, seen from the reference orbit
        r.y0 = -0.001 * e.sepy;
        r.factor = std::sqrt(2.0 * pi) * (e.npart * st.bb.rp) / gamma;
        sec.encounter = static_cast<int32>(ring.encounters.size());
        ring.encounters.push_back(r);
        stage = 1;
        break;
      }
      case RingKind::wire: {
        if (stage > 2) close();
        if (sec.wire_count == 0) sec.wire_first = static_cast<int32>(ring.wires.size());
        ++sec.wire_count;
        ring.wires.push_back(make_wire(static_cast<int32>(j + 1), 0.001 * e.x, 0.001 * e.y,
                                       e.current, e.length, gamma, pi));
        WireRipple r{};
        if (e.rippled) {
          r.a = e.ripple;
          r.period = e.period;
          r.phase = e.phase;
          r.sigma = e.noise;
          r.seed = static_cast<std::uint64_t>(e.seed >= 0 ? e.seed : static_cast<std::int64_t>(j + 1));
          ++ring.nripple;
        }
        ring.ripple.push_back(r);
        stage = 2;
        break;
      }
      case RingKind::multipole: {
        if (stage > 3) close();
        if (sec.multipole < 0) {
          sec.multipole = static_cast<int32>(ring.multipoles.size());
          ring.multipoles.push_back(MultipoleKick{});
        }
        MultipoleKick& m = ring.multipoles[static_cast<std::size_t>(sec.multipole)];
        m.cr[e.order] = m.cr[e.order] + e.kn / factorial[e.order];
        m.ci[e.order] = m.ci[e.order] + e.sn / factorial[e.order];
        if (e.order > m.order) m.order = e.order;
        stage = 3;
        break;
      }
      case RingKind::matrix: {
        if (stage > 3) close();
        sec.matrix = static_cast<int32>(ring.matrices.size());
        ring.matrices.push_back(ring_matrix(e.m));
        stage = 4;
        break;
      }
      case RingKind::encounter6d: {
        close();
        Encounter6dSpec r{};
        r.factor = std::sqrt(2.0 * pi) * (e.npart * st.bb.rp) / gamma;
        r.sigx = 0.001 * e.sigx;
        r.sigy = 0.001 * e.sigy;
        r.betx = e.betx;
        r.bety = e.bety;
        r.alfx = e.alfx;
        r.alfy = e.alfy;
        r.sigz = e.sigz;
        r.slices = e.slices;
        r.phi = e.phi;
        r.plane_y = e.plane == 2;
        r.x0 = -0.001 * e.sepx;
        r.y0 = -0.001 * e.sepy;
        sec.encounter6d = static_cast<int32>(ring.enc6d_spec.size());
        ring.enc6d_spec.push_back(r);
        ring.six_d = true;
        stage = 1;
        break;
      }
    }
  }
  close();
}

// The one-turn map on N coordinates: the product of the matrices (their
// part `map`, 4x4 or 6x6) and of the linear part of the order-1 multipoles'
// kicks, dx' = -(K1L x - J1L y), dy' = K1L y + J1L x (the higher orders
// have none on the reference orbit).
template <int N>
void one_turn_map(const Ring& ring, const double (RingMatrix::*map)[N][N], double (&m)[N][N]) {
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j) m[i][j] = i == j ? 1.0 : 0.0;
  for (const RingSection& s : ring.sections) {
    if (s.multipole >= 0) {
      const MultipoleKick& k = ring.multipoles[static_cast<std::size_t>(s.multipole)];
      if (k.cr[1] != 0.0 || k.ci[1] != 0.0) {
        double l[N][N];
        for (int i = 0; i < N; ++i)
          for (int j = 0; j < N; ++j) l[i][j] = i == j ? 1.0 : 0.0;
        l[1][0] = -k.cr[1];
        l[1][2] = k.ci[1];
        l[3][0] = k.ci[1];
        l[3][2] = k.cr[1];
        left_multiply(l, m);
      }
    }
    if (s.matrix >= 0) left_multiply(ring.matrices[static_cast<std::size_t>(s.matrix)].*map, m);
  }
}

// The quantities derived from the file's values must be finite positive
// normal numbers (sizes, emittances) or finite (strengths): a tiny
// emittance or size that underflows would track nothing meaningful.
void check_derived(const State& st, const RingFile& rf, std::vector<std::string>& errors) {
  auto check = [&](int line, const std::string& what, double v, bool positive) {
    if (positive ? std::isnormal(v) && v > 0.0 : std::isfinite(v)) return;
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, v);
    std::string m = rf.path;
    if (line > 0) m.append(":").append(std::to_string(line));
    m.append(": ").append(what).append(" = ").append(b, r.ptr);
    m.append(positive ? " is not a finite positive normal number" : " is not a finite number");
    m.append(": the tracking could not use it");
    errors.push_back(std::move(m));
  };
  const Ring& ring = st.ring;
  check(0, "beam: the geometric emittance emitn/gamma", ring.emit1, true);
  check(0, "beam: the geometric emittance emitny/gamma", ring.emit2, true);
  std::size_t enc = 0, enc6d = 0, wire = 0;
  for (const RingElement& e : rf.elements) {
    if (e.kind == RingKind::encounter && enc < ring.encounters.size()) {
      const RingEncounter& r = ring.encounters[enc++];
      check(e.line, "sigx in metres", r.sigx, true);
      check(e.line, "sigy in metres", r.sigy, true);
      check(e.line, "the kick factor sqrt(2 pi) npart rp/gamma", r.factor, false);
    } else if (e.kind == RingKind::encounter6d && enc6d < ring.enc6d_spec.size()) {
      const Encounter6dSpec& r = ring.enc6d_spec[enc6d++];
      check(e.line, "sigx in metres", r.sigx, true);
      check(e.line, "sigy in metres", r.sigy, true);
      check(e.line, "betx", r.betx, true);
      check(e.line, "bety", r.bety, true);
      check(e.line, "sigz", r.sigz, true);
      check(e.line, "the kick factor sqrt(2 pi) npart rp/gamma", r.factor, false);
    } else if (e.kind == RingKind::wire && wire < ring.wires.size()) {
      check(e.line, "the wire strength", ring.wires[wire++].kw, false);
    }
  }
}

}  // namespace

void ring_one_turn_map(const Ring& ring, double (&m)[4][4]) {
  one_turn_map(ring, &RingMatrix::r, m);
}

void ring_one_turn_map6(const Ring& ring, double (&m)[6][6]) {
  one_turn_map(ring, &RingMatrix::r6, m);
}

void set_up_ring(State& st, const RingFile& rf, std::vector<std::string>& errors, bool six_d) {
  const double pi = 4.0 * std::atan(1.0);
  st.constant.pi = pi;
  st.bb.rp = kParticleRadius;
  st.fundcon.clight = kLightSpeed;
  st.fundcon.echarge = kElementaryCharge;
  st.bb.gamma = rf.gamma;
  st.bb.emitn = rf.emitn;
  st.bb.emit = rf.emitn / rf.gamma;
  Ring& ring = st.ring;
  ring = Ring{};
  ring.emit1 = rf.emitn / rf.gamma;
  ring.emit2 = rf.emitny / rf.gamma;
  if (rf.modulation.size() > static_cast<std::size_t>(kMaxModulationTerms))
    errors.push_back(rf.path + ": modulation: more than " + std::to_string(kMaxModulationTerms) +
                     " terms");
  st.modulation.nterm = 0;
  for (const RingModulation& m : rf.modulation) {
    if (st.modulation.nterm == kMaxModulationTerms) break;
    st.modulation.term[st.modulation.nterm++] = {m.plane, m.dq, m.period, m.phase};
  }
  make_sections(st, rf);
  check_derived(st, rf, errors);

  double m[4][4];
  ring_one_turn_map(ring, m);
  NormalForm nf;
  std::string why;
  if (!normal_form(m, nf, why)) {
    errors.push_back(rf.path + ": one-turn map: " + why);
    return;
  }
  if (nf.coupled && st.modulation.nterm > 0)
    errors.push_back(rf.path +
                     ": modulation: the one-turn map couples the planes; a tune modulation needs "
                     "an uncoupled ring");
  ring.coupled = nf.coupled;
  ring.q1 = nf.q1;
  ring.q2 = nf.q2;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      ring.a[i][j] = nf.a[i][j];
      ring.ainv[i][j] = nf.ainv[i][j];
    }
  if (!nf.coupled) {
    st.twiss.betx = nf.betx;
    st.twiss.alfx = nf.alfx;
    st.twiss.bety = nf.bety;
    st.twiss.alfy = nf.alfy;
  } else {
    // The modes' own beta functions (A11^2 + A12^2, A33^2 + A34^2).
    st.twiss.betx = nf.a[0][0] * nf.a[0][0] + nf.a[0][1] * nf.a[0][1];
    st.twiss.bety = nf.a[2][2] * nf.a[2][2] + nf.a[2][3] * nf.a[2][3];
  }
  if (ring.six_d || six_d) {
    ring.six_d = true;
    bool longitudinal = false;
    for (const RingElement& e : rf.elements)
      if (e.kind == RingKind::matrix && e.m.size() == 36) longitudinal = true;
    if (!longitudinal) {
      errors.push_back(rf.path +
                       ": matrix: synchrotron motion (--6d, or an encounter6d) needs the ring's "
                       "6x6 maps; every matrix has 16 coefficients");
      return;
    }
    double m6[6][6];
    ring_one_turn_map6(ring, m6);
    NormalForm6 nf6;
    if (!normal_form6(m6, nf6, why)) {
      errors.push_back(rf.path + ": one-turn map (6x6): " + why);
      return;
    }
    ring.qs = nf6.q[2];
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) {
        ring.a6[i][j] = nf6.a[i][j];
        ring.ainv6[i][j] = nf6.ainv[i][j];
      }
  }
  ring.active = true;
}

}  // namespace bbtrack
