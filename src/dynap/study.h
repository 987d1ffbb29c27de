// The study run `diff2wirenew dynap`: dynamic aperture and frequency map of
// a grid of starting amplitudes, tracked in batches through the ring of the
// current folder (dynap/options.h for its options).
#pragma once

#include "kicks/vector/fast_turn.h"
#include "dynap/identity.h"
#include "dynap/options.h"
#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

// The program entry of the study, with the arguments after "dynap":
// returns the exit status.
int dynap_main(int argc, char** argv);

// The study on a state whose set-up has been read: tracks the grid, writes
// the result files and returns the summary text (also written to
// dynap_summary.txt). Throws DynapIoError when a result cannot be written.
// `identity` marks its checkpoints and its shard record (dynap_identity()).
std::string dynap_study(State& st, textio::Io& io, const DynapOptions& o, FastTurn& turner,
                        const StudyIdentity& identity);

// Merges the shards' folders (o.merge, shard 1 first) into the results of
// the study in one go, byte for byte; `complete` false when a shard is
// missing or damaged (each named on standard error): then only a summary
// that says so is written. Returns the summary text.
std::string dynap_merge(const DynapOptions& o, bool& complete);

}  // namespace bbtrack
