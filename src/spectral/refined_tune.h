// Refined tune of a turn-by-turn record: the frequency of the largest line
// of the complex normalised signal z = x - i px, to a small fraction of the
// spectral resolution 1/N.
#pragma once

#include <complex>
#include <span>
#include <vector>

namespace bbtrack {

// Work buffers of refined_tune, kept by a caller that analyses many records
// so that nothing is allocated per record.
struct TuneWork {
  std::vector<std::complex<double>> zw, fft, twiddle;
  std::vector<double> w;
};

// The frequency nu in [0, 1) that maximises |sum_t w(t) (z(t) - c) e^(-2 pi i nu t)|,
// with w the Hann window symmetric about the middle of the record (so that
// the maximum of a pure tone lies exactly at its frequency) and c the
// record's background: first its weighted mean, then the constant of a
// joint weighted fit of a constant and the line found, refitted until the
// tune stays put. The largest line of a transform padded to a power of
// two starts a Newton search for the root of d|F|^2/dnu (a bracketed one
// when Newton's steps leave the peak). NaN for a record shorter than 4 turns, not finite, or without
// any line.
double refined_tune(std::span<const std::complex<double>> z, TuneWork& work);

}  // namespace bbtrack
