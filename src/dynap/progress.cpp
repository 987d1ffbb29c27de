#include "dynap/progress.h"

#include <algorithm>
#include <cmath>

namespace bbtrack {

StudyClock::StudyClock(double total, double done)
    : start_(std::chrono::steady_clock::now()), total_(total), done0_(done) {}

long long StudyClock::seconds() const {
  return static_cast<long long>(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
}

std::string StudyClock::span(double s) {
  const auto n = static_cast<long long>(std::llround(s));
  if (n < 120) return std::to_string(n) + " s";
  if (n < 7200) return std::to_string((n + 30) / 60) + " min";
  const long long m = (n + 30) / 60;
  const long long mm = m % 60;
  return std::to_string(m / 60) + " h " + (mm < 10 ? "0" : "") + std::to_string(mm) + " min";
}

std::string StudyClock::left(double done) const {
  const double did = done - done0_;
  if (!(did > 0.0)) return "";
  const double sec =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rest = std::max(0.0, total_ - done) * sec / did;
  return ", about " + span(rest) + " left";
}

}  // namespace bbtrack
