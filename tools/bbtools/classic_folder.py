"""The classic input folder's files: "Matrices.dat", "Sigmas.dat",
"excluded.dat" and "diff.input", written with fixed formats (17 significant
digits for the optics, so that a number reads back to the same double) and
read back as the tracker reads them.

File units.  Positions are written in mm and angles in rad (z in mm, delta
without unit), so a file matrix is R_file(i,j) = R_SI(i,j) d_j / d_i with
d = (0.001, 1, 0.001, 1, 0.001, 1); the tracker undoes this on reading.
"""

import math
import os

from bbtools import params

NPOINTS = 73       # sections (and encounter points) of the tracker
NOENC = 25         # the point without an encounter
RP = 1.5e-18       # classical proton radius used by the tracker [m]
# Scale of the file units: positions in mm, angles in rad.
UNIT = (0.001, 1.0, 0.001, 1.0, 0.001, 1.0)


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



def write_sigma_rows(path, rows):
    """Sigmas.dat from rows (point, sigx, sigy, x, y) [mm]."""
    with open(path, "w", newline="\n") as f:
        for k, sx, sy, x, y in rows:
            f.write("%2d %s %s %s %s\n" % (k, e17(sx), e17(sy), e17(x), e17(y)))


def write_excluded(path, points):
    with open(path, "w", newline="\n") as f:
        for k in points:
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



def num(text):
    """A number as the classic files write it (also 1.0d-3)."""
    v = float(text.replace("d", "e").replace("D", "e"))
    if not math.isfinite(v):
        raise ValueError("%r is not a finite number" % text)
    return v


def read_matrices(path, file_units=False):
    """The 73 matrices of Matrices.dat, as the tracker reads them, in
    tracking units (m, rad), or as written (file_units)."""
    with open(path) as f:
        lines = f.read().split("\n")
    if lines[-1] == "":
        lines = lines[:-1]
    if len(lines) < 7 * NPOINTS:
        raise ValueError("%s: %d lines, %d needed (73 blocks of a name line and "
                         "six rows)" % (path, len(lines), 7 * NPOINTS))
    mats = []
    for k in range(NPOINTS):
        t = []
        for i in range(6):
            no = 7 * k + 2 + i
            try:
                v = [num(x) for x in lines[no - 1].split()]
            except ValueError as e:
                raise ValueError("%s:%d: %s" % (path, no, e)) from None
            if len(v) < 6:
                raise ValueError("%s:%d: a row of six numbers expected" % (path, no))
            t.append(v[:6] if file_units else [v[j] * UNIT[i] / UNIT[j] for j in range(6)])
        mats.append(t)
    return mats


def _records(path):
    """(record number, tokens) of a file read record by record: one record
    per line, blanks or commas between values, # and ! start comments."""
    out = []
    with open(path) as f:
        for line in f:
            for c in "#!":
                line = line.split(c)[0]
            toks = line.replace(",", " ").split()
            if toks:
                out.append((len(out) + 1, toks))
    return out


def read_sigmas(path):
    """{point: (sigx, sigy, x, y)} [mm] of Sigmas.dat: its 72 records in point
    order, point 25 left out (the point field is not what places a record)."""
    recs = _records(path)
    if len(recs) < NPOINTS - 1:
        raise ValueError("%s: %d records, %d needed" % (path, len(recs), NPOINTS - 1))
    points = [k for k in range(1, NPOINTS + 1) if k != NOENC]
    out = {}
    for k, (no, toks) in zip(points, recs):
        try:
            out[k] = tuple(num(x) for x in toks[1:5])
        except ValueError as e:
            raise ValueError("%s: record %d: %s" % (path, no, e)) from None
        if len(out[k]) < 4:
            raise ValueError("%s: record %d: five values needed" % (path, no))
    return out


def read_excluded(path):
    """The points of excluded.dat that exclude an encounter (whole numbers
    1 .. 73, first value of a line); a missing file excludes nothing."""
    if not os.path.exists(path):
        return []
    out = []
    for no, toks in _records(path)[:NPOINTS]:
        try:
            k = int(toks[0])
        except ValueError:
            raise ValueError("%s: record %d: %r is not a whole number"
                             % (path, no, toks[0])) from None
        if 1 <= k <= NPOINTS:
            out.append(k)
    return out


def read_optional(path, least, most):
    """(record number, tokens) of wires.dat, multipoles.dat or
    modulation.dat (nothing when the file is missing)."""
    if not os.path.exists(path):
        return []
    recs = _records(path)
    for no, toks in recs:
        if not least <= len(toks) <= most:
            raise ValueError("%s: record %d: %d values (%d to %d expected)"
                             % (path, no, len(toks), least, most))
    return recs
