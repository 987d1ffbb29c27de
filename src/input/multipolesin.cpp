// "multipoles.dat": the optional thin multipoles, one record per element:
// point k, order n (1 quadrupole ... 10), integrated normal and skew
// strengths K_nL and J_nL (m^-n).
#include "input/readers.h"
#include "input/records.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void multipolesin(State& st, textio::Io& io) {
  if (!io.exists(kThinMultipolesFile.name)) return;
  RecordReader rd(io, kThinMultipolesFile.unit, kThinMultipolesFile.name);
  auto& mp = st.multipoles;
  // n! of the orders, exact in double up to 10! = 3628800.
  double factorial[kMaxMultipoleOrder + 1];
  factorial[0] = 1.0;
  for (int n = 1; n <= kMaxMultipoleOrder; ++n) factorial[n] = factorial[n - 1] * n;
  while (rd.next()) {
    if (rd.number() > kMaxMultipoles) rd.refuse("more than " + num(kMaxMultipoles) + " multipoles");
    const int32 k = rd.integer(0, "point");
    const int32 n = rd.integer(1, "order");
    const double kn = rd.real(2, "normal strength");
    const double sn = rd.real(3, "skew strength");
    if (rd.size() > 4) rd.refuse("more than 4 values");
    if (k < 1 || k > kSections)
      rd.refuse("point " + num(k) + " is outside 1 ... " + num(kSections));
    if (n < 1 || n > kMaxMultipoleOrder)
      rd.refuse("order " + num(n) + " is outside 1 ... " + num(kMaxMultipoleOrder) +
                (n == 0 ? " (a dipole would move the closed orbit)" : ""));
    MultipoleKick& m = mp.at(k);
    m.cr[n] = m.cr[n] + kn / factorial[n];
    m.ci[n] = m.ci[n] + sn / factorial[n];
    if (n > m.order) m.order = n;
    ++mp.nmult;
    io.print(kStdout, {" multipole ", k, n, kn, sn});
  }
  rd.close();
}

}  // namespace bbtrack
