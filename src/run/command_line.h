// The command line of diff2wirenew: none for a run; --help, -h and
// --version answer and end; anything else is refused.
#pragma once

#include <string_view>

namespace bbtrack {

// Exit statuses of the program.
inline constexpr int kExitResults = 0;   // the run ended and wrote its results
inline constexpr int kExitIoError = 1;   // an input or output error ended the run
inline constexpr int kExitRefused = 2;   // the run was refused (argument, turn limit)
inline constexpr int kExitSignal = 128;  // + n: stopped by signal n

// Writes text whole to descriptor fd, without the text layer (nothing is
// open yet); a failed write drops the rest.
void put(int fd, std::string_view text);

// Handles the arguments before any file is opened: -1 when the run goes
// ahead (no arguments), otherwise the exit status of the answer.
int command_line(int argc, char** argv);

}  // namespace bbtrack
