// What a run does before it reads a file: the standard streams made safe
// and the run folder locked. A run of any kind calls both, in this order.
#pragma once

#include <sys/types.h>

#include "textio/textio.h"

namespace bbtrack {

// Descriptors 0, 1 and 2 that are closed are opened on /dev/null, before
// any file is opened: otherwise the first file opened would take the place
// of standard output or standard error and receive its lines.
void open_standard_descriptors();

// Takes an advisory lock on the run folder itself (no file is added), held
// until the process ends. When another run holds it: an error line naming
// that run's process, then textio::Exit{2}. A folder that cannot be locked
// at all (a file system without locks) gives a warning, and the run goes on.
void lock_run_folder(textio::Io& io);

// The process holding a lock of flock(2) on the file (dev, ino), as the
// kernel lists it in /proc/locks; 0 when not found.
long lock_holder(dev_t dev, ino_t ino);

}  // namespace bbtrack
