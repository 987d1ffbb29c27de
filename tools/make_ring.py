#!/usr/bin/env python3
"""Write the example input set of the beam-beam tracker: a model collider.

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

Usage:
    python3 tools/make_ring.py --out DIR --check
    python3 tools/make_ring.py --force         # rewrites examples/ring/
"""

import argparse
import math
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bbtools import params  # noqa: E402  (the layout of diff.input)
from bbtools import triplet_errors  # noqa: E402  (multipoles.dat from multdist.dat)
from bbtools import lattice  # noqa: E402  (Twiss tables)

NPOINTS = 73       # sections (and encounter points) of the tracker
NOENC = 25         # the point without an encounter
RP = 1.5e-18       # classical proton radius used by the tracker [m]
# Scale of the file units: positions in mm, angles in rad.
UNIT = (0.001, 1.0, 0.001, 1.0, 0.001, 1.0)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_OUT = os.path.join(REPO, "examples", "ring")

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

# Values that must be above zero, and those that must not be negative.
POSITIVE = ("betastar", "arc_betx", "arc_bety", "beta_long", "opp_emitn_x",
            "opp_emitn_y", "circumference", "spacing", "emitn", "gamma", "sstar",
            "divstar", "wlength", "wbetax", "wbetay", "triplet_betas",
            "triplet_weights", "ntrack", "npart")
NOT_NEGATIVE = ("thetac", "npar", "wdist", "mult_rms_a", "mult_rms_b")


# ---------------------------------------------------------------- options

