#include <cmath>
#include <vector>

#include "distrib/distributions.h"
#include "input/ranuni.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void initcoordunir(State& st, textio::Io& io) {
  const int32 n = st.np.npart;
  const auto& tw = st.twiss;
  const double emit = st.bb.emit;
  std::vector<double> r(static_cast<std::size_t>(n > 0 ? 4 * n : 0));
  std::int32_t seed = kDistributionSeed;
  ranuni(seed, r.data(), 4 * n);
  // The count of particles actually built.
  io.print(kStdout, {" nparts = ", n});
  auto& c = st.coord.coord;
  // The first 2 n numbers are drawn but unused: the angles start at zero.
  for (int32 i = 1; i <= n && i <= kSlots; ++i) {
    c(i, 1) = 3.0 * r[static_cast<std::size_t>(2 * n + i - 1)] * std::sqrt(tw.betx * emit);
    c(i, 3) = 3.0 * r[static_cast<std::size_t>(3 * n + i - 1)] * std::sqrt(tw.bety * emit);
    c(i, 2) = 0.0;
    c(i, 4) = 0.0;
  }
}

}  // namespace bbtrack
