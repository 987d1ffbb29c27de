// The options of the study run `diff2wirenew dynap`: the starting grid, the
// turns, the frequency-map window, the loss aperture and the results folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bbtrack {

// The amplitudes FROM, FROM + STEP, ... of the grid, computed when asked
// (a grid of 10^9 particles holds no list of them).
struct Amplitudes {
  double from = 0.0, step = 1.0;
  std::size_t n = 0;
  std::size_t size() const { return n; }
  double operator[](std::size_t j) const { return from + static_cast<double>(j) * step; }
  double back() const { return (*this)[n - 1]; }
};

struct DynapOptions {
  double amp_from = 1.0, amp_to = 10.0, amp_step = 1.0;  // beam sizes
  int angles = 5;                 // polar grid: theta_k = k (pi/2) / (angles + 1)
  bool grid_xy = false;           // Cartesian grid of the two amplitudes instead
  std::int64_t turns = 10000;
  std::int64_t window = 1024;     // 0: no frequency map
  double aperture = 20.0;         // loss aperture, beam sizes
  double threshold = -5.0;        // diffusion index counted as chaotic above it
  std::string out = ".";          // results folder
  int threads = 0;                // 0: OpenMP's default
  std::int64_t tbt = 0;           // particles whose turn-by-turn record is written
  bool quiet = false;             // no progress lines
  int shard = 0, shards = 0;      // --shard i/n: this run tracks share i of n (0: all)
  std::vector<std::string> merge; // --merge DIR, once per shard in order: merge them
  double checkpoint_interval = 300.0;  // seconds of wall time between checkpoints; 0: none
  bool resume = false;                 // go on from the newest valid checkpoint
  std::string ring;                    // --ring FILE: the general ring tracked; empty: the folder's
  bool six_d = false;                  // --6d: synchrotron motion (also with an encounter6d in the ring)
  double delta = 0.0;                  // --delta D: start momentum offset
  double z0 = 0.0;                     // --z Z: start synchrotron amplitude, as the offset z (m)

  // The options that decide the particles' results, as one line: shards
  // of one study carry the same.
  std::string identity() const;

  // The amplitudes FROM, FROM + STEP, ... up to TO (with a margin for the
  // rounding of the steps).
  Amplitudes amplitudes() const;
};

// Parses the arguments after "dynap". Returns -1 when the study goes ahead,
// otherwise the exit status of the answer (0 after --help, 2 after a wrong
// option, with the message on standard error).
int parse_dynap(int argc, char** argv, DynapOptions& o);

}  // namespace bbtrack
