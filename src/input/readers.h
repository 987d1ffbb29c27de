// Readers of the run set-up: the run parameter file, the optics and
// collision files, the derived constants and the triplet multipole errors.
#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// "diff.input" (kParamsFile): 51 positional lines, every value echoed.
void readinwire(State& st, textio::Io& io);
// "Matrices.dat", "Sigmas.dat", "excluded.dat"; keeps the records of
// "imageoflrbb.dat" in st.image (written by open_results) unless
// write_image is false.
void readinvorn(State& st, textio::Io& io, bool write_image = true);
// Physical constants, beam-beam strength, the wire report, kick cache reset.
void init(State& st, textio::Io& io);
// "wires.dat" (kWiresFile), when present: the wire compensators with their
// optional current ripple and noise, each echoed. In these optional files a
// bad record ends the run (status 1) before tracking (input/records.h).
void wiresin(State& st, textio::Io& io);
// "multipoles.dat" (kThinMultipolesFile), when present: thin multipoles,
// each echoed, summed per point into st.multipoles.
void multipolesin(State& st, textio::Io& io);
// "modulation.dat" (kModulationFile), when present: the tune modulation
// terms, each echoed.
void modulationin(State& st, textio::Io& io);
// "multdist.dat" (kMultipolesFile): triplet multipole errors, betas and weights.
void tripletin(State& st, textio::Io& io);

}  // namespace bbtrack
