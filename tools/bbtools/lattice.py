"""The ring's input files from the Twiss tables of a lattice code.

The tracked beam's table gives the encounters (rows whose NAME matches a
pattern, the observation point first), the linear maps between them (from
BETX, ALFX, MUX, BETY, ALFY, MUY, uncoupled) and its closed orbit X, Y.  The
opposing beam's table, in the same frame and with the same marker names, gives
its sizes (from its betas and emittances) and its orbit; without one the
opposing beam is the mirror image of the tracked one (same optics, orbit of
opposite sign).
"""

import math
import os
import re

from bbtools import classic_folder as cf
from bbtools import collider
from bbtools import tfs

NPOINTS = 73
NOENC = 25
OPTICS = ("NAME", "S", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY")

# Defaults of the selection options, documented in docs/inputs.md.
ENCOUNTERS = r"^(IP[0-9]|BB)"      # head-on markers IPn, long-range markers BB...
HEAD_ON = r"^IP[0-9]"
FREE = r"^NOBB"                   # the point without an encounter


class ConvertError(ValueError):
    pass


def add_options(p):
    """The options of the conversion, added to make_ring.py's parser."""
    g = p.add_argument_group("ring from Twiss tables (TFS)")
    g.add_argument("--from-tfs", metavar="B1.tfs", default=None,
                   help="write the input folder from this Twiss table of the "
                   "tracked beam instead of the model collider")
    g.add_argument("--opposing", metavar="B2.tfs", default=None,
                   help="Twiss table of the opposing beam (same frame, same "
                   "marker names); without it the mirror of the tracked beam")
    g.add_argument("--encounters", default=ENCOUNTERS, metavar="REGEX",
                   help="NAME pattern of the 72 encounter markers")
    g.add_argument("--head-on", default=HEAD_ON, metavar="REGEX",
                   help="NAME pattern of the head-on encounters (the others "
                   "are long-range and need a separation)")
    g.add_argument("--free-point", default=FREE, metavar="REGEX",
                   help="NAME pattern of the optional marker of point 25, the "
                   "point without an encounter")
    g.add_argument("--observation", default=None, metavar="NAME",
                   help="encounter marker of the observation point (point 1); "
                   "default: the first encounter of the table")
    g.add_argument("--tfs", metavar="FILE", nargs="+", default=None,
                   help="also write the model collider's optics as Twiss "
                   "tables (TFS): the tracked beam to the first FILE, the "
                   "opposing beam to a second one if given")


# ---------------------------------------------------------------- conversion

def _twiss_block(b1, a1, b2, a2, dmu):
    c, s = math.cos(dmu), math.sin(dmu)
    r = math.sqrt(b2 / b1)
    return [[r * (c + a1 * s), math.sqrt(b1 * b2) * s],
            [-((1.0 + a1 * a2) * s + (a2 - a1) * c) / math.sqrt(b1 * b2),
             (c - a2 * s) / r]]


def _points(t, args):
    """The 73 rows of the ring, point 1 first; point 25 from its marker, or a
    copy of the encounter that follows it (an identity section)."""
    enc_re, free_re = re.compile(args.encounters), re.compile(args.free_point)
    sel = [(i, r) for i, r in enumerate(t.rows)
           if enc_re.search(r["NAME"]) or free_re.search(r["NAME"])]
    enc = [r for _, r in sel if enc_re.search(r["NAME"])]
    if len(enc) != NPOINTS - 1:
        raise ConvertError("%s: %d encounters found (rows whose NAME matches "
                           "%r); the ring needs %d" % (t.path, len(enc),
                                                       args.encounters, NPOINTS - 1))
    for r, line in zip(t.rows, t.lines):
        for n in ("BETX", "BETY"):
            if r[n] <= 0.0:
                raise tfs.TfsError(t.path, line, "beta %r is not positive" % r[n], n)
    first = args.observation or enc[0]["NAME"]
    names = [r["NAME"] for _, r in sel]
    if first not in names or not enc_re.search(first):
        raise ConvertError("%s: the observation point %s is not an encounter "
                           "marker" % (t.path, first))
    start = names.index(first)
    ring = [r for _, r in sel[start:] + sel[:start]]
    wrap = [i for i, _ in sel[start:] + sel[:start]]     # table row of each point
    free = [k for k, r in enumerate(ring) if not enc_re.search(r["NAME"])]
    if len(free) > 1:
        raise ConvertError("%s: %d markers match %r; point %d takes one"
                           % (t.path, len(free), args.free_point, NOENC))
    if free and free[0] != NOENC - 1:
        raise ConvertError("%s: marker %s is point %d of the ring; the point "
                           "without an encounter must be point %d"
                           % (t.path, ring[free[0]]["NAME"], free[0] + 1, NOENC))
    if not free:
        ring.insert(NOENC - 1, dict(ring[NOENC - 1], NAME="(point 25)"))
        wrap.insert(NOENC - 1, wrap[NOENC - 1])
    return ring, wrap


def sections(t, args, ring, wrap):
    """The 73 section matrices in SI units (m, rad)."""
    tune = {}
    for plane, q in (("MUX", "Q1"), ("MUY", "Q2")):
        if q not in t.header:
            raise ConvertError("%s: no %s in the header: the phase advance "
                               "that closes the ring needs the tune" % (t.path, q))
        tune[plane] = t.header[q]
    phz = 2.0 * math.pi * args.qs / NPOINTS
    bz = args.beta_long
    lz = [[math.cos(phz), bz * math.sin(phz)], [-math.sin(phz) / bz, math.cos(phz)]]
    mats = []
    for k in range(NPOINTS):
        r1, r2 = ring[k], ring[(k + 1) % NPOINTS]
        blocks = []
        for b, a, mu in (("BETX", "ALFX", "MUX"), ("BETY", "ALFY", "MUY")):
            # passing the end of the table closes the ring: one tune more
            turns = r2[mu] - r1[mu] + (tune[mu] if wrap[(k + 1) % NPOINTS]
                                       < wrap[k] else 0.0)
            blocks.append(_twiss_block(r1[b], r1[a], r2[b], r2[a],
                                       2.0 * math.pi * turns))
        m = [[0.0] * 6 for _ in range(6)]
        for blk, o in ((blocks[0], 0), (blocks[1], 2), (lz, 4)):
            for i in range(2):
                for j in range(2):
                    m[o + i][o + j] = blk[i][j]
        mats.append(m)
    return mats


def _gamma(t):
    if "GAMMA" in t.header:
        return t.header["GAMMA"]
    if "ENERGY" in t.header and "MASS" in t.header:
        return t.header["ENERGY"] / t.header["MASS"]
    return None


def _emittances(t, gamma, emitn_x, emitn_y):
    """Geometric emittances: EX, EY of the header, else the normalised ones
    of the options over gamma."""
    return (t.header.get("EX", emitn_x / gamma), t.header.get("EY", emitn_y / gamma))


def sigma_rows(t1, t2, args, ring, gamma, say):
    """The 72 lines of Sigmas.dat: number, sizes, positions [mm] of the
    tracked orbit relative to the opposing beam's centre."""
    orbit = "X" in t1.columns and "Y" in t1.columns
    if not orbit:
        say("%s has no crossing orbit (no X and Y columns): every separation "
            "is zero" % t1.path)
    if t2 is None:
        say("no table of the opposing beam: it is taken as the mirror of the "
            "tracked beam (same optics, orbit of opposite sign)")
        opp = {r["NAME"]: dict(r, X=-r.get("X", 0.0), Y=-r.get("Y", 0.0))
               for r in t1.rows}
        ex, ey = _emittances(t1, gamma, args.opp_emitn_x, args.opp_emitn_y)
    else:
        t2.need("NAME", "BETX", "BETY")
        opp = {r["NAME"]: r for r in t2.rows}
        g2 = _gamma(t2) or gamma
        ex, ey = _emittances(t2, g2, args.opp_emitn_x, args.opp_emitn_y)
    head_on = re.compile(args.head_on)
    rows = []
    for k, r in enumerate(ring, 1):
        if k == NOENC:
            continue
        o = opp.get(r["NAME"])
        if o is None:
            raise ConvertError("%s: no row %s for the encounter of point %d"
                               % (t2.path, r["NAME"], k))
        x = 1000.0 * (r.get("X", 0.0) - o.get("X", 0.0))
        y = 1000.0 * (r.get("Y", 0.0) - o.get("Y", 0.0))
        if x == 0.0 and y == 0.0 and not head_on.search(r["NAME"]):
            raise ConvertError("long-range encounter %s (point %d) without "
                               "separation%s" % (r["NAME"], k, "" if orbit else
                                                 ": the table has no crossing orbit"))
        rows.append((k, 1000.0 * math.sqrt(o["BETX"] * ex),
                     1000.0 * math.sqrt(o["BETY"] * ey), x, y))
    return rows


def convert(args, argv, say=print):
    """Write the input folder args.out from args.from_tfs (and
    args.opposing)."""
    t1 = tfs.read(args.from_tfs)
    t1.need(*OPTICS)
    t2 = tfs.read(args.opposing) if args.opposing else None
    ring, wrap = _points(t1, args)
    given = {a.split("=")[0] for a in (argv or []) if a.startswith("--")}

    def header(key, option, value, fmt=lambda v: v):
        if key in t1.header and option not in given:
            setattr(args, option[2:].replace("-", "_"), fmt(value))
            say("%s from the header: %s" % (option[2:], getattr(
                args, option[2:].replace("-", "_"))))

    gamma = _gamma(t1)
    if gamma is not None and "--gamma" not in given:
        args.gamma = gamma
        say("gamma from the header: %r" % gamma)
    header("Q1", "--qx", t1.header.get("Q1"))
    header("Q2", "--qy", t1.header.get("Q2"))
    header("LENGTH", "--circumference", t1.header.get("LENGTH"))
    header("NPART", "--dnb", math.copysign(t1.header.get("NPART", 0.0), args.dnb))
    header("EX", "--emitn", t1.header.get("EX", 0.0) * args.gamma)
    if "--betastar" not in given:
        args.betastar = ring[0]["BETX"]
    emit = args.emitn / args.gamma
    if "--xi" not in given:
        args.xi = float("%.4g" % (args.dnb * cf.RP / (4.0 * math.pi * args.emitn)))
    if "--sstar" not in given:
        args.sstar = float("%.4g" % math.sqrt(args.betastar * emit))
    if "--divstar" not in given:
        args.divstar = float("%.4g" % math.sqrt(emit / args.betastar))
    for q in (args.qx, args.qy):
        if not 0.5 < q % 1.0 < 1.0:
            raise ConvertError("fractional tune %r: the tracker needs tunes "
                               "above the half integer" % q)
    mats = sections(t1, args, ring, wrap)
    sig = sigma_rows(t1, t2, args, ring, args.gamma, say)
    os.makedirs(args.out, exist_ok=True)
    cf.write_matrices(os.path.join(args.out, "Matrices.dat"), mats)
    cf.write_sigma_rows(os.path.join(args.out, "Sigmas.dat"), sig)
    cf.write_excluded(os.path.join(args.out, "excluded.dat"), args.excluded)
    cf.write_diff_input(os.path.join(args.out, "diff.input"), args)
    collider.write_multdist(os.path.join(args.out, "multdist.dat"), args)
    say("wrote Matrices.dat, Sigmas.dat, excluded.dat, diff.input, "
        "multdist.dat to %s" % args.out)
    return ring
