// "wires.dat": the optional wire compensators, one record per wire: point k,
// position xw yw (mm, the frame and sign of the opposing bunch's centre in
// the beam-beam kick of point k), current (A), length (m); optionally then
// the current's relative ripple a, its period T (turns) and phase phi (rad),
// the relative r.m.s. noise sigma, and the noise's seed (default: the
// record's number).
#include <cstdint>
#include <string>

#include "input/readers.h"
#include "input/records.h"
#include "kicks/wire.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void wiresin(State& st, textio::Io& io) {
  if (!io.exists(kWiresFile.name)) return;
  RecordReader rd(io, kWiresFile.unit, kWiresFile.name);
  WireKick read[kMaxWires];
  WireRipple ripple[kMaxWires] = {};
  bool rippled[kMaxWires] = {};
  double xmm[kMaxWires], ymm[kMaxWires];  // the positions as read, for the echo
  int32 n = 0;
  while (rd.next()) {
    if (rd.number() > kMaxWires) rd.refuse("more than " + num(kMaxWires) + " wires");
    const int32 k = rd.integer(0, "point");
    const double xw = rd.real(1, "xw");
    const double yw = rd.real(2, "yw");
    const double current = rd.real(3, "current");
    const double length = rd.real(4, "length");
    if (k < 1 || k > kSections)
      rd.refuse("point " + num(k) + " is outside 1 ... " + num(kSections));
    if (!(length > 0.0)) rd.refuse("the wire length is not positive");
    if (rd.size() > 5) {
      if (rd.size() > 10) rd.refuse("more than 10 values");
      WireRipple& r = ripple[n];
      r.a = rd.real(5, "ripple amplitude");
      r.period = rd.real(6, "ripple period");
      r.phase = rd.real(7, "ripple phase");
      r.sigma = rd.real(8, "noise");
      const int32 seed = rd.size() > 9 ? rd.integer(9, "seed") : rd.number();
      if (!(r.period > 0.0)) rd.refuse("the ripple period is not positive");
      if (r.sigma < 0.0) rd.refuse("the noise is negative");
      if (seed < 0) rd.refuse("the seed is negative");
      r.seed = static_cast<std::uint64_t>(seed);
      rippled[n] = true;
    }
    xmm[n] = xw;
    ymm[n] = yw;
    read[n++] = make_wire(k, 0.001 * xw, 0.001 * yw, current, length, st.bb.gamma, st.constant.pi);
  }
  rd.close();
  set_wires(st, read, n);
  // The ripple of each wire beside its kick record, which set_wires has put
  // in order of the points (file order within a point).
  auto& ws = st.wires;
  int32 next = 0;
  for (int k = 1; k <= kSections; ++k)
    for (int32 j = 0; j < n; ++j)
      if (read[j].k == k) {
        ws.ripple[next++] = ripple[j];
        if (rippled[j]) ++ws.nripple;
      }
  for (int32 j = 0; j < n; ++j) {
    const WireKick& w = read[j];
    io.print(kStdout, {" wire ", w.k, xmm[j], ymm[j], w.current, w.length, w.kw});
    if (rippled[j]) {
      const WireRipple& r = ripple[j];
      io.print(kStdout,
               {" wire ripple ", w.k, r.a, r.period, r.phase, r.sigma, static_cast<int32>(r.seed)});
    }
  }
}

}  // namespace bbtrack