def parse_args(argv=None):
    p = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    a = p.add_argument
    a("--out", default=DEFAULT_OUT, help="output folder")
    a("--force", action="store_true",
      help="write into an output folder that already holds files")
    a("--check", action="store_true",
      help="read the written files back and verify the optics")

    g = p.add_argument_group("ring and optics")
    g.add_argument("--ip2", type=int, default=37,
                   help="point number of IP2 (27 .. 71)")
    g.add_argument("--qx", type=float, default=64.69,
                   help="total horizontal tune (fractional part above 0.5)")
    g.add_argument("--qy", type=float, default=59.70,
                   help="total vertical tune (fractional part above 0.5)")
    g.add_argument("--qs", type=float, default=0.0019,
                   help="synchrotron tune")
    g.add_argument("--beta-long", type=float, default=668.0,
                   help="longitudinal beta sigma_z / sigma_delta [m]")
    g.add_argument("--betastar", type=float, default=0.55,
                   help="beta* at both IPs, both planes [m]")
    g.add_argument("--arc-betx", type=float, default=177.0,
                   help="horizontal beta at point 25 in the arc [m]")
    g.add_argument("--arc-bety", type=float, default=32.0,
                   help="vertical beta at point 25 in the arc [m]")
    g.add_argument("--crossing1", choices="xy", default="x",
                   help="crossing plane of IP1")
    g.add_argument("--crossing2", choices="xy", default="y",
                   help="crossing plane of IP2")
    g.add_argument("--opp-emitn-x", type=float, default=None,
                   help="normalised horizontal emittance of the opposing "
                        "beam [m rad] (default: --emitn)")
    g.add_argument("--opp-emitn-y", type=float, default=None,
                   help="normalised vertical emittance of the opposing "
                        "beam [m rad] (default: %g x --emitn, 3.0e-6 for the "
                        "default --emitn: slightly flat opposing bunches, whose "
                        "kick is the elliptical one)" % OPP_FLATNESS)
    g.add_argument("--excluded", type=int, nargs="*", default=[23, 24],
                   help="encounter points the tracker skips")

    g = p.add_argument_group("run parameters (diff.input)")
    g.add_argument("--amp", type=float, default=6.0,
                   help="amplitude parameter [sigma]; a diffusion run starts "
                        "at amp / 2 in both planes")
    g.add_argument("--iopt", type=int, default=0,
                   help="0 diffusion, 1 phase space, 2 turn by turn, "
                        "3 tune footprint")
    g.add_argument("--itrip", type=int, default=1,
                   help="1 reads and summarises multdist.dat")
    g.add_argument("--ichoice", type=int, default=1, help="choice number")
    g.add_argument("--ntrack", type=int, default=10000,
                   help="number of turns")
    g.add_argument("--npart", type=int, default=169,
                   help="number of particles (the tracker sets its own)")
    g.add_argument("--circumference", type=float, default=26658.883,
                   help="ring circumference [m]")
    g.add_argument("--dnb", type=float, default=-1.15e11,
                   help="bunch population of the opposing beam; negative for "
                        "beams of the same charge (two proton beams), positive "
                        "for opposite charges (write it as --dnb=-1.15e11)")
    g.add_argument("--spacing", type=float, default=7.48,
                   help="bunch spacing [m] (25 ns)")
    g.add_argument("--emitn", type=float, default=3.75e-6,
                   help="normalised emittance [m rad]")
    g.add_argument("--gamma", type=float, default=7460.52,
                   help="Lorentz factor (7 TeV protons)")
    g.add_argument("--xi", type=float, default=None,
                   help="beam-beam parameter per IP (default: derived)")
    g.add_argument("--sstar", type=float, default=None,
                   help="r.m.s. beam size at the IP [m] (default: derived)")
    g.add_argument("--divstar", type=float, default=None,
                   help="r.m.s. divergence at the IP [rad] (default: derived)")
    g.add_argument("--thetac", type=float, default=285e-6,
                   help="full crossing angle [rad]")
    g.add_argument("--npar", type=int, default=16,
                   help="long-range encounters compensated by the wire")
    g.add_argument("--dpm", type=float, nargs=2, default=[0.0, 0.0],
                   metavar=("DPXM", "DPYM"), help="tune modulation depths")
    g.add_argument("--fmod", type=float, nargs=2, default=[0.0, 0.0],
                   metavar=("FX", "FY"), help="tune modulation frequencies")
    g.add_argument("--iwire", type=int, default=1,
                   help="1 evaluates the wire compensator")
    g.add_argument("--wire-errors", type=float, nargs=3,
                   default=[0.0, 0.0, 0.0],
                   metavar=("STRENGTH", "ANGLE", "RANDOM"),
                   help="wire strength error [%%], angle error [mrad], "
                        "random error")
    g.add_argument("--disterr", type=float, default=0.0,
                   help="wire distance error [%%]")
    g.add_argument("--iwswitch", type=int, default=0, help="wire switch")
    g.add_argument("--wcurrent", type=float, default=80.0,
                   help="wire current [A]")
    g.add_argument("--wlength", type=float, default=1.0,
                   help="wire length [m]")
    g.add_argument("--wdist", type=float, default=9.5,
                   help="wire distance from the beam [sigma]")
    g.add_argument("--wbetax", type=float, default=1000.0,
                   help="horizontal beta at the wire [m]")
    g.add_argument("--wbetay", type=float, default=1000.0,
                   help="vertical beta at the wire [m]")
    g.add_argument("--wires", choices=("none", "npar", "side"), default="none",
                   help="write wires.dat: a compensating wire per side of each "
                        "IP, for npar encounters or for that side's count")

    g = p.add_argument_group("triplet errors (multdist.dat)")
    g.add_argument("--mult-seed", type=int, default=1973,
                   help="seed of the multipole errors")
    g.add_argument("--mult-rms-a", type=float, nargs=10, default=MULT_RMS_A, metavar="A",
                   help="r.m.s. of a_1 .. a_10 [1e-4]")
    g.add_argument("--mult-rms-b", type=float, nargs=10, default=MULT_RMS_B, metavar="B",
                   help="r.m.s. of b_1 .. b_10 [1e-4]")
    g.add_argument("--mult-mean-b", type=float, nargs=10,
                   default=MULT_MEAN_B, metavar="B",
                   help="systematic b_1 .. b_10 [1e-4]")
    g.add_argument("--triplet-betas", type=float, nargs=4,
                   default=TRIPLET_BETAS, metavar="BETA",
                   help="beta of Q1, Q2a, Q2b, Q3 [m]")
    g.add_argument("--triplet-weights", type=float, nargs=4,
                   default=TRIPLET_WEIGHTS, metavar="W",
                   help="weights of Q1, Q2a, Q2b, Q3")
    triplet_errors.add_arguments(g)
    lattice.add_options(p)

    args = p.parse_args(argv)
    check_values(p, args)
    if not NOENC + 2 <= args.ip2 <= NPOINTS - 2:
        p.error("--ip2 must lie between %d and %d" % (NOENC + 2, NPOINTS - 2))
    for q in (args.qx, args.qy):
        if not 0.5 < q % 1.0 < 1.0:
            p.error("fractional tunes must lie above the half integer")
    if not 0.0 < args.qs < 0.5:
        p.error("--qs must lie between 0 and 0.5")
    emit = args.emitn / args.gamma
    if args.xi is None:
        args.xi = float("%.4g" % (args.dnb * RP / (4.0 * math.pi * args.emitn)))
    if args.sstar is None:
        args.sstar = float("%.4g" % math.sqrt(args.betastar * emit))
    if args.divstar is None:
        args.divstar = float("%.4g" % math.sqrt(emit / args.betastar))
    if args.opp_emitn_x is None:
        args.opp_emitn_x = args.emitn
    if args.opp_emitn_y is None:
        args.opp_emitn_y = OPP_FLATNESS * args.emitn
    return args


