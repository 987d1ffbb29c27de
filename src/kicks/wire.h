// Wire compensators: thin elements at the start of a section, acting right
// after the point's beam-beam kick. A wire of current I and length l kicks
// as the far field (r >> sigma) of a round opposing bunch placed at the wire,
// with the bunch's coefficient 2 rp dnb / gamma replaced by the strength
// kw = mu0 I l / (2 pi Brho), Brho = 3.356 * 0.938 * gamma T m; a positive
// current attracts as an opposing bunch of positive population does. The kick
// on the reference orbit is removed, as for the beam-beam kick, so the closed
// orbit stays where it is.
#pragma once

#include "run/state.h"

namespace bbtrack {

// Single-precision literals of the start-up wire evaluation, widened to
// double: mu0 = 4 pi * 1e-7, Brho = 3.356 * 0.938 * gamma.
inline constexpr double kWireMu0Scale = 1.0000000116860974e-07;   // 1e-7
inline constexpr double kWireRigidity = 3.3559999465942383;       // 3.356
inline constexpr double kWireProtonMass = 0.9380000233650208;     // 0.938 GeV

// mu0 = 4 pi * 1e-7 (T m/A) as the wire evaluation computes it.
inline double wire_mu0(double pi) { return 4.0 * pi * kWireMu0Scale; }

// kw = (mu0 I l) / (((2 pi) 3.356) gamma 0.938), in m: the strength of a
// wire in tracking and of the start-up evaluation's wire.
double wire_strength(double current, double length, double gamma, double pi);

// Kick function of a wire at (xw, yw) felt at (x, y): gx = u / r^2,
// gy = v / r^2 with u = x - xw, v = y - yw (1/m). On the wire itself both are
// not-a-number. The one-lane instance of the lanes' wire field
// (kicks/kick_lanes.h).
void wire_field(double x, double y, double xw, double yw, double& gy, double& gx);

// The kick record of a wire at point k: position in m, its strength and the
// strength times the kick function on the reference orbit (zero for a wire
// on the reference orbit, as the beam-beam kick function is zero at its
// bunch's centre).
WireKick make_wire(int32 k, double xw, double yw, double current, double length, double gamma,
                   double pi);

// Puts the wires (in file order) into st.wires, ordered by point.
void set_wires(State& st, const WireKick* wires, int32 n);

// Kicks of the wires of point k on particles 1 .. npart, in their order:
// x' += fk2 - kw gx, y' += fk1 - kw gy (the one-lane instance of the turn's
// wire kicks).
void wirekicks(State& st, int k);

// Whether point k has wires: the one check a section without wires pays.
inline bool has_wires(const State& st, int k) { return st.wires.count(k) > 0; }

}  // namespace bbtrack
