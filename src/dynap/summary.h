// What the study run and the merge of its shards share: the result files'
// names and headers, the grid, the tally of the summary and the summary's
// writer, and the shards' records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dynap/options.h"
#include "dynap/track.h"

namespace bbtrack {

// The turn-by-turn signals of a batch stay below this, so that a study of
// any size and window needs well under 1 GiB.
inline constexpr std::size_t kSignalBudget = std::size_t{256} << 20;

inline constexpr const char* kParticlesFile = "dynap.csv";
inline constexpr const char* kAnglesFile = "dynap_angles.csv";
inline constexpr const char* kSummaryName = "dynap_summary.txt";
inline constexpr const char* kTbtFile = "dynap_tbt.csv";
inline constexpr const char* kShardFile = "dynap_shard.txt";
inline constexpr const char* kParticlesHeader =
    "index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion\n";
// With synchrotron motion three more columns: the start z (m) and delta
// and the synchrotron tune of the first window.
inline constexpr const char* kParticlesHeader6d =
    "index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion,z,delta,qs\n";
inline constexpr const char* kTbtHeader = "index,turn,x,px,y,py\n";

// Writes text to standard error whole (the study's own lines).
void dynap_say(std::string_view text);

// The grid: particle `index` and its amplitudes.
struct Grid {
  Amplitudes amps;
  int angles;
  bool xy;
  std::int64_t count() const {
    const auto n = static_cast<std::int64_t>(amps.size());
    return xy ? n * n : n * angles;
  }
  DynapParticle particle(std::int64_t index) const {
    DynapParticle p;
    p.index = index;
    const auto n = static_cast<std::int64_t>(amps.size());
    if (xy) {
      p.ax = amps[static_cast<std::size_t>(index % n)];
      p.ay = amps[static_cast<std::size_t>(index / n)];
      p.amplitude = std::hypot(p.ax, p.ay);
      p.angle = std::atan2(p.ay, p.ax);
    } else {
      const std::int64_t k = index / n + 1;
      p.amplitude = amps[static_cast<std::size_t>(index % n)];
      p.angle = static_cast<double>(k) * (0.5 * std::numbers::pi) / (angles + 1);
      p.ax = p.amplitude * std::cos(p.angle);
      p.ay = p.amplitude * std::sin(p.angle);
    }
    return p;
  }
};

// One row of dynap.csv.
// six_d: with the columns of synchrotron motion.
void put_row(std::string& out, const DynapParticle& p, bool six_d = false);

// What the summary needs of every particle, gathered batch by batch.
struct Tally {
  std::int64_t lost = 0, with_index = 0, chaotic = 0;
  std::vector<std::int64_t> first_lost;  // per angle: amplitude index, -1 none
  double min_lost_amp = NAN;             // Cartesian grid


  void add(const Grid& grid, std::int64_t index, double amplitude, bool lost, double diffusion,
           double threshold);
};

// A `key = value` line of the summary.
void put_line(std::string& out, std::string_view key, double v);
void put_line(std::string& out, std::string_view key, std::int64_t v);

// dynap_angles.csv (polar grids) and dynap_summary.txt from the tally;
// returns the summary text. Both are written out before any is renamed into
// place; before_commit (the study's own files renamed) runs in between, so
// that a write that fails leaves the partial files of the study whole.
std::string write_summary(const Grid& grid, const Tally& tally, const DynapOptions& o,
                          const std::function<void()>& before_commit = {});

// The first and past-the-end particle of shard k of n: contiguous ranges,
// so that the shards' rows laid end to end are those of the whole grid.
std::int64_t shard_begin(std::int64_t count, int k, int n);

// dynap_shard.txt: what the merge checks a shard's folder against.
std::string shard_record(const DynapOptions& o, int k, std::int64_t count);

}  // namespace bbtrack
