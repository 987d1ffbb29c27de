#include "dynap/summary.h"

#include <unistd.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "dynap/files.h"

namespace bbtrack {

void dynap_say(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(2, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void put_row(std::string& out, const DynapParticle& p, bool six_d) {
  put_csv(out, static_cast<long long>(p.index));
  for (double v : {p.amplitude, p.angle, p.ax, p.ay, p.x, p.px, p.y, p.py}) {
    out += ',';
    put_csv(out, v);
  }
  out += ',';
  put_csv(out, static_cast<long long>(p.turns));
  out += p.lost ? ",1" : ",0";
  for (double v : {p.qx1, p.qy1, p.qx2, p.qy2, p.diffusion}) {
    out += ',';
    put_csv(out, v);
  }
  if (six_d)
    for (double v : {p.z, p.d, p.qs}) {
      out += ',';
      put_csv(out, v);
    }
  out += '\n';
}

void Tally::add(const Grid& grid, std::int64_t index, double amplitude, bool lost, double diffusion,
         double threshold) {
  if (lost) {
    ++this->lost;
    if (grid.xy) {
      if (!(amplitude >= min_lost_amp)) min_lost_amp = amplitude;
    } else {
      const auto namp = static_cast<std::int64_t>(grid.amps.size());
      auto& f = first_lost[static_cast<std::size_t>(index / namp)];
      const std::int64_t j = index % namp;
      if (f < 0 || j < f) f = j;
    }
  }
  if (!std::isnan(diffusion)) {
    ++with_index;
    if (diffusion > threshold) ++chaotic;
  }
}

void put_line(std::string& out, std::string_view key, double v) {
  out += key;
  out += " = ";
  put_csv(out, v);
  out += '\n';
}
void put_line(std::string& out, std::string_view key, std::int64_t v) {
  out += key;
  out += " = ";
  put_csv(out, static_cast<long long>(v));
  out += '\n';
}

namespace {

// dynap_angles.csv; adds da_min and da_average to the summary.
void put_angles(const Grid& grid, const Tally& tally, const DynapOptions& o, std::string& summary,
                ResultFile& angles) {
  const auto namp = static_cast<std::int64_t>(grid.amps.size());
  std::string text = "k,angle,aperture,first_lost_amplitude\n";
  double lo = INFINITY, sum = 0.0;
  for (int k = 1; k <= o.angles; ++k) {
    const std::int64_t f = tally.first_lost[static_cast<std::size_t>(k - 1)];
    const std::size_t last = grid.amps.size() - 1;
    // Up to the amplitude below the first loss every particle survived;
    // 0 when the smallest amplitude was lost, the largest when none was.
    const double da = f < 0    ? grid.amps[last]
                      : f == 0 ? 0.0
                               : grid.amps[static_cast<std::size_t>(f - 1)];
    lo = std::min(lo, da);
    sum += da;
    put_csv(text, static_cast<long long>(k));
    text += ',';
    put_csv(text, grid.particle(static_cast<std::int64_t>(k - 1) * namp).angle);
    text += ',';
    put_csv(text, da);
    text += ',';
    put_csv(text, f < 0 ? NAN : grid.amps[static_cast<std::size_t>(f)]);
    text += '\n';
  }
  angles.put(text);
  angles.flush();
  put_line(summary, "da_min", lo);
  put_line(summary, "da_average", sum / o.angles);
}

}  // namespace

std::string write_summary(const Grid& grid, const Tally& tally, const DynapOptions& o,
                          const std::function<void()>& before_commit) {
  const std::int64_t count = grid.count();
  std::string summary;
  std::unique_ptr<ResultFile> angles;
  put_line(summary, "particles", count);
  put_line(summary, "lost", tally.lost);
  put_line(summary, "turns", o.turns);
  put_line(summary, "window", o.window);
  put_line(summary, "loss_aperture", o.aperture);
  if (grid.xy) {
    // No rays: the smallest amplitude at which a particle was lost.
    put_line(summary, "da_min", tally.min_lost_amp);
    put_line(summary, "da_average", NAN);
  } else {
    angles = std::make_unique<ResultFile>(o.out, kAnglesFile);
    put_angles(grid, tally, o, summary, *angles);
  }
  put_line(summary, "diffusion_threshold", o.threshold);
  put_line(summary, "diffusion_particles", tally.with_index);
  put_line(summary, "chaotic", tally.chaotic);
  put_line(summary, "chaotic_share", tally.with_index > 0 ? static_cast<double>(tally.chaotic) /
                                                                static_cast<double>(tally.with_index)
                                                          : NAN);
  ResultFile sfile(o.out, kSummaryName);
  sfile.put(summary);
  sfile.flush();
  if (before_commit) before_commit();
  if (angles) angles->commit();
  sfile.commit();
  return summary;
}

std::int64_t shard_begin(std::int64_t count, int k, int n) {
  return count * (k - 1) / n;
}

std::string shard_record(const DynapOptions& o, int k, std::int64_t count) {
  const int n = o.shards > 0 ? o.shards : static_cast<int>(o.merge.size());
  std::string t = "shard = " + std::to_string(k) + "/" + std::to_string(n) + "\n";
  put_line(t, "first", shard_begin(count, k, n));
  put_line(t, "end", shard_begin(count, k + 1, n));
  put_line(t, "particles", count);
  t += "study = " + o.identity() + "\n";
  return t;
}

}  // namespace bbtrack
