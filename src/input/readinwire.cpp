#include "input/readers.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void readinwire(State& st, textio::Io& io) {
  constexpr int u = kParamsFile.unit;
  std::string skip;  // title and comment lines, never used
  auto& r1 = st.readin1;
  auto& r2 = st.readin2;
  auto& bb = st.bb;
  auto& w = st.wire;
  double disterr = 0.0;  // wire distance error, percent, echoed only

  require_input(io, kParamsFile.name);
  io.open_input(u, kParamsFile.name);
  io.read_line(u, skip);
  io.read(u, {r1.amp});
  io.print(kStdout, {" amp = ", r1.amp});
  if (r1.amp < 0.0)
    refuse(io, "diff.input: amp = " + num(r1.amp) +
                   " is a negative start amplitude; accepted: amp >= 0 (sigma)");
  io.read_line(u, skip);
  io.read_line(u, skip);
  io.read(u, {r1.iopt});
  io.print(kStdout, {" iopt = ", r1.iopt});
  io.read_line(u, skip);
  io.read(u, {r2.itrip});
  io.print(kStdout, {" itrip = ", r2.itrip});
  io.read_line(u, skip);
  io.read(u, {r2.ichoice});
  io.print(kStdout, {" ichoice = ", r2.ichoice});
  io.read_line(u, skip);
  io.read(u, {r1.ntrack});
  io.print(kStdout, {" ntrack = ", r1.ntrack});
  warn_option(st, io);
  io.read_line(u, skip);
  io.read(u, {st.np.npart});
  io.print(kStdout, {" npart = ", st.np.npart});
  io.read_line(u, skip);
  io.read(u, {st.phase.phase[0], st.phase.phase[1]});
  io.print(kStdout, {" x tunes = ", st.phase.phase[0], st.phase.phase[1]});
  io.read_line(u, skip);
  io.read(u, {st.phase.phase[2], st.phase.phase[3]});
  io.print(kStdout, {" y tunes = ", st.phase.phase[2], st.phase.phase[3]});
  io.read_line(u, skip);
  io.read(u, {st.readin3.circumference});
  io.print(kStdout, {" circumference = ", st.readin3.circumference});
  io.read_line(u, skip);
  io.read(u, {bb.dnb});
  io.print(kStdout, {" dnb = ", bb.dnb});
  io.read_line(u, skip);
  io.read(u, {st.readin3.spacing});
  io.print(kStdout, {" spacing = ", st.readin3.spacing});
  io.read_line(u, skip);
  io.read(u, {bb.betastar});
  io.print(kStdout, {" betastar = ", bb.betastar});
  if (!(bb.betastar > 0.0))
    refuse(io, "diff.input: betastar = " + num(bb.betastar) +
                   " is not a beta function; accepted: betastar > 0 (m)");
  io.read_line(u, skip);
  io.read(u, {bb.emitn});
  io.print(kStdout, {" emitn = ", bb.emitn});
  if (!(bb.emitn > 0.0))
    refuse(io, "diff.input: emitn = " + num(bb.emitn) +
                   " is not an emittance; accepted: emitn > 0 (m rad)");
  io.read_line(u, skip);
  io.read(u, {bb.gamma});
  io.print(kStdout, {" gamma = ", bb.gamma});
  if (!(bb.gamma >= 1.0))
    refuse(io, "diff.input: gamma = " + num(bb.gamma) +
                   " is not a Lorentz factor; accepted: gamma >= 1");
  bb.emit = bb.emitn / bb.gamma;  // geometric emittance
  require_derived(io, "diff.input: the geometric emittance emit = emitn/gamma", bb.emit,
                  Derived::positive);
  io.read_line(u, skip);
  io.read(u, {st.readin4.xi});
  io.print(kStdout, {" xi = ", st.readin4.xi});
  io.read_line(u, skip);
  io.read(u, {bb.sstar});
  io.print(kStdout, {" sstar = ", bb.sstar});
  io.read_line(u, skip);
  io.read(u, {bb.divstar});
  io.print(kStdout, {" divstar = ", bb.divstar});
  io.read_line(u, skip);
  io.read(u, {st.crossing.thetac});
  io.print(kStdout, {" thetac = ", st.crossing.thetac});
  io.read_line(u, skip);
  io.read(u, {st.crossing.npar});
  io.print(kStdout, {" npar = ", st.crossing.npar});
  io.read_line(u, skip);
  io.read(u, {st.tunemd.dpxm, st.tunemd.dpym});
  io.print(kStdout, {" dpxm, dpym = ", st.tunemd.dpxm, st.tunemd.dpym});
  io.read(u, {st.tunemd.fx, st.tunemd.fy});
  io.print(kStdout, {" fx, fy = ", st.tunemd.fx, st.tunemd.fy});
  io.read_line(u, skip);
  io.read(u, {w.iwire});
  io.print(kStdout, {" iwire = ", w.iwire});
  io.read_line(u, skip);
  io.read(u, {w.wstrerr, w.werr2, w.wranerr});
  io.read(u, {disterr});
  io.read(u, {st.wire2.iwswitch});
  io.print(kStdout, {" wire errors = ", w.wstrerr, w.werr2, " mrad"});
  io.print(kStdout, {" wire random errors = ", w.wranerr});
  io.print(kStdout, {" distance error = ", disterr});
  io.print(kStdout, {" iwswitch = ", st.wire2.iwswitch});
  io.read_line(u, skip);
  io.read(u, {st.wire3b.wcurrent, st.wire3b.wlength});
  io.read(u, {st.wire3.wdist, st.wire3.wbetax, st.wire3.wbetay});
  io.print(kStdout, {" wire current =", st.wire3b.wcurrent});
  io.print(kStdout, {" wire length =", st.wire3b.wlength});
  io.print(kStdout, {" wire distance =", st.wire3.wdist});
  io.print(kStdout, {" wire betax =", st.wire3.wbetax});
  io.print(kStdout, {" wire betay =", st.wire3.wbetay});
  w.wstrerr = 0.01 * w.wstrerr;  // percent to fraction
  // Unit 440 stays connected for the rest of the run.
}

}  // namespace bbtrack
