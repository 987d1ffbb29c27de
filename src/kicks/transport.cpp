#include "kicks/transport.h"

#include "kicks/bbkick.h"
#include "kicks/wire.h"

namespace bbtrack {

void bbkickvorn(State& st, int k, ErrfMode errf_mode) {
  auto& c = st.coord.coord;
  double dxp = 0.0;
  double dyp = 0.0;
  const int n = st.np.npart;
  for (int i = 1; i <= n; ++i) {
    kickvorn(st, c(i, 1), c(i, 3), dxp, dyp, k, errf_mode);
    c(i, 2) = c(i, 2) + dxp;
    c(i, 4) = c(i, 4) + dyp;
  }
}

void rotvorn(State& st, int k) {
  FArray<double, 4, 4> rmat;
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 4; ++i) rmat(i, j) = st.qarrot.tmat(k, i, j);

  auto& c = st.coord.coord;
  const int n = st.np.npart;
  for (int i = 1; i <= n; ++i) {
    const double x = c(i, 1);
    const double xp = c(i, 2);
    const double y = c(i, 3);
    const double yp = c(i, 4);
    c(i, 1) = rmat(1, 1) * x + rmat(1, 2) * xp;
    c(i, 2) = rmat(2, 1) * x + rmat(2, 2) * xp;
    c(i, 3) = rmat(3, 3) * y + rmat(3, 4) * yp;
    c(i, 4) = rmat(4, 3) * y + rmat(4, 4) * yp;
  }
}

bool encounter_kicks(const State& st, int k) {
  const auto& ex = st.excluded;
  for (int j = 1; j <= ex.nexcl; ++j)
    if (ex.excl(j) == k) return false;
  return k != st.qarcavind.cavind;
}

void track_turn(State& st, ErrfMode errf_mode) {
  for (int k = 1; k <= kSections; ++k) {
    if (encounter_kicks(st, k)) bbkickvorn(st, k, errf_mode);
    if (has_wires(st, k)) wirekicks(st, k);
    rotvorn(st, k);
  }
}

}  // namespace bbtrack
