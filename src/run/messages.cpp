#include "run/messages.h"

#include <charconv>
#include <cmath>
#include <filesystem>

#include "run/run_options.h"
#include "run/unit_numbers.h"
#include "spectral/fft_steps.h"

namespace bbtrack {

namespace {

// The running average of the action spread covers the last 1000 turns; it
// is zero before turn 1000, and the rates of resav.out are its growth from
// turn 1000 to the last turn, divided by the turns in between.
constexpr int32 kAverageTurns = 1000;
constexpr int32 kRateTurns = 2 * kAverageTurns;  // at least 1000 turns of growth

void line(textio::Io& io, std::string_view kind, std::string_view sentence) {
  std::string text = "diff2wirenew: ";
  text += kind;
  text += sentence;
  io.write_record(kStderr, text);
}

}  // namespace

void warn(textio::Io& io, std::string_view sentence) {
  line(io, "warning: ", sentence);
}
void error(textio::Io& io, std::string_view sentence) {
  line(io, "error: ", sentence);
}

void refuse(textio::Io& io, std::string_view sentence) {
  error(io, sentence);
  io.terminate(2);
}

void require_derived(textio::Io& io, std::string_view what, double v, Derived kind) {
  const bool ok = kind == Derived::positive ? std::isnormal(v) && v > 0.0 : std::isfinite(v);
  if (ok) return;
  refuse(io, std::string(what) + " = " + num(v) + " is not a " +
                 (kind == Derived::positive ? "finite positive normal number" : "finite number") +
                 ": the inputs it is derived from give the tracking nothing it can use; "
                 "the run stops before tracking");
}

std::string num(int32 v) {
  char b[16];
  auto r = std::to_chars(b, b + sizeof b, v);
  return std::string(b, r.ptr);
}

std::string num(double v) {
  char b[32];
  auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::general, 6);
  return std::string(b, r.ptr);
}

void require_input(textio::Io& io, std::string_view name) {
  if (!io.exists(name)) {
    error(io, std::string(name) + " does not exist in " + io.folder());
    return;
  }
  // The open of a missing input creates it empty: a second run in the same
  // folder would otherwise see only the failing read.
  std::error_code ec;
  if (std::filesystem::file_size(std::filesystem::path(io.folder()) / name, ec) == 0 && !ec)
    error(io, std::string(name) + " is empty (a run creates a missing input empty)");
}

void optional_input(textio::Io& io, std::string_view name, std::string_view consequence) {
  if (io.exists(name)) return;
  warn(io, std::string(name) + " does not exist in " + io.folder() + ", so " +
               std::string(consequence));
}

void refuse_turn_limit(State& st, textio::Io& io) {
  error(io, "ntrack = " + num(st.readin1.ntrack) + ", but option " + num(st.readin1.iopt) +
                " stores at most " + num(int32{kNtmapm}) +
                " turns: the run stops before tracking and writes no results");
  io.stop(2);
}

namespace {

// The transform's own factorisation decides.
bool transform_accepts(int32 n) {
  if (n < 2) return false;
  C06EAFactors f;
  int32 ierror = 0;
  C06EAZ(n, f, ierror);
  return ierror == 0;
}

}  // namespace

void refuse_footprint_length(State& st, textio::Io& io) {
  const int32 n = st.readin1.ntrack;
  if (transform_accepts(n)) return;
  std::string nearest;
  int32 below = n - 1;
  while (below >= 2 && !transform_accepts(below)) --below;
  int32 above = n < 2 ? 2 : n + 1;
  while (!transform_accepts(above)) ++above;
  if (below >= 2)
    nearest = "lengths are " + num(below) + " and ";
  else
    nearest = "length is ";
  nearest += num(above);
  refuse(io, "diff.input: ntrack = " + num(n) +
                 " is not a length the footprint's Fourier transform accepts (at least 2, "
                 "prime factors at most " +
                 num(kPmax) + ", at most " + num(kNest) + " of them); the nearest accepted " +
                 nearest + ": the run stops before tracking and writes no results");
}

void warn_option(const State& st, textio::Io& io) {
  const int32 iopt = st.readin1.iopt;
  const int32 ntrack = st.readin1.ntrack;
  if (iopt == 2 && ntrack <= 1) {
    warn(io, "diff.input: ntrack = " + num(ntrack) +
                 " gives option 2 no turns to analyse: " + std::string(kFreqMapFile.name) +
                 (ntrack == 1 ? " holds only the start of each particle" : " stays empty") +
                 "; a frequency map needs ntrack >= 2");
  } else if (iopt < 0 || iopt > 3) {
    warn(io, "diff.input: iopt = " + num(iopt) +
                 " is not an option (0 to 3): it runs the diffusion run of option 0");
  }
}

void warn_all_lost(const State& st, textio::Io& io, int32 turn) {
  const bool rates = run_option(st.readin1.iopt).kind == RunKind::diffusion;
  warn(io, "every particle is lost by turn " + num(turn) + " (" + num(st.np.nlost) + " lost)" +
               (rates ? ": the diffusion rates in resav.out then mean nothing"
                      : ": the records after that turn hold no particle"));
}

void warn_short_diffusion(const State& st, textio::Io& io) {
  const int32 ntrack = st.readin1.ntrack;
  if (st.readin1.iopt != 0 || ntrack >= kRateTurns) return;
  const int32 records = ntrack >= kAverageTurns ? ntrack / 100 - 9 : 0;
  const std::string written =
      "diff.dat holds " + num(records) + (records == 1 ? " record" : " records");
  if (ntrack <= kAverageTurns) {
    warn(io, "ntrack = " + num(ntrack) +
                 " gives no diffusion rates: the running average of the action spread "
                 "starts at turn 1000, so the rates in resav.out are not defined (0 or nan) "
                 "and " +
                 written + "; a rate needs ntrack >= 2000");
  } else {
    warn(io, "ntrack = " + num(ntrack) + " measures the diffusion rates in resav.out over " +
                 num(ntrack - kAverageTurns) +
                 " turns after the running average starts at turn 1000 (" + written +
                 "); a rate needs ntrack >= 2000");
  }
}

}  // namespace bbtrack
