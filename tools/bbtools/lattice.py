"""The ring from the Twiss tables of a lattice code: the general ring file
(any number of encounters, tunes anywhere) or the classic folder (72
encounters, tunes above the half integer).

The tracked beam's table gives the points of the ring (the observation point
and the encounters: rows whose NAME matches a pattern), the linear maps
between them (from BETX, ALFX, MUX, BETY, ALFY, MUY, uncoupled) and its
closed orbit X, Y.  The opposing beam's table, in the same frame and with the
same marker names, gives its sizes (from its betas and emittances), its
orbit and its population; without one the opposing beam is the mirror image
of the tracked one (same optics, orbit of opposite sign).  The beam values
come from the headers (beam_values.py) or from options; no value of the
model collider reaches a converted ring.
"""

import math
import re

from bbtools import beam_values
from bbtools import tfs
from bbtools.optics import twiss_block

OPTICS = ("NAME", "S", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY")
NPOINTS, NOENC = 73, 25           # the classic ring

# Defaults of the selection options, documented in docs/inputs.md.
ENCOUNTERS = r"^(IP[0-9]|BB)"      # head-on markers IPn, long-range markers BB...
HEAD_ON = r"^IP[0-9]"
FREE = r"^NOBB"                   # the classic point without an encounter
# A long-range separation below this many beam sizes is rounding, not a
# separation (a real one is several sizes).
ROUNDING_SEPARATION = 1e-6

ConvertError = beam_values.ConvertError


def add_options(p):
    """The options of the conversion, added to make_ring.py's parser."""
    g = p.add_argument_group("ring from Twiss tables (TFS)")
    g.add_argument("--from-tfs", metavar="B1.tfs", default=None,
                   help="convert this Twiss table of the tracked beam instead of "
                   "writing the model collider")
    g.add_argument("--opposing", metavar="B2.tfs", default=None,
                   help="Twiss table of the opposing beam (same frame, same "
                   "marker names); without it the mirror of the tracked beam")
    g.add_argument("--encounters", default=ENCOUNTERS, metavar="REGEX",
                   help="NAME pattern of the encounter markers (72 for the "
                   "classic folder, any number for --ring-out)")
    g.add_argument("--head-on", default=HEAD_ON, metavar="REGEX",
                   help="NAME pattern of the head-on encounters (the others "
                   "are long-range and need a separation)")
    g.add_argument("--free-point", default=FREE, metavar="REGEX",
                   help="classic folder: NAME pattern of the optional marker of "
                   "point 25, the point without an encounter")
    g.add_argument("--observation", default=None, metavar="NAME",
                   help="marker of the observation point: an encounter for the "
                   "classic folder, any marker for --ring-out; default: the "
                   "first encounter of the table")
    g.add_argument("--head-on-6d", action="store_true",
                   help="--ring-out: the head-on encounters as six-dimensional "
                   "(sliced) encounters; needs --sigma-z and the columns PX, PY")
    g.add_argument("--slices", type=int, default=None,
                   help="slices of the opposing bunch of a 6D encounter")
    g.add_argument("--sigma-z", type=float, default=None,
                   help="r.m.s. bunch length of the opposing beam [m] (6D)")
    g.add_argument("--tfs", metavar="FILE", nargs="+", default=None,
                   help="also write the model collider's optics as Twiss "
                   "tables (TFS): the tracked beam to the first FILE, the "
                   "opposing beam to a second one if given")


def check_patterns(args):
    """An error text for a pattern that is no regular expression, else None."""
    for opt in ("encounters", "head_on", "free_point"):
        try:
            re.compile(getattr(args, opt))
        except re.error as e:
            return "--%s %r is not a regular expression: %s" % (
                opt.replace("_", "-"), getattr(args, opt), e)
    return None


# ---------------------------------------------------------------- points

def _check_betas(t):
    for r, line in zip(t.rows, t.lines):
        for n in ("BETX", "BETY"):
            if r[n] <= 0.0:
                raise tfs.TfsError(t.path, line, "beta %r is not positive" % r[n], n)


def points_classic(t, args):
    """The 73 rows of the classic ring, point 1 first, and the table row of
    each; point 25 from its marker, or a copy of the encounter that follows
    it (an identity section)."""
    enc_re, free_re = re.compile(args.encounters), re.compile(args.free_point)
    sel = [(i, r) for i, r in enumerate(t.rows)
           if enc_re.search(r["NAME"]) or free_re.search(r["NAME"])]
    enc = [r for _, r in sel if enc_re.search(r["NAME"])]
    if len(enc) != NPOINTS - 1:
        raise ConvertError("%s: %d encounters found (rows whose NAME matches "
                           "%r); the classic folder needs %d (--ring-out takes "
                           "any number)" % (t.path, len(enc), args.encounters,
                                            NPOINTS - 1))
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


def points_general(t, args):
    """The points of the general ring: the observation marker (any row) and
    every encounter, in ring order from the observation point; and the
    table row of each."""
    enc_re = re.compile(args.encounters)
    names = [r["NAME"] for r in t.rows]
    if args.observation is not None:
        if args.observation not in names:
            raise ConvertError("%s: no marker %s for the observation point"
                               % (t.path, args.observation))
        start = names.index(args.observation)
    else:
        enc = [i for i, n in enumerate(names) if enc_re.search(n)]
        start = enc[0] if enc else 0
    order = list(range(start, len(names))) + list(range(start))
    wrap = [i for i in order if i == start or enc_re.search(names[i])]
    return [t.rows[i] for i in wrap], wrap


def sections(t, ring, wrap, tunes, longitudinal=None):
    """The section matrices in SI units (m, rad) from each point to the next,
    4x4, or 6x6 with longitudinal = (qs, beta_long) shared equally."""
    n = len(ring)
    size = 4 if longitudinal is None else 6
    mats = []
    for k in range(n):
        r1, r2 = ring[k], ring[(k + 1) % n]
        blocks = []
        for (b, a, mu), q in zip((("BETX", "ALFX", "MUX"), ("BETY", "ALFY", "MUY")), tunes):
            # passing the end of the table closes the ring: one tune more
            # (a ring of one point passes it once)
            turns = r2[mu] - r1[mu] + (q if wrap[(k + 1) % n] < wrap[k] or n == 1 else 0.0)
            blocks.append(twiss_block(r1[b], r1[a], r2[b], r2[a], 2.0 * math.pi * turns))
        if longitudinal is not None:
            qs, bz = longitudinal
            phz = 2.0 * math.pi * qs / n
            blocks.append([[math.cos(phz), bz * math.sin(phz)],
                           [-math.sin(phz) / bz, math.cos(phz)]])
        m = [[0.0] * size for _ in range(size)]
        for o, blk in zip((0, 2, 4), blocks):
            for i in range(2):
                for j in range(2):
                    m[o + i][o + j] = blk[i][j]
        mats.append(m)
    return mats


# ---------------------------------------------------------------- encounters

def opposing_rows(t1, t2, say):
    """NAME -> row of the opposing beam (the mirror of t1 without t2)."""
    if t2 is None:
        say("no table of the opposing beam: it is taken as the mirror of the "
            "tracked beam (same optics, emittances and population, orbit of "
            "opposite sign)")
        return {r["NAME"]: dict(r, **{c: -r[c] for c in ("X", "Y", "PX", "PY")
                                      if c in r}) for r in t1.rows}
    t2.need("NAME", "BETX", "BETY", "ALFX", "ALFY")
    t2.need("X", "Y", why=": the separations need the opposing beam's orbit")
    return {r["NAME"]: r for r in t2.rows}


def encounters(t1, t2, ring, bv, args, say, skip=()):
    """Per point of ring (None where skipped): a dict of the encounter's
    values, sizes and positions in mm."""
    opp = opposing_rows(t1, t2, say)
    orbit = "X" in t1.columns and "Y" in t1.columns
    if not orbit:
        say("%s has no crossing orbit (no X and Y columns): every separation "
            "is zero" % t1.path)
    head_on = re.compile(args.head_on)
    enc_re = re.compile(args.encounters)
    out = []
    for k, r in enumerate(ring, 1):
        if k in skip or not enc_re.search(r["NAME"]):
            out.append(None)
            continue
        o = opp.get(r["NAME"])
        if o is None:
            raise ConvertError("%s: no row %s for the encounter of point %d"
                               % (t2.path, r["NAME"], k))
        e = dict(name=r["NAME"], point=k, head_on=bool(head_on.search(r["NAME"])),
                 npart=bv["npart"], sigx=1000.0 * math.sqrt(o["BETX"] * bv["opp_ex"]),
                 sigy=1000.0 * math.sqrt(o["BETY"] * bv["opp_ey"]),
                 sepx=1000.0 * (r.get("X", 0.0) - o.get("X", 0.0)),
                 sepy=1000.0 * (r.get("Y", 0.0) - o.get("Y", 0.0)), opp=o, row=r)
        sep = math.hypot(e["sepx"] / e["sigx"], e["sepy"] / e["sigy"])
        if not e["head_on"]:
            if sep == 0.0:
                raise ConvertError("long-range encounter %s (point %d) without "
                                   "separation%s" % (r["NAME"], k, "" if orbit else
                                                     ": the table has no crossing orbit"))
            if sep < ROUNDING_SEPARATION:
                say("warning: long-range encounter %s (point %d) is separated by "
                    "%.3g beam sizes only, rounding of a head-on encounter: check "
                    "the crossing orbit and the --head-on pattern" % (r["NAME"], k, sep))
        out.append(e)
    return out


def crossing(e):
    """Half crossing angle and plane at a 6D encounter: half the difference
    of the two beams' slopes, in the plane of the larger one."""
    r, o = e["row"], e["opp"]
    dx, dy = r["PX"] - o["PX"], r["PY"] - o["PY"]
    return (0.5 * dx, "x") if abs(dx) >= abs(dy) else (0.5 * dy, "y")


def load(args, given, say):
    """Read and check everything a conversion needs: (t1, t2, beam values)."""
    t1 = tfs.read(args.from_tfs)
    t1.need(*OPTICS)
    _check_betas(t1)
    t2 = tfs.read(args.opposing) if args.opposing else None
    if t2 is not None:
        _check_betas(t2)
    if args.head_on_6d:
        for t in (t1, t2):
            if t is not None:
                t.need("PX", "PY", why=": the 6D encounter's crossing angle "
                       "comes from the orbit's slopes")
    return t1, t2, beam_values.values(t1, t2, args, given, say)
