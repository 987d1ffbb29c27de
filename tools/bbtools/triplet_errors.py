"""The triplets' field errors as thin multipoles: "multdist.dat" to
"multipoles.dat" (``make_ring.py --triplet-errors``; docs/physics.md,
"The triplets' field errors").

"multdist.dat" holds, per magnet j = 1 .. 16 (1-4 left of IP1, 5-8 right of
IP1, 9-12 left of IP2, 13-16 right of IP2, each side in beam order: Q3 Q2b
Q2a Q1 on the left, Q1 Q2a Q2b Q3 on the right) and order n = 1 .. 10, the
skew and normal coefficients a_n, b_n in units of 1e-4 of the main
(quadrupole) field at the reference radius, with n counted from the dipole
(n = 2 the quadrupole, n = 6 and 10 its allowed harmonics); then the beta
function and the weight (magnetic length relative to Q1) of each magnet.

The field of magnet j is  B_y + i B_x = B_2(R) sum_n 1e-4 (b_n + i a_n)
(z / R)^(n-1),  so with m = n - 1 and its integrated gradient K1L_j its
thin-multipole strengths in the tracker's convention are

    K_mL + i J_mL = 1e-4 (b_n + i a_n) m! K1L_j R^(1-m).

Orders n = 1 (dipole: the orbit correction keeps the closed orbit) and
n = 2 (gradient: the optics and tune correction) are left out. Each kick
is placed at the long-range point of the magnet's side of the IP whose beta
function is nearest the magnet's, and scaled to it so that it acts on the
normalised coordinates as at the magnet: times (beta_j / beta_point)^((m+1)/2).
"""

import math

__all__ = ["read_multdist", "point_betas", "magnet_points", "multipole_records",
           "write_multipoles", "add_arguments", "write_for_ring", "BRHO_PER_GAMMA"]

NPOINTS = 73
MAGNETS = 16
ORDERS = 10
# B rho = 3.356 * 0.938 * gamma T m: the rigidity of the tracker's wire
# evaluation (momentum in GeV/c = 0.938 gamma, 3.356 T m per GeV/c).
BRHO_PER_GAMMA = 3.356 * 0.938
# Main quadrupoles of the model's triplets: a high-luminosity inner triplet
# of 70 mm aperture, 205 T/m, Q1 and Q3 6.37 m long (Q2a, Q2b by their
# weights, 0.86), errors given at the reference radius of 17 mm.
GRADIENT = 205.0        # T/m
Q1_LENGTH = 6.37        # m
REF_RADIUS = 0.017      # m
# Polarity of Q1 Q2a Q2b Q3 right of an IP (+1 focusing horizontally); the
# triplet left of the IP is antisymmetric (all signs reversed).
RIGHT_POLARITY = (1, -1, -1, 1)
# (IP, side) of the magnets 1-4, 5-8, 9-12, 13-16.
GROUPS = ((1, "left"), (1, "right"), (2, "left"), (2, "right"))


def _numbers(line):
    return [float(t.replace("d", "e").replace("D", "e"))
            for t in line.replace(",", " ").split()]


def read_multdist(path):
    """(a, b, beta, weight): a[j][n-1], b[j][n-1] for magnet j (from 0)."""
    with open(path) as fh:
        recs = [_numbers(ln) for ln in fh if ln.strip()]
    need = MAGNETS * ORDERS + 2 * MAGNETS
    if len(recs) < need:
        raise ValueError("%s: %d records, %d needed" % (path, len(recs), need))
    a = [[recs[j * ORDERS + n][0] for n in range(ORDERS)] for j in range(MAGNETS)]
    b = [[recs[j * ORDERS + n][1] for n in range(ORDERS)] for j in range(MAGNETS)]
    off = MAGNETS * ORDERS
    beta = [recs[off + j][0] for j in range(MAGNETS)]
    weight = [recs[off + MAGNETS + j][0] for j in range(MAGNETS)]
    return a, b, beta, weight


