// The lane types over which the kick, the error functions and the turn are
// written once. A lane type V holds V::kWidth doubles, one particle (or one
// error-function argument) per lane: OneLane (one_lane.h) is a single
// double, the scalar path; Avx2 (avx2.h) four doubles in a 256-bit register;
// Avx512 (avx512.h) eight in a 512-bit register. Each offers the same
// static operations, and only correctly rounded ones (+ - * /, sqrt, fma)
// or exact ones (sign bits, comparisons, blends, truncation of small whole
// numbers), so a lane computes bit for bit what one double computes:
//   set1 load store | + - * / unary- sqrt fma | abs signbit sign_one trunc
//   lt le eq (ordered: false for NaN) land lor lnot any all lane
//   select(m, a, b) (a where m) keep(m, a) (a where m, +0 elsewhere)
//   bit_set(whole, bit) pow2(whole)
// Every lane type has internal linkage: a translation unit compiled for one
// processor must not lend the linker code that another one would call.
#pragma once

namespace bbtrack {

// A lane type's value (one double per lane) and mask (one truth per lane).
template <class V>
using D = typename V::D;
template <class V>
using M = typename V::M;

}  // namespace bbtrack
