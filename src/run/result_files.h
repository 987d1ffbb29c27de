// The result files of a run option, opened together at the end of the
// start-up: emptied at once, so that no earlier run's results stay under
// the names the run owns, and found unwritable before the first turn.
#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// Opens the files of the run option (test.dat always; footprint.dat,
// phasespace.dat, frequencymap.dat, diff.dat with resav.out, and in options
// 2 and 3 the file of unit 20). A stop signal received during the start-up
// ends the run here, once they are emptied. The file of unit 20 ($FOR020)
// may not be one of the run's input files (Exit{2}).
void open_results(const State& st, textio::Io& io);

}  // namespace bbtrack
