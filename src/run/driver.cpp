#include "run/driver.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "input/readers.h"
#include "kicks/vector/fast_turn.h"
#include "run/diagnostics.h"
#include "run/messages.h"
#include "run/result_files.h"
#include "run/run_options.h"
#include "run/stop_signals.h"
#include "run/unit_numbers.h"

namespace bbtrack {
namespace {

constexpr auto kDiffRecord = textio::fixed_format<"(I6,3(1X,E10.3),1X,I3,1X,I3)">;

}  // namespace

void read_machine(State& st, textio::Io& io, bool write_image) {
  readinwire(st, io);
  readinvorn(st, io, write_image);
  io.print(kStdout, {" actual betas = ", st.twiss.betx, st.twiss.bety});
  init(st, io);
  io.print(kStdout, {st.bb.gamma, st.fundcon.echarge, st.fundcon.clight});
  const double q = st.fundcon.echarge;
  const double v = st.fundcon.clight;
  st.wire3.wirecoef =
      2.0 * st.bb.rp * st.wire3b.wcurrent * st.wire3b.wlength / (st.bb.gamma * q * v);
  io.print(kStdout, {" wirecoef = ", st.wire3.wirecoef});
  require_derived(io, "the wire kick coefficient wirecoef", st.wire3.wirecoef, Derived::finite);
  wiresin(st, io);
  multipolesin(st, io);
  modulationin(st, io);
}

void start_up(State& st, textio::Io& io) {
  read_machine(st, io, true);
  st.np.npart = 169;
  st.np.nlost = 0;
  st.icoord.ampin = 0.5 * st.readin1.amp;
  io.print(kStdout, {" iopt decision "});

  const int32 iopt = st.readin1.iopt;
  run_option(iopt).set_up(st, io);
  io.print(kStdout, {" after initialization "});

  // multdist.dat is read before the result files are opened: a bad one
  // leaves the earlier results as they were.
  if (st.readin2.itrip == 1) tripletin(st, io);
  open_results(st, io);

  io.print(kStdout, {"  "});
  io.print(kStdout, {" start tracking "});
  io.print(kStdout, {" ioption = ", iopt});
  io.print(kStdout, {" ichoice = ", st.readin2.ichoice});
  io.print(kStdout, {" itrip = ", st.readin2.itrip});
  io.print(kStdout, {" ------------------------- "});
  io.print(kStdout, {"  "});
  io.print(kStdout, {" srparam = ", st.bb.srparam});
  io.print(kStdout, {" npar = ", st.crossing.npar});
  io.flush(kStdout);  // a person following the output sees the start-up at once
}

namespace {

// The turn loop; returns the loop counter.
int32 track(State& st, textio::Io& io, Saved& sv, ErrfMode errf_mode) {
  const RunOption& option = run_option(st.readin1.iopt);
  const int32 ntrack = st.readin1.ntrack;
  double varx = 0.0, vary = 0.0, avx = 0.0, avy = 0.0;
  // BBTRACK_SCALAR=1 computes every turn with the scalar reference routines
  // instead of the particle blocks; the results are the same bit for bit.
  FastTurn turner(turn_path_for(std::getenv("BBTRACK_SCALAR")), 0, errf_mode);
  int32 i = 1;
  for (; i <= ntrack; ++i) {
    if (i % 500 == 0) {
      io.print(kStdout, {" i = ", i});
      // Every file pushed out: a run killed outright loses only the turns
      // since the last progress line.
      io.flush();
    }
    turner.turn(st);
    const double tnow = i * st.timec.trev;
    overflow(st);
    if (st.np.npart == 0 && sv.all_lost == 0) sv.all_lost = i;
    if (option.action_spread) {
      varwire(st, varx, vary);
      runav(st, varx, vary, avx, avy, i);
      if (i == 1000) {
        sv.avx0 = avx;
        sv.avy0 = avy;
        sv.iturn0 = i;
      }
      if (st.np.nlost > 0 && i > 2000) {
        sv.avx1 = avx;
        sv.avy1 = avy;
        sv.iturn1 = i;
        break;
      }
      if (i == ntrack) {
        sv.avx1 = avx;
        sv.avy1 = avy;
        sv.iturn1 = i;
      }
      if (i >= 1000 && i % 100 == 0)
        io.write(kDiffFile.unit, kDiffRecord, {i, tnow, avx, avy, st.np.nlost, st.np.npart});
    }
    option.record(st, io, i);
    stop_if_signalled(io, i, ntrack);
  }
  return i;
}

void end_of_run(State& st, textio::Io& io, const Saved& sv) {
  stop_if_signalled_after_tracking(io);
  run_option(st.readin1.iopt).finish(st, io, sv);
  io.print(kStdout, {" lost particles = ", st.np.nlost});
  if (sv.all_lost > 0) warn_all_lost(st, io, sv.all_lost);
}

}  // namespace

void diff2wirenew(State& st, textio::Io& io) {
  // BBTRACK_ERRF=fast: the kicks evaluate w by errf_fast (any other value,
  // or none, keeps errf and every result byte).
  const ErrfMode errf_mode = errf_mode_for(std::getenv("BBTRACK_ERRF"));
  if (errf_mode == ErrfMode::fast)
    warn(io, "fast error function: results differ from the exact evaluation in the last digits");
  start_up(st, io);
  Saved sv;
  const int32 counter = track(st, io, sv, errf_mode);
  io.print(kStdout, {" after tracking loop ", counter});
  end_of_run(st, io, sv);
  stop_if_output_lost(io);
}

}  // namespace bbtrack
