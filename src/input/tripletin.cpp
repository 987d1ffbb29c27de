#include <cmath>

#include "input/readers.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void tripletin(State& st, textio::Io& io) {
  constexpr int u = kMultipolesFile.unit;
  constexpr int kOrders = 10, kMagnets = 16;
  auto& tr = st.triplet;
  double suma[kOrders] = {}, sumb[kOrders] = {}, sqa[kOrders] = {}, sqb[kOrders] = {};
  // Printed after each magnet's records; the value has never been set, so
  // the line shows zero. Kept for the layout of the standard output.
  const double unset = 0.0;

  require_input(io, kMultipolesFile.name);
  io.open_input(u, kMultipolesFile.name);
  for (int j = 1; j <= kMagnets; ++j) {
    for (int n = 1; n <= kOrders; ++n) {
      io.read(u, {tr.tra(n, j), tr.trb(n, j)});
      suma[n - 1] = suma[n - 1] + tr.tra(n, j);
      sumb[n - 1] = sumb[n - 1] + tr.trb(n, j);
      sqa[n - 1] = sqa[n - 1] + tr.tra(n, j) * tr.tra(n, j);
      sqb[n - 1] = sqb[n - 1] + tr.trb(n, j) * tr.trb(n, j);
    }
    io.print(kStdout, {unset});
  }
  io.print(kStdout, {" read multipoledata "});
  io.print(kStdout, {"  "});
  io.print(kStdout, {" average values  "});
  double meana[kOrders], meanb[kOrders];
  for (int n = 0; n < kOrders; ++n) {
    meana[n] = 0.0625 * suma[n];  // 1/16: mean over the magnets
    meanb[n] = 0.0625 * sumb[n];
    io.print(kStdout, {meana[n], meanb[n]});
  }
  io.print(kStdout, {"  "});
  io.print(kStdout, {" rms "});
  for (int n = 0; n < kOrders; ++n) {
    // A variance that rounding makes slightly negative gives nan, as is.
    const double rmsa = std::sqrt(0.0625 * sqa[n] - meana[n] * meana[n]);
    const double rmsb = std::sqrt(0.0625 * sqb[n] - meanb[n] * meanb[n]);
    io.print(kStdout, {rmsa, rmsb});
  }
  io.print(kStdout, {"  "});
  io.print(kStdout, {" multipole initialization finished "});
  io.print(kStdout, {"  "});

  for (int j = 1; j <= kMagnets; ++j) io.read(u, {tr.trbeta(j)});
  io.print(kStdout, {" read beta functions "});
  io.print(kStdout, {"  "});
  io.print(kStdout, {" mean values  "});
  for (int j = 1; j <= kMagnets; ++j) io.print(kStdout, {tr.trbeta(j)});
  for (int j = 1; j <= kMagnets; ++j) io.read(u, {st.triplet2.trw(j)});
  for (int j = 1; j <= kMagnets; ++j) io.print(kStdout, {st.triplet2.trw(j)});
  io.print(kStdout, {"  "});
  io.print(kStdout, {" beta function initialization finished "});
  io.print(kStdout, {"  "});
  io.close(u);
}

}  // namespace bbtrack
