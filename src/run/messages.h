// The program's own diagnostics: one line each on standard error, beginning
// "diff2wirenew: warning: " or "diff2wirenew: error: ". Standard output and
// the result files never carry them.
#pragma once

#include <string>
#include <string_view>

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

void warn(textio::Io& io, std::string_view sentence);
void error(textio::Io& io, std::string_view sentence);

// A value the run cannot use, found while reading or deriving the set-up,
// before any result of it is written: the error line, exit status 2, no
// stop notice.
[[noreturn]] void refuse(textio::Io& io, std::string_view sentence);

// A quantity derived from the inputs (an emittance, a beam size, a kick
// strength) that the tracking needs as a finite positive normal number, or
// as a finite number: refused otherwise (exit status 2), the line naming
// `what` and the value.
enum class Derived { positive, finite };
void require_derived(textio::Io& io, std::string_view what, double v, Derived kind);

// Decimal text of a number for the sentences above: an integer in full, a
// real with six significant digits (as printf's %g).
std::string num(int32 v);
std::string num(double v);

// Before an input file whose absence ends the run is opened: an error line
// naming the file and the folder when it does not exist, or saying that it
// is empty. The open still creates a missing file empty and the first read
// still fails with the fatal message.
void require_input(textio::Io& io, std::string_view name);
// Before an input file the run does without is opened: a warning line
// saying what its absence means.
void optional_input(textio::Io& io, std::string_view name, std::string_view consequence);

// The turn-limit stop of options 2 and 3, after its standard-output line:
// an error line, the stop notice, exit status 2.
[[noreturn]] void refuse_turn_limit(State& st, textio::Io& io);

// Option 3's Fourier transform needs a length of at least 2 whose prime
// factors are at most 19, no more than 20 of them: ntrack must be one.
void refuse_footprint_length(State& st, textio::Io& io);
// Option 2 with ntrack <= 1 has no turns to analyse; other options outside
// 0..3 run the diffusion run. One warning line each.
void warn_option(const State& st, textio::Io& io);

// Every particle lost, the last at turn `turn`: what the results then mean.
void warn_all_lost(const State& st, textio::Io& io, int32 turn);

// A diffusion run (option 0) too short for the rates of resav.out: one
// warning line saying why, what was written and how many turns a rate needs.
void warn_short_diffusion(const State& st, textio::Io& io);

}  // namespace bbtrack
