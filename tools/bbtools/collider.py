"""The model collider: the example input set of the beam-beam tracker.

The ring is a two-ring hadron collider of 26.7 km with two high-luminosity
interaction points (IP1 and IP2, half a ring apart) and 25 ns bunch spacing.
The tracked beam is cut into 73 sections; section k runs from encounter point k
to point k + 1 (section 73 closes the ring at point 1, the observation point).

Layout of the 73 points (defaults; h = spacing / 2 = 3.74 m is the distance
between neighbouring encounters of a 25 ns train):

    point  1          IP1, head-on, crossing in the horizontal plane
    points 2 .. 24    long-range encounters right of IP1, s = +n h, n = 1 .. 23
    point  25         in the arc between IP1 and IP2; no encounter (the tracker
                      never kicks at point 25)
    points 26 .. 36   long-range encounters left of IP2, s = -n h, n = 11 .. 1
    point  37         IP2, head-on, crossing in the vertical plane
    points 38 .. 55   long-range encounters right of IP2, n = 1 .. 18
    points 56 .. 73   long-range encounters left of IP1, n = 18 .. 1

Because point 1 is IP1 and point 25 lies in the arc, the right side of IP1
takes 23 slots; the two outermost (points 23 and 24, 82 and 86 m from IP1)
lie where the beams already run in separate chambers and are listed in
"excluded.dat".  --ip2 moves IP2 (and so the arc boundaries).

Optics.  Both planes have beta* at both IPs and alpha* = 0.  Between an IP
and its long-range encounters the beam runs in a field-free drift, so at the
distance s from the IP

    beta(s) = beta* + s^2 / beta*,   alpha(s) = -s / beta*,
    mu(s)   = atan(s / beta*)        (phase advance from the IP).

The interaction-region sections are therefore written as exact drifts
[[1, L], [0, 1]], L = h.  The beam sizes grow without limit in a drift, while
in a real triplet they stop at a few thousand metres; the beam-beam kick in
normalised units depends only on the normalised separation, which is the same
in both (d / sigma -> thetac sqrt(beta* / emit), about 9.4 sigma here).

The arcs (sections 24 -> 25, 25 -> 26 and the one between the last encounter
right of IP2 and the first left of IP1) take the rest of the phase advance,
shared in proportion to their lengths, with the Twiss functions of point 25
given by --arc-betx / --arc-bety (alpha = 0).  Each arc section is built from
the Twiss functions and the phase advance dmu at its two ends,

    M = [[sqrt(b2/b1) (cos dmu + a1 sin dmu),  sqrt(b1 b2) sin dmu],
         [-((1 + a1 a2) sin dmu + (a2 - a1) cos dmu) / sqrt(b1 b2),
          sqrt(b1/b2) (cos dmu - a2 sin dmu)]],

uncoupled.  The phase advances of all sections add up to the total tunes
--qx / --qy.  The tracker derives the fractional tune as
1 - acos(trace / 2) / 2 pi, which cannot tell Q from 1 - Q; its beta comes out
positive only when the fractional tune lies above the half integer, hence
0.69 / 0.70 rather than their mirror images 0.31 / 0.30.  The two beams are
protons, so the opposing bunch repels: diff.input gives the bunch population
as a negative number (the tracker's kick attracts for a positive one), and
the tunes move down from 0.69 / 0.70, away from the third-order resonance
at 2/3.  The longitudinal
block is a rotation by 2 pi Qs / 73 per section with longitudinal beta
--beta-long (the printed longitudinal tune is 1 - Qs).

File units.  Positions are written in mm and angles in rad (z in mm, delta
without unit), so a file matrix is R_file(i,j) = R_SI(i,j) d_j / d_i with
d = (0.001, 1, 0.001, 1, 0.001, 1); the tracker undoes this on reading.

Opposing beam.  At every encounter the opposing bunch is a Gaussian with the
same beta functions as the tracked beam and normalised emittances
--opp-emitn-x (default: --emitn) and --opp-emitn-y (default: 0.8 times
--emitn, 3.0e-6 for the default --emitn: a slightly flat opposing beam, so
that the elliptical-beam kick is exercised),
so sigma = sqrt(beta emitn / gamma).  Its centre is separated from the reference orbit by thetac s in the
crossing plane of the IP (zero at the IPs, opposite signs on the two sides).
"Sigmas.dat" holds, per point except 25, the point number, sigma x, sigma y
and the horizontal and vertical position of the reference orbit relative to
the opposing centre, all in mm; the tracker stores minus 0.001 times the last
two as the opposing centre x0, y0 in metres.

Run parameters.  "diff.input" holds the beam, run and wire parameters below,
one value group per line with comment lines in between; xi, sstar and divstar
are derived unless given: xi = dnb rp / (4 pi emitn) with rp = 1.5e-18 m
(negative for the negative population of same-charge beams),
sstar = sqrt(beta* emit), divstar = sqrt(emit / beta*), emit = emitn / gamma.

Triplet errors.  "multdist.dat" holds, for the 16 quadrupoles of the four
interaction-region triplets (1-4 left of IP1, 5-8 right of IP1, 9-12 left of
IP2, 13-16 right of IP2, each in beam order), the skew and normal multipole
coefficients a_n, b_n of orders n = 1 .. 10 in units of 1e-4 of the main
field, drawn as mean + rms * gauss from a fixed seed; then the beta function
and the weight (relative magnetic length) of each magnet.
--triplet-errors multdist.dat also writes them as thin multipoles into
"multipoles.dat" (bbtools/triplet_errors.py; assumptions in docs/physics.md).

Wires (--wires npar or --wires side).  "wires.dat" gets one wire per side of
each IP (four), at that side's kicking long-range encounter of largest beta
function, on the opposing bunch's centre (the position written as minus the
offsets of "Sigmas.dat", which are the numbers the tracker's kick uses), of
length 1 m, with the compensating current: minus the current the tracker's
start-up wire evaluation prints for npar encounters (--wires npar), or for the
number of kicking encounters of the wire's side (--wires side).  The current
carries the sign of the bunch population dnb.  Without --wires no wire file
is written.

Every number is written with a fixed format (17 significant digits for the
optics), and the random numbers come from a fixed seed, so a rerun with the
same options reproduces the files byte for byte.

The options are those of bbtools.collider_options; tools/make_ring.py is
the command line.
"""

