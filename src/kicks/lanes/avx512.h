// Eight doubles in one 512-bit AVX-512 register, with the lane masks in a
// mask register: the operations of every lane type (lane.h), each lane
// rounding exactly as one double does. Include only in a translation unit
// compiled with -mavx512f -mavx512dq; internal linkage throughout, so that
// no code for this processor can be picked by the linker for a translation
// unit compiled without it.
#pragma once

#include <immintrin.h>

#include "kicks/lanes/lane.h"

namespace bbtrack {
namespace {

struct Avx512 {
  static constexpr int kWidth = 8;
  static constexpr const char* kName = "avx512";

  struct D {
    __m512d v;
    friend D operator+(D a, D b) { return {_mm512_add_pd(a.v, b.v)}; }
    friend D operator-(D a, D b) { return {_mm512_sub_pd(a.v, b.v)}; }
    friend D operator*(D a, D b) { return {_mm512_mul_pd(a.v, b.v)}; }
    friend D operator/(D a, D b) { return {_mm512_div_pd(a.v, b.v)}; }
    // Negation flips the sign bit only, as the scalar -a does.
    friend D operator-(D a) { return {_mm512_xor_pd(a.v, _mm512_set1_pd(-0.0))}; }
  };
  struct M {
    __mmask8 m;
  };

  static D set1(double a) { return {_mm512_set1_pd(a)}; }
  static D load(const double* p) { return {_mm512_loadu_pd(p)}; }
  static void store(double* p, D a) { _mm512_storeu_pd(p, a.v); }

  // The masked forms (all lanes set) give the same instructions; the plain
  // ones start from an undefined register that GCC 12 warns about.
  static D sqrt(D a) { return {_mm512_mask_sqrt_pd(a.v, 0xff, a.v)}; }

  // Sign-bit operations, as fabs(a) and copysign(0, a) do them.
  // a b + c rounded once, as std::fma (the fast error function's mode only).
  static D fma(D a, D b, D c) { return {_mm512_fmadd_pd(a.v, b.v, c.v)}; }
  static D abs(D a) { return {_mm512_andnot_pd(_mm512_set1_pd(-0.0), a.v)}; }
  static D signbit(D a) { return {_mm512_and_pd(_mm512_set1_pd(-0.0), a.v)}; }
  // copysign(1, a): the sign bit of a on 1.0.
  static D sign_one(D a) { return {_mm512_or_pd(_mm512_set1_pd(1.0), signbit(a).v)}; }
  // Rounding toward zero, as a conversion to int and back does for the
  // small non-negative values it is used on.
  static D trunc(D a) {
    return {_mm512_mask_roundscale_pd(a.v, 0xff, a.v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)};
  }

  // Ordered comparisons: false when either side is NaN, as in C++.
  static M lt(D a, D b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
  static M le(D a, D b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
  static M eq(D a, D b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
  static M land(M a, M b) { return {static_cast<__mmask8>(a.m & b.m)}; }
  static M lor(M a, M b) { return {static_cast<__mmask8>(a.m | b.m)}; }
  static M lnot(M a) { return {static_cast<__mmask8>(~a.m)}; }
  static bool any(M a) { return a.m != 0; }
  static bool all(M a) { return a.m == 0xff; }
  static bool lane(M a, int i) { return (a.m >> i) & 1; }

  // a where the mask is set, b elsewhere.
  static D select(M m, D a, D b) { return {_mm512_mask_blend_pd(m.m, b.v, a.v)}; }
  // a in the lanes of m, +0 in the others.
  static D keep(M m, D a) { return {_mm512_maskz_mov_pd(m.m, a.v)}; }

  // Lanes whose value, a small non-negative whole number, has bit `bit` set.
  static M bit_set(D whole, int bit) {
    const __m512i n = _mm512_cvttpd_epi64(whole.v);
    return {_mm512_test_epi64_mask(n, _mm512_set1_epi64(1LL << bit))};
  }

  // 2^n for a whole number -1022 <= n <= 1023 (exactly), as Avx2::pow2.
  static D pow2(D whole) {
    const __m512d b = _mm512_add_pd(whole.v, _mm512_set1_pd(4503599627371519.0));
    // The zero-masked shift (all lanes kept) is the plain shift; unlike the
    // unmasked intrinsic it does not start from an undefined register, which
    // GCC reports as possibly uninitialised.
    return {_mm512_castsi512_pd(
        _mm512_maskz_slli_epi64(static_cast<__mmask8>(0xFF), _mm512_castpd_si512(b), 52))};
  }
};

}  // namespace
}  // namespace bbtrack
