// Error reporting shared by the numerical library routines: the decision
// between silent, soft and hard failure from the caller's IFAIL, the
// message records, and the end of the run after a hard failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "textio/textio.h"

namespace bbtrack {

// The library's own state: where its messages go and the saved error unit
// (initially 6, standard output; a negative unit suppresses every message).
struct NagLib {
  textio::Io* io;
  std::int32_t nerr = textio::kStdoutUnit;
};

// Reports error IERROR (non-zero) of routine SRNAME in the mode chosen by
// IFAIL and returns the code the caller stores into its IFAIL. REC holds
// NREC extra message records written before the standard ones. A hard
// failure does not return.
std::int32_t P01ABF(std::int32_t ifail, std::int32_t ierror, std::string_view srname,
                    std::int32_t nrec, const std::string* rec, NagLib& lib);

// I = 0: NERR receives the saved error unit; I = 1: NERR replaces it;
// any other I leaves both alone.
void X04AAF(std::int32_t i, std::int32_t& nerr, NagLib& lib);

// Writes REC as one record on unit NOUT without its trailing blanks (at
// least its first character); nothing for a negative unit.
void X04BAF(std::int32_t nout, std::string_view rec, NagLib& lib);

// Ends the run with exit status 0, flushing what was written so far.
[[noreturn]] void P01ABZ(NagLib& lib);

}  // namespace bbtrack
