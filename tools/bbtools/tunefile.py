"""Tunes of every particle of a turn-by-turn run (``bbtune``), and the
loading of "frequencymap.dat" that ``bbtune`` and ``bbplot spectrum`` share.

"frequencymap.dat" holds ntrack records per surviving particle, particle
after particle. The first record of each particle is its start in
beta-scaled units [sqrt(m)], the others are in beam-size units; the start
is brought to beam-size units with the emittance of the run (emitn/gamma of
the diff.input beside the file, or --emit), and left out when the emittance
is unknown.

The number of records per particle is read from the file itself: each
particle begins with a beta-scaled record, a factor 1/sqrt(emit) smaller
than the next one. It is checked against the diff.input beside the file and
against --ntrack; a count that does not fit the file is refused.

Particles that never moved (the 24 particles of the turn-by-turn run that
start at the origin) have NaN tunes and are marked: a comment in the text
table, moved = 0 in the CSV.

For each particle and plane the table gives three tunes:

- ``peak``: the spectral-peak tune of the real record x (y), the rule of the
  footprint run, resolution 1/ntrack, folded into [0.5, 1];
- ``interp``: the Hann-interpolated tune of z = x - i px (y - i py);
- ``naff``: the refined tune of the same complex record.

The complex tunes lie in [0, 1) and are not folded: z turns one way only.
A record that is not finite, or zero throughout, has NaN tunes.

This module needs numpy only (no matplotlib).
"""

import argparse
import csv
import math
import os
import sys

from . import argtypes, params, readers, tunes

__all__ = ["COLUMNS", "diff_input_near", "frequencymap_ntrack",
           "first_sample_scale", "load_frequencymap", "tune_table",
           "write_table", "main"]

COLUMNS = ("particle", "qx_peak", "qx_interp", "qx_naff",
           "qy_peak", "qy_interp", "qy_naff")
# A particle's first (beta-scaled) record is smaller than its second by
# 1/sqrt(emit), above 1e3 for any emittance below 1e-6 m rad.
START_JUMP = 100.0

# Width of a tune column of the text table: 0.123456789012345 and a margin.
_WIDTH = 19


def diff_input_near(path):
    """Parameters of the diff.input beside ``path``, or None when there is
    none or it cannot be read."""
    cand = readers.sibling(path, "diff.input")
    if os.path.exists(cand):
        try:
            return params.read_params(cand)
        except (params.ParamError, OSError):
            return None
    return None


def _starts(flat):
    """Indices of the records that begin a particle (beta-scaled start
    followed by a record in beam sizes)."""
    import numpy as np

    r = np.sqrt(np.sum(flat * flat, axis=1))
    with np.errstate(divide="ignore", invalid="ignore"):
        jump = (r[:-1] > 0) & (r[1:] > START_JUMP * r[:-1])
    return np.nonzero(jump)[0]


def _file_ntrack(flat):
    """Records per particle as the file shows them, None when it cannot tell
    (fewer than two particles begin visibly)."""
    import math as _m

    starts = [int(i) for i in _starts(flat)]
    g = 0
    for i in starts + [len(flat)]:
        g = _m.gcd(g, i)
    return g if len([i for i in starts if i > 0]) >= 1 and g > 1 else None


def frequencymap_ntrack(path, ntrack=None, flat=None, warn=None):
    """Records per particle of a frequencymap.dat.

    Read from the records ``flat`` (shape (records, 4)) when they show it,
    and checked against ``ntrack`` (given) and the ntrack of the diff.input
    beside the file; else ``ntrack``, else that of diff.input. A count that
    does not fit the file raises ReaderError; ``warn`` gets a note when
    diff.input disagrees with the file.
    """
    p = diff_input_near(path)
    near = int(p["ntrack"]) if p is not None else None
    seen = _file_ntrack(flat) if flat is not None and len(flat) else None
    if ntrack is not None:
        ntrack = int(ntrack)
        if ntrack < 1:
            raise readers.ReaderError("ntrack must be at least 1, got %d" % ntrack)
        if flat is not None and len(flat) % ntrack:
            raise readers.ReaderError(
                "%s holds %d records, not a multiple of ntrack = %d%s"
                % (path, len(flat), ntrack,
                   "" if seen is None else "; the file holds %d records per particle" % seen))
        if seen is not None and seen != ntrack:
            raise readers.ReaderError(
                "%s: ntrack = %d does not divide the file into particles: its particles "
                "begin every %d records (the beta-scaled first sample of each); the file "
                "was written with ntrack = %d" % (path, ntrack, seen, seen))
        return ntrack
    if seen is not None:
        if near is not None and near != seen and warn is not None:
            warn("the diff.input beside %s says ntrack = %d, the file holds %d records "
                 "per particle: using %d" % (path, near, seen, seen))
        return seen
    if near is None:
        raise readers.ReaderError(
            "%s: give --ntrack (records per particle); the file does not show it and "
            "there is no readable diff.input beside it" % path)
    return near


