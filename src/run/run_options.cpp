#include "run/run_options.h"

#include "distrib/distributions.h"
#include "run/footprint.h"
#include "run/messages.h"
#include "run/normalise.h"
#include "run/stop_signals.h"

namespace bbtrack {
namespace {

constexpr auto kPhaseRecord = textio::fixed_format<"(1X,I5,4(1X,E10.4))">;
constexpr auto kSummaryRecord = textio::fixed_format<"(1X,3(1X,E10.4),1X,I2,1X,4(1X,E10.4))">;
constexpr auto kFmapRecord = textio::fixed_format<"(4(1X,E18.12))">;

// Options 2 and 3 store every turn; more than the store holds is refused.
void check_turn_limit(State& st, textio::Io& io) {
  if (st.readin1.ntrack > kNtmapm) {
    io.print(kStdout, {" ntrack>ntmapm - abunai! "});
    refuse_turn_limit(st, io);
  }
}

void phase_record(textio::Io& io, int32 i, const Normalised& nc) {
  io.write(kPhaseSpaceFile.unit, kPhaseRecord, {i, nc.x, nc.px, nc.y, nc.py});
}

void close_diffusion_files(textio::Io& io) {
  io.close(kDiffFile.unit);
  io.close(kSummaryFile.unit);
}

// Option 0 (and any value outside 1 ... 3): 169 particles on one amplitude.
void diffusion_set_up(State& st, textio::Io& io) {
  initcoordwire(st, io);
}
void no_record(State&, textio::Io&, int32) {}
void diffusion_finish(State& st, textio::Io& io, const Saved& sv) {
  if (st.readin1.iopt == 0) {
    const double dt = static_cast<double>(sv.iturn1 - sv.iturn0);
    const double diffx = (sv.avx1 - sv.avx0) / dt;
    const double diffy = (sv.avy1 - sv.avy0) / dt;
    const auto& ph = st.phase.phase;
    io.write(kSummaryFile.unit, kSummaryRecord,
             {st.icoord.ampin, diffx, diffy, st.readin2.ichoice, ph[0], ph[1], ph[2], ph[3]});
    warn_short_diffusion(st, io);
  }
  close_diffusion_files(io);
}

// Option 1: 15 particles, 500 turns of phase-space records.
void phase_space_set_up(State& st, textio::Io& io) {
  st.readin1.ntrack = 500;
  st.np.npart = 15;
  io.print(kStdout, {" option 1 ", st.np.npart, st.bb.sstar, st.bb.divstar, st.bb.emit});
  initcoordunir(st, io);
  io.print(kStdout, {st.coord.coord(15, 1), st.coord.coord(15, 3)});
}
void phase_space_record(State& st, textio::Io& io, int32 i) {
  for (int32 j = 1; j <= st.np.npart; ++j) phase_record(io, i, beam_size_units(st, j));
}
void phase_space_finish(State&, textio::Io& io, const Saved&) {
  io.close(kPhaseSpaceFile.unit);
}

// Option 2: every turn of every particle stored, written at the end.
void store_sample(State& st, int32 j, int32 s, const Normalised& nc) {
  st.fmap(j, s, 1) = nc.x;
  st.fmap(j, s, 2) = nc.px;
  st.fmap(j, s, 3) = nc.y;
  st.fmap(j, s, 4) = nc.py;
}
void turn_by_turn_set_up(State& st, textio::Io& io) {
  initcoorduni(st, io);
  check_turn_limit(st, io);
  // Sample 1 is the start; the store holds at least that one sample.
  st.fmap.size_for(st.np.npart, st.readin1.ntrack > 1 ? st.readin1.ntrack : 1);
  for (int32 j = 1; j <= st.np.npart; ++j) store_sample(st, j, 1, beta_scaled(st, j));
}
void turn_by_turn_record(State& st, textio::Io&, int32 i) {
  if (i + 1 > st.readin1.ntrack) return;
  for (int32 j = 1; j <= st.np.npart; ++j) store_sample(st, j, i + 1, beam_size_units(st, j));
}
void turn_by_turn_finish(State& st, textio::Io& io, const Saved&) {
  for (int32 j = 1; j <= st.np.npart; ++j) {
    for (int32 s = 1; s <= st.readin1.ntrack; ++s)
      io.write(kFreqMapFile.unit, kFmapRecord,
               {st.fmap(j, s, 1), st.fmap(j, s, 2), st.fmap(j, s, 3), st.fmap(j, s, 4)});
    stop_if_signalled_after_tracking(io);
  }
  close_diffusion_files(io);
}

// Option 3: the tune footprint of a grid of amplitudes.
void footprint_set_up(State& st, textio::Io& io) {
  initcoordfp(st, io);
  check_turn_limit(st, io);
  refuse_footprint_length(st, io);
  st.tbt.size_for(st.readin1.ntrack > 0 ? st.readin1.ntrack : 0);
}
void footprint_record(State& st, textio::Io& io, int32 i) {
  if (st.np.npart >= 1) phase_record(io, i, beta_scaled(st, 1));
  footprint_store(st, i);
}
void footprint_finish(State& st, textio::Io& io, const Saved&) {
  footprint_analysis(st, io);
  close_diffusion_files(io);
}

constexpr RunOption kDiffusion{RunKind::diffusion, diffusion_set_up,          true, no_record,
                               diffusion_finish,   {kDiffFile, kSummaryFile}, 2,    false};
constexpr RunOption kPhaseSpace{RunKind::phase_space, phase_space_set_up, false, phase_space_record,
                                phase_space_finish,   {kPhaseSpaceFile},  1,     false};
constexpr RunOption kTurnByTurn{
    RunKind::turn_by_turn, turn_by_turn_set_up, true, turn_by_turn_record,
    turn_by_turn_finish,   {kFreqMapFile},      1,    true};
constexpr RunOption kFootprint{RunKind::footprint,
                               footprint_set_up,
                               true,
                               footprint_record,
                               footprint_finish,
                               {kFootprintFile, kPhaseSpaceFile},
                               2,
                               true};

}  // namespace

const RunOption& run_option(int32 iopt) {
  switch (iopt) {
    case 1:
      return kPhaseSpace;
    case 2:
      return kTurnByTurn;
    case 3:
      return kFootprint;
    default:
      return kDiffusion;
  }
}

}  // namespace bbtrack
