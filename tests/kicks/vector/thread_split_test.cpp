// The threads' shares of a turn's blocks: an even start, then runs that
// follow the threads' speeds without losing or doubling a block.
#include "kicks/vector/thread_split.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace bbtrack {
namespace {

int total(const ThreadSplit& s) {
  int n = 0;
  for (int t = 0; t < s.runs(); ++t) {
    EXPECT_EQ(s.first(t), n) << "runs must follow one another";
    EXPECT_GE(s.blocks(t), 1);
    n += s.blocks(t);
  }
  return n;
}

TEST(ThreadSplit, FollowsTheThreadsSpeedsAndKeepsEveryBlock) {
  ThreadSplit s;
  s.fit(43, 3);
  EXPECT_EQ(s.blocks(0), 14);
  EXPECT_EQ(s.blocks(1), 14);
  EXPECT_EQ(s.blocks(2), 15);
  EXPECT_EQ(total(s), 43);

  // Thread 0 takes twice as long per block: its run shrinks, half way
  // toward the even-time share (its rate is half the others') each turn,
  // and settles there.
  std::vector<double> seconds(3);
  for (int turn = 0; turn < 12; ++turn) {
    for (int t = 0; t < 3; ++t) seconds[t] = s.blocks(t) * (t == 0 ? 2.0 : 1.0);
    s.rebalance(seconds);
    EXPECT_EQ(total(s), 43);
  }
  EXPECT_NEAR(s.blocks(0), 43 / 5.0, 1.0);
  EXPECT_NEAR(s.blocks(1), 2 * 43 / 5.0, 1.0);

  // A timing that cannot be used (zero, NaN) keeps the split; the same
  // fit keeps it too, another size starts even again.
  const int before = s.blocks(0);
  s.rebalance({0.0, 1.0, 1.0});
  s.rebalance({1.0, std::numeric_limits<double>::quiet_NaN(), 1.0});
  s.fit(43, 3);
  EXPECT_EQ(s.blocks(0), before);
  s.fit(44, 3);
  EXPECT_EQ(s.blocks(0), 14);

  // However slow a thread, it keeps one block.
  s.fit(4, 2);
  for (int turn = 0; turn < 5; ++turn) s.rebalance({1000.0 * s.blocks(0), 1.0 * s.blocks(1)});
  EXPECT_EQ(s.blocks(0), 1);
  EXPECT_EQ(total(s), 4);
}

}  // namespace
}  // namespace bbtrack
