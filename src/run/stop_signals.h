// Stop signals (SIGTERM, SIGINT, SIGHUP, SIGXCPU), as a batch system sends
// at a time limit, and SIGPIPE, when the reader of standard output goes
// away: the handler only notes the signal; the run looks at the note during
// its start-up, after every turn and at its end, and ends in order, keeping
// every record written so far. A second stop signal ends the process at once.
#pragma once

#include "textio/textio.h"

namespace bbtrack {

// Installs the handler for the stop signals (the program entry does this).
void catch_stop_signals();

// The stop signal received so far, 0 if none.
int stop_signal();

// Each: if a stop signal has come, an error line naming it and how far the
// run got, every unit flushed and closed as at a normal end, then
// textio::Exit{128 + signal}.
// After turn `turn` of `ntrack`.
void stop_if_signalled(textio::Io& io, int turn, int ntrack);
// At the end of the start-up, once the result files are opened (empty).
void stop_if_signalled_before_tracking(textio::Io& io);
// After the turn loop, before and while the end-of-run results are written.
void stop_if_signalled_after_tracking(textio::Io& io);
// At the very end: only for SIGPIPE, whose lines of standard output are lost.
void stop_if_output_lost(textio::Io& io);

}  // namespace bbtrack
