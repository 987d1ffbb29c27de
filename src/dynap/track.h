// Tracking of the study run: one batch of particles through the turns of
// the ring with the run's own turn (FastTurn), their losses at the
// aperture, the turn-by-turn signals of the two frequency-map windows and
// the refined tunes.
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "kicks/vector/fast_turn.h"
#include "run/state.h"

namespace bbtrack {

// The largest batch: the particle slots of the run state, less one.
inline constexpr int kDynapBatch = kSlots - 1;

// One particle of the study, a plain record: its start, and once tracked,
// its results. Every result depends on this particle's start alone, so any
// cut of the grid into batches (or into shards of separate runs) gives the
// same record.
struct DynapParticle {
  std::int64_t index = 0;
  double amplitude = 0.0, angle = 0.0;  // beam sizes; rad, from the x axis
  double ax = 0.0, ay = 0.0;            // amplitude per plane, beam sizes
  double x = 0.0, px = 0.0, y = 0.0, py = 0.0;  // start: m, rad
  std::int64_t turns = 0;  // turn of loss, or the turns tracked when it survived
  bool lost = false;
  double qx1, qy1, qx2, qy2;  // refined tunes of the windows, NaN when lost within one
  double diffusion;           // log10 sqrt(dQx^2 + dQy^2), NaN when lost within 2 windows
  // With synchrotron motion: the start z (m) and delta (set before
  // dynap_start) and the synchrotron tune of window 1 (NaN when lost in it).
  double z = 0.0, d = 0.0, qs = 0.0;
};

// The study's beam-size unit at the observation point: the classic ring's
// Twiss functions and emittance, or the general ring's normal form (its
// modes' emittances; coupled: the matrices A and A^-1 of x = A z).
struct StudyOptics {
  bool coupled = false;
  double betx = 0.0, alfx = 0.0, bety = 0.0, alfy = 0.0;
  double emx = 0.0, emy = 0.0;  // geometric emittances of modes 1 and 2, m rad
  double a[4][4] = {}, ainv[4][4] = {};
  // Synchrotron motion: the 6x6 normal form (x = A6 z, three modes).
  bool six_d = false;
  double a6[6][6] = {}, ainv6[6][6] = {};
};
StudyOptics study_optics(const State& st);

class DynapTracker {
 public:
  // The state is read and set up (its ring, constants and wires); its
  // particle slots are used for the batches.
  DynapTracker(State& st, FastTurn& turner, std::int64_t turns, std::int64_t window,
               double aperture);

  // Tracks the particles (at most kDynapBatch) and fills their results.
  // progress(turn) is called after every turn with the batch's turn.
  // from > 0: the batch resumes after turn `from`, its records, slots and
  // signals restored as a checkpoint holds them (state()).
  template <class Progress>
  void track(std::span<DynapParticle> batch, Progress&& progress, std::int64_t from = 0) {
    if (from == 0)
      begin(batch);
    else
      st_.turn.n = static_cast<int32>(from);  // the ripple and modulation of the turns to come
    for (std::int64_t t = from + 1; t <= turns_ && st_.np.npart > 0; ++t) {
      step(batch, t);
      progress(t);
    }
    finish(batch);
  }

  // The recorded signal x - i px (plane 0) or y - i py (plane 1) of window
  // w (0, 1) of batch particle i, in beam sizes; valid after track() for
  // the turns the particle survived.
  std::span<const std::complex<double>> signal(std::size_t i, int w, int plane) const;
  // With synchrotron motion: its normalised signal x3 - i p3 of window 1.
  std::span<const std::complex<double>> sync_signal(std::size_t i) const;

  // What a checkpoint keeps of a batch between turns, besides its records
  // and the coordinates of the state's slots: the batch particle of each
  // slot and the recorded signals.
  std::vector<int>& slot_ids() { return id_; }
  std::vector<std::complex<double>>& signals() { return sig_; }
  std::vector<std::complex<double>>& sync_signals() { return sigs_; }

  // Bytes of signal memory per particle.
  static std::size_t bytes_per_particle(std::int64_t window);

 private:
  void begin(std::span<DynapParticle> batch);
  void step(std::span<DynapParticle> batch, std::int64_t t);
  void finish(std::span<DynapParticle> batch);

  State& st_;
  FastTurn& turner_;
  StudyOptics optics_;
  std::int64_t turns_, window_;
  double limit_x_, limit_y_;              // loss limits, m
  std::vector<int> id_;                   // batch particle in each slot (from slot 1)
  std::vector<std::complex<double>> sig_; // [particle][window][plane][turn]
  std::vector<std::complex<double>> sigs_; // synchrotron motion: [particle][turn] of window 1
};

// Start coordinates of a particle at amplitudes (ax, ay) in beam sizes:
// x = ax sigma_x, y = ay sigma_y, zero angles. With synchrotron motion the
// modes' normalised positions are ax sqrt(emit1), ay sqrt(emit2) and the
// other four normalised coordinates those that give zero angles, z = p.z
// and delta = p.d (x = A6 z). For a coupled ring, the
// modes' normalised positions are ax sqrt(emit1), ay sqrt(emit2) and their
// normalised momenta those that give zero angles.
void dynap_start(const State& st, DynapParticle& p);

}  // namespace bbtrack
