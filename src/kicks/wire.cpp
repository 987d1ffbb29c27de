#include "kicks/wire.h"

#include "kicks/kick_lanes.h"
#include "kicks/lanes/one_lane.h"
#include "kicks/vector/turn_kernel.h"
#include "kicks/vector/turn_plan.h"

namespace bbtrack {

double wire_strength(double current, double length, double gamma, double pi) {
  return wire_mu0(pi) * current * length / (2.0 * pi * kWireRigidity * gamma * kWireProtonMass);
}

void wire_field(double x, double y, double xw, double yw, double& gy, double& gx) {
  wire_field_of<OneLane>(xw, yw, x, y, gx, gy);
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
  const int n = st.np.npart;
  if (n > 0)
    wire_kicks<OneLane>(st.wires.w + st.wires.first(k), st.wires.count(k), particle_columns(st), n);
}

}  // namespace bbtrack
