#include <span>

#include "kicks/vector/lane_kernels.h"

namespace bbtrack {

std::span<const LaneTarget> lane_targets() {
  // The processor's features are asked once; the kernels of a target are
  // called only where it says they run.
#define BBTRACK_LANE_TARGET_ENTRY(name, supported) \
  LaneTarget{TurnPath::name, #name, &lane_kernels_##name, supported},
  static const LaneTarget targets[] = {BBTRACK_LANE_TARGETS(BBTRACK_LANE_TARGET_ENTRY)};
#undef BBTRACK_LANE_TARGET_ENTRY
  return targets;
}

const LaneTarget& lane_target(TurnPath path) {
  const std::span<const LaneTarget> all = lane_targets();
  for (const LaneTarget& t : all)
    if (t.path == path && t.supported) return t;
  for (const LaneTarget& t : all)
    if (t.supported) return t;
  return all.back();  // the one-lane target, which every processor runs
}

}  // namespace bbtrack
