#include <cmath>
#include <vector>

#include "distrib/distributions.h"
#include "input/ranuni.h"

namespace bbtrack {

void initcoordwire(State& st, textio::Io&) {
  const int32 n = st.np.npart;
  if (n <= 0 || n > kSlots) return;
  const auto& tw = st.twiss;
  const double emit = st.bb.emit;
  const double pi = st.constant.pi;
  const double a = st.icoord.ampin;
  std::vector<double> r(static_cast<std::size_t>(2 * n));
  std::int32_t seed = kDistributionSeed;
  ranuni(seed, r.data(), 2 * n);
  auto& c = st.coord.coord;
  for (int32 i = 1; i <= n; ++i) {
    const double phx = 2.0 * pi * r[static_cast<std::size_t>(i - 1)];
    const double phy = 2.0 * pi * r[static_cast<std::size_t>(n + i - 1)];
    c(i, 1) = a * std::sqrt(tw.betx * emit) * std::sin(phx);
    c(i, 2) = a * std::sqrt(emit / tw.betx) * std::cos(phx) - tw.alfx * c(i, 1) / tw.betx;
    c(i, 3) = a * std::sqrt(tw.bety * emit) * std::sin(phy);
    c(i, 4) = a * std::sqrt(emit / tw.bety) * std::cos(phy) - tw.alfy * c(i, 3) / tw.bety;
  }
}

}  // namespace bbtrack
