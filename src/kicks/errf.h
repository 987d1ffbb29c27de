#pragma once

namespace bbtrack {

// Complex error function w(z) = exp(-z^2) erfc(-i z) for z = xx + i yy,
// returned as wx + i wy: the one-lane instance of errf_lanes
// (kicks/errf_lanes.h, where the scheme and its constants are). The first
// quadrant is evaluated by a summed continued fraction inside a rectangle
// about the origin and by a nine-term continued fraction outside it; the
// other quadrants follow from w(-conj z) = conj w(z) and
// w(-z) = 2 exp(-z^2) - w(z). Accurate to about 1e-9 absolute in the upper
// half plane. For yy < 0 and large |z| the factor exp(yy^2 - xx^2) may
// overflow; the beam-beam kick only uses yy >= 0.
void errf(double xx, double yy, double& wx, double& wy);

// The last step of errf: given in wx, wy the value at (|xx|, |yy|), applies
// the real-axis rule and maps it to the quadrant of (xx, yy). Out of line,
// so that the translation units of every processor share this one baseline
// copy, lane by lane.
void errf_tail(double xx, double yy, double& wx, double& wy);

// x^n for an integer n, by square-and-multiply starting from the lowest bit
// of |n|; a negative n gives 1/(x^|n|), one division after the products.
// The sequence of roundings of errf's lambda^(1 - nc) (ipow_whole).
double ipow(double x, int n);

}  // namespace bbtrack
