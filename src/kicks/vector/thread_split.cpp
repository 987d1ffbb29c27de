#include "kicks/vector/thread_split.h"

#include <algorithm>
#include <cmath>

namespace bbtrack {

void ThreadSplit::fit(int total, int parts) {
  if (total == total_ && parts == this->parts()) return;
  total_ = total;
  blocks_.assign(static_cast<std::size_t>(parts), 0);
  for (int t = 0; t < parts; ++t)
    blocks_[static_cast<std::size_t>(t)] = total * (t + 1) / parts - total * t / parts;
  place();
}

void ThreadSplit::place() {
  first_.assign(blocks_.size(), 0);
  for (std::size_t t = 1; t < blocks_.size(); ++t) first_[t] = first_[t - 1] + blocks_[t - 1];
}

void ThreadSplit::rebalance(const std::vector<double>& seconds) {
  const std::size_t n = blocks_.size();
  if (n < 2 || seconds.size() < n) return;
  double rate_sum = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    if (!(seconds[t] > 0.0)) return;  // no usable timing: keep the split
    rate_sum += blocks_[t] / seconds[t];
  }
  int sum = 0;
  for (std::size_t t = 0; t < n; ++t) {
    const double target = total_ * (blocks_[t] / seconds[t]) / rate_sum;
    const long step = std::lround((target - blocks_[t]) / 2.0);
    blocks_[t] = std::max(1, blocks_[t] + static_cast<int>(step));
    sum += blocks_[t];
  }
  // Rounding and the floor of one block may leave the total off by a few:
  // the largest runs take up the difference.
  while (sum != total_) {
    auto big = std::max_element(blocks_.begin(), blocks_.end());
    if (sum > total_) {
      --*big;
      --sum;
    } else {
      ++*std::min_element(blocks_.begin(), blocks_.end());
      ++sum;
    }
  }
  place();
}

}  // namespace bbtrack
