// The steps of C06EAF: factorisation, digit-reversal permutation and the
// radix passes, each of which works on the caller's array in place.
#pragma once

#include <array>
#include <cstdint>

namespace bbtrack {

inline constexpr std::int32_t kPmax = 19;   // largest prime factor accepted
inline constexpr std::int32_t kTwoGrp = 8;  // largest radix 2s are grouped into
inline constexpr std::int32_t kNest = 20;   // most prime factors accepted

// The lists the factorisation hands to the later steps, each ended by 0.
struct C06EAFactors {
  // Radix of each pass in pass order; 1 where a 2 went into a later group.
  std::array<std::int32_t, kNest + 1> pass{};
  // Square factors descending, the product of the single factors (if any),
  // the square factors ascending: the digit bases of the permutation.
  std::array<std::int32_t, kNest + 1> sym{};
  // The single factors ascending, when there are at least two of them.
  std::array<std::int32_t, kNest + 1> sqfree{};
  // Product of the square factors; its square divides n.
  std::int32_t sqprod = 1;
};

// Factorises n >= 2 into the lists; IERROR = 1 for a prime factor above
// kPmax, 2 for more than kNest prime factors, else 0.
void C06EAZ(std::int32_t n, C06EAFactors& f, std::int32_t& ierror);

// Digit-reversal permutation: x_j moves to the index with the digits of j
// read in the reverse order of significance.
void C06EAY(double* x, std::int32_t n, const C06EAFactors& f);
// The part of it carried by the square factors: pairwise exchanges.
void C06EAX(double* x, std::int32_t n, const C06EAFactors& f);

// Runs the passes of the pass list over the permuted data.
void C06EAW(double* x, std::int32_t n, const C06EAFactors& f);

// One pass: groups of m*p elements, each of p Hermitian-stored transforms
// of length m, become Hermitian-stored transforms of length m*p.
void C06EAV(double* x, std::int32_t n, std::int32_t m);  // p = 2
void C06EAU(double* x, std::int32_t n, std::int32_t m);  // p = 3
void C06EAT(double* x, std::int32_t n, std::int32_t m);  // p = 4, blocks in bit-reversed order
void C06EAS(double* x, std::int32_t n, std::int32_t m);  // p = 5
void C06EAR(double* x, std::int32_t n, std::int32_t m);  // p = 8, blocks in bit-reversed order
void C06EAQ(double* x, std::int32_t n, std::int32_t m, std::int32_t p);  // p = 7, 11, 13, 17, 19

}  // namespace bbtrack