def check_values(p, args):
    """Refuse (status 2, nothing written) a value that is not a finite
    number, or that the physics cannot take: a size, beta, length,
    emittance or energy that is not positive, a negative angle or count."""
    def values(name):
        v = getattr(args, name)
        return [] if v is None else (v if isinstance(v, list) else [v])

    for name, v in sorted(vars(args).items()):
        for x in (v if isinstance(v, list) else [v]):
            if isinstance(x, float) and not math.isfinite(x):
                p.error("--%s: %r is not a finite number" % (name.replace("_", "-"), x))
    for name in POSITIVE:
        if any(not x > 0 for x in values(name)):
            p.error("--%s must be above 0, got %s" % (
                name.replace("_", "-"), " ".join("%g" % x for x in values(name))))
    for name in NOT_NEGATIVE:
        if any(x < 0 for x in values(name)):
            p.error("--%s must not be negative, got %s" % (
                name.replace("_", "-"), " ".join("%g" % x for x in values(name))))
    if args.gamma < 1.0:
        p.error("--gamma is a Lorentz factor: at least 1, got %g" % args.gamma)


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


def twiss_block(b1, a1, b2, a2, dmu):
    c, s = math.cos(dmu), math.sin(dmu)
    r = math.sqrt(b2 / b1)
    return [[r * (c + a1 * s), math.sqrt(b1 * b2) * s],
            [-((1.0 + a1 * a2) * s + (a2 - a1) * c) / math.sqrt(b1 * b2),
             (c - a2 * s) / r]]


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


# ---------------------------------------------------------------- writers

def e17(v):
    """17 significant digits: reads back to the same double."""
    return "%24.16E" % v


def real(v):
    """Short form of a run parameter, always with a point or an exponent:
    12 significant digits at most, trailing zeros dropped."""
    if v != 0.0 and not 1e-3 <= abs(v) < 1e7:
        mant, exp = ("%.11E" % v).split("E")
        mant = mant.rstrip("0")
        return (mant + "0" if mant.endswith(".") else mant) + "E" + exp
    t = "%.12G" % v
    return t if "." in t else t + ".0"


def write_matrices(path, mats):
    with open(path, "w", newline="\n") as f:
        for k, m in enumerate(mats, 1):
            f.write("SEC%03d\n" % k)
            for i in range(6):
                f.write(" ".join(e17(m[i][j] * (UNIT[j] / UNIT[i]))
                                 for j in range(6)) + "\n")


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


def write_excluded(path, args):
    with open(path, "w", newline="\n") as f:
        for k in args.excluded:
            f.write("%d\n" % k)


