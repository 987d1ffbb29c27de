// Tune footprint: the betatron tunes of each grid point from the spectral
// peak of its turn-by-turn positions.
#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// Keeps the beta-scaled positions of turn t under each particle's grid point.
void footprint_store(State& st, int32 turn);
// Transforms the 196 records, writes the tunes to standard output and "footprint.dat".
void footprint_analysis(State& st, textio::Io& io);

}  // namespace bbtrack