import math
import os
import random

from bbtools import classic_folder as cf
from bbtools import tfs
from bbtools.optics import twiss_block  # noqa: F401 (collider.twiss_block)
from bbtools.classic_folder import NPOINTS, NOENC, RP, e17


# Random r.m.s. and systematic parts of the triplet multipoles, n = 1 .. 10,
# units of 1e-4 of the main quadrupole field.  b6 and b10 are the allowed
# harmonics of a quadrupole and carry a systematic part.
MULT_RMS_A = [1.0, 4.0, 0.8, 0.6, 0.3, 0.3, 0.1, 0.06, 0.04, 0.03]
MULT_RMS_B = [1.0, 5.0, 0.8, 0.6, 0.4, 0.8, 0.15, 0.1, 0.06, 0.05]
MULT_MEAN_B = [0.0, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, -0.1]
# Per triplet, from the IP outwards (Q1, Q2a, Q2b, Q3): the larger beta [m]
# and the magnetic length relative to Q1.
TRIPLET_BETAS = [1350.0, 3600.0, 4450.0, 3850.0]
TRIPLET_WEIGHTS = [1.0, 0.86, 0.86, 1.0]
# Vertical over horizontal normalised emittance of the opposing beam by
# default: 3.0e-6 / 3.75e-6, a slightly flat bunch.
OPP_FLATNESS = 0.8


# ---------------------------------------------------------------- layout

class Point:
    """One of the 73 points: kind 'ip', 'lr' or 'arc', the IP it belongs to,
    its distance s from that IP [m] (negative before the IP) and the Twiss
    functions (betx, alfx, bety, alfy)."""

    def __init__(self, number, kind, ip=0, n=0, s=0.0):
        self.number, self.kind, self.ip, self.n, self.s = number, kind, ip, n, s
        self.twiss = None


