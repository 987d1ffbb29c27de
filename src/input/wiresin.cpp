// "wires.dat": the optional wire compensators, one list-directed record per
// wire: point k, position xw yw (mm, the frame and sign of the opposing
// bunch's centre in the beam-beam kick of point k), current (A), length (m).
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "input/readers.h"
#include "kicks/wire.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {
namespace {

constexpr std::int32_t kNoValue = std::numeric_limits<std::int32_t>::min();

constexpr int kWiresUnit = kWiresFile.unit;

// One diagnostic line on standard error, then the end of the run, status 1.
[[noreturn]] void error_exit(textio::Io& io, const std::string& text) {
  error(io, text);
  io.terminate(1);
}

}  // namespace

void wiresin(State& st, textio::Io& io) {
  if (!io.exists(kWiresFile.name)) return;
  io.open_input(kWiresUnit, kWiresFile.name);
  WireKick read[kMaxWires];
  double xmm[kMaxWires], ymm[kMaxWires];  // the positions as read, for the echo
  int32 n = 0;
  for (int32 rec = 1;; ++rec) {
    int32 k = kNoValue;
    const double none = std::numeric_limits<double>::quiet_NaN();
    double xw = none, yw = none, current = none, length = none;
    if (!io.read_or_eof(kWiresUnit, {k, xw, yw, current, length})) {
      // The end of the file inside a record: the read without an end branch
      // ends the run as any short record does.
      if (k != kNoValue || !std::isnan(xw) || !std::isnan(yw) || !std::isnan(current))
        io.read(kWiresUnit, {k, xw, yw, current, length});
      break;
    }
    const std::string where = "wires.dat: record " + num(rec) + ": ";
    if (rec > kMaxWires) error_exit(io, where + "more than " + num(kMaxWires) + " wires");
    if (k == kNoValue || std::isnan(xw) || std::isnan(yw) || std::isnan(current) ||
        std::isnan(length))
      error_exit(io, where + "a value is missing (null value)");
    if (k < 1 || k > kSections)
      error_exit(io, where + "point " + num(k) + " is outside 1 ... " + num(kSections));
    if (!(length > 0.0)) error_exit(io, where + "the wire length is not positive");
    xmm[n] = xw;
    ymm[n] = yw;
    read[n++] = make_wire(k, 0.001 * xw, 0.001 * yw, current, length, st.bb.gamma,
                          st.constant.pi);
  }
  io.close(kWiresUnit);
  set_wires(st, read, n);
  for (int32 j = 0; j < n; ++j) {
    const WireKick& w = read[j];
    io.print(kStdout, {" wire ", w.k, xmm[j], ymm[j], w.current, w.length, w.kw});
  }
}

}  // namespace bbtrack
