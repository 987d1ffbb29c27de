#include <cmath>

#include "distrib/distributions.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void initcoordfp(State& st, textio::Io& io) {
  const auto& tw = st.twiss;
  const double pi = st.constant.pi;
  // Grid side: the square root is taken in single precision.
  const auto n = static_cast<int32>(static_cast<float>(std::sqrt(static_cast<double>(st.np.npart))));
  const double sigx = std::sqrt(tw.betx * st.bb.emit);
  const double da = 6.0 * sigx / (n - 1);
  const double dphi = pi / (2 * (n - 1));
  constexpr double kAngleOffset = 9.999999747378752e-06;  // 1.0e-5 single precision, widened
  auto& c = st.coord.coord;
  auto& fp = st.fp;
  for (int32 j = 0; j < n; ++j) {      // amplitude index
    for (int32 i = 0; i < n; ++i) {    // angle index
      // Row stride n + 1: the slots n + 1, 2 (n + 1), ... get no grid point.
      const int32 p = (n + 1) * j + i + 1;
      const double phi = (i == 0 && j == 0) ? pi * 0.25 : i * dphi + kAngleOffset;
      // Both planes are measured in horizontal beam sizes.
      const double a = kSmallAmplitude * sigx + j * da;
      const double x = a * std::cos(phi);
      const double y = a * std::sin(phi);
      if (p <= kSlots) {
        c(p, 1) = x;
        c(p, 3) = y;
        c(p, 2) = 0.0;
        c(p, 4) = 0.0;
        fp.fpidx(p, 1) = i;
        fp.fpidx(p, 2) = j;
        fp.owner(p) = 1;
      }
      io.print(kStdout, {" footprint init", p, " ", j, " ", i, x, y});
    }
  }
}

}  // namespace bbtrack
