#include "dynap/study.h"

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
#include "dynap/checkpoint.h"
#include "dynap/files.h"
#include "dynap/identity.h"
#include "dynap/progress.h"
#include "dynap/shard_check.h"
#include "dynap/study_lock.h"
#include "dynap/summary.h"
#include "run/stop_signals.h"
#include "dynap/track.h"
#include "run/messages.h"
#include "ring/ring_file.h"
#include "ring/ring_setup.h"


namespace bbtrack {
namespace {

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

}  // namespace

std::string dynap_study(State& st, textio::Io& io, const DynapOptions& o, FastTurn& turner,
                        const StudyIdentity& identity) {
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
        why += std::string(why.empty() ? "" : "; ") + "checkpoint " + std::to_string(c.seq) +
               ": " + e.what();
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
    particles->put(st.ring.six_d ? kParticlesHeader6d : kParticlesHeader);
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
  const auto turns = static_cast<double>(o.turns);
  const StudyClock clock(
      static_cast<double>(hi - lo) * turns,
      from ? static_cast<double>(from->first - lo) * turns +
                 static_cast<double>(from->batch.size()) * static_cast<double>(from->turn)
           : 0.0);
  if (from)
    dynap_say("diff2wirenew: dynap: resumed at batch " +
              std::to_string((from->first - lo) / batch_size + 1) + ", turn " +
              std::to_string(from->turn) + " (of " +
              std::to_string((hi - lo + batch_size - 1) / batch_size) + " batches of up to " +
              std::to_string(batch_size) + " particles)\n");
  auto last_checkpoint = std::chrono::steady_clock::now();
  std::uint64_t seq = from ? from->seq : 0;
  const bool one_batch = hi - lo <= batch_size;
  std::string summary;
  try {  // the batches and the final files; a write that fails: below
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
      if (st.ring.six_d) {
        if (from->longitudinal.size() != 2 * static_cast<std::size_t>(st.np.npart))
          throw DynapResumeError("--resume: the checkpoint does not fit this study's grid");
        for (int s = 1; s <= st.np.npart; ++s) {
          st.lcoord.z[s - 1] = from->longitudinal[static_cast<std::size_t>(2 * (s - 1))];
          st.lcoord.d[s - 1] = from->longitudinal[static_cast<std::size_t>(2 * (s - 1) + 1)];
        }
        tracker.sync_signals() = std::move(from->sync_signals);
      }
      resume_turn = from->turn;
      from.reset();
    } else {
      batch.resize(static_cast<std::size_t>(n));
      for (std::int64_t i = 0; i < n; ++i) {
        DynapParticle& p = batch[static_cast<std::size_t>(i)];
        p = grid.particle(first + i);
        p.z = o.z0;
        p.d = o.delta;
        dynap_start(st, p);
      }
    }
    const std::int64_t tenth = std::max<std::int64_t>(1, o.turns / 10);
    tracker.track(
        batch,
        [&](std::int64_t t) {
          if (one_batch && !o.quiet && t % tenth == 0 && t < o.turns)
            dynap_say("diff2wirenew: dynap: turn " + std::to_string(t) + " of " +
                std::to_string(o.turns) +
                clock.left(static_cast<double>(n) * static_cast<double>(t)) + "\n");
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
          if (st.ring.six_d) {
            for (int s = 1; s <= st.np.npart; ++s) {
              c.longitudinal.push_back(st.lcoord.z[s - 1]);
              c.longitudinal.push_back(st.lcoord.d[s - 1]);
            }
            c.sync_signals = tracker.sync_signals();
          }
          write_checkpoint(o.out, identity, c);
          last_checkpoint = std::chrono::steady_clock::now();
          if (sig != 0) {
            particles->keep();
            if (tbt) tbt->keep();
            dynap_say("diff2wirenew: error: dynap: stopped by signal " + std::to_string(sig) +
                " at turn " + std::to_string(t) + " of the batch from particle " +
                std::to_string(first) + "; checkpoint written: go on with --resume\n");
            throw textio::Exit{kExitSignal + sig};
          }
        },
        resume_turn);

    std::string rows;
    for (const DynapParticle& p : batch) {
      put_row(rows, p, st.ring.six_d);
      tally.add(grid, p.index, p.amplitude, p.lost, p.diffusion, o.threshold);
      if (tbt && p.index < o.tbt)
        put_tbt(*tbt, tracker, p, static_cast<std::size_t>(p.index - first), o);
    }
    particles->put(rows);
    particles->flush();
    if (!o.quiet)
      dynap_say("diff2wirenew: dynap: " + std::to_string(first + n - lo) + " of " +
                std::to_string(hi - lo) + " particles tracked, " + std::to_string(tally.lost) +
                " lost, " + std::to_string(clock.seconds()) + " s" +
                (first + n < hi ? clock.left(static_cast<double>(first + n - lo) * turns) : "") +
                "\n");
  }