def layout(args):
    h = 0.5 * args.spacing
    nright2 = (NPOINTS - args.ip2 + 1) // 2       # long-range slots right of IP2
    pts = []
    for p in range(1, NPOINTS + 1):
        if p == 1:
            pts.append(Point(p, "ip", 1))
        elif p < NOENC:
            pts.append(Point(p, "lr", 1, p - 1, (p - 1) * h))
        elif p == NOENC:
            pts.append(Point(p, "arc"))
        elif p < args.ip2:
            pts.append(Point(p, "lr", 2, args.ip2 - p, -(args.ip2 - p) * h))
        elif p == args.ip2:
            pts.append(Point(p, "ip", 2))
        elif p <= args.ip2 + nright2:
            pts.append(Point(p, "lr", 2, p - args.ip2, (p - args.ip2) * h))
        else:
            pts.append(Point(p, "lr", 1, NPOINTS + 1 - p,
                             -(NPOINTS + 1 - p) * h))
    bs = args.betastar
    for pt in pts:
        if pt.kind == "arc":
            pt.twiss = (args.arc_betx, 0.0, args.arc_bety, 0.0)
        else:
            b, al = bs + pt.s * pt.s / bs, -pt.s / bs
            pt.twiss = (b, al, b, al)
    return pts


def is_drift(p1, p2):
    return p1.kind != "arc" and p2.kind != "arc" and p1.ip == p2.ip


def phase_advances(args, pts):
    """Phase advance [rad] of each section, x and y: drift values in the
    interaction regions, the rest shared by the arcs by length."""
    bs = args.betastar
    h = 0.5 * args.spacing
    dmu = [None] * NPOINTS
    arc_len = {}
    drift_sum = 0.0
    for k in range(NPOINTS):
        p1, p2 = pts[k], pts[(k + 1) % NPOINTS]
        if is_drift(p1, p2):
            d = math.atan(p2.s / bs) - math.atan(p1.s / bs)
            dmu[k] = d
            drift_sum += d
    # Half a ring from IP to IP; the arc between IP1 and IP2 is split in
    # halves at point 25.
    half = 0.5 * args.circumference
    right1 = max(p.n for p in pts if p.ip == 1 and p.s > 0)
    left2 = max(p.n for p in pts if p.ip == 2 and p.s < 0)
    right2 = max(p.n for p in pts if p.ip == 2 and p.s > 0)
    left1 = max(p.n for p in pts if p.ip == 1 and p.s < 0)
    len_a = half - (right1 + left2) * h
    len_b = half - (right2 + left1) * h
    for k in range(NPOINTS):
        if dmu[k] is None:
            p1, p2 = pts[k], pts[(k + 1) % NPOINTS]
            arc_len[k] = len_b if p1.ip == 2 and p2.ip == 1 else 0.5 * len_a
    total_len = sum(arc_len.values())
    res = []
    for q in (args.qx, args.qy):
        rest = 2.0 * math.pi * q - drift_sum
        res.append([dmu[k] if dmu[k] is not None
                    else rest * arc_len[k] / total_len
                    for k in range(NPOINTS)])
    return res


def section_matrices(args, pts):
    """The 73 section matrices in SI units (m, rad)."""
    dmux, dmuy = phase_advances(args, pts)
    phz = 2.0 * math.pi * args.qs / NPOINTS
    bz = args.beta_long
    h = 0.5 * args.spacing
    lz = [[math.cos(phz), bz * math.sin(phz)],
          [-math.sin(phz) / bz, math.cos(phz)]]
    mats = []
    for k in range(NPOINTS):
        p1, p2 = pts[k], pts[(k + 1) % NPOINTS]
        if is_drift(p1, p2):
            # Neighbouring slots are one step apart; h itself avoids the
            # rounding of a difference of positions.
            length = h * round((p2.s - p1.s) / h)
            mx = my = [[1.0, length], [0.0, 1.0]]
        else:
            bx1, ax1, by1, ay1 = p1.twiss
            bx2, ax2, by2, ay2 = p2.twiss
            mx = twiss_block(bx1, ax1, bx2, ax2, dmux[k])
            my = twiss_block(by1, ay1, by2, ay2, dmuy[k])
        m = [[0.0] * 6 for _ in range(6)]
        for blk, o in ((mx, 0), (my, 2), (lz, 4)):
            for i in range(2):
                for j in range(2):
                    m[o + i][o + j] = blk[i][j]
        mats.append(m)
    return mats


