"""The model collider as a general ring (make_ring.py --ring-out FILE): any
number of interaction points, the long-range encounters of each set by the
bunch spacing and the crossing angle, fractional tunes anywhere.

--ips N interaction points are spread evenly round the ring, IP1 the
observation point; their crossing planes alternate between --crossing1 and
--crossing2.  On each side of an IP the two beams share one chamber for
--common-length metres: a bunch meets the opposing train every half bunch
spacing h = spacing / 2 there, at s = n h, n = 1 .. floor(common-length / h);
the crossing angle separates the two orbits by thetac s in the IP's crossing
plane (zero at the IP: the head-on encounter).  The optics are those of the
classic model (bbtools/collider.py): beta* and alpha* = 0 at every IP, a
drift through the shared region, beta(s) = beta* + s^2 / beta*, and an arc
from the last encounter of one IP to the first of the next, each arc taking
an equal share of the phase advance the drifts leave of the tunes --qx,
--qy.  The longitudinal block is a rotation by 2 pi Qs / (sections).

The opposing bunches are Gaussian with the tracked beam's beta functions and
the normalised emittances --opp-emitn-x, --opp-emitn-y; their population is
--dnb at every encounter.  --wires npar|side adds a compensating wire at the
outermost encounter of each side (on the opposing bunch's centre, the current
as for the classic model; --wire-distance K: K times as far from the beam,
K^2 times the current, which keeps the wire's linear tune shift and gives the
amplitude detuning 1/K^2 of it); --head-on-6d writes the head-on encounters as
six-dimensional ones (half crossing angle thetac / 2).
"""

import math

from bbtools import collider
from bbtools import ring_file


def add_options(p):
    g = p.add_argument_group("model collider as a general ring (--ring-out)")
    g.add_argument("--ips", type=int, default=2,
                   help="interaction points, spread evenly round the ring")
    g.add_argument("--common-length", type=float, default=59.0,
                   help="length of the shared chamber on each side of an IP [m]: "
                   "the long-range encounters lie within it")
    g.add_argument("--wire-distance", type=float, default=1.0, metavar="K",
                   help="with --wires: each wire K times as far from the beam as "
                   "the opposing bunch it stands at, its current K^2 times (the "
                   "same linear tune shift)")


class Point:
    """An encounter point: its IP (from 1), distance s from it [m] and the
    Twiss functions (the same in both planes)."""

    def __init__(self, ip, n, s, betastar):
        self.ip, self.n, self.s = ip, n, s
        self.beta, self.alpha = betastar + s * s / betastar, -s / betastar

    @property
    def name(self):
        if self.s == 0.0:
            return "IP%d" % self.ip
        return "BB%s%d.%02d" % ("R" if self.s > 0 else "L", self.ip, self.n)


def layout(args):
    """The points in ring order from IP1, and the phase advance [rad] of the
    arc after each IP's right side (x, y)."""
    h = 0.5 * args.spacing
    nlr = int(args.common_length / h)
    if args.ips < 1:
        raise ValueError("--ips %d: at least one interaction point" % args.ips)
    if 2.0 * nlr * h >= args.circumference / args.ips:
        raise ValueError("--common-length %g m: the shared regions of neighbouring "
                         "IPs overlap" % args.common_length)
    pts = []
    for ip in range(1, args.ips + 1):
        pts += [Point(ip, n, -n * h, args.betastar) for n in range(nlr, 0, -1)]
        pts.append(Point(ip, 0, 0.0, args.betastar))
        pts += [Point(ip, n, n * h, args.betastar) for n in range(1, nlr + 1)]
    pts = pts[nlr:] + pts[:nlr]             # IP1 first
    drift = 2.0 * args.ips * math.atan(nlr * h / args.betastar)
    arcs = []
    for q, name in ((args.qx, "--qx"), (args.qy, "--qy")):
        arc = (2.0 * math.pi * q - drift) / args.ips
        if not arc > 0.0:
            raise ValueError("%s %r: the interaction regions alone advance the phase "
                             "by %.4g turns" % (name, q, drift / (2.0 * math.pi)))
        arcs.append(arc)
    return pts, arcs


