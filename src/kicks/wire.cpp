#include "kicks/wire.h"

namespace bbtrack {

double wire_strength(double current, double length, double gamma, double pi) {
  const double mu0 = 4.0 * pi * kWireMu0Scale;
  return mu0 * current * length / (2.0 * pi * kWireRigidity * gamma * kWireProtonMass);
}

void wire_field(double x, double y, double xw, double yw, double& gy, double& gx) {
  const double u = x - xw;
  const double v = y - yw;
  const double r2 = u * u + v * v;
  gx = u / r2;
  gy = v / r2;
}

WireKick make_wire(int32 k, double xw, double yw, double current, double length, double gamma,
                   double pi) {
  WireKick w{};
  w.k = k;
  w.xw = xw;
  w.yw = yw;
  w.current = current;
  w.length = length;
  w.kw = wire_strength(current, length, gamma, pi);
  double gy0 = 0.0, gx0 = 0.0;
  if (xw != 0.0 || yw != 0.0) wire_field(0.0, 0.0, xw, yw, gy0, gx0);
  w.fk1 = w.kw * gy0;
  w.fk2 = w.kw * gx0;
  return w;
}

void set_wires(State& st, const WireKick* wires, int32 n) {
  auto& ws = st.wires;
  ws.nwire = n;
  int32 next = 0;
  for (int k = 1; k <= kSections; ++k) {
    ws.first(k) = next;
    ws.count(k) = 0;
    for (int32 j = 0; j < n; ++j)
      if (wires[j].k == k) {
        ws.w[next++] = wires[j];
        ++ws.count(k);
      }
  }
}

void wirekicks(State& st, int k) {
  auto& c = st.coord.coord;
  const int n = st.np.npart;
  const WireKick* w = st.wires.w + st.wires.first(k);
  for (int m = 0; m < st.wires.count(k); ++m) {
    const WireKick& wk = w[m];
    for (int i = 1; i <= n; ++i) {
      double gy, gx;
      wire_field(c(i, 1), c(i, 3), wk.xw, wk.yw, gy, gx);
      const double dxp = wk.fk2 - wk.kw * gx;
      const double dyp = wk.fk1 - wk.kw * gy;
      c(i, 2) = c(i, 2) + dxp;
      c(i, 4) = c(i, 4) + dyp;
    }
  }
}

}  // namespace bbtrack
