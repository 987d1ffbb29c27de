#include "run/dynap.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "input/readers.h"
#include "run/driver.h"
#include "run/dynap_files.h"
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

}  // namespace

std::string dynap_study(State& st, textio::Io& io, const DynapOptions& o, FastTurn& turner) {
  const Grid grid{o.amplitudes(), o.angles, o.grid_xy};
  if (grid.amps.back() > o.aperture)
    warn(io, "dynap: the amplitudes reach " + num(grid.amps.back()) +
                 " beam sizes, beyond the loss aperture of " + num(o.aperture) +
                 ": a particle that starts beyond it in either plane is lost in its first turns");
  const std::int64_t count = grid.count();
  const auto namp = static_cast<std::int64_t>(grid.amps.size());
  const std::size_t per = DynapTracker::bytes_per_particle(o.window);
  const std::int64_t batch_size =
      std::max<std::int64_t>(1, std::min<std::int64_t>(kDynapBatch, per ? static_cast<std::int64_t>(kSignalBudget / per) : kDynapBatch));

  make_results_folder(o.out);
  for (const char* name : {kParticlesFile, kAnglesFile, kSummaryName, kTbtFile})
    remove_result(o.out, name);
  ResultFile particles(o.out, kParticlesFile);
  particles.put("index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion\n");
  std::unique_ptr<ResultFile> tbt;
  if (o.tbt > 0) {
    tbt = std::make_unique<ResultFile>(o.out, kTbtFile);
    tbt->put("index,turn,x,px,y,py\n");
  }

  DynapTracker tracker(st, turner, o.turns, o.window, o.aperture);
  Tally tally;
  tally.first_lost.assign(grid.xy ? 0 : static_cast<std::size_t>(o.angles), -1);
  std::vector<DynapParticle> batch;
  const auto start = std::chrono::steady_clock::now();
  const bool one_batch = count <= batch_size;
  for (std::int64_t first = 0; first < count; first += batch_size) {
    const std::int64_t n = std::min(batch_size, count - first);
    batch.resize(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
      batch[static_cast<std::size_t>(i)] = grid.particle(first + i);
      dynap_start(st, batch[static_cast<std::size_t>(i)]);
    }
    const std::int64_t tenth = std::max<std::int64_t>(1, o.turns / 10);
    tracker.track(batch, [&](std::int64_t t) {
      if (one_batch && !o.quiet && t % tenth == 0 && t < o.turns)
        say("diff2wirenew: dynap: turn " + std::to_string(t) + " of " + std::to_string(o.turns) +
            "\n");
    });

    std::string rows;
    for (const DynapParticle& p : batch) {
      put_row(rows, p);
      if (p.lost) {
        ++tally.lost;
        if (grid.xy) {
          if (!(p.amplitude >= tally.min_lost_amp)) tally.min_lost_amp = p.amplitude;
        } else {
          auto& f = tally.first_lost[static_cast<std::size_t>(p.index / namp)];
          const std::int64_t j = p.index % namp;
          if (f < 0 || j < f) f = j;
        }
      }
      if (!std::isnan(p.diffusion)) {
        ++tally.with_index;
        if (p.diffusion > o.threshold) ++tally.chaotic;
      }
      if (tbt && p.index < o.tbt)
        put_tbt(*tbt, tracker, p, static_cast<std::size_t>(p.index - first), o);
    }
    particles.put(rows);
    particles.flush();
    if (!o.quiet) {
      const double sec =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      say("diff2wirenew: dynap: " + std::to_string(first + n) + " of " + std::to_string(count) +
          " particles tracked, " + std::to_string(tally.lost) + " lost, " +
          std::to_string(static_cast<long long>(sec)) + " s\n");
    }
  }

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
  particles.commit();
  if (tbt) tbt->commit();
  ResultFile sfile(o.out, kSummaryName);
  sfile.put(summary);
  sfile.commit();
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
      const std::string summary = dynap_study(*st, io, o, turner);
      io.finish();
      ssize_t unused = ::write(1, summary.data(), summary.size());
      (void)unused;
    } catch (const textio::Exit& e) {
      status = e.status;
    } catch (const DynapIoError& e) {
      error(io, std::string("dynap: ") + e.what());
      status = 1;
    }
  }
  if (devnull >= 0) ::close(devnull);
  return status;
}

}  // namespace bbtrack
