#include "run/driver.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "distrib/distributions.h"
#include "input/readers.h"
#include "kicks/vector/fast_turn.h"
#include "run/diagnostics.h"
#include "run/footprint.h"
#include "run/messages.h"
#include "run/normalise.h"
#include "run/result_files.h"
#include "run/stop_signals.h"
#include "run/unit_numbers.h"

namespace bbtrack {
namespace {

constexpr auto kDiffRecord = textio::fixed_format<"(I6,3(1X,E10.3),1X,I3,1X,I3)">;
constexpr auto kPhaseRecord = textio::fixed_format<"(1X,I5,4(1X,E10.4))">;
constexpr auto kSummaryRecord = textio::fixed_format<"(1X,3(1X,E10.4),1X,I2,1X,4(1X,E10.4))">;
constexpr auto kFmapRecord = textio::fixed_format<"(4(1X,E18.12))">;

// What the turn loop leaves for the end of the run.
struct Saved {
  double avx0 = 0.0, avy0 = 0.0;
  int32 iturn0 = 0;
  double avx1 = 0.0, avy1 = 0.0;
  int32 iturn1 = 0;
};

}  // namespace

void read_machine(State& st, textio::Io& io, bool write_image) {
  readinwire(st, io);
  readinvorn(st, io, write_image);
  if (write_image) io.flush(kImageFile.unit);  // complete on disk while the run goes on
  io.print(kStdout, {" actual betas = ", st.twiss.betx, st.twiss.bety});
  init(st, io);
  io.print(kStdout, {st.bb.gamma, st.fundcon.echarge, st.fundcon.clight});
  const double q = st.fundcon.echarge;
  const double v = st.fundcon.clight;
  st.wire3.wirecoef =
      2.0 * st.bb.rp * st.wire3b.wcurrent * st.wire3b.wlength / (st.bb.gamma * q * v);
  io.print(kStdout, {" wirecoef = ", st.wire3.wirecoef});
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
  if (iopt == 3) {
    initcoordfp(st, io);
    if (st.readin1.ntrack > kNtmapm) {
      io.print(kStdout, {" ntrack>ntmapm - abunai! "});
      refuse_turn_limit(st, io);
    }
    st.tbt.size_for(st.readin1.ntrack > 0 ? st.readin1.ntrack : 0);
  } else if (iopt == 2) {
    initcoorduni(st, io);
    if (st.readin1.ntrack > kNtmapm) {
      io.print(kStdout, {" ntrack>ntmapm - abunai! "});
      refuse_turn_limit(st, io);
    }
    // Sample 1 is the start; the store holds at least that one sample.
    st.fmap.size_for(st.np.npart, st.readin1.ntrack > 1 ? st.readin1.ntrack : 1);
    for (int32 i = 1; i <= st.np.npart; ++i) {
      const Normalised nc = beta_scaled(st, i);
      st.fmap(i, 1, 1) = nc.x;
      st.fmap(i, 1, 2) = nc.px;
      st.fmap(i, 1, 3) = nc.y;
      st.fmap(i, 1, 4) = nc.py;
    }
  } else if (iopt == 1) {
    st.readin1.ntrack = 500;
    st.np.npart = 15;
    io.print(kStdout, {" option 1 ", st.np.npart, st.bb.sstar, st.bb.divstar, st.bb.emit});
    initcoordunir(st, io);
    io.print(kStdout, {st.coord.coord(15, 1), st.coord.coord(15, 3)});
  } else {
    initcoordwire(st, io);
  }
  io.print(kStdout, {" after initialization "});

  open_results(st, io);
  if (st.readin2.itrip == 1) tripletin(st, io);

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

// The records of one turn of option 1, 2 or 3.
void record_turn(State& st, textio::Io& io, int32 i) {
  const int32 iopt = st.readin1.iopt;
  if (iopt == 3) {
    if (st.np.npart >= 1) {
      const Normalised nc = beta_scaled(st, 1);
      io.write(kPhaseSpaceFile.unit, kPhaseRecord, {i, nc.x, nc.px, nc.y, nc.py});
    }
    footprint_store(st, i);
  }
  if (iopt == 1 || iopt == 2) {
    for (int32 j = 1; j <= st.np.npart; ++j) {
      const Normalised nc = beam_size_units(st, j);
      if (iopt == 1) {
        io.write(kPhaseSpaceFile.unit, kPhaseRecord, {i, nc.x, nc.px, nc.y, nc.py});
      } else if (i + 1 <= st.readin1.ntrack) {
        st.fmap(j, i + 1, 1) = nc.x;
        st.fmap(j, i + 1, 2) = nc.px;
        st.fmap(j, i + 1, 3) = nc.y;
        st.fmap(j, i + 1, 4) = nc.py;
      }
    }
  }
}

// The turn loop; returns the loop counter.
int32 track(State& st, textio::Io& io, Saved& sv, ErrfMode errf_mode) {
  const int32 iopt = st.readin1.iopt;
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
    if (iopt != 1) {
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
    record_turn(st, io, i);
    stop_if_signalled(io, i, ntrack);
  }
  return i;
}

void end_of_run(State& st, textio::Io& io, const Saved& sv) {
  const int32 iopt = st.readin1.iopt;
  stop_if_signalled_after_tracking(io);
  if (iopt == 3) footprint_analysis(st, io);
  if (iopt == 0) {
    const double dt = static_cast<double>(sv.iturn1 - sv.iturn0);
    const double diffx = (sv.avx1 - sv.avx0) / dt;
    const double diffy = (sv.avy1 - sv.avy0) / dt;
    const auto& ph = st.phase.phase;
    io.write(kSummaryFile.unit, kSummaryRecord,
             {st.icoord.ampin, diffx, diffy, st.readin2.ichoice, ph[0], ph[1], ph[2], ph[3]});
    warn_short_diffusion(st, io);
  }
  if (iopt == 2) {
    for (int32 i = 1; i <= st.np.npart; ++i) {
      for (int32 s = 1; s <= st.readin1.ntrack; ++s)
        io.write(kFreqMapFile.unit, kFmapRecord,
                 {st.fmap(i, s, 1), st.fmap(i, s, 2), st.fmap(i, s, 3), st.fmap(i, s, 4)});
      stop_if_signalled_after_tracking(io);
    }
  }
  if (iopt == 1) {
    io.close(kPhaseSpaceFile.unit);
  } else {
    io.close(kDiffFile.unit);
    io.close(kSummaryFile.unit);
  }
  io.print(kStdout, {" lost particles = ", st.np.nlost});
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