def build(args):
    """The ring_file.Ring of the model."""
    pts, (arcx, arcy) = layout(args)
    n = len(pts)
    ring = ring_file.Ring(args.gamma, args.emitn)
    phz = 2.0 * math.pi * args.qs / n
    bz = args.beta_long
    lz = [[math.cos(phz), bz * math.sin(phz)], [-math.sin(phz) / bz, math.cos(phz)]]
    emx, emy = args.opp_emitn_x / args.gamma, args.opp_emitn_y / args.gamma
    excluded = set(args.excluded) if "excluded" in args.given else set()
    wires = wire_sites(pts, excluded) if args.wires != "none" else {}
    kw = args.wire_distance
    if not kw > 0.0:
        raise ValueError("--wire-distance %g: the factor must be above 0" % kw)
    for k, (p1, p2) in enumerate(zip(pts, pts[1:] + pts[:1]), 1):
        plane = args.crossing1 if p1.ip % 2 == 1 else args.crossing2
        sep = 1000.0 * args.thetac * p1.s
        sepx, sepy = (sep, 0.0) if plane == "x" else (0.0, sep)
        sig = (1000.0 * math.sqrt(p1.beta * emx), 1000.0 * math.sqrt(p1.beta * emy))
        if k in excluded:
            pass
        elif p1.s == 0.0 and args.head_on_6d:
            ring.add("encounter6d", [
                ("name", p1.name), ("npart", args.dnb), ("sigx", sig[0]), ("sigy", sig[1]),
                ("betx", p1.beta), ("bety", p1.beta), ("sigz", args.sigma_z),
                ("slices", args.slices), ("phi", 0.5 * args.thetac), ("plane", plane)])
        else:
            ring.add("encounter", [("name", p1.name), ("npart", args.dnb), ("sigx", sig[0]),
                                   ("sigy", sig[1]), ("sepx", sepx), ("sepy", sepy)])
        if p1 in wires:
            count = args.npar if args.wires == "npar" else wires[p1]
            ring.add("wire", [("name", "W" + p1.name),
                              ("x", 0.0 - kw * sepx), ("y", 0.0 - kw * sepy),
                              ("current", -kw * kw * collider.wire_current(args.dnb, count)),
                              ("length", 1.0)])
        if p1.ip == p2.ip and p2.s > p1.s:
            # neighbours are one step apart; h itself avoids the rounding of
            # a difference of positions
            h = 0.5 * args.spacing
            mx = my = [[1.0, h * round((p2.s - p1.s) / h)], [0.0, 1.0]]
        else:
            mx = collider.twiss_block(p1.beta, p1.alpha, p2.beta, p2.alpha, arcx)
            my = collider.twiss_block(p1.beta, p1.alpha, p2.beta, p2.alpha, arcy)
        m = [[0.0] * 6 for _ in range(6)]
        for o, blk in ((0, mx), (2, my), (4, lz)):
            for i in range(2):
                for j in range(2):
                    m[o + i][o + j] = blk[i][j]
        ring.add("matrix", ring_file.matrix_fields(m, "%s-%s" % (p1.name, p2.name)))
    return ring


def wire_sites(pts, excluded):
    """{point: kicking long-range encounters of its side} for the outermost
    kicking encounter of each side of each IP (the largest beta)."""
    sides = {}
    for k, p in enumerate(pts, 1):
        if p.s != 0.0 and k not in excluded:
            sides.setdefault((p.ip, p.s > 0), []).append(p)
    return {max(g, key=lambda q: abs(q.s)): len(g) for g in sides.values()}


def expected_optics(args, ring):
    """Tunes and betas at the observation point (IP1) of the model."""
    return (args.qx, args.qy), (args.betastar, args.betastar)
