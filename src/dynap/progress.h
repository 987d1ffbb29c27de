// The time left of a study, for its progress lines: the work is counted in
// particle-turns, and the rate is that of this process since it started
// (or resumed). Particles lost early take fewer turns, so the estimate
// errs on the long side.
#pragma once

#include <chrono>
#include <string>

namespace bbtrack {

class StudyClock {
 public:
  // total: the particle-turns of the study; done: those done before this
  // process started (a resumed study).
  StudyClock(double total, double done);
  // Whole seconds since the start.
  long long seconds() const;
  // ", about 3 min left" from the particle-turns done so far; empty before
  // any was done in this process.
  std::string left(double done) const;
  // "12 s", "7 min", "2 h 05 min".
  static std::string span(double seconds);

 private:
  std::chrono::steady_clock::time_point start_;
  double total_, done0_;
};

}  // namespace bbtrack
