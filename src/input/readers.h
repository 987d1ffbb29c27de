// Readers of the run set-up: the run parameter file, the optics and
// collision files, the derived constants and the triplet multipole errors.
#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// "diff.input" (kParamsFile): 51 positional lines, every value echoed.
void readinwire(State& st, textio::Io& io);
// "Matrices.dat", "Sigmas.dat", "excluded.dat"; writes "imageoflrbb.dat"
// unless write_image is false.
void readinvorn(State& st, textio::Io& io, bool write_image = true);
// Physical constants, beam-beam strength, the wire report, kick cache reset.
void init(State& st, textio::Io& io);
// "wires.dat" (kWiresFile), when present: the wire compensators, each echoed;
// a bad record ends the run (status 1) before tracking.
void wiresin(State& st, textio::Io& io);
// "multdist.dat" (kMultipolesFile): triplet multipole errors, betas and weights.
void tripletin(State& st, textio::Io& io);

}  // namespace bbtrack
