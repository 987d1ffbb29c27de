// Four doubles in one 256-bit AVX register, the lane type of processors
// with AVX2 and FMA; a lane mask is a register of all-ones or all-zeros
// lanes. The operations of every lane type (lane.h), each lane rounding
// exactly as one double does. Include only in a translation unit compiled
// with -mavx2 -mfma; internal linkage throughout (see lane.h).
#pragma once

#include <immintrin.h>

#include "kicks/lanes/lane.h"

namespace bbtrack {
namespace {

struct Avx2 {
  static constexpr int kWidth = 4;
  static constexpr const char* kName = "avx2";

  struct D {
    __m256d v;
    friend D operator+(D a, D b) { return {_mm256_add_pd(a.v, b.v)}; }
    friend D operator-(D a, D b) { return {_mm256_sub_pd(a.v, b.v)}; }
    friend D operator*(D a, D b) { return {_mm256_mul_pd(a.v, b.v)}; }
    friend D operator/(D a, D b) { return {_mm256_div_pd(a.v, b.v)}; }
    // Negation flips the sign bit only, as the scalar -a does.
    friend D operator-(D a) { return {_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))}; }
  };
  struct M {
    __m256d m;
  };

  static D set1(double a) { return {_mm256_set1_pd(a)}; }
  static D load(const double* p) { return {_mm256_loadu_pd(p)}; }
  static void store(double* p, D a) { _mm256_storeu_pd(p, a.v); }

  static D sqrt(D a) { return {_mm256_sqrt_pd(a.v)}; }
  // a b + c rounded once, as std::fma (the fast error function's mode only).
  static D fma(D a, D b, D c) { return {_mm256_fmadd_pd(a.v, b.v, c.v)}; }

  static D abs(D a) { return {_mm256_andnot_pd(_mm256_set1_pd(-0.0), a.v)}; }
  static D signbit(D a) { return {_mm256_and_pd(_mm256_set1_pd(-0.0), a.v)}; }
  static D sign_one(D a) { return {_mm256_or_pd(_mm256_set1_pd(1.0), signbit(a).v)}; }
  static D trunc(D a) { return {_mm256_round_pd(a.v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)}; }

  static M lt(D a, D b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)}; }
  static M le(D a, D b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)}; }
  static M eq(D a, D b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)}; }
  static M land(M a, M b) { return {_mm256_and_pd(a.m, b.m)}; }
  static M lor(M a, M b) { return {_mm256_or_pd(a.m, b.m)}; }
  static M lnot(M a) {
    return {_mm256_xor_pd(a.m, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)))};
  }
  static bool any(M a) { return _mm256_movemask_pd(a.m) != 0; }
  static bool all(M a) { return _mm256_movemask_pd(a.m) == 0xf; }
  static bool lane(M a, int i) { return (_mm256_movemask_pd(a.m) >> i) & 1; }

  static D select(M m, D a, D b) { return {_mm256_blendv_pd(b.v, a.v, m.m)}; }
  // a in the lanes of m, +0 in the others.
  static D keep(M m, D a) { return {_mm256_and_pd(m.m, a.v)}; }

  static M bit_set(D whole, int bit) {
    const __m128i n = _mm256_cvttpd_epi32(whole.v);
    const __m128i b = _mm_set1_epi32(1 << bit);
    const __m128i set = _mm_cmpeq_epi32(_mm_and_si128(n, b), b);
    return {_mm256_castsi256_pd(_mm256_cvtepi32_epi64(set))};
  }

  // 2^n for a whole number -1022 <= n <= 1023 (exactly): n + 1023 in the
  // low bits of 2^52 + 1023 + n, moved into the exponent field.
  static D pow2(D whole) {
    const __m256d b = _mm256_add_pd(whole.v, _mm256_set1_pd(4503599627371519.0));
    return {_mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(b), 52))};
  }
};

}  // namespace
}  // namespace bbtrack
