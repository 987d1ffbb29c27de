#include "run/footprint.h"

#include <cmath>
#include <limits>
#include <vector>

#include "run/normalise.h"
#include "spectral/real_fft.h"
#include "run/unit_numbers.h"

namespace bbtrack {
namespace {

constexpr auto kFootprintRecord = textio::fixed_format<"(2(1X,I5),2(1X,E10.4))">;

// Index of the largest magnitude, the lowest index winning a tie; -1 when
// nothing is above zero (a record without data has no tune).
int32 peak(const std::vector<double>& f, int32 n) {
  int32 ipk = -1;
  double best = 0.0;
  for (int32 p = 0; p < n; ++p) {
    if (std::fabs(f[static_cast<std::size_t>(p)]) > best) {
      ipk = p;
      best = std::fabs(f[static_cast<std::size_t>(p)]);
    }
  }
  return ipk;
}

// Fractional tune of a spectral index, folded into [0.5, 1.0].
double folded_tune(int32 ipk, int32 n) {
  if (ipk < 0) return std::numeric_limits<double>::quiet_NaN();
  double q = static_cast<double>(ipk) / static_cast<double>(n);
  if (q < 0.5) q = 1.0 - q;
  return q;
}

}  // namespace

void footprint_store(State& st, int32 turn) {
  auto& tbt = st.tbt;
  for (int32 j = 1; j <= st.np.npart; ++j) {
    // Slots without a grid point would overwrite point (0, 0).
    if (st.fp.owner(j) != 1) continue;
    const Normalised nc = beta_scaled(st, j);
    const auto at = tbt.at(st.fp.fpidx(j, 1), st.fp.fpidx(j, 2), turn);
    tbt.tbtx[at] = static_cast<float>(nc.x);
    tbt.tbty[at] = static_cast<float>(nc.y);
  }
}

void footprint_analysis(State& st, textio::Io& io) {
  const int32 n = st.readin1.ntrack;
  const auto& tbt = st.tbt;
  const auto len = static_cast<std::size_t>(n > 0 ? n : 0);
  std::vector<double> fftx(len + 1), ffty(len + 1);
  NagLib lib{&io};
  for (int32 iang = 0; iang < kGrid; ++iang) {
    for (int32 iamp = 0; iamp < kGrid; ++iamp) {
      for (int32 t = 1; t <= n && t <= tbt.nturn; ++t) {
        fftx[static_cast<std::size_t>(t - 1)] = tbt.tbtx[tbt.at(iang, iamp, t)];
        ffty[static_cast<std::size_t>(t - 1)] = tbt.tbty[tbt.at(iang, iamp, t)];
      }
      std::int32_t ifail = 0;
      C06EAF(fftx.data(), n, ifail, lib);
      ifail = 0;
      C06EAF(ffty.data(), n, ifail, lib);
      const double tunex = folded_tune(peak(fftx, n), n);
      const double tuney = folded_tune(peak(ffty, n), n);
      io.print(kStdout, {iang, iamp, tunex, tuney});
      io.write(kFootprintFile.unit, kFootprintRecord, {iang, iamp, tunex, tuney});
    }
  }
}

}  // namespace bbtrack
