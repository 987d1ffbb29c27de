// Digit-reversal permutation of the transform input, in place.
//
// With the pass factors f_1..f_r, position q_1 + f_1*(q_2 + f_2*(...)) must
// receive x_j for j = q_r + f_r*(q_(r-1) + ...). The factors are arranged
// as S descending, U ascending, S ascending (S the square factors, U the
// single ones), so an index splits into i = a + A*(M + u*b), A = prod S,
// u = prod U: a holds the digits of the leading S run, M those of U, b
// those of the trailing S run. Reversal swaps the a and b digit strings
// (an involution, done by pairwise exchanges in C06EAX) and reverses the
// order of the U digits of M, which moves blocks of A elements.
#include <algorithm>
#include <bitset>
#include <utility>

#include "spectral/fft_steps.h"

namespace bbtrack {
namespace {

std::int32_t list_length(const std::array<std::int32_t, kNest + 1>& list) {
  std::int32_t len = 0;
  while (list[static_cast<std::size_t>(len)] != 0) ++len;
  return len;
}

// Counts 0, 1, 2, ... in the mixed radix base[0..ndig-1] (least significant
// digit first) and keeps, at the cost of the carries only, the number with
// the same digits read in the reverse order of significance.
class ReversedCounter {
 public:
  ReversedCounter(const std::int32_t* base, std::int32_t ndig) : base_(base), ndig_(ndig) {
    std::int32_t w = 1;
    for (std::int32_t i = ndig - 1; i >= 0; --i) {
      weight_[i] = w;
      w *= base[i];
    }
  }
  std::int32_t value() const { return value_; }
  void next() {
    for (std::int32_t i = 0; i < ndig_; ++i) {
      value_ += weight_[i];
      if (++digit_[i] < base_[i]) return;
      digit_[i] = 0;
      value_ -= base_[i] * weight_[i];
    }
  }

 private:
  const std::int32_t* base_;
  std::int32_t ndig_;
  std::int32_t digit_[kNest] = {};
  std::int32_t weight_[kNest] = {};
  std::int32_t value_ = 0;
};

// Exchanges two neighbouring digits of every index: the array is seen as
// [outer][slow][fast][inner], `fast` digits of base a and `slow` digits of
// base b, and each table of b-by-a inner blocks is transposed to a-by-b.
// The cycles of the transpose are found once, with a mark per cell, and
// then applied to every outer index by exchanges along the cycle.
void exchange_digits(double* x, std::int32_t n, std::int32_t inner, std::int32_t a,
                     std::int32_t b) {
  const std::int32_t cells = a * b;
  const std::int32_t table = cells * inner;
  // Cell y + b*x of the result is cell x + a*y of the source.
  auto source = [a, b](std::int32_t cell) { return cell / b + a * (cell % b); };
  std::bitset<kPmax * kPmax> seen;
  for (std::int32_t s = 1; s < cells - 1; ++s) {
    if (seen[static_cast<std::size_t>(s)]) continue;
    for (std::int32_t c = s; !seen[static_cast<std::size_t>(c)]; c = source(c)) {
      seen[static_cast<std::size_t>(c)] = true;
    }
    for (double* t = x; t != x + n; t += table) {
      std::int32_t cur = s;
      for (std::int32_t nxt = source(cur); nxt != s; cur = nxt, nxt = source(cur)) {
        std::swap_ranges(t + inner * cur, t + inner * (cur + 1), t + inner * nxt);
      }
    }
  }
}

}  // namespace

void C06EAX(double* x, std::int32_t n, const C06EAFactors& f) {
  const std::int32_t len = list_length(f.sym);
  const std::int32_t k = len / 2;  // digits in each S run
  if (k == 0) return;
  const std::int32_t a_size = f.sqprod;
  const std::int32_t u = n / (a_size * a_size);
  const std::int32_t b_stride = a_size * u;
  const std::int32_t* a_base = f.sym.data();
  const std::int32_t* b_base = f.sym.data() + (len - k);

  // a + A*(M + u*b) and rev(b) + A*(M + u*rev(a)) trade places, for all M.
  // Each pair is exchanged once, from its lower index: b < rev(a), or
  // b = rev(a) with a < rev(b).
  ReversedCounter rev_a(a_base, k);
  for (std::int32_t a = 0; a < a_size; ++a, rev_a.next()) {
    ReversedCounter rev_b(b_base, k);
    for (std::int32_t b = 0; b <= rev_a.value(); ++b, rev_b.next()) {
      if (b == rev_a.value() && rev_b.value() <= a) break;
      const std::int32_t from = a + b_stride * b;
      const std::int32_t to = rev_b.value() + b_stride * rev_a.value();
      for (std::int32_t mid = 0; mid < u; ++mid) {
        std::swap(x[from + a_size * mid], x[to + a_size * mid]);
      }
    }
  }
}

void C06EAY(double* x, std::int32_t n, const C06EAFactors& f) {
  C06EAX(x, n, f);

  // In the source the U digits have the largest base least significant; in
  // the result the smallest. Exchanging neighbours until the bases ascend
  // (every comparison of the sort is an exchange) reverses their order.
  const std::int32_t nun = list_length(f.sqfree);
  std::int32_t base[kNest];
  for (std::int32_t i = 0; i < nun; ++i) {
    base[i] = f.sqfree[static_cast<std::size_t>(nun - 1 - i)];
  }
  for (std::int32_t sorted = 0; sorted + 1 < nun; ++sorted) {
    std::int32_t inner = f.sqprod;
    for (std::int32_t i = 0; i + 1 < nun - sorted; ++i) {
      exchange_digits(x, n, inner, base[i], base[i + 1]);
      std::swap(base[i], base[i + 1]);
      inner *= base[i];
    }
  }
}

}  // namespace bbtrack
