// The results folder of a study or a merge, made ready before any input is
// read: created when missing, locked for the life of the process (as a run
// locks its folder), and, for a study that does not resume, cleared of an
// earlier study's results and checkpoints, so that a study that fails
// leaves none of them behind.
#pragma once

#include "dynap/options.h"

namespace bbtrack {

// Throws DynapRefusal when another study or merge holds the folder, or
// when a merge would write into one of its shards' folders; DynapIoError
// when the folder cannot be made or cleared.
void prepare_results_folder(const DynapOptions& o);

// The thread count to use: --threads above the processors' count gives
// one per processor, with a warning (more would only wait on each other).
int study_threads(const DynapOptions& o);

}  // namespace bbtrack
