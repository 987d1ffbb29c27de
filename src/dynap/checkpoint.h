// Checkpoints of the study run: the state between two turns of a batch,
// written every few minutes and when the study is stopped, so that
// `--resume` goes on with the same bits as a study never stopped. Two
// files alternate (.dynap_checkpoint.0 and .1 in the results folder), each
// written to a temporary name, forced to disk and renamed, and each
// carrying a checksum of its contents and the identity of the study
// (dynap/identity.h), so that a torn, damaged or foreign one is never used.
#pragma once

#include <complex>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "dynap/files.h"
#include "dynap/identity.h"
#include "dynap/options.h"
#include "dynap/track.h"

namespace bbtrack {

// A resume that cannot go on: no valid checkpoint (exit status 2).
struct DynapResumeError : DynapRefusal {
  using DynapRefusal::DynapRefusal;
};

struct DynapCheckpoint {
  std::uint64_t seq = 0;                  // the newer of two is the larger
  std::int64_t first = 0, turn = 0;       // the batch's first particle, turns done in it
  std::int64_t lost = 0, with_index = 0, chaotic = 0;  // the summary's tally so far
  double min_lost_amp = 0.0;
  std::vector<std::int64_t> first_lost;
  std::uint64_t rows_size = 0, rows_hash = 0, tbt_size = 0, tbt_hash = 0;
  std::vector<DynapParticle> batch;
  std::vector<int> slot_ids;
  std::vector<double> coords;  // x, px, y, py of the live slots
  std::int64_t npart = 0, nlost = 0;
  std::vector<std::complex<double>> signals;
  // With synchrotron motion (else empty, and not written): z, delta of the
  // live slots and the synchrotron signals.
  std::vector<double> longitudinal;
  std::vector<std::complex<double>> sync_signals;
};

void write_checkpoint(const std::string& dir, const StudyIdentity& identity,
                      const DynapCheckpoint& c);

// The valid checkpoints of the folder, the newest first; `why` gets one
// clause per file refused (missing, torn, damaged, of another study: then
// naming the option or input file that differs).
std::vector<DynapCheckpoint> read_checkpoints(const std::string& dir,
                                              const StudyIdentity& identity, std::string& why);

void remove_checkpoints(const std::string& dir);

}  // namespace bbtrack
