#pragma once

#include <vector>

namespace bbtrack {

// How the blocks of particles of a turn are shared among threads, each
// taking a run of whole blocks in particle order. Particles do not cost the
// same: near the core of a head-on encounter errf takes up to 31 steps of
// its continued fraction, far out 9, so an even split leaves one thread
// waiting for the other. After every turn the runs move toward the shares
// that would have made the threads finish together, by the time each took.
// The split only decides which thread computes a particle, never how.
class ThreadSplit {
 public:
  // An even split of `total` blocks into `runs` runs, unless it already is
  // a split of that kind.
  void fit(int total, int runs);
  int runs() const { return static_cast<int>(blocks_.size()); }
  // The first block of run r: the runs follow one another.
  int first(int r) const;
  int blocks(int r) const { return blocks_[static_cast<std::size_t>(r)]; }
  // After a turn, from the seconds each run took: each run's blocks move
  // half way toward the share its speed gives it; every run keeps one.
  void rebalance(const std::vector<double>& seconds);

 private:
  int total_ = 0;
  std::vector<int> blocks_;
};

}  // namespace bbtrack