def write_sigmas(path, args, pts):
    emx = args.opp_emitn_x / args.gamma
    emy = args.opp_emitn_y / args.gamma
    with open(path, "w", newline="\n") as f:
        for pt in pts:
            if pt.kind == "arc":
                continue
            bx, _, by, _ = pt.twiss
            plane = args.crossing1 if pt.ip == 1 else args.crossing2
            # Reference orbit relative to the opposing centre [mm]; the two
            # beams cross at the IP under the full angle thetac.
            sep = 1000.0 * args.thetac * pt.s
            x0, y0 = (sep, 0.0) if plane == "x" else (0.0, sep)
            f.write("%2d %s %s %s %s\n" % (
                pt.number, e17(1000.0 * math.sqrt(bx * emx)),
                e17(1000.0 * math.sqrt(by * emy)), e17(x0), e17(y0)))


# Single-precision literals of the tracker's wire evaluation, widened.
MU0_SCALE = 1.0000000116860974e-07   # 1e-7
RIGIDITY = 3.3559999465942383        # 3.356: Brho = 3.356 * 0.938 * gamma T m
PROTON_MASS = 0.9380000233650208     # 0.938


def wire_current(dnb, n, length=1.0):
    """The current the tracker's wire evaluation prints for n encounters
    (same operations, same order)."""
    pi = 4.0 * math.atan(1.0)
    mu0 = 4.0 * pi * MU0_SCALE
    return 2.0 * RP * dnb * n * 2.0 * pi * RIGIDITY * PROTON_MASS / (mu0 * length)


def wire_sites(args, pts):
    """Per side of each IP (IP1 right, IP2 left, IP2 right, IP1 left, in
    point order): (point of largest beta, number of kicking encounters)."""
    sides = {}
    for pt in pts:
        if pt.kind == "lr" and pt.number not in args.excluded:
            sides.setdefault((pt.ip, pt.s > 0), []).append(pt)
    out = []
    for group in sides.values():
        best = max(group, key=lambda q: (q.twiss[0], q.twiss[2]))
        out.append((best, len(group)))
    return sorted(out, key=lambda t: t[0].number)


def write_wires(path, args, pts):
    with open(path, "w", newline="\n") as f:
        for pt, count in wire_sites(args, pts):
            plane = args.crossing1 if pt.ip == 1 else args.crossing2
            sep = 1000.0 * args.thetac * pt.s
            x0, y0 = (sep, 0.0) if plane == "x" else (0.0, sep)
            n = args.npar if args.wires == "npar" else count
            f.write("%2d %s %s %s %s\n" % (pt.number, e17(-x0), e17(-y0),
                                          repr(-wire_current(args.dnb, n)), "1.0"))


def gauss(rng):
    """Standard normal deviate by the Box-Muller transform.  random() is the
    one part of the random module whose sequence Python keeps stable."""
    u1 = 1.0 - rng.random()
    u2 = rng.random()
    return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def write_multdist(path, args):
    rng = random.Random(args.mult_seed)

    def f4(x):
        t = "%10.4f" % x
        return t.replace("-0.0000", " 0.0000")      # no negative zeros

    betas, weights = [], []
    # Triplets left of an IP are passed in the order Q3 .. Q1.
    for side in ("left", "right", "left", "right"):
        order = [3, 2, 1, 0] if side == "left" else [0, 1, 2, 3]
        betas += [args.triplet_betas[i] for i in order]
        weights += [args.triplet_weights[i] for i in order]
    with open(path, "w", newline="\n") as f:
        for _magnet in range(16):
            for n in range(10):
                a = args.mult_rms_a[n] * gauss(rng)
                b = args.mult_mean_b[n] + args.mult_rms_b[n] * gauss(rng)
                f.write("%s %s\n" % (f4(a), f4(b)))
        for b in betas:
            f.write("%.1f\n" % b)
        for w in weights:
            f.write("%.4f\n" % w)


