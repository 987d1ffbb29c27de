// The four run options (iopt, line 5 of diff.input), each described once:
// its particles and stores, its result files, its records per turn and at
// the end of the run. The driver runs the stages in their fixed order and
// asks the option what each stage holds.
#pragma once

#include "run/state.h"
#include "run/unit_numbers.h"
#include "textio/textio.h"

namespace bbtrack {

// What the turn loop leaves for the end of the run.
struct Saved {
  double avx0 = 0.0, avy0 = 0.0;
  int32 iturn0 = 0;
  double avx1 = 0.0, avy1 = 0.0;
  int32 iturn1 = 0;
  int32 all_lost = 0;  // the turn that lost the last particle, 0 if none did
};

enum class RunKind { diffusion, phase_space, turn_by_turn, footprint };

struct RunOption {
  RunKind kind;
  // After " iopt decision ": the particle count, the starting distribution,
  // the checks that may refuse the run (Exit{2}) and the stores.
  void (*set_up)(State& st, textio::Io& io);
  // Whether the turns carry the action spread, its running average and the
  // diffusion records (diff.dat, or unit 20's file in options 2 and 3).
  bool action_spread;
  // Records of turn i, after the loss check and the diffusion records.
  void (*record)(State& st, textio::Io& io, int32 i);
  // The end records, after the turn loop, and the closing of the files.
  void (*finish)(State& st, textio::Io& io, const Saved& sv);
  // The result files besides test.dat, in the order they are opened.
  UnitFile results[2];
  int nresults;
  bool unit20;  // the diffusion records go to unit 20's default file
};

// The option of an iopt: 1, 2, 3; every other value runs the diffusion run
// (option 0 alone writes resav.out's record; others are warned about).
const RunOption& run_option(int32 iopt);

}  // namespace bbtrack