def diff_input_values(args):
    """Text of every value of diff.input, by the parameter names of
    bbtools.params."""
    wse, we2, wre = args.wire_errors
    ints = {"iopt": args.iopt, "itrip": args.itrip, "ichoice": args.ichoice,
            "ntrack": args.ntrack, "npart": args.npart, "npar": args.npar,
            "iwire": args.iwire, "iwswitch": args.iwswitch}
    reals = {"amp": args.amp, "xtune": args.qx, "xfrac": round(args.qx % 1.0, 12),
             "ytune": args.qy, "yfrac": round(args.qy % 1.0, 12),
             "circumference": args.circumference, "dnb": args.dnb,
             "spacing": args.spacing, "betastar": args.betastar, "emitn": args.emitn,
             "gamma": args.gamma, "xi": args.xi, "sstar": args.sstar,
             "divstar": args.divstar, "thetac": args.thetac,
             "dpxm": args.dpm[0], "dpym": args.dpm[1], "fx": args.fmod[0],
             "fy": args.fmod[1], "wstrerr": wse, "werr2": we2, "wranerr": wre,
             "disterr": args.disterr, "wcurrent": args.wcurrent,
             "wlength": args.wlength, "wdist": args.wdist, "wbetax": args.wbetax,
             "wbetay": args.wbetay}
    out = {k: "%d" % v for k, v in ints.items()}
    out.update({k: real(v) for k, v in reals.items()})
    return out


def diff_input_lines(args):
    """The 51 lines of diff.input: (text, is_value), laid out by the table of
    bbtools.params that bbscan and bbrun edit the file with."""
    values = diff_input_values(args)
    return [(comment, False) if comment is not None
            else (" ".join(values[n] for n in names), True)
            for _, comment, names in params.layout()]


def write_diff_input(path, args):
    with open(path, "w", newline="\n") as f:
        for text, _ in diff_input_lines(args):
            f.write(text + "\n")


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
    write_matrices(os.path.join(args.out, "Matrices.dat"),
                   section_matrices(args, pts))
    write_sigmas(os.path.join(args.out, "Sigmas.dat"), args, pts)
    write_excluded(os.path.join(args.out, "excluded.dat"), args)
    write_diff_input(os.path.join(args.out, "diff.input"), args)
    write_multdist(os.path.join(args.out, "multdist.dat"), args)
    if args.wires != "none":
        write_wires(os.path.join(args.out, "wires.dat"), args, pts)
    return pts


# ---------------------------------------------------------------- check

def matmul(a, b):
    n = len(a)
    return [[sum(a[i][l] * b[l][j] for l in range(n)) for j in range(n)]
            for i in range(n)]


def read_matrices(path):
    """Read Matrices.dat as the tracker does and return the 73 matrices in
    tracking units (m, rad)."""
    with open(path) as f:
        lines = f.read().split("\n")
    assert lines[-1] == "", "Matrices.dat must end with a line feed"
    lines = lines[:-1]
    assert len(lines) == 7 * NPOINTS, "Matrices.dat: %d lines" % len(lines)
    mats = []
    for k in range(NPOINTS):
        name = lines[7 * k].split()
        assert len(name) == 1 and len(name[0]) <= 10, "bad name line"
        t = []
        for i in range(6):
            v = [float(x) for x in lines[7 * k + 1 + i].split()]
            assert len(v) == 6, "row of 6 numbers expected"
            row = []
            for j in range(6):
                x = v[j]
                if j % 2 == 0:      # odd column (1-based)
                    x *= 1000.0
                if i % 2 == 0:      # odd row
                    x *= 0.001
                row.append(x)
            t.append(row)
        mats.append(t)
    return mats


