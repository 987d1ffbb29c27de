#include "dynap/options.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <string_view>

#include "run/command_line.h"

namespace bbtrack {
namespace {

constexpr std::string_view kDynapUsage =
    R"(Usage: diff2wirenew dynap [options]

Dynamic aperture and frequency map of the ring of the current folder. Reads
the same input files as a run (diff.input, Matrices.dat, Sigmas.dat,
excluded.dat, wires.dat, multdist.dat, and multipoles.dat and modulation.dat
when present) and tracks every element a run tracks, but starts its own
particles on a grid of amplitudes and writes only its own results; the
result files of a run are never opened. Particles go through in batches of
at most 1000, so any number of them can be tracked.
With --ring FILE it tracks the general ring of FILE instead (element by
element, any number of encounters, tunes anywhere, coupled or not; see
docs/inputs.md) and reads none of the folder's input files.

A particle starts at x = a cos(theta) sigma_x, y = a sin(theta) sigma_y with
zero angles, sigma the beam sizes at the observation point (for a coupled
general ring: a the normal modes' amplitudes). It is lost when
|x| > A sigma_x or |y| > A sigma_y after a turn (A the aperture). Its tunes
are refined (Hann window, spectral peak, maximum of the line) from the
complex normalised signal x - i px of turns 1..N and N+1..2N; the diffusion
index is log10 sqrt(dQx^2 + dQy^2) between the two windows.

Options:
  --amplitudes FROM:TO:STEP  amplitudes a in beam sizes (default 1:10:1)
  --angles N         N angles theta_k = k (pi/2) / (N + 1), k = 1..N
                     (default 5; at most 1000000)
  --grid xy          a Cartesian grid of the two amplitudes (each from the
                     --amplitudes list) instead of the polar one
  --turns N          turns tracked (default 10000; at least 2 windows)
  --window N         turns of each frequency-map window (default 1024; 0:
                     no tunes, the aperture only)
  --aperture A       loss aperture in beam sizes (default 20)
  --threshold D      diffusion index above which a particle counts as
                     chaotic in the summary (default -5)
  --out DIR          folder of the results (default: the current one;
                     created when missing; locked while the study runs: a
                     second study with the same one is refused, status 2)
  --threads N        threads of the tracking (default: OMP_NUM_THREADS,
                     else one per processor; at most 1024, and more than
                     the processors give one per processor and a warning)
  --tbt N            also write the turn-by-turn record of the first N
                     particles over the two windows (dynap_tbt.csv)
  --shard I/N        track only share I of N of the grid (contiguous ranges
                     of particles) and write its rows and dynap_shard.txt;
                     the shards are merged with --merge
  --ring FILE        track the general ring described in FILE (its
                     normalisation from the one-turn map's normal form)
                     instead of the folder's 73 sections
  --6d               synchrotron motion: z and delta move through the ring's
                     6x6 maps, the normalisation from the 6x6 one-turn map
                     (on by itself when the ring holds an encounter6d); the
                     frequency map then gives the synchrotron tune qs too
  --delta D          start momentum offset delta = D (e.g. 2.7e-4; needs
                     synchrotron motion)
  --z Z              start synchrotron amplitude as the offset z = Z (m,
                     ahead positive; needs synchrotron motion)
  --merge DIR        (once per shard, in order 1..N, with the options of the
                     shards) merge the shards' folders into the results of
                     the study in one go; reads no input file. A missing or
                     failed shard is named and the summary says incomplete
  --checkpoint-interval S
                     seconds of wall time between checkpoints of the study
                     (default 300; 0: only when stopped by a signal). A
                     stop signal (SIGTERM, SIGINT, SIGHUP, SIGXCPU) writes
                     one and ends the study with status 128 + the signal
  --resume           go on from the newest valid checkpoint in the results
                     folder, with the same bits as a study never stopped
                     (exit status 2 when there is none, naming the option
                     or input file that differs)
  --quiet            no progress lines on standard error
  -h, --help         show this text and end

Writes, in the results folder:
  dynap.csv          one row per particle: start, turn of loss, tunes of
                     both windows, diffusion index (with synchrotron
                     motion also the start z, delta and the tune qs)
  dynap_angles.csv   one row per angle: the dynamic aperture (polar grid)
  dynap_summary.txt  minimum and average aperture, chaotic share; the same
                     summary is printed on standard output
Environment: BBTRACK_SCALAR, BBTRACK_ERRF and OMP_NUM_THREADS as for a run.
Exit status: 0 results written, 1 an input or output error, 2 a wrong option
or a ring file refused (each bad line said as FILE:LINE: FIELD: what).
)";

int refuse(std::string_view why) {
  std::string text = "diff2wirenew: error: dynap: ";
  text += why;
  text += " (see diff2wirenew dynap --help)\n";
  put(2, text);
  return kExitRefused;
}

template <class T>
bool number(std::string_view s, T& v) {
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(v)) return false;
  }
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool range(std::string_view s, DynapOptions& o) {
  const auto c1 = s.find(':');
  if (c1 == std::string_view::npos) return false;
  const auto c2 = s.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return false;
  return number(s.substr(0, c1), o.amp_from) && number(s.substr(c1 + 1, c2 - c1 - 1), o.amp_to) &&
         number(s.substr(c2 + 1), o.amp_step);
}

// A window's four signals of one particle stay below 256 MiB.
constexpr std::int64_t kMaxWindow = std::int64_t{1} << 22;

// Grid sizes above this are refused: the per-particle results of the
// summary are held in memory (a few bytes each).
constexpr double kMaxParticles = 1e9;

// Shards beyond this would be smaller than a batch of any real study.
constexpr int kMaxShards = 100000;

// The summary keeps one aperture per angle (8 bytes each).
constexpr int kMaxAngles = 1000000;

// Beyond this the thread library itself fails; above the processor count
// the study uses one thread per processor (dynap_main).
constexpr int kMaxThreads = 1024;

// An option of the usage text (each is listed there as "  --name VALUE"):
// a word after the last argument is then missing, not an unknown option.
bool listed(std::string_view a) {
  return kDynapUsage.find("\n  " + std::string(a) + " ") != std::string_view::npos;
}

void put_num(std::string& out, double v) {
  char b[32];
  const auto r = std::to_chars(b, b + sizeof b, v);
  out.append(b, r.ptr);
}

}  // namespace

std::string DynapOptions::identity() const {
  std::string s = "amplitudes ";
  put_num(s, amp_from);
  s += ':';
  put_num(s, amp_to);
  s += ':';
  put_num(s, amp_step);
  s += grid_xy ? " grid xy" : " angles " + std::to_string(angles);
  s += " turns " + std::to_string(turns) + " window " + std::to_string(window) + " aperture ";
  put_num(s, aperture);
  s += " tbt " + std::to_string(tbt);
  if (!ring.empty()) s += " ring " + ring;
  if (six_d || delta != 0.0 || z0 != 0.0) {
    s += six_d ? " 6d delta " : " delta ";
    put_num(s, delta);
    s += " z ";
    put_num(s, z0);
  }
  return s;
}

Amplitudes DynapOptions::amplitudes() const {
  const double n = std::floor((amp_to - amp_from) / amp_step * (1.0 + 1e-12) + 1e-9);
  return {amp_from, amp_step, static_cast<std::size_t>(n) + 1};
}

int parse_dynap(int argc, char** argv, DynapOptions& o) {
  for (int i = 0; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "-h" || a == "--help") {
      put(1, kDynapUsage);
      return kExitResults;
    }
    if (a == "--quiet") {
      o.quiet = true;
      continue;
    }
    if (a == "--resume") {
      o.resume = true;
      continue;
    }
    if (a == "--6d") {
      o.six_d = true;
      continue;
    }
    if (a.size() < 2 || a.substr(0, 2) != "--")
      return refuse("unknown argument '" + std::string(a) + "'");
    if (i + 1 >= argc && !listed(a)) return refuse("unknown option '" + std::string(a) + "'");
    if (i + 1 >= argc) return refuse("option " + std::string(a) + " needs a value");
    const std::string_view v = argv[++i];
    const std::string bad = "bad value '" + std::string(v) + "' of " + std::string(a);
    if (a == "--amplitudes") {
      if (!range(v, o)) return refuse(bad + ": FROM:TO:STEP, e.g. 1:10:0.5");
      if (!(o.amp_from >= 0.0 && o.amp_to >= o.amp_from && o.amp_step > 0.0))
        return refuse(bad + ": 0 <= FROM <= TO and STEP > 0");
    } else if (a == "--angles") {
      if (!number(v, o.angles) || o.angles < 1 || o.angles > kMaxAngles)
        return refuse(bad + ": a whole number from 1 to " + std::to_string(kMaxAngles));
    } else if (a == "--grid") {
      if (v != "xy" && v != "polar") return refuse(bad + ": xy (or polar, the default)");
      o.grid_xy = v == "xy";
    } else if (a == "--turns") {
      if (!number(v, o.turns) || o.turns < 1) return refuse(bad + ": a whole number >= 1");
    } else if (a == "--window") {
      if (!number(v, o.window) || o.window < 0 || o.window > kMaxWindow)
        return refuse(bad + ": a whole number from 0 to " + std::to_string(kMaxWindow));
    } else if (a == "--aperture") {
      if (!number(v, o.aperture) || !(o.aperture > 0.0)) return refuse(bad + ": beam sizes > 0");
    } else if (a == "--threshold") {
      if (!number(v, o.threshold)) return refuse(bad + ": a number, e.g. -5");
    } else if (a == "--out") {
      if (v.empty()) return refuse(bad + ": a folder");
      o.out = v;
    } else if (a == "--threads") {
      if (!number(v, o.threads) || o.threads < 1 || o.threads > kMaxThreads)
        return refuse(bad + ": a whole number from 1 to " + std::to_string(kMaxThreads));
    } else if (a == "--shard") {
      const auto slash = v.find('/');
      if (slash == std::string_view::npos || !number(v.substr(0, slash), o.shard) ||
          !number(v.substr(slash + 1), o.shards) || o.shards < 1 || o.shards > kMaxShards ||
          o.shard < 1 || o.shard > o.shards)
        return refuse(bad + ": I/N with 1 <= I <= N <= " + std::to_string(kMaxShards));
    } else if (a == "--checkpoint-interval") {
      if (!number(v, o.checkpoint_interval) || o.checkpoint_interval < 0.0)
        return refuse(bad + ": seconds >= 0");
    } else if (a == "--merge") {
      if (v.empty()) return refuse(bad + ": a shard's folder");
      o.merge.emplace_back(v);
    } else if (a == "--ring") {
      if (v.empty()) return refuse(bad + ": a ring file");
      o.ring = v;
    } else if (a == "--delta") {
      if (!number(v, o.delta) || !(std::fabs(o.delta) < 0.1))
        return refuse(bad + ": a momentum offset |D| < 0.1, e.g. 2.7e-4");
    } else if (a == "--z") {
      if (!number(v, o.z0) || !(std::fabs(o.z0) < 10.0))
        return refuse(bad + ": a longitudinal offset |Z| < 10 (m)");
    } else if (a == "--tbt") {
      if (!number(v, o.tbt) || o.tbt < 0) return refuse(bad + ": a whole number >= 0");
    } else {
      return refuse("unknown option '" + std::string(a) + "'");
    }
  }
  if (o.window > 0 && o.turns < 2 * o.window)
    return refuse("--turns " + std::to_string(o.turns) + " is less than the two windows of " +
                  std::to_string(o.window) + " turns the frequency map needs");
  const double namp = std::floor((o.amp_to - o.amp_from) / o.amp_step) + 1.0;
  const double count = o.grid_xy ? namp * namp : namp * o.angles;
  if (count > kMaxParticles) return refuse("more than 1e9 particles in the grid");
  if (o.tbt > 0 && o.window == 0) return refuse("--tbt needs a frequency-map window");
  if (o.six_d && o.ring.empty()) return refuse("--6d needs a general ring (--ring FILE)");
  if ((o.delta != 0.0 || o.z0 != 0.0) && o.ring.empty())
    return refuse("--delta and --z need a general ring (--ring FILE) with synchrotron motion");
  if (o.shards > 0 && !o.merge.empty()) return refuse("--shard and --merge exclude each other");
  if (o.resume && !o.merge.empty()) return refuse("--resume and --merge exclude each other");
  if (o.merge.size() > static_cast<std::size_t>(kMaxShards))
    return refuse("more than " + std::to_string(kMaxShards) + " shards to merge");
  return -1;
}

}  // namespace bbtrack