def first_sample_scale(path, emit=None):
    """Factor that brings the first record of a particle (beta-scaled) to
    beam-size units: 1/sqrt(emit), with the geometric emittance ``emit`` or
    emitn/gamma of the diff.input beside the file; None when unknown."""
    if emit is None:
        p = diff_input_near(path)
        if p is None or not p["gamma"]:
            return None
        emit = p["emitn"] / p["gamma"]
    return 1.0 / math.sqrt(emit) if emit > 0 else None


def load_frequencymap(path, ntrack=None, emit=None, warn=None):
    """Records as an array (particles, samples, 4) in beam-size units, and
    whether the first sample is kept.

    The records per particle come from ``frequencymap_ntrack``. The first
    sample is rescaled when the emittance is known (``emit`` or the
    diff.input beside the file) and left out otherwise.
    """
    flat = readers.read_frequencymap(path, 1).reshape(-1, 4)
    if not len(flat):
        raise readers.ReaderError("%s holds no records" % path)
    n = frequencymap_ntrack(path, ntrack, flat, warn)
    if len(flat) % n:
        raise readers.ReaderError("%s holds %d records, not a multiple of ntrack = %d"
                                  % (path, len(flat), n))
    data = flat.reshape(len(flat) // n, n, 4)
    scale = first_sample_scale(path, emit)
    if scale is None:
        return data[:, 1:, :], False
    data = data.copy()
    data[:, 0, :] *= scale
    return data, True


def tune_table(data):
    """Rows (particle, qx_peak, qx_interp, qx_naff, qy_peak, qy_interp,
    qy_naff) of an array (particles, samples, 4); particles from 1."""
    rows = []
    for p in range(data.shape[0]):
        rec = data[p]
        qx = tunes.analyse(rec[:, 0], rec[:, 1])
        qy = tunes.analyse(rec[:, 2], rec[:, 3])
        rows.append((p + 1,) + tuple(float(q) for q in qx + qy))
    return rows


def never_moved(data):
    """Per particle: True when every record is zero (it starts at the origin
    and stays there)."""
    import numpy as np

    return [bool(np.all(data[p] == 0.0)) for p in range(data.shape[0])]


def write_table(rows, fh, as_csv=False, still=None):
    """Write the rows as an aligned text table with a '#' header line, or
    as CSV with a plain header line. ``still`` (per row, True for a particle
    that never moved) adds a comment to the text rows and the CSV column
    ``moved``."""
    still = still or [False] * len(rows)
    if as_csv:
        w = csv.writer(fh, lineterminator="\n")
        w.writerow(COLUMNS + ("moved",))
        for r, st in zip(rows, still):
            w.writerow([r[0]] + [repr(q) for q in r[1:]] + [0 if st else 1])
        return
    fh.write("# " + COLUMNS[0].rjust(8)
             + "".join(c.rjust(_WIDTH) for c in COLUMNS[1:]) + "\n")
    for r, st in zip(rows, still):
        fh.write("%10d" % r[0] + "".join("%*.15f" % (_WIDTH, q) for q in r[1:])
                 + ("  # never moved (starts at the origin)" if st else "") + "\n")


def _positive(text):
    try:
        v = float(text)
    except ValueError:
        v = math.nan
    if not (math.isfinite(v) and v > 0):
        raise argparse.ArgumentTypeError("%r is not a finite number above 0" % text)
    return v




def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="bbtune", description=__doc__, formatter_class=argtypes.Help,
        epilog="Exit status: 0 table written, 1 a file that cannot be read as asked, "
               "2 usage.")
    ap.add_argument("file", nargs="?", default="frequencymap.dat",
                    help="turn-by-turn records of an option-2 run")
    ap.add_argument("-o", "--out", help="write the table to OUT (default: standard output)")
    ap.add_argument("--csv", action="store_true",
                    help="comma-separated values with every digit, and a column moved")
    ap.add_argument("--ntrack", type=argtypes.positive_int,
                   help="records per particle [turns] (default: "
                    "read from the file, else the ntrack of the diff.input beside it)")
    ap.add_argument("--emit", type=_positive, help="geometric emittance [m rad], to rescale "
                    "the beta-scaled first sample (default: emitn/gamma of the diff.input "
                    "beside the file; without either the first sample is left out)")
    a = ap.parse_args(argv)

    def warn(msg):
        print("bbtune: warning: %s" % msg, file=sys.stderr)

    try:
        if not os.path.isfile(a.file):
            raise readers.ReaderError("%s: no such file" % a.file)
        data, first_kept = load_frequencymap(a.file, a.ntrack, a.emit, warn)
    except (readers.ReaderError, OSError) as e:
        print("bbtune: %s" % e, file=sys.stderr)
        return 1
    if not first_kept:
        warn("emittance unknown (no diff.input, no --emit): the first sample of each "
             "particle is left out")
    rows = tune_table(data)
    still = never_moved(data)
    try:
        if a.out:
            with open(a.out, "w") as fh:
                write_table(rows, fh, a.csv, still)
        else:
            write_table(rows, sys.stdout, a.csv, still)
            sys.stdout.flush()
    except BrokenPipeError:  # reader of the pipe gone (e.g. head): stop quietly
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as e:
        print("bbtune: %s" % e, file=sys.stderr)
        return 1
    return 0
