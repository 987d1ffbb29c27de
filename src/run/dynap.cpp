#include "run/dynap.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <cmath>
#include <cstdlib>
#include <csignal>
#include <memory>
#include <optional>
#include <numbers>
#include <string>
#include <vector>

#include "input/readers.h"
#include "run/driver.h"
#include "run/command_line.h"
#include "run/dynap_checkpoint.h"
#include "run/dynap_files.h"
#include "run/stop_signals.h"
#include "run/dynap_track.h"
#include "run/messages.h"

namespace bbtrack {
namespace {

// The turn-by-turn signals of a batch stay below this, so that a study of
// any size and window needs well under 1 GiB.
constexpr std::size_t kSignalBudget = std::size_t{256} << 20;

constexpr const char* kParticlesFile = "dynap.csv";
constexpr const char* kAnglesFile = "dynap_angles.csv";
constexpr const char* kSummaryName = "dynap_summary.txt";
constexpr const char* kTbtFile = "dynap_tbt.csv";
constexpr const char* kShardFile = "dynap_shard.txt";
constexpr const char* kParticlesHeader =
    "index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion\n";
constexpr const char* kTbtHeader = "index,turn,x,px,y,py\n";

void say(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(2, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The grid: particle `index` and its amplitudes.
struct Grid {
  std::vector<double> amps;
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

void put_row(std::string& out, const DynapParticle& p) {
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
  out += '\n';
}

// What the summary needs of every particle, gathered batch by batch.
struct Tally {
  std::int64_t lost = 0, with_index = 0, chaotic = 0;
  std::vector<std::int64_t> first_lost;  // per angle: amplitude index, -1 none
  double min_lost_amp = NAN;             // Cartesian grid

  void add(const Grid& grid, std::int64_t index, double amplitude, bool lost, double diffusion,
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
};

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

// The turn-by-turn record of batch particle i over the two windows, up to
// its loss: x, px, y, py in beam sizes, from its recorded signals.
void put_tbt(ResultFile& f, const DynapTracker& tracker, const DynapParticle& p, std::size_t i,
             const DynapOptions& o) {
  std::string t;
  const std::int64_t last = std::min(p.lost ? p.turns - 1 : o.turns, 2 * o.window);
  for (std::int64_t turn = 1; turn <= last; ++turn) {
    const int w = static_cast<int>((turn - 1) / o.window);
    const auto s = static_cast<std::size_t>((turn - 1) % o.window);
    const auto zx = tracker.signal(i, w, 0)[s], zy = tracker.signal(i, w, 1)[s];
    put_csv(t, static_cast<long long>(p.index));
    t += ',';
    put_csv(t, static_cast<long long>(turn));
    for (double v : {zx.real(), -zx.imag(), zy.real(), -zy.imag()}) {
      t += ',';
      put_csv(t, v);
    }
    t += '\n';
  }
  f.put(t);
}

// dynap_angles.csv; adds da_min and da_average to the summary.
void put_angles(const Grid& grid, const Tally& tally, const DynapOptions& o, std::string& summary) {
  const auto namp = static_cast<std::int64_t>(grid.amps.size());
  ResultFile angles(o.out, kAnglesFile);
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
  angles.commit();
  put_line(summary, "da_min", lo);
  put_line(summary, "da_average", sum / o.angles);
}

std::string write_summary(const Grid& grid, const Tally& tally, const DynapOptions& o) {
  const std::int64_t count = grid.count();
  std::string summary;
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
    put_angles(grid, tally, o, summary);
  }
  put_line(summary, "diffusion_threshold", o.threshold);
  put_line(summary, "diffusion_particles", tally.with_index);
  put_line(summary, "chaotic", tally.chaotic);
  put_line(summary, "chaotic_share", tally.with_index > 0 ? static_cast<double>(tally.chaotic) /
                                                                static_cast<double>(tally.with_index)
                                                          : NAN);
  ResultFile sfile(o.out, kSummaryName);
  sfile.put(summary);
  sfile.commit();
  return summary;
}

// The first and past-the-end particle of shard k of n: contiguous ranges,
// so that the shards' rows laid end to end are those of the whole grid.
std::int64_t shard_begin(std::int64_t count, int k, int n) {
  return count * (k - 1) / n;
}

// dynap_shard.txt: what the merge checks a shard's folder against.
std::string shard_record(const DynapOptions& o, int k, std::int64_t count) {
  const int n = o.shards > 0 ? o.shards : static_cast<int>(o.merge.size());
  std::string t = "shard = " + std::to_string(k) + "/" + std::to_string(n) + "\n";
  put_line(t, "first", shard_begin(count, k, n));
  put_line(t, "end", shard_begin(count, k + 1, n));
  put_line(t, "particles", count);
  t += "study = " + o.identity() + "\n";
  return t;
}

bool read_whole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string in_dir(const std::string& dir, const char* name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool field_number(std::string_view f, double& v) {
  if (f.empty()) {
    v = NAN;
    return true;
  }
  const auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

// Checks shard k of the merge and adds its rows to the tally and to `rows`
// (and `tbt_rows`); returns why it cannot be merged, empty when it can.
std::string take_shard(const DynapOptions& o, const Grid& grid, int k, Tally& tally,
                       std::string& rows, std::string& tbt_rows) {
  const std::string& dir = o.merge[static_cast<std::size_t>(k - 1)];
  const std::int64_t count = grid.count();
  const int n = static_cast<int>(o.merge.size());
  std::string text;
  if (!read_whole(in_dir(dir, kShardFile), text))
    return std::string("no ") + kShardFile + ": the shard did not finish";
  if (text != shard_record(o, k, count))
    return std::string(kShardFile) + " is not that of shard " + std::to_string(k) + "/" +
           std::to_string(n) + " of this study (other options or shard count)";
  if (!read_whole(in_dir(dir, kParticlesFile), text)) return std::string("no ") + kParticlesFile;
  std::string_view rest = text;
  if (rest.substr(0, std::strlen(kParticlesHeader)) != kParticlesHeader)
    return std::string(kParticlesFile) + " has not the header of the study";
  rest.remove_prefix(std::strlen(kParticlesHeader));
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
    if (f.size() != 16 || !field_number(f[0], idx) || idx != static_cast<double>(index) ||
        !field_number(f[1], amp) || (f[10] != "0" && f[10] != "1") ||
        !field_number(f[15], diffusion))
      return std::string(kParticlesFile) + ": the row of particle " + std::to_string(index) +
             " is missing or damaged";
    part.add(grid, index, amp, f[10] == "1", diffusion, o.threshold);
  }
  if (!rest.empty()) return std::string(kParticlesFile) + " has rows beyond its share";
  std::string tbt;
  if (o.tbt > 0) {
    if (!read_whole(in_dir(dir, kTbtFile), tbt) || tbt.substr(0, std::strlen(kTbtHeader)) != kTbtHeader)
      return std::string("no ") + kTbtFile;
    tbt.erase(0, std::strlen(kTbtHeader));
  }
  tally = part;
  rows.assign(text, std::strlen(kParticlesHeader), std::string::npos);
  tbt_rows = tbt;
  return {};
}

}  // namespace

std::string dynap_merge(const DynapOptions& o, bool& complete) {
  const Grid grid{o.amplitudes(), o.angles, o.grid_xy};
  make_results_folder(o.out);
  for (const char* name : {kParticlesFile, kAnglesFile, kSummaryName, kTbtFile, kShardFile})
    remove_result(o.out, name);
  ResultFile particles(o.out, kParticlesFile);
  particles.put(kParticlesHeader);
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
  for (int k = 1; k <= n; ++k) {
    const std::string why = take_shard(o, grid, k, tally, rows, tbt_rows);
    if (!why.empty()) {
      ++missing;
      say("diff2wirenew: error: dynap: shard " + std::to_string(k) + "/" + std::to_string(n) +
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

std::string dynap_study(State& st, textio::Io& io, const DynapOptions& o, FastTurn& turner,
                        std::uint64_t identity) {
  const Grid grid{o.amplitudes(), o.angles, o.grid_xy};
  if (grid.amps.back() > o.aperture)
    warn(io, "dynap: the amplitudes reach " + num(grid.amps.back()) +
                 " beam sizes, beyond the loss aperture of " + num(o.aperture) +
                 ": a particle that starts beyond it in either plane is lost in its first turns");
  const std::int64_t count = grid.count();
  // A shard tracks a contiguous range of the grid, so the shards' rows
  // laid end to end are the rows of the study in one go.
  const std::int64_t lo = o.shards > 0 ? shard_begin(count, o.shard, o.shards) : 0;
  const std::int64_t hi = o.shards > 0 ? shard_begin(count, o.shard + 1, o.shards) : count;
  const std::size_t per = DynapTracker::bytes_per_particle(o.window);
  const std::int64_t batch_size =
      std::max<std::int64_t>(1, std::min<std::int64_t>(kDynapBatch, per ? static_cast<std::int64_t>(kSignalBudget / per) : kDynapBatch));

  make_results_folder(o.out);
  Tally tally;
  tally.first_lost.assign(grid.xy ? 0 : static_cast<std::size_t>(o.angles), -1);
  std::unique_ptr<ResultFile> particles, tbt;
  std::optional<DynapCheckpoint> from;
  if (o.resume) {
    std::string why;
    for (DynapCheckpoint& c : read_checkpoints(o.out, identity, why)) {
      try {
        particles = std::make_unique<ResultFile>(o.out, kParticlesFile, c.rows_size, c.rows_hash);
        if (o.tbt > 0) tbt = std::make_unique<ResultFile>(o.out, kTbtFile, c.tbt_size, c.tbt_hash);
        from = std::move(c);
        break;
      } catch (const DynapIoError& e) {
        if (particles) particles->keep();  // the other checkpoint may need it
        particles.reset();
        why += std::string("; checkpoint ") + std::to_string(c.seq) + ": " + e.what();
      }
    }
    if (!from)
      throw DynapResumeError("--resume: no valid checkpoint in " + o.out + " (" + why + ")");
    tally.lost = from->lost;
    tally.with_index = from->with_index;
    tally.chaotic = from->chaotic;
    tally.min_lost_amp = from->min_lost_amp;
    if (from->first_lost.size() != tally.first_lost.size() || from->first < lo || from->first >= hi)
      throw DynapResumeError("--resume: the checkpoint does not fit this study's grid");
    tally.first_lost = from->first_lost;
  } else {
    remove_checkpoints(o.out);
    particles = std::make_unique<ResultFile>(o.out, kParticlesFile);
    particles->put(kParticlesHeader);
    if (o.tbt > 0) {
      tbt = std::make_unique<ResultFile>(o.out, kTbtFile);
      tbt->put(kTbtHeader);
    }
  }

  // (a refused resume leaves the folder as it was)
  for (const char* name : {kParticlesFile, kAnglesFile, kSummaryName, kTbtFile, kShardFile})
    remove_result(o.out, name);
  const std::string shard_text = o.shards > 0 ? shard_record(o, o.shard, count) : "";
  DynapTracker tracker(st, turner, o.turns, o.window, o.aperture);
  std::vector<DynapParticle> batch;
  const auto start = std::chrono::steady_clock::now();
  auto last_checkpoint = start;
  std::uint64_t seq = from ? from->seq : 0;
  const bool one_batch = hi - lo <= batch_size;
  for (std::int64_t first = from ? from->first : lo; first < hi; first += batch_size) {
    const std::int64_t n = std::min(batch_size, hi - first);
    std::int64_t resume_turn = 0;
    if (from && from->first == first) {
      batch = std::move(from->batch);
      if (batch.size() != static_cast<std::size_t>(n))
        throw DynapResumeError("--resume: the checkpoint does not fit this study's grid");
      tracker.slot_ids() = std::move(from->slot_ids);
      tracker.signals() = std::move(from->signals);
      st.np.npart = static_cast<int>(from->npart);
      st.np.nlost = static_cast<int>(from->nlost);
      for (int s = 1; s <= st.np.npart; ++s)
        for (int m = 1; m <= 4; ++m)
          st.coord.coord(s, m) = from->coords[static_cast<std::size_t>(4 * (s - 1) + m - 1)];
      resume_turn = from->turn;
      from.reset();
    } else {
      batch.resize(static_cast<std::size_t>(n));
      for (std::int64_t i = 0; i < n; ++i) {
        batch[static_cast<std::size_t>(i)] = grid.particle(first + i);
        dynap_start(st, batch[static_cast<std::size_t>(i)]);
      }
    }
    const std::int64_t tenth = std::max<std::int64_t>(1, o.turns / 10);
    tracker.track(
        batch,
        [&](std::int64_t t) {
          if (one_batch && !o.quiet && t % tenth == 0 && t < o.turns)
            say("diff2wirenew: dynap: turn " + std::to_string(t) + " of " +
                std::to_string(o.turns) + "\n");
          // SIGPIPE only loses the summary's copy on standard output
          const int sig = stop_signal() == SIGPIPE ? 0 : stop_signal();
          const auto now = std::chrono::steady_clock::now();
          if (sig == 0 && !(o.checkpoint_interval > 0.0 &&
                            std::chrono::duration<double>(now - last_checkpoint).count() >=
                                o.checkpoint_interval))
            return;
          DynapCheckpoint c;
          c.seq = ++seq;
          c.first = first;
          c.turn = t;
          c.lost = tally.lost;
          c.with_index = tally.with_index;
          c.chaotic = tally.chaotic;
          c.min_lost_amp = tally.min_lost_amp;
          c.first_lost = tally.first_lost;
          particles->sync();
          c.rows_size = particles->size();
          c.rows_hash = particles->hash();
          if (tbt) {
            tbt->sync();
            c.tbt_size = tbt->size();
            c.tbt_hash = tbt->hash();
          }
          c.batch = batch;
          c.slot_ids = tracker.slot_ids();
          for (int s = 1; s <= st.np.npart; ++s)
            for (int m = 1; m <= 4; ++m) c.coords.push_back(st.coord.coord(s, m));
          c.npart = st.np.npart;
          c.nlost = st.np.nlost;
          c.signals = tracker.signals();
          write_checkpoint(o.out, identity, c);
          last_checkpoint = std::chrono::steady_clock::now();
          if (sig != 0) {
            particles->keep();
            if (tbt) tbt->keep();
            say("diff2wirenew: error: dynap: stopped by signal " + std::to_string(sig) +
                " at turn " + std::to_string(t) + " of the batch from particle " +
                std::to_string(first) + "; checkpoint written: go on with --resume\n");
            throw textio::Exit{kExitSignal + sig};
          }
        },
        resume_turn);

    std::string rows;
    for (const DynapParticle& p : batch) {
      put_row(rows, p);
      tally.add(grid, p.index, p.amplitude, p.lost, p.diffusion, o.threshold);
      if (tbt && p.index < o.tbt)
        put_tbt(*tbt, tracker, p, static_cast<std::size_t>(p.index - first), o);
    }
    particles->put(rows);
    particles->flush();
    if (!o.quiet) {
      const double sec =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      say("diff2wirenew: dynap: " + std::to_string(first + n - lo) + " of " + std::to_string(hi - lo) +
          " particles tracked, " + std::to_string(tally.lost) + " lost, " +
          std::to_string(static_cast<long long>(sec)) + " s\n");
    }
  }

  particles->commit();
  if (tbt) tbt->commit();
  std::string summary;
  if (o.shards > 0) {
    ResultFile shard(o.out, kShardFile);
    shard.put(shard_text);
    shard.commit();
    summary = shard_text;
  } else {
    summary = write_summary(grid, tally, o);
  }
  remove_checkpoints(o.out);
  return summary;
}

int dynap_main(int argc, char** argv) {
  DynapOptions o;
  if (const int status = parse_dynap(argc, argv, o); status >= 0) return status;
  // The set-up's echo of every value read belongs to a run's standard
  // output; the study's standard output carries only its summary, so the
  // echo is dropped (a run with the same folder shows it).
  const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  textio::Options options;
  options.stdout_fd = devnull;
  options.getenv = [](const char* name) { return std::getenv(name); };
  if (!o.merge.empty()) {
    if (devnull >= 0) ::close(devnull);
    try {
      bool complete = false;
      const std::string summary = dynap_merge(o, complete);
      ssize_t unused = ::write(1, summary.data(), summary.size());
      (void)unused;
      return complete ? 0 : 1;
    } catch (const DynapIoError& e) {
      say(std::string("diff2wirenew: error: dynap: ") + e.what() + "\n");
      return 1;
    }
  }
  catch_stop_signals();
  auto st = std::make_unique<State>();
  int status = 0;
  {
    textio::Io io(options);
    try {
      const ErrfMode errf_mode = errf_mode_for(std::getenv("BBTRACK_ERRF"));
      if (errf_mode == ErrfMode::fast)
        warn(io, "fast error function: results differ from the exact evaluation in the last digits");
      read_machine(*st, io, false);
      if (st->readin2.itrip == 1) tripletin(*st, io);
      FastTurn turner(turn_path_for(std::getenv("BBTRACK_SCALAR")), o.threads, errf_mode);
      const std::string summary =
          dynap_study(*st, io, o, turner, dynap_identity(o, static_cast<int>(errf_mode)));
      io.finish();
      ssize_t unused = ::write(1, summary.data(), summary.size());
      (void)unused;
    } catch (const textio::Exit& e) {
      status = e.status;
    } catch (const DynapResumeError& e) {
      error(io, std::string("dynap: ") + e.what());
      status = kExitRefused;
    } catch (const DynapIoError& e) {
      error(io, std::string("dynap: ") + e.what());
      status = 1;
    }
  }
  if (devnull >= 0) ::close(devnull);
  return status;
}

}  // namespace bbtrack
