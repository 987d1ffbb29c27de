#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// The main program: start-up, turn loop and end of run of one run.
void diff2wirenew(State& st, textio::Io& io);

}  // namespace bbtrack
