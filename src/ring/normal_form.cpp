#include "ring/normal_form.h"

#include <cmath>
#include <complex>

#include "ring/symplectic.h"
#include "run/messages.h"

namespace bbtrack {
namespace {

using cplx = std::complex<double>;

const char* const kMode[2] = {"mode 1 (horizontal)", "mode 2 (vertical)"};

std::string unstable(int mode, double trace) {
  return std::string(kMode[mode]) + " is unstable: its trace 2 cos mu = " + num(trace) +
         ", |2 cos mu| >= 2";
}

// One uncoupled plane (rows and columns p, p + 1) as the classic ring's
// optics computes it: Q = acos(c)/2pi, or 1 - acos(c)/2pi when M12 < 0
// (sin mu < 0), beta = M12 / sin mu, alpha = (M11 - cos mu) / sin mu.
bool plane(const double (&m)[4][4], int p, double& q, double& beta, double& alfa,
           std::string& why) {
  const double trace = m[p][p] + m[p + 1][p + 1];
  const double c = trace / 2.0;
  if (!(std::fabs(c) < 1.0)) {
    why = unstable(p / 2, trace);
    return false;
  }
  const double pi = 4.0 * std::atan(1.0);
  q = m[p][p + 1] < 0.0 ? 1.0 - std::acos(c) / (2.0 * pi) : std::acos(c) / (2.0 * pi);
  const double mu = 2.0 * pi * q;
  beta = m[p][p + 1] / std::sin(mu);
  alfa = (m[p][p] - std::cos(mu)) / std::sin(mu);
  if (!(beta > 0.0) || !std::isfinite(alfa)) {
    why = std::string(kMode[p / 2]) + ": the map is not symplectic (beta = " + num(beta) + ")";
    return false;
  }
  return true;
}

cplx det3(const cplx (&b)[4][4], int skip_row, int skip_col) {
  int r[3], c[3];
  for (int i = 0, n = 0; i < 4; ++i)
    if (i != skip_row) r[n++] = i;
  for (int j = 0, n = 0; j < 4; ++j)
    if (j != skip_col) c[n++] = j;
  auto e = [&](int i, int j) { return b[r[i]][c[j]]; };
  return e(0, 0) * (e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1)) -
         e(0, 1) * (e(1, 0) * e(2, 2) - e(1, 2) * e(2, 0)) +
         e(0, 2) * (e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0));
}

// An eigenvector of m for the eigenvalue lambda: the largest column of the
// adjugate of m - lambda I, whose columns are its null vectors.
void eigenvector(const double (&m)[4][4], cplx lambda, cplx (&v)[4]) {
  cplx b[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) b[i][j] = m[i][j] - (i == j ? lambda : cplx(0.0, 0.0));
  double best = -1.0;
  for (int j = 0; j < 4; ++j) {  // column j of adj(B) = the cofactors of row j
    cplx col[4];
    double norm = 0.0;
    for (int i = 0; i < 4; ++i) {
      col[i] = ((i + j) % 2 == 0 ? 1.0 : -1.0) * det3(b, j, i);
      norm += std::norm(col[i]);
    }
    if (norm > best) {
      best = norm;
      for (int i = 0; i < 4; ++i) v[i] = col[i];
    }
  }
}

}  // namespace

bool normal_form(const double (&m)[4][4], NormalForm& nf, std::string& why) {
  nf = NormalForm{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (i / 2 != j / 2 && m[i][j] != 0.0) nf.coupled = true;
  if (!nf.coupled) {
    if (!plane(m, 0, nf.q1, nf.betx, nf.alfx, why) || !plane(m, 2, nf.q2, nf.bety, nf.alfy, why))
      return false;
    const double bx = std::sqrt(nf.betx), by = std::sqrt(nf.bety);
    nf.a[0][0] = bx;
    nf.a[1][0] = -nf.alfx / bx;
    nf.a[1][1] = 1.0 / bx;
    nf.a[2][2] = by;
    nf.a[3][2] = -nf.alfy / by;
    nf.a[3][3] = 1.0 / by;
    nf.ainv[0][0] = 1.0 / bx;
    nf.ainv[1][0] = nf.alfx / bx;
    nf.ainv[1][1] = bx;
    nf.ainv[2][2] = 1.0 / by;
    nf.ainv[3][2] = nf.alfy / by;
    nf.ainv[3][3] = by;
    return true;
  }
  // The eigenvalues come as lambda, 1/lambda: t = lambda + 1/lambda =
  // 2 cos mu solves t^2 - (tr M) t + (e2 - 2) = 0, e2 the sum of the
  // principal 2x2 minors.
  const double tr = m[0][0] + m[1][1] + m[2][2] + m[3][3];
  double e2 = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) e2 += m[i][i] * m[j][j] - m[i][j] * m[j][i];
  const double disc = tr * tr - 4.0 * (e2 - 2.0);
  if (!(disc > 0.0)) {
    why = "the modes are unstable (coupling resonance): 2 cos mu of the two modes are " +
          std::string(disc < 0.0 ? "complex" : "equal") + " (tr M = " + num(tr) + ")";
    return false;
  }
  const double big = (tr + std::copysign(std::sqrt(disc), tr)) / 2.0;
  const double t[2] = {big, big != 0.0 ? (e2 - 2.0) / big : -big};
  const double pi = 4.0 * std::atan(1.0);
  cplx vec[2][4];
  double q[2], hx[2];
  for (int k = 0; k < 2; ++k) {
    const double c = t[k] / 2.0;
    if (!(std::fabs(c) < 1.0)) {
      why = unstable(k, t[k]);
      return false;
    }
    cplx(&v)[4] = vec[k];
    eigenvector(m, cplx(c, std::sqrt(1.0 - c * c)), v);
    // The symplectic product v^H S v = 2i g/2, g = 2 Im(v0* v1 + v2* v3):
    // the eigenvector with g > 0 turns its mode's normalised coordinates
    // clockwise by mu = acos(c); otherwise its conjugate, by 2 pi - mu.
    const double g = 2.0 * std::imag(std::conj(v[0]) * v[1] + std::conj(v[2]) * v[3]);
    if (!(g != 0.0) || !std::isfinite(g)) {
      why = "the one-turn map has no normal form (an eigenvector of zero symplectic norm)";
      return false;
    }
    q[k] = g > 0.0 ? std::acos(c) / (2.0 * pi) : 1.0 - std::acos(c) / (2.0 * pi);
    const double scale = std::sqrt(2.0 / std::fabs(g));
    for (cplx& z : v) z = (g > 0.0 ? z : std::conj(z)) * scale;
    hx[k] = std::norm(v[0]) + std::norm(v[1]);
    hx[k] /= hx[k] + std::norm(v[2]) + std::norm(v[3]);
  }
  const int first = hx[0] >= hx[1] ? 0 : 1;  // mode 1: the more horizontal
  nf.q1 = q[first];
  nf.q2 = q[1 - first];
  for (int mode = 0; mode < 2; ++mode) {
    put_mode<4>(vec[mode == 0 ? first : 1 - first], mode, nf.a);
  }
  symplectic_inverse<4>(nf.a, nf.ainv);
  return true;
}

}  // namespace bbtrack
