#include "kicks/ripple.h"

#include <cmath>
#include <numbers>

#include "kicks/wire.h"

namespace bbtrack {
namespace {

// SplitMix64 (Steele, Lea, Flood, OOPSLA 2014): the increment and the
// finaliser's constants of its published form.
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
std::uint64_t mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A uniform number in (0, 1]: the top 53 bits, plus one, times 2^-53.
double uniform(std::uint64_t seed, std::uint64_t n, std::uint64_t which) {
  const std::uint64_t z = mix64(mix64(seed + kGolden) + kGolden * (2 * n + which + 1));
  return static_cast<double>((z >> 11) + 1) * 0x1.0p-53;
}

}  // namespace

double ripple_normal(std::uint64_t seed, int32 turn) {
  const auto n = static_cast<std::uint64_t>(static_cast<std::uint32_t>(turn));
  const double u1 = uniform(seed, n, 0), u2 = uniform(seed, n, 1);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double wire_current_factor(const WireRipple& r, int32 turn, double pi) {
  const double n = static_cast<double>(turn);
  double f = 1.0;
  if (r.a != 0.0) f = f + r.a * std::sin(2.0 * pi * n / r.period + r.phase);
  if (r.sigma != 0.0) f = f + r.sigma * ripple_normal(r.seed, turn);
  return f;
}

WireKick wire_at_turn(const WireKick& w0, const WireRipple& r, int32 turn, double pi) {
  WireKick w = w0;
  const double f = wire_current_factor(r, turn, pi);
  w.current = f * w.current;
  w.kw = f * w.kw;
  // The reference-orbit kick from the turn's strength by the product
  // make_wire forms, so that it cancels the kick on the reference orbit
  // exactly (and is the start-up record's when f = 1).
  double gy0 = 0.0, gx0 = 0.0;
  if (w.xw != 0.0 || w.yw != 0.0) wire_field(0.0, 0.0, w.xw, w.yw, gy0, gx0);
  w.fk1 = w.kw * gy0;
  w.fk2 = w.kw * gx0;
  return w;
}

void wires_at_turn(const State& st, int32 turn, WireKick* out) {
  const auto& ws = st.wires;
  for (int32 j = 0; j < ws.nwire; ++j)
    out[j] = wire_at_turn(ws.w[j], ws.ripple[j], turn, st.constant.pi);
}

}  // namespace bbtrack
