#include "input/readers.h"
#include "run/messages.h"

namespace bbtrack {

void readinwire(State& st, textio::Io& io) {
  constexpr int u = 440;
  std::string skip;  // title and comment lines, never used
  auto& r1 = st.readin1;
  auto& r2 = st.readin2;
  auto& bb = st.bb;
  auto& w = st.wire;
  double disterr = 0.0;  // wire distance error, percent, echoed only

  require_input(io, "diff.input");
  io.open(u, "diff.input");
  io.read_line(u, skip);
  io.read(u, {r1.amp});
  io.print(6, {" amp = ", r1.amp});
  io.read_line(u, skip);
  io.read_line(u, skip);
  io.read(u, {r1.iopt});
  io.print(6, {" iopt = ", r1.iopt});
  io.read_line(u, skip);
  io.read(u, {r2.itrip});
  io.print(6, {" itrip = ", r2.itrip});
  io.read_line(u, skip);
  io.read(u, {r2.ichoice});
  io.print(6, {" ichoice = ", r2.ichoice});
  io.read_line(u, skip);
  io.read(u, {r1.ntrack});
  io.print(6, {" ntrack = ", r1.ntrack});
  io.read_line(u, skip);
  io.read(u, {st.np.npart});
  io.print(6, {" npart = ", st.np.npart});
  io.read_line(u, skip);
  io.read(u, {st.phase.phase[0], st.phase.phase[1]});
  io.print(6, {" x tunes = ", st.phase.phase[0], st.phase.phase[1]});
  io.read_line(u, skip);
  io.read(u, {st.phase.phase[2], st.phase.phase[3]});
  io.print(6, {" y tunes = ", st.phase.phase[2], st.phase.phase[3]});
  io.read_line(u, skip);
  io.read(u, {st.readin3.circumference});
  io.print(6, {" circumference = ", st.readin3.circumference});
  io.read_line(u, skip);
  io.read(u, {bb.dnb});
  io.print(6, {" dnb = ", bb.dnb});
  io.read_line(u, skip);
  io.read(u, {st.readin3.spacing});
  io.print(6, {" spacing = ", st.readin3.spacing});
  io.read_line(u, skip);
  io.read(u, {bb.betastar});
  io.print(6, {" betastar = ", bb.betastar});
  io.read_line(u, skip);
  io.read(u, {bb.emitn});
  io.print(6, {" emitn = ", bb.emitn});
  io.read_line(u, skip);
  io.read(u, {bb.gamma});
  io.print(6, {" gamma = ", bb.gamma});
  bb.emit = bb.emitn / bb.gamma;  // geometric emittance
  io.read_line(u, skip);
  io.read(u, {st.readin4.xi});
  io.print(6, {" xi = ", st.readin4.xi});
  io.read_line(u, skip);
  io.read(u, {bb.sstar});
  io.print(6, {" sstar = ", bb.sstar});
  io.read_line(u, skip);
  io.read(u, {bb.divstar});
  io.print(6, {" divstar = ", bb.divstar});
  io.read_line(u, skip);
  io.read(u, {st.crossing.thetac});
  io.print(6, {" thetac = ", st.crossing.thetac});
  io.read_line(u, skip);
  io.read(u, {st.crossing.npar});
  io.print(6, {" npar = ", st.crossing.npar});
  io.read_line(u, skip);
  io.read(u, {st.tunemd.dpxm, st.tunemd.dpym});
  io.print(6, {" dpxm, dpym = ", st.tunemd.dpxm, st.tunemd.dpym});
  io.read(u, {st.tunemd.fx, st.tunemd.fy});
  io.print(6, {" fx, fy = ", st.tunemd.fx, st.tunemd.fy});
  io.read_line(u, skip);
  io.read(u, {w.iwire});
  io.print(6, {" iwire = ", w.iwire});
  io.read_line(u, skip);
  io.read(u, {w.wstrerr, w.werr2, w.wranerr});
  io.read(u, {disterr});
  io.read(u, {st.wire2.iwswitch});
  io.print(6, {" wire errors = ", w.wstrerr, w.werr2, " mrad"});
  io.print(6, {" wire random errors = ", w.wranerr});
  io.print(6, {" distance error = ", disterr});
  io.print(6, {" iwswitch = ", st.wire2.iwswitch});
  io.read_line(u, skip);
  io.read(u, {st.wire3b.wcurrent, st.wire3b.wlength});
  io.read(u, {st.wire3.wdist, st.wire3.wbetax, st.wire3.wbetay});
  io.print(6, {" wire current =", st.wire3b.wcurrent});
  io.print(6, {" wire length =", st.wire3b.wlength});
  io.print(6, {" wire distance =", st.wire3.wdist});
  io.print(6, {" wire betax =", st.wire3.wbetax});
  io.print(6, {" wire betay =", st.wire3.wbetay});
  w.wstrerr = 0.01 * w.wstrerr;  // percent to fraction
  // Unit 440 stays connected for the rest of the run.
}

}  // namespace bbtrack