def point_betas(matrices_path):
    """(betx, bety) at points 1 .. 73 as the tracker derives them: the
    one-turn matrix's Twiss functions at point 1, carried through the
    sections of "Matrices.dat" (file units: positions in mm)."""
    with open(matrices_path) as fh:
        lines = [ln for ln in fh.read().split("\n")]
    mats = []
    for k in range(NPOINTS):
        rows = [_numbers(lines[7 * k + 1 + i])[:6] for i in range(6)]
        scale = (0.001, 1.0, 0.001, 1.0)
        mats.append([[rows[i][j] * scale[i] / scale[j] for j in range(4)] for i in range(4)])

    def plane(o):
        m = [[1.0, 0.0], [0.0, 1.0]]
        cum = [m]
        for t in mats:
            r = [[t[o + i][o + j] for j in range(2)] for i in range(2)]
            m = [[sum(r[i][l] * m[l][j] for l in range(2)) for j in range(2)] for i in range(2)]
            cum.append(m)
        mu = 2.0 * math.pi * (1.0 - math.acos((m[0][0] + m[1][1]) / 2.0) / (2.0 * math.pi))
        b0 = m[0][1] / math.sin(mu)
        a0 = (m[0][0] - math.cos(mu)) / math.sin(mu)
        g0 = (1.0 + a0 * a0) / b0
        return [c[0][0] ** 2 * b0 - 2.0 * c[0][0] * c[0][1] * a0 + c[0][1] ** 2 * g0
                for c in cum[:NPOINTS]]

    return list(zip(plane(0), plane(2)))


def magnet_points(sides, betas, beta):
    """Point of each magnet: on its side (sides[(ip, side)] lists the side's
    long-range points), the one whose beta sqrt(betx bety) is nearest the
    magnet's."""
    out = []
    for j in range(MAGNETS):
        cands = sides[GROUPS[j // 4]]
        out.append(min(cands, key=lambda k: abs(math.sqrt(betas[k - 1][0] * betas[k - 1][1])
                                                - beta[j])))
    return out


def multipole_records(a, b, beta, weight, points, betas, k1l_q1, ref_radius=REF_RADIUS):
    """Records (k, m, K_mL, J_mL) of orders m = 2 .. 9 for the 16 magnets."""
    recs = []
    for j in range(MAGNETS):
        left = GROUPS[j // 4][1] == "left"
        q = 3 - j % 4 if left else j % 4          # 0 Q1 .. 3 Q3
        pol = RIGHT_POLARITY[q] * (-1 if left else 1)
        k1l = pol * weight[j] * k1l_q1
        k = points[j]
        bp = math.sqrt(betas[k - 1][0] * betas[k - 1][1])
        for n in range(3, ORDERS + 1):
            m = n - 1
            f = 1e-4 * math.factorial(m) * k1l * ref_radius ** (1 - m)
            f *= (beta[j] / bp) ** ((m + 1) / 2.0)
            recs.append((k, m, f * b[j][n - 1], f * a[j][n - 1]))
    return recs


def write_multipoles(path, recs, header=()):
    with open(path, "w", newline="\n") as fh:
        for h in header:
            fh.write("# %s\n" % h)
        for k, m, kn, sn in recs:
            fh.write("%d %d %.17e %.17e\n" % (k, m, kn, sn))


def add_arguments(group):
    """The options of the conversion, for make_ring.py."""
    group.add_argument("--triplet-errors", metavar="MULTDIST", default=None,
                       help="write multipoles.dat from this multdist.dat (a relative "
                            "name is taken in --out, after the files are written)")
    group.add_argument("--triplet-gradient", type=float, default=GRADIENT,
                       help="gradient of the triplet quadrupoles [T/m]")
    group.add_argument("--triplet-length", type=float, default=Q1_LENGTH,
                       help="magnetic length of a magnet of weight 1 (Q1) [m]")
    group.add_argument("--ref-radius", type=float, default=REF_RADIUS,
                       help="reference radius of the errors [m]")


def write_for_ring(args, pts):
    """multipoles.dat in args.out from args.triplet_errors, the model's layout
    pts (kind, ip, s of every point) and its Matrices.dat."""
    import os
    src = args.triplet_errors
    if not os.path.isabs(src):
        src = os.path.join(args.out, src)
    a, b, beta, weight = read_multdist(src)
    betas = point_betas(os.path.join(args.out, "Matrices.dat"))
    sides = {}
    for p in pts:
        if p.kind == "lr":
            sides.setdefault((p.ip, "left" if p.s < 0 else "right"), []).append(p.number)
    points = magnet_points(sides, betas, beta)
    k1l = args.triplet_gradient * args.triplet_length / (BRHO_PER_GAMMA * args.gamma)
    recs = multipole_records(a, b, beta, weight, points, betas, k1l, args.ref_radius)
    write_multipoles(os.path.join(args.out, "multipoles.dat"), recs, header=(
        "k m K_mL J_mL: the triplet errors of %s (make_ring.py --triplet-errors)"
        % args.triplet_errors,
        "K1L(Q1) = %.6g 1/m, reference radius %g m, magnets at points %s"
        % (k1l, args.ref_radius, " ".join(str(k) for k in points))))
    return points
