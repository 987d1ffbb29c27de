// One double as a lane type: the scalar path and the routines with given
// names (errf, ffrank, kickvorn, ...) are the one-lane instances of the
// lane templates. Each operation is the C++ one the registers' instructions
// match bit for bit (fabs, copysign, trunc, std::fma, ...).
#pragma once

#include <cmath>
#include <cstdint>

#include "kicks/lanes/lane.h"

namespace bbtrack {
namespace {

struct OneLane {
  static constexpr int kWidth = 1;
  static constexpr const char* kName = "scalar";
  using D = double;
  using M = bool;

  static D set1(double a) { return a; }
  static D load(const double* p) { return *p; }
  static void store(double* p, D a) { *p = a; }

  static D sqrt(D a) { return std::sqrt(a); }
  static D fma(D a, D b, D c) { return std::fma(a, b, c); }

  static D abs(D a) { return std::fabs(a); }
  static D signbit(D a) { return std::copysign(0.0, a); }
  static D sign_one(D a) { return std::copysign(1.0, a); }
  static D trunc(D a) { return std::trunc(a); }

  static M lt(D a, D b) { return a < b; }
  static M le(D a, D b) { return a <= b; }
  static M eq(D a, D b) { return a == b; }
  static M land(M a, M b) { return a && b; }
  static M lor(M a, M b) { return a || b; }
  static M lnot(M a) { return !a; }
  static bool any(M a) { return a; }
  static bool all(M a) { return a; }
  static bool lane(M a, int) { return a; }

  static D select(M m, D a, D b) { return m ? a : b; }
  static D keep(M m, D a) { return m ? a : 0.0; }

  // Whether bit `bit` of a small non-negative whole number is set.
  static M bit_set(D whole, int bit) { return (static_cast<std::int64_t>(whole) >> bit) & 1; }
  // 2^n for a whole number -1022 <= n <= 1023 (exactly).
  static D pow2(D whole) { return std::ldexp(1.0, static_cast<int>(whole)); }
};

}  // namespace
}  // namespace bbtrack
