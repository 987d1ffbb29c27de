#pragma once

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// The main program: start-up, turn loop and end of run of one run.
void diff2wirenew(State& st, textio::Io& io);

// The reading of the run set-up, the first part of start_up: parameters,
// ring, constants, wire report and the wires acting in the tracking, each
// echoed on standard output. write_image: whether readinvorn keeps
// the records of "imageoflrbb.dat" for open_results (a study run leaves the
// normal run's files alone).
void read_machine(State& st, textio::Io& io, bool write_image);

// The start-up of a run, the first part of diff2wirenew: the readers, the
// constants and the wire report, the starting distribution of the run
// option, its result files and the triplet errors; the state is then that
// of the first turn. Stops the run (exit status 2) when a stored run asks
// for more turns than can be stored. Tests and benchmarks that need the state of a
// run at its first turn call it as the program does.
void start_up(State& st, textio::Io& io);

}  // namespace bbtrack