def check(args, pts=None):
    """Verify the written set; returns a list of report lines, raises
    AssertionError on a failure."""
    if pts is None:
        pts = layout(args)
    rep = []
    mats = read_matrices(os.path.join(args.out, "Matrices.dat"))

    # Symplectic 2x2 blocks, and the drift sections agree with the Twiss
    # construction.
    worst = 0.0
    for k, t in enumerate(mats):
        for o in (0, 2, 4):
            det = t[o][o] * t[o + 1][o + 1] - t[o][o + 1] * t[o + 1][o]
            worst = max(worst, abs(det - 1.0))
    assert worst < 1e-10, "determinant off by %g" % worst
    rep.append("section determinants: max |det - 1| = %.2e" % worst)
    dmux, dmuy = phase_advances(args, pts)
    worst = 0.0
    for k in range(NPOINTS):
        p1, p2 = pts[k], pts[(k + 1) % NPOINTS]
        if is_drift(p1, p2):
            for o, dmu, (b1, a1), (b2, a2) in (
                    (0, dmux[k], p1.twiss[0:2], p2.twiss[0:2]),
                    (2, dmuy[k], p1.twiss[2:4], p2.twiss[2:4])):
                m = twiss_block(b1, a1, b2, a2, dmu)
                for i in range(2):
                    for j in range(2):
                        worst = max(worst, abs(m[i][j] - mats[k][o + i][o + j]))
    assert worst < 1e-9, "drift sections differ from Twiss form by %g" % worst
    rep.append("drift sections vs Twiss form: max difference = %.2e" % worst)

    # One-turn matrix, tunes and Twiss functions at point 1, as the tracker
    # derives them; keep the maps from point 1 to every point.
    cum = [[float(i == j) for j in range(6)] for i in range(6)]
    maps = [cum]
    for t in mats:
        cum = matmul(t, cum)
        maps.append(cum)
    T = cum
    pi = 4.0 * math.atan(1.0)
    qx = 1.0 - math.acos((T[0][0] + T[1][1]) / 2.0) / (2.0 * pi)
    qy = 1.0 - math.acos((T[2][2] + T[3][3]) / 2.0) / (2.0 * pi)
    qz = 1.0 - math.acos((T[4][4] + T[5][5]) / 2.0) / (2.0 * pi)
    betx = T[0][1] / math.sin(2.0 * pi * qx)
    bety = T[2][3] / math.sin(2.0 * pi * qy)
    alfx = (T[0][0] - math.cos(2.0 * pi * qx)) / math.sin(2.0 * pi * qx)
    alfy = (T[2][2] - math.cos(2.0 * pi * qy)) / math.sin(2.0 * pi * qy)
    rep.append("one-turn tunes: qx = %.12f  qy = %.12f  qz = %.12f"
               % (qx, qy, qz))
    rep.append("twiss at point 1: betx = %.12f  bety = %.12f  "
               "alfx = %.3e  alfy = %.3e" % (betx, bety, alfx, alfy))
    assert abs(qx - args.qx % 1.0) < 1e-9, "qx = %r" % qx
    assert abs(qy - args.qy % 1.0) < 1e-9, "qy = %r" % qy
    assert abs(qz - (1.0 - args.qs)) < 1e-9, "qz = %r" % qz
    assert abs(betx - args.betastar) < 1e-8 * args.betastar, betx
    assert abs(bety - args.betastar) < 1e-8 * args.betastar, bety
    assert abs(alfx) < 1e-8 and abs(alfy) < 1e-8, (alfx, alfy)

    # Beta functions transported from point 1 to every encounter, compared
    # with the sizes of Sigmas.dat.
    gx0 = (1.0 + alfx * alfx) / betx
    gy0 = (1.0 + alfy * alfy) / bety
    emx = args.opp_emitn_x / args.gamma
    emy = args.opp_emitn_y / args.gamma
    with open(os.path.join(args.out, "Sigmas.dat")) as f:
        rows = [ln.split() for ln in f.read().splitlines()]
    assert len(rows) == NPOINTS - 1, "Sigmas.dat: %d lines" % len(rows)
    numbers = [int(r[0]) for r in rows]
    assert numbers == [p for p in range(1, NPOINTS + 1) if p != NOENC]
    worst = 0.0
    seps = []
    for r in rows:
        k = int(r[0])
        sx, sy, x0, y0 = (float(x) for x in r[1:5])
        m = maps[k - 1]
        bx = (m[0][0] ** 2 * betx - 2.0 * m[0][0] * m[0][1] * alfx
              + m[0][1] ** 2 * gx0)
        by = (m[2][2] ** 2 * bety - 2.0 * m[2][2] * m[2][3] * alfy
              + m[2][3] ** 2 * gy0)
        worst = max(worst, abs(sx / (1000.0 * math.sqrt(bx * emx)) - 1.0),
                    abs(sy / (1000.0 * math.sqrt(by * emy)) - 1.0))
        pt = pts[k - 1]
        if pt.kind == "ip":
            assert x0 == 0.0 and y0 == 0.0, "offset at IP point %d" % k
        else:
            plane = args.crossing1 if pt.ip == 1 else args.crossing2
            d, o, s = (x0, y0, sx) if plane == "x" else (y0, x0, sy)
            assert o == 0.0 and (d > 0) == (pt.s > 0), "sign at %d" % k
            seps.append(abs(d) / s)
    assert worst < 1e-9, "beam sizes differ from the optics by %g" % worst
    rep.append("Sigmas.dat sizes vs transported beta: max rel. diff = %.2e"
               % worst)
    rep.append("long-range separations: %.2f .. %.2f sigma (%d encounters)"
               % (min(seps), max(seps), len(seps)))

    # diff.input: 51 lines, numbers where the tracker reads them.
    expected = diff_input_lines(args)
    with open(os.path.join(args.out, "diff.input")) as f:
        lines = f.read().split("\n")
    assert lines[-1] == "" and len(lines) == 52, "diff.input: 51 lines"
    ints = {5, 7, 9, 11, 13, 39, 44, 48}
    counts = {15: 2, 17: 2, 41: 2, 42: 2, 46: 3, 50: 2, 51: 3}
    for no, (text, (_, is_value)) in enumerate(zip(lines, expected), 1):
        assert len(text) < 80, "diff.input line %d too long" % no
        if is_value:
            toks = text.split()
            assert len(toks) == counts.get(no, 1), "line %d" % no
            for t in toks:
                if no in ints:
                    int(t)
                else:
                    float(t)
    value_lines = [no for no, (_, isv) in enumerate(expected, 1) if isv]
    assert value_lines == [2, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27,
                           29, 31, 33, 35, 37, 39, 41, 42, 44, 46, 47, 48,
                           50, 51], value_lines
    rep.append("diff.input: 51 lines, values on the 27 lines read")

    with open(os.path.join(args.out, "excluded.dat")) as f:
        excl = [int(x.split()[0]) for x in f.read().splitlines()]
    for k in excl:
        assert 1 <= k <= NPOINTS and k != NOENC and pts[k - 1].kind == "lr"
    rep.append("excluded.dat: %s" % " ".join(str(k) for k in excl))

    with open(os.path.join(args.out, "multdist.dat")) as f:
        recs = [ln.split() for ln in f.read().splitlines()]
    assert len(recs) == 192, len(recs)
    assert all(len(r) == 2 for r in recs[:160])
    assert all(len(r) == 1 for r in recs[160:])
    [float(x) for r in recs for x in r]
    rep.append("multdist.dat: 160 multipole records, 16 betas, 16 weights")

    if args.wires != "none":
        sig = {int(r[0]): r for r in rows}
        with open(os.path.join(args.out, "wires.dat")) as f:
            wrecs = [ln.split() for ln in f.read().splitlines()]
        assert len(wrecs) == 4, "wires.dat: %d records" % len(wrecs)
        for w in wrecs:
            k = int(w[0])
            assert k not in excl and pts[k - 1].kind == "lr", "wire at point %d" % k
            # on the opposing centre: the negated offsets, digit for digit
            assert float(w[1]) == -float(sig[k][3]) and float(w[2]) == -float(sig[k][4])
            assert (float(w[3]) < 0) == (args.dnb > 0), "current sign at %d" % k
        rep.append("wires.dat: wires at points %s, currents %s A"
                   % (" ".join(w[0] for w in wrecs), " ".join(w[3] for w in wrecs)))
    return rep


def main(argv=None):
    args = parse_args(argv)
    if os.path.isdir(args.out) and os.listdir(args.out) and not args.force:
        print("make_ring.py: %s already holds files; give --force to overwrite "
              "them, or --out NEW_FOLDER" % args.out, file=sys.stderr)
        return 2
    if args.from_tfs:
        try:
            lattice.convert(args, sys.argv[1:] if argv is None else argv,
                            sys.modules[__name__])
        except (OSError, ValueError) as e:
            print("make_ring.py: error: %s" % e, file=sys.stderr)
            return 2
        return 0
    pts = generate(args)
    if args.triplet_errors:
        triplet_errors.write_for_ring(args, pts)
    if args.tfs:
        lattice.write_model(args.tfs, args, pts, *phase_advances(args, pts))
    print("wrote Matrices.dat, Sigmas.dat, excluded.dat, diff.input, "
          "multdist.dat%s to %s" % ("" if args.wires == "none" else ", wires.dat",
                                     args.out))
    if args.check:
        for line in check(args, pts):
            print("check: " + line)
        print("check: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