def generate(args):
    os.makedirs(args.out, exist_ok=True)
    pts = layout(args)
    cf.write_matrices(os.path.join(args.out, "Matrices.dat"),
                      section_matrices(args, pts))
    write_sigmas(os.path.join(args.out, "Sigmas.dat"), args, pts)
    cf.write_excluded(os.path.join(args.out, "excluded.dat"), args.excluded)
    cf.write_diff_input(os.path.join(args.out, "diff.input"), args)
    write_multdist(os.path.join(args.out, "multdist.dat"), args)
    if args.wires != "none":
        write_wires(os.path.join(args.out, "wires.dat"), args, pts)
    return pts


def write_model(paths, args, pts, dmux, dmuy):
    """The model collider's 73 points as Twiss tables of the tracked beam and,
    if a second path is given, of the opposing beam (in the tracked beam's
    frame: the same optics, the orbit of opposite sign, its own emittances):
    crossing orbit of half the crossing angle (X, Y and the slopes PX, PY),
    point 25 as the marker NOBB."""
    h = 0.5 * args.spacing
    c = args.circumference
    right1 = max(p.n for p in pts if p.ip == 1 and p.s > 0)
    left2 = max(p.n for p in pts if p.ip == 2 and p.s < 0)
    s_arc = right1 * h + 0.5 * (0.5 * c - (right1 + left2) * h)
    rows, mux, muy = [], 0.0, 0.0
    for k, pt in enumerate(pts):
        if pt.kind == "arc":
            name, s, x, y, px, py = "NOBB", s_arc, 0.0, 0.0, 0.0, 0.0
        else:
            if pt.kind == "ip":
                name = "IP%d" % pt.ip
            else:
                name = "BB%s%d.%02d" % ("R" if pt.s > 0 else "L", pt.ip, pt.n)
            s = pt.s + (0.0 if pt.ip == 1 and pt.s >= 0 else
                        0.5 * c if pt.ip == 2 else c)
            plane = args.crossing1 if pt.ip == 1 else args.crossing2
            half = 0.5 * args.thetac
            x, y = (half * pt.s, 0.0) if plane == "x" else (0.0, half * pt.s)
            px, py = (half, 0.0) if plane == "x" else (0.0, half)
        bx, ax, by, ay = pt.twiss
        rows.append(["%s" % name, "MARKER", s, bx, ax, mux / (2.0 * math.pi),
                     by, ay, muy / (2.0 * math.pi), x, y, px, py])
        mux += dmux[k]
        muy += dmuy[k]
    cols = [("NAME", "%s"), ("KEYWORD", "%s")] + [
        (n, "%le") for n in ("S", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY",
                             "X", "Y", "PX", "PY")]
    beams = [(args.emitn, args.emitn, rows)]
    if len(paths) > 1:
        beams.append((args.opp_emitn_x, args.opp_emitn_y,
                      [r[:9] + [-v for v in r[9:]] for r in rows]))
    # the opposing beam's particle: the same charge for a negative dnb
    particles = ("PROTON", "PROTON" if args.dnb < 0 else "ANTIPROTON")
    for path, (enx, eny, beam), particle in zip(paths[:2], beams, particles):
        header = [("NAME", "TWISS"), ("TYPE", "TWISS"), ("PARTICLE", particle),
                  ("GAMMA", args.gamma), ("NPART", abs(args.dnb)),
                  ("EX", enx / args.gamma), ("EY", eny / args.gamma),
                  ("LENGTH", c), ("Q1", args.qx), ("Q2", args.qy)]
        tfs.write(path, header, cols, beam)
