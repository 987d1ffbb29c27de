// Real discrete Fourier transform of any length whose prime factors are at
// most 19 (at most 20 of them), in place, with the result in Hermitian
// storage.
#pragma once

#include <cstdint>

#include "spectral/library_errors.h"

namespace bbtrack {

// x[0..n-1] is replaced by z_k = (1/sqrt(n)) sum_j x_j exp(-2 pi i j k / n):
// x[k] = Re z_k for k = 0..n/2 and x[n-k] = Im z_k for k = 1..(n-1)/2.
// IFAIL selects the error mode on entry (see P01ABF) and is 0 on success,
// 1 for a prime factor above 19, 2 for more than 20 prime factors, 3 for
// n < 2; on an error x is left unchanged.
void C06EAF(double* x, std::int32_t n, std::int32_t& ifail, NagLib& lib);

}  // namespace bbtrack
