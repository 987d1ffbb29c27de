"""The command-line options of the model collider (tools/make_ring.py),
their checks and the values derived from them."""

import math

from bbtools.classic_folder import NPOINTS, NOENC, RP
from bbtools import collider as col


# Values that must be above zero, and those that must not be negative.
POSITIVE = ("betastar", "arc_betx", "arc_bety", "beta_long", "opp_emitn_x",
            "opp_emitn_y", "circumference", "spacing", "emitn", "gamma", "sstar",
            "divstar", "wlength", "wbetax", "wbetay", "triplet_betas",
            "triplet_weights", "ntrack", "npart")
NOT_NEGATIVE = ("thetac", "npar", "wdist", "mult_rms_a", "mult_rms_b")


def add_options(p):
    """The model collider's options, added to make_ring.py's parser.  Their
    defaults describe the model; a ring converted from tables or a folder
    takes only the values the user gives (make_ring.py keeps them apart)."""
    g = p.add_argument_group("ring and optics")
    g.add_argument("--ip2", type=int, default=37,
                   help="point number of IP2 (27 .. 71)")
    g.add_argument("--qx", type=float, default=64.69,
                   help="total horizontal tune (classic folder: fractional part "
                        "above 0.5; --ring-out: anywhere)")
    g.add_argument("--qy", type=float, default=59.70,
                   help="total vertical tune (as --qx)")
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
                        "kick is the elliptical one)" % col.OPP_FLATNESS)
    g.add_argument("--excluded", type=int, nargs="*", default=[23, 24],
                   help="encounter points the tracker skips (the model's default "
                        "reaches no converted ring and no --ring-out)")

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
    g.add_argument("--mult-rms-a", type=float, nargs=10, default=col.MULT_RMS_A, metavar="A",
                   help="r.m.s. of a_1 .. a_10 [1e-4]")
    g.add_argument("--mult-rms-b", type=float, nargs=10, default=col.MULT_RMS_B, metavar="B",
                   help="r.m.s. of b_1 .. b_10 [1e-4]")
    g.add_argument("--mult-mean-b", type=float, nargs=10,
                   default=col.MULT_MEAN_B, metavar="B",
                   help="systematic b_1 .. b_10 [1e-4]")
    g.add_argument("--triplet-betas", type=float, nargs=4,
                   default=col.TRIPLET_BETAS, metavar="BETA",
                   help="beta of Q1, Q2a, Q2b, Q3 [m]")
    g.add_argument("--triplet-weights", type=float, nargs=4,
                   default=col.TRIPLET_WEIGHTS, metavar="W",
                   help="weights of Q1, Q2a, Q2b, Q3")
    return g


def finish(p, args, classic=True):
    """Check the model's values and derive the rest; classic: the input set
    of the classic program, which takes fractional tunes above the half
    integer only."""
    check_values(p, args)
    if not NOENC + 2 <= args.ip2 <= NPOINTS - 2:
        p.error("--ip2 must lie between %d and %d" % (NOENC + 2, NPOINTS - 2))
    for q in (args.qx, args.qy):
        if classic and not 0.5 < q % 1.0 < 1.0:
            p.error("fractional tunes must lie above the half integer for the "
                    "classic folder (the general ring, --ring-out, takes any)")
        if q % 1.0 == 0.0:
            p.error("a tune on the integer (%r) has no stable optics" % q)
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
        args.opp_emitn_y = col.OPP_FLATNESS * args.emitn
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

