#include <cmath>

#include "distrib/distributions.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void initcoorduni(State& st, textio::Io& io) {
  const auto& tw = st.twiss;
  const double emit = st.bb.emit;
  auto& c = st.coord.coord;
  c(1, 1) = kSmallAmplitude * std::sqrt(tw.betx * emit);
  c(1, 3) = kSmallAmplitude * std::sqrt(tw.bety * emit);
  c(1, 2) = 0.0;
  c(1, 4) = 0.0;
  // Grid side: the square root is taken in single precision.
  const auto m = static_cast<int32>(static_cast<float>(std::sqrt(static_cast<double>(st.np.npart - 1))));
  const double step = 10.0 / m;
  io.print(kStdout, {" nparts = ", m});
  for (int32 j = 1; j <= m; ++j) {
    for (int32 i = 1; i <= m; ++i) {
      const int32 p = 1 + (j - 1) * m + i;
      if (p > kSlots) continue;
      c(p, 1) = i * step * std::sqrt(tw.betx * emit);
      c(p, 2) = 0.0;
      c(p, 3) = j * step * std::sqrt(tw.bety * emit);
      c(p, 4) = 0.0;
    }
  }
}

}  // namespace bbtrack
