// The merge of a sharded study: the shards' folders checked and laid end
// to end into the results of the study in one go.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dynap/files.h"
#include "dynap/shard_check.h"
#include "dynap/study.h"
#include "dynap/summary.h"

namespace bbtrack {
namespace {

bool field_number(std::string_view f, double& v) {
  if (f.empty()) {
    v = NAN;
    return true;
  }
  const auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

// The first line of a regular file (at most 512 bytes), empty when it is
// none: a FIFO or a folder in its place is not waited on or read.
std::string first_line(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat sb;
  std::string line(512, '\0');
  ssize_t n = 0;
  if (::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode)) n = ::read(fd, line.data(), line.size());
  ::close(fd);
  line.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return line.substr(0, line.find('\n'));
}

// Checks shard k of the merge and adds its rows to the tally and to `rows`
// (and `tbt_rows`); returns why it cannot be merged, empty when it can.
// `first` is the first shard that could be read, whose study the others'
// must match (the merge reads no input of its own); header: the particles'
// header of the study (four-dimensional, or with synchrotron motion's
// columns: then 19 fields a row).
std::string take_shard(const DynapOptions& o, const Grid& grid, int k, Tally& tally,
                       std::string& rows, std::string& tbt_rows,
                       std::optional<std::pair<int, StudyIdentity>>& first,
                       std::string_view header) {
  const std::size_t fields = header == kParticlesHeader6d ? 19 : 16;
  const std::string& dir = o.merge[static_cast<std::size_t>(k - 1)];
  const std::int64_t count = grid.count();
  const int n = static_cast<int>(o.merge.size());
  ShardFolder shard;
  if (std::string why = read_shard_folder(dir, shard); !why.empty()) return why;
  if (shard.record != shard_record(o, k, count))
    return std::string(kShardFile) + " is not that of shard " + std::to_string(k) + "/" +
           std::to_string(n) + " of this study (other options or shard count)";
  if (first) {
    const std::string d =
        identity_difference(shard.identity, first->second, "this shard's study",
                            "shard " + std::to_string(first->first) + "'s", {"--shard", "--threshold"});
    if (!d.empty()) return "of another study than shard " + std::to_string(first->first) + ": " + d;
  }
  std::string text;
  if (std::string why = read_shard_result(dir, shard, kParticlesFile, text); !why.empty())
    return why;
  std::string_view rest = text;
  if (rest.substr(0, header.size()) != header)
    return std::string(kParticlesFile) + " has not the header of the study";
  rest.remove_prefix(header.size());
  Tally part = tally;
  for (std::int64_t index = shard_begin(count, k, n); index < shard_begin(count, k + 1, n);
       ++index) {
    const auto eol = rest.find('\n');
    if (eol == std::string_view::npos)
      return std::string(kParticlesFile) + " ends before particle " + std::to_string(index);
    std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol + 1);
    std::vector<std::string_view> f;
    for (std::size_t c; (c = line.find(',')) != std::string_view::npos; line.remove_prefix(c + 1))
      f.push_back(line.substr(0, c));
    f.push_back(line);
    double idx, amp, diffusion;
    if (f.size() != fields || !field_number(f[0], idx) || idx != static_cast<double>(index) ||
        !field_number(f[1], amp) || (f[10] != "0" && f[10] != "1") ||
        !field_number(f[15], diffusion))
      return std::string(kParticlesFile) + ": the row of particle " + std::to_string(index) +
             " is missing or damaged";
    part.add(grid, index, amp, f[10] == "1", diffusion, o.threshold);
  }
  if (!rest.empty()) return std::string(kParticlesFile) + " has rows beyond its share";
  std::string tbt;
  if (o.tbt > 0) {
    if (std::string why = read_shard_result(dir, shard, kTbtFile, tbt); !why.empty()) return why;
    if (tbt.substr(0, std::strlen(kTbtHeader)) != kTbtHeader)
      return std::string(kTbtFile) + " has not the header of the study";
    tbt.erase(0, std::strlen(kTbtHeader));
  }
  if (!first) first.emplace(k, std::move(shard.identity));
  tally = part;
  rows.assign(text, header.size(), std::string::npos);
  tbt_rows = tbt;
  return {};
}


}  // namespace

std::string dynap_merge(const DynapOptions& o, bool& complete) {
  const Grid grid{o.amplitudes(), o.angles, o.grid_xy};
  // (the results folder is made ready, locked and cleared: study_lock.h)
  // The rows have synchrotron motion's columns when the first shard's have.
  const bool six_d = o.six_d || o.delta != 0.0 || o.z0 != 0.0 ||
                     first_line(path_of(o.merge.front(), kParticlesFile)) + '\n' ==
                         kParticlesHeader6d;
  const std::string_view header = six_d ? kParticlesHeader6d : kParticlesHeader;
  ResultFile particles(o.out, kParticlesFile);
  particles.put(header);
  std::unique_ptr<ResultFile> tbt;
  if (o.tbt > 0) {
    tbt = std::make_unique<ResultFile>(o.out, kTbtFile);
    tbt->put(kTbtHeader);
  }
  Tally tally;
  tally.first_lost.assign(grid.xy ? 0 : static_cast<std::size_t>(o.angles), -1);
  const int n = static_cast<int>(o.merge.size());
  std::int64_t missing = 0, tracked = 0;
  std::string rows, tbt_rows;
  std::optional<std::pair<int, StudyIdentity>> first;
  for (int k = 1; k <= n; ++k) {
    const std::string why = take_shard(o, grid, k, tally, rows, tbt_rows, first, header);
    if (!why.empty()) {
      ++missing;
      dynap_say("diff2wirenew: error: dynap: shard " + std::to_string(k) + "/" + std::to_string(n) +
          " (" + o.merge[static_cast<std::size_t>(k - 1)] + "): " + why + "\n");
      continue;
    }
    tracked += shard_begin(grid.count(), k + 1, n) - shard_begin(grid.count(), k, n);
    particles.put(rows);
    if (tbt) tbt->put(tbt_rows);
  }
  complete = missing == 0;
  if (!complete) {
    // No aperture from a part of the grid: the summary says only what is
    // missing, and no particle or angle file is written.
    std::string summary;
    put_line(summary, "complete", std::int64_t{0});
    put_line(summary, "shards", std::int64_t{n});
    put_line(summary, "shards_missing", missing);
    put_line(summary, "particles", grid.count());
    put_line(summary, "particles_merged", tracked);
    ResultFile sfile(o.out, kSummaryName);
    sfile.put(summary);
    sfile.commit();
    return summary;
  }
  particles.commit();
  if (tbt) tbt->commit();
  return write_summary(grid, tally, o);
}

}  // namespace bbtrack