  // Every file is written out before the first is renamed into place: a
  // write that fails here too leaves the partial files whole.
  auto commit = [&] {
    particles->commit();
    if (tbt) tbt->commit();
  };
  if (o.shards > 0) {
    // written last: the merge takes a shard's files when it is there
    std::vector<std::pair<std::string, std::string>> stamps{
        {kParticlesFile, result_stamp(particles->size(), particles->hash())}};
    if (tbt) stamps.emplace_back(kTbtFile, result_stamp(tbt->size(), tbt->hash()));
    ResultFile shard(o.out, kShardFile);
    shard.put(shard_file_text(shard_text, identity, stamps));
    shard.flush();
    commit();
    shard.commit();
    summary = shard_text;
  } else {
    summary = write_summary(grid, tally, o, commit);
  }
  } catch (const DynapIoError& e) {
    if (seq == 0) throw;
    // (a full disk) the rows vouched for by the last checkpoint stay, for --resume
    particles->leave();
    if (tbt) tbt->leave();
    throw DynapIoError(std::string(e.what()) +
                       "; the last good checkpoint stays: go on with --resume once this is mended");
  }
  remove_checkpoints(o.out);
  return summary;
}

int dynap_main(int argc, char** argv) {
  DynapOptions o;
  if (const int status = parse_dynap(argc, argv, o); status >= 0) return status;
  o.threads = study_threads(o);
  try {
    prepare_results_folder(o);
  } catch (const DynapRefusal& e) {
    dynap_say(std::string("diff2wirenew: error: dynap: ") + e.what() + "\n");
    return kExitRefused;
  } catch (const DynapIoError& e) {
    dynap_say(std::string("diff2wirenew: error: dynap: ") + e.what() + "\n");
    return 1;
  }
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
      dynap_say(std::string("diff2wirenew: error: dynap: ") + e.what() + "\n");
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
      if (o.ring.empty()) {
        read_machine(*st, io, false);
        if (st->readin2.itrip == 1) tripletin(*st, io);
      } else {
        std::vector<std::string> faults;
        const RingFile ring = read_ring_file(o.ring, faults);
        if (faults.empty()) set_up_ring(*st, ring, faults, o.six_d);
        if (faults.empty() && !st->ring.six_d && (o.delta != 0.0 || o.z0 != 0.0))
          faults.push_back(
              "dynap: --delta and --z need synchrotron motion (--6d, or an encounter6d in the ring)");
        if (!faults.empty()) {
          for (const std::string& f : faults) error(io, f);
          io.terminate(kExitRefused);
        }
      }
      FastTurn turner(turn_path_for(std::getenv("BBTRACK_SCALAR")), o.threads, errf_mode);
      const std::string summary =
          dynap_study(*st, io, o, turner, dynap_identity(o, static_cast<int>(errf_mode)));
      io.finish();
      ssize_t unused = ::write(1, summary.data(), summary.size());
      (void)unused;
    } catch (const textio::Exit& e) {
      status = e.status;
    } catch (const DynapRefusal& e) {
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
