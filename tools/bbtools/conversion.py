"""Twiss tables to the tracker's input (make_ring.py --from-tfs): the classic
folder's files, or the general ring file (--ring-out); and the check of what
was written (--check).  Everything is read and checked before the first
file is written."""

import math
import os

from bbtools import classic_folder as cf
from bbtools import collider
from bbtools import lattice
from bbtools import ring_file
from bbtools.beam_values import ConvertError


def to_classic(args, given, say):
    """Write the classic folder args.out; returns the tunes and betas the
    check expects."""
    t1, t2, bv = lattice.load(args, given, say)
    ring, wrap = lattice.points_classic(t1, args)
    for q in (bv["q1"], bv["q2"]):
        if not 0.5 < q % 1.0 < 1.0:
            raise ConvertError("fractional tune %r: the classic folder needs tunes "
                               "above the half integer (--ring-out takes any)" % q)
    if bv["length"] is None:
        raise ConvertError("%s: LENGTH is not in the header; give --circumference"
                           % t1.path)
    mats = lattice.sections(t1, ring, wrap, (bv["q1"], bv["q2"]),
                            (args.qs, args.beta_long))
    encs = lattice.encounters(t1, t2, ring, bv, args, say, skip={lattice.NOENC})
    rows = [(e["point"], e["sigx"], e["sigy"], e["sepx"], e["sepy"]) for e in encs if e]
    if bv["emitn_y"] != bv["emitn_x"]:
        say("the classic folder takes one emittance: emitn %r (EX), not %r (EY)"
            % (bv["emitn_x"], bv["emitn_y"]))
    args.gamma, args.emitn, args.dnb = bv["gamma"], bv["emitn_x"], bv["npart"]
    args.qx, args.qy, args.circumference = bv["q1"], bv["q2"], bv["length"]
    args.excluded = args.excluded if "excluded" in given else []
    if "betastar" not in given:
        args.betastar = ring[0]["BETX"]
    if "itrip" not in given:
        args.itrip = 0        # the model's triplet errors are not this ring's
    emit = args.emitn / args.gamma
    if "xi" not in given:
        args.xi = float("%.4g" % (args.dnb * cf.RP / (4.0 * math.pi * args.emitn)))
    if "sstar" not in given:
        args.sstar = float("%.4g" % math.sqrt(args.betastar * emit))
    if "divstar" not in given:
        args.divstar = float("%.4g" % math.sqrt(emit / args.betastar))
    os.makedirs(args.out, exist_ok=True)
    cf.write_matrices(os.path.join(args.out, "Matrices.dat"), mats)
    cf.write_sigma_rows(os.path.join(args.out, "Sigmas.dat"), rows)
    cf.write_excluded(os.path.join(args.out, "excluded.dat"), args.excluded)
    cf.write_diff_input(os.path.join(args.out, "diff.input"), args)
    names = ["Matrices.dat", "Sigmas.dat", "excluded.dat", "diff.input"]
    if args.itrip == 1:
        collider.write_multdist(os.path.join(args.out, "multdist.dat"), args)
        names.append("multdist.dat")
    say("wrote %s to %s" % (", ".join(names), args.out))
    return (bv["q1"], bv["q2"]), (ring[0]["BETX"], ring[0]["BETY"])



def to_ring(args, given, say):
    """The general ring of the tables (a ring_file.Ring), and the tunes and
    betas the check expects."""
    t1, t2, bv = lattice.load(args, given, say)
    ring, wrap = lattice.points_general(t1, args)
    longitudinal = (args.qs, args.beta_long) if "qs" in given else None
    mats = lattice.sections(t1, ring, wrap, (bv["q1"], bv["q2"]), longitudinal)
    skip = set(args.excluded) if "excluded" in given else set()
    encs = lattice.encounters(t1, t2, ring, bv, args, say, skip=skip)
    out = ring_file.Ring(bv["gamma"], bv["emitn_x"], bv["emitn_y"])
    for k, (r, e, m) in enumerate(zip(ring, encs, mats)):
        if e is not None and e["head_on"] and args.head_on_6d:
            phi, plane = lattice.crossing(e)
            o = e["opp"]
            out.add("encounter6d", [
                ("name", e["name"]), ("npart", e["npart"]), ("sigx", e["sigx"]),
                ("sigy", e["sigy"]), ("betx", o["BETX"]), ("bety", o["BETY"]),
                ("alfx", o["ALFX"]), ("alfy", o["ALFY"]), ("sigz", args.sigma_z),
                ("slices", args.slices), ("phi", phi), ("plane", plane),
                ("sepx", e["sepx"]), ("sepy", e["sepy"])])
        elif e is not None:
            out.add("encounter", [(f, e[f]) for f in ("name", "npart", "sigx", "sigy",
                                                      "sepx", "sepy")])
        out.add("matrix", ring_file.matrix_fields(m, r["NAME"]))
    n6 = out.count("encounter6d")
    say("ring of %d points from %s: %d encounters%s, observation point %s"
        % (len(ring), t1.path, out.count("encounter") + n6,
           " (%d six-dimensional)" % n6 if n6 else "", ring[0]["NAME"]))
    return out, (bv["q1"], bv["q2"]), (ring[0]["BETX"], ring[0]["BETY"])


# ---------------------------------------------------------------- check

def plane_optics(m, o):
    """Fractional tune in [0, 1) (the sign of the phase advance from the
    matrix: sin mu has the sign of m12) and beta of the 2x2 block at o."""
    a, b, d = m[o][o], m[o][o + 1], m[o + 1][o + 1]
    c = 0.5 * (a + d)
    if not -1.0 < c < 1.0:
        raise ConvertError("unstable one-turn map: trace %r in plane %s"
                           % (2 * c, "xy"[o // 2]))
    s = math.copysign(math.sqrt(1.0 - c * c), b)
    return (math.atan2(s, c) / (2.0 * math.pi)) % 1.0, b / s


def one_turn(mats):
    n = len(mats[0])
    t = [[float(i == j) for j in range(n)] for i in range(n)]
    for m in mats:
        t = [[sum(m[i][l] * t[l][j] for l in range(n)) for j in range(n)] for i in range(n)]
    return t


def check(mats, tunes, betas):
    """Report lines of the one-turn map of mats (SI) against the tunes and
    betas of the table; ConvertError when they differ."""
    t = one_turn(mats)
    rep = []
    for o, q, b in ((0, tunes[0], betas[0]), (2, tunes[1], betas[1])):
        qm, bm = plane_optics(t, o)
        rep.append("plane %s: one-turn tune %.12f (expected %.12f), beta %.9g m (expected %.9g m)"
                   % ("xy"[o // 2], qm, q % 1.0, bm, b))
        if abs(qm - q % 1.0) > 1e-9 or abs(bm - b) > 1e-9 * b:
            raise ConvertError("check failed: " + rep[-1])
    return rep


def check_ring(path, tunes, betas):
    _, recs = ring_file.read(path)
    mats = [ring_file.matrix_si(f) for k, f in recs if k == "matrix"]
    return check(mats, tunes, betas)


def check_classic(folder, tunes, betas):
    return check(cf.read_matrices(os.path.join(folder, "Matrices.dat")), tunes, betas)
