#include "run/command_line.h"

#include <unistd.h>

#include <string>
#include <string_view>

#include "run/version.h"

namespace bbtrack {
namespace {

constexpr std::string_view kUsage =
    R"(Usage: diff2wirenew [--help | --version]
       diff2wirenew dynap [options]   (see diff2wirenew dynap --help)

Tracks test particles of one beam through a ring of 73 sections, kicked at
each encounter by the field of the opposing bunch. A run takes no arguments:
it reads its input files from the current folder and writes its results
there, replacing results of an earlier run. One run at a time in a folder.

Reads:
  diff.input      run parameters (51 positional lines)
  Matrices.dat    the 73 section matrices
  Sigmas.dat      sizes and offsets of the opposing bunch per encounter
  excluded.dat    encounters whose kick is skipped (may be missing)
  multdist.dat    triplet multipole errors, read when itrip = 1
  wires.dat       wires acting in the tracking, k xw yw current length per
                  record (optional; without it no wire acts)

Writes, by run option (iopt, line 5 of diff.input):
  0 (any other)   diffusion: diff.dat, resav.out (option 0 only)
  1               phase space, 15 particles, 500 turns: phasespace.dat
  2               turn by turn, ntrack <= 4096: frequencymap.dat, fort.20
  3               tune footprint, ntrack <= 4096: footprint.dat,
                  phasespace.dat, fort.20
  every run       imageoflrbb.dat, test.dat; parameters and progress on
                  standard output

Environment:
  OMP_NUM_THREADS   threads of the tracking
  BBTRACK_SCALAR    1: track with the plain scalar routines (same results)
  BBTRACK_ERRF      fast: faster error function in the beam-beam kick;
                    results differ from the exact evaluation in the last digits
  FOR020            file of unit 20 in options 2 and 3 (default fort.20;
                    never an input file)
  NO_STOP_MESSAGE   set: no "FORTRAN STOP" notice at the turn-limit stop

Exit status:
  0        the run ended and wrote its results
  1        an input or output error ended the run (message on standard
           error), an input that is not a regular file, or a result file
           that is a symbolic link
  2        the run was refused: an unknown argument, ntrack above 4096 in
           option 2 or 3, FOR020 naming an input file, or another run going
           on in the same folder
  128 + n  stopped by signal n (SIGTERM, SIGINT, SIGHUP, SIGXCPU; SIGPIPE
           when the reader of standard output has gone); every record
           written so far is kept

Options:
  -h, --help   show this text and end
  --version    show the version and end

Study run:
  dynap        dynamic aperture and frequency map of a grid of amplitudes,
               any number of particles and turns; writes dynap.csv,
               dynap_angles.csv and dynap_summary.txt, never the files above
)";

}  // namespace

void put(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

int command_line(int argc, char** argv) {
  if (argc <= 1) return -1;
  const std::string_view arg = argv[1];
  if (argc == 2 && (arg == "--help" || arg == "-h")) {
    put(1, kUsage);
    return kExitResults;
  }
  if (argc == 2 && arg == "--version") {
    std::string v = "diff2wirenew (bbtrack) ";
    v += kVersion;
    if (kGitRevision[0] != '\0') {
      v += ", git ";
      v += kGitRevision;
    }
    v += '\n';
    put(1, v);
    return kExitResults;
  }
  std::string refused = "diff2wirenew: error: ";
  refused += argc == 2 ? "unknown argument '" + std::string(arg) + "'"
                       : std::string("more than one argument");
  refused += "; a run takes no arguments\n";
  put(2, refused);
  put(2, kUsage);
  return kExitRefused;
}

}  // namespace bbtrack
