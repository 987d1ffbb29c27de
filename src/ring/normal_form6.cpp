#include "ring/normal_form6.h"

#include <cmath>
#include <complex>

#include "ring/symplectic.h"
#include "run/messages.h"

namespace bbtrack {
namespace {

using cplx = std::complex<double>;

// The solution of (m - lambda I) v = b for a complex lambda, by Gaussian
// elimination with partial pivoting; b is overwritten with v.
void solve_shifted(const double (&m)[6][6], cplx lambda, cplx (&b)[6]) {
  cplx a[6][6];
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) a[i][j] = m[i][j] - (i == j ? lambda : cplx(0.0, 0.0));
  for (int c = 0; c < 6; ++c) {
    int piv = c;
    for (int r = c + 1; r < 6; ++r)
      if (std::abs(a[r][c]) > std::abs(a[piv][c])) piv = r;
    for (int j = 0; j < 6; ++j) std::swap(a[c][j], a[piv][j]);
    std::swap(b[c], b[piv]);
    if (a[c][c] == cplx(0.0, 0.0)) a[c][c] = cplx(1e-300, 0.0);
    for (int r = c + 1; r < 6; ++r) {
      const cplx f = a[r][c] / a[c][c];
      for (int j = c; j < 6; ++j) a[r][j] -= f * a[c][j];
      b[r] -= f * b[c];
    }
  }
  for (int r = 5; r >= 0; --r) {
    cplx s = b[r];
    for (int j = r + 1; j < 6; ++j) s -= a[r][j] * b[j];
    b[r] = s / a[r][r];
  }
}

// An eigenvector of m for the eigenvalue lambda by inverse iteration with
// a shift next to lambda.
void eigenvector(const double (&m)[6][6], cplx lambda, cplx (&v)[6]) {
  for (int i = 0; i < 6; ++i) v[i] = cplx(1.0 + 0.1 * i, 0.05 * i);
  const cplx shift = lambda * (1.0 + 1e-11);
  for (int it = 0; it < 3; ++it) {
    solve_shifted(m, shift, v);
    double norm = 0.0;
    for (const cplx& z : v) norm += std::norm(z);
    for (cplx& z : v) z /= std::sqrt(norm);
  }
}

// The real roots of t^3 + b t^2 + c t + d (three of them when the map is
// stable), by the trigonometric method; false when they are not real.
bool cubic_roots(double b, double c, double d, double (&t)[3]) {
  const double p = c - b * b / 3.0;
  const double q = 2.0 * b * b * b / 27.0 - b * c / 3.0 + d;
  if (!(p < 0.0)) return false;
  const double r = std::sqrt(-p / 3.0);
  const double arg = -q / (2.0 * r * r * r);
  if (!(std::fabs(arg) <= 1.0)) return false;
  const double th = std::acos(arg) / 3.0, pi = 4.0 * std::atan(1.0);
  for (int k = 0; k < 3; ++k) t[k] = 2.0 * r * std::cos(th - 2.0 * pi * k / 3.0) - b / 3.0;
  return true;
}

}  // namespace

bool normal_form6(const double (&m)[6][6], NormalForm6& nf, std::string& why) {
  nf = NormalForm6{};
  // The characteristic polynomial det(lambda I - M) = sum c_k lambda^(6-k)
  // (Faddeev-LeVerrier); a symplectic M has c6 = 1, c5 = c1, c4 = c2, and
  // t = lambda + 1/lambda = 2 cos mu solves t^3 + c1 t^2 + (c2 - 3) t +
  // (c3 - 2 c1) = 0.
  double c[7] = {1.0, 0, 0, 0, 0, 0, 0};
  double mk[6][6] = {};
  for (int k = 1; k <= 3; ++k) {
    double next[6][6];
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) {
        double s = 0.0;
        for (int l = 0; l < 6; ++l) s += m[i][l] * (mk[l][j] + (l == j ? c[k - 1] : 0.0));
        next[i][j] = s;
      }
    double tr = 0.0;
    for (int i = 0; i < 6; ++i) tr += next[i][i];
    c[k] = -tr / k;
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) mk[i][j] = next[i][j];
  }
  double t[3];
  if (!cubic_roots(c[1], c[2] - 3.0, c[3] - 2.0 * c[1], t)) {
    why = "the modes are not all stable (the traces 2 cos mu are not three real numbers)";
    return false;
  }
  const double pi = 4.0 * std::atan(1.0);
  cplx vec[3][6];
  double q[3], share[3][3];
  for (int k = 0; k < 3; ++k) {
    const double cm = t[k] / 2.0;
    if (!(std::fabs(cm) < 1.0)) {
      why = "a mode is unstable: its trace 2 cos mu = " + num(t[k]) + ", |2 cos mu| >= 2";
      return false;
    }
    cplx(&v)[6] = vec[k];
    eigenvector(m, cplx(cm, std::sqrt(1.0 - cm * cm)), v);
    // The symplectic norm g = 2 Im(sum v_2j* v_2j+1): the eigenvector of
    // g > 0 turns its mode clockwise by mu; otherwise its conjugate, by
    // 2 pi - mu (as the four-dimensional normal form).
    double g = 0.0;
    for (int j = 0; j < 6; j += 2) g += 2.0 * std::imag(std::conj(v[j]) * v[j + 1]);
    if (!(g != 0.0) || !std::isfinite(g)) {
      why = "the one-turn map has no normal form (an eigenvector of zero symplectic norm)";
      return false;
    }
    q[k] = g > 0.0 ? std::acos(cm) / (2.0 * pi) : 1.0 - std::acos(cm) / (2.0 * pi);
    const double scale = std::sqrt(2.0 / std::fabs(g));
    for (cplx& z : v) z = (g > 0.0 ? z : std::conj(z)) * scale;
    double total = 0.0;
    for (int p = 0; p < 3; ++p) {
      share[k][p] = std::norm(v[2 * p]) + std::norm(v[2 * p + 1]);
      total += share[k][p];
    }
    for (int p = 0; p < 3; ++p) share[k][p] /= total;
  }
  // The synchrotron mode: the most in z, delta; of the others the more
  // horizontal is mode 1.
  int order[3];
  order[2] = 0;
  for (int k = 1; k < 3; ++k)
    if (share[k][2] > share[order[2]][2]) order[2] = k;
  const int o1 = (order[2] + 1) % 3, o2 = (order[2] + 2) % 3;
  order[0] = share[o1][0] >= share[o2][0] ? o1 : o2;
  order[1] = order[0] == o1 ? o2 : o1;
  for (int mode = 0; mode < 3; ++mode) {
    nf.q[mode] = q[order[mode]];
    put_mode<6>(vec[order[mode]], mode, nf.a);
  }
  symplectic_inverse<6>(nf.a, nf.ainv);
  return true;
}

}  // namespace bbtrack
