// Factorisation of the transform length into the pass, permutation and
// square-free lists.
#include <algorithm>

#include "spectral/fft_steps.h"

namespace bbtrack {
namespace {

// Runs of 2s become radix-8 passes (and one radix-4 or radix-2 pass for
// what is left of a run), the absorbed 2s staying behind as 1s.
void group_twos(std::array<std::int32_t, kNest + 1>& pass) {
  std::int32_t e = 1;
  for (std::size_t i = 0; pass[i] != 0; ++i) {
    if (pass[i] != 2) continue;
    pass[i] = 1;
    e *= 2;
    if (e == kTwoGrp || pass[i + 1] != 2) {
      pass[i] = e;
      e = 1;
    }
  }
}

}  // namespace

void C06EAZ(std::int32_t n, C06EAFactors& f, std::int32_t& ierror) {
  // A prime is taken out twice at a time while it divides twice (a square
  // factor) and once when it does not (a single factor).
  std::int32_t sq[kNest], un[kNest];
  std::int32_t nsq = 0, nun = 0;
  std::int32_t c = n;
  std::int32_t t = 2;
  while (c > 1) {
    while (t <= kPmax && c % t != 0) ++t;
    if (t > kPmax) {
      ierror = 1;
      return;
    }
    c /= t;
    const bool square = c % t == 0;
    if (square) c /= t;
    if (nun + 2 * nsq + (square ? 2 : 1) > kNest) {
      ierror = 2;
      return;
    }
    if (square) {
      sq[nsq++] = t;
    } else {
      un[nun++] = t;
    }
  }

  f = C06EAFactors{};
  for (std::int32_t i = 0; i < nsq; ++i) f.sqprod *= sq[i];

  // Square factors descending, single factors ascending, square factors
  // ascending: the digit bases are a palindrome around the single factors.
  std::size_t len = 0;
  for (std::int32_t i = nsq - 1; i >= 0; --i) f.pass[len++] = sq[i];
  for (std::int32_t i = 0; i < nun; ++i) f.pass[len++] = un[i];
  for (std::int32_t i = 0; i < nsq; ++i) f.pass[len++] = sq[i];
  group_twos(f.pass);

  // The same with the single factors taken as one digit.
  len = 0;
  for (std::int32_t i = nsq - 1; i >= 0; --i) f.sym[len++] = sq[i];
  if (nun > 0) {
    std::int32_t prod = 1;
    for (std::int32_t i = 0; i < nun; ++i) prod *= un[i];
    f.sym[len++] = prod;
  }
  for (std::int32_t i = 0; i < nsq; ++i) f.sym[len++] = sq[i];

  if (nun >= 2) std::copy(un, un + nun, f.sqfree.begin());
  ierror = 0;
}

}  // namespace bbtrack
