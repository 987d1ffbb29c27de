// Stop signals (SIGTERM, SIGINT, SIGHUP, SIGXCPU), as a batch system sends
// at a time limit: the handler only notes the signal; the turn loop looks
// at the note after every turn and ends the run in order, keeping every
// record written so far. A second signal ends the process at once.
#pragma once

#include "textio/textio.h"

namespace bbtrack {

// Installs the handler for the stop signals (the program entry does this).
void catch_stop_signals();

// The stop signal received so far, 0 if none.
int stop_signal();

// After turn `turn` of `ntrack`: if a stop signal has come, an error line
// naming it and the turn reached, every unit flushed and closed as at a
// normal end, then textio::Exit{128 + signal}.
void stop_if_signalled(textio::Io& io, int turn, int ntrack);

}  // namespace bbtrack
