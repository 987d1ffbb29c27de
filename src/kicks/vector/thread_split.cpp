#include "kicks/vector/thread_split.h"

#include <algorithm>
#include <cmath>

namespace bbtrack {

void ThreadSplit::fit(int total, int runs) {
  if (total == total_ && runs == this->runs()) return;
  total_ = total;
  blocks_.assign(static_cast<std::size_t>(runs), 0);
  for (int r = 0; r < runs; ++r)
    blocks_[static_cast<std::size_t>(r)] = total * (r + 1) / runs - total * r / runs;
}

int ThreadSplit::first(int r) const {
  int first = 0;
  for (int q = 0; q < r; ++q) first += blocks(q);
  return first;
}

void ThreadSplit::rebalance(const std::vector<double>& seconds) {
  const std::size_t n = blocks_.size();
  if (n < 2 || seconds.size() < n) return;
  double rate_sum = 0.0;
  for (std::size_t r = 0; r < n; ++r) {
    if (!(seconds[r] > 0.0)) return;  // no usable timing: keep the split
    rate_sum += blocks_[r] / seconds[r];
  }
  int sum = 0;
  for (std::size_t r = 0; r < n; ++r) {
    const double target = total_ * (blocks_[r] / seconds[r]) / rate_sum;
    const long step = std::lround((target - blocks_[r]) / 2.0);
    blocks_[r] = std::max(1, blocks_[r] + static_cast<int>(step));
    sum += blocks_[r];
  }
  // Rounding and the floor of one block may leave the total off by a few:
  // the largest run gives up the excess, the smallest takes the shortfall.
  for (; sum > total_; --sum) --*std::max_element(blocks_.begin(), blocks_.end());
  for (; sum < total_; ++sum) ++*std::min_element(blocks_.begin(), blocks_.end());
}

}  // namespace bbtrack
