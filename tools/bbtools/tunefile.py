"""Tunes of every particle of a turn-by-turn run (``bbtune``), and the
loading of "frequencymap.dat" that ``bbtune`` and ``bbplot spectrum`` share.

"frequencymap.dat" holds ntrack records per surviving particle, particle
after particle. The first record of each particle is its start in
beta-scaled units [sqrt(m)], the others are in beam-size units; the start
is brought to beam-size units with the emittance of the run.

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

from . import params, readers, tunes

__all__ = ["COLUMNS", "diff_input_near", "frequencymap_ntrack",
           "first_sample_scale", "load_frequencymap", "tune_table",
           "write_table", "main"]

COLUMNS = ("particle", "qx_peak", "qx_interp", "qx_naff",
           "qy_peak", "qy_interp", "qy_naff")

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


def frequencymap_ntrack(path, ntrack=None):
    """Records per particle of a frequencymap.dat: ``ntrack`` when given,
    else the ntrack of the diff.input beside the file."""
    if ntrack is not None:
        return int(ntrack)
    p = diff_input_near(path)
    if p is None:
        raise readers.ReaderError(
            "%s: give --ntrack (records per particle); no readable diff.input "
            "beside the file to take it from" % path)
    return int(p["ntrack"])


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


def load_frequencymap(path, ntrack=None, emit=None):
    """Records as an array (particles, samples, 4) in beam-size units, and
    whether the first sample is kept.

    The first sample is rescaled when the emittance is known (``emit`` or
    the diff.input beside the file) and left out otherwise.
    """
    n = frequencymap_ntrack(path, ntrack)
    data = readers.read_frequencymap(path, n)
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


def write_table(rows, fh, as_csv=False):
    """Write the rows as an aligned text table with a '#' header line, or
    as CSV with a plain header line."""
    if as_csv:
        w = csv.writer(fh, lineterminator="\n")
        w.writerow(COLUMNS)
        for r in rows:
            w.writerow([r[0]] + [repr(q) for q in r[1:]])
        return
    fh.write("# " + COLUMNS[0].rjust(8)
             + "".join(c.rjust(_WIDTH) for c in COLUMNS[1:]) + "\n")
    for r in rows:
        fh.write("%10d" % r[0]
                 + "".join("%*.15f" % (_WIDTH, q) for q in r[1:]) + "\n")


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="bbtune", description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("file", nargs="?", default="frequencymap.dat",
                    help="turn-by-turn records (default: frequencymap.dat)")
    ap.add_argument("-o", "--out", help="write the table to OUT instead of stdout")
    ap.add_argument("--csv", action="store_true", help="comma-separated values")
    ap.add_argument("--ntrack", type=int, help="records per particle (default: "
                    "ntrack of the diff.input beside the file)")
    ap.add_argument("--emit", type=float, help="geometric emittance [m rad], to "
                    "rescale the first sample (default: emitn/gamma of diff.input)")
    a = ap.parse_args(argv)

    try:
        if not os.path.isfile(a.file):
            raise readers.ReaderError("%s: no such file" % a.file)
        data, first_kept = load_frequencymap(a.file, a.ntrack, a.emit)
    except (readers.ReaderError, OSError) as e:
        print("bbtune: %s" % e, file=sys.stderr)
        return 2
    if not first_kept:
        print("bbtune: emittance unknown (no diff.input, no --emit): the first "
              "sample of each particle is left out", file=sys.stderr)
    rows = tune_table(data)
    try:
        if a.out:
            with open(a.out, "w") as fh:
                write_table(rows, fh, a.csv)
        else:
            write_table(rows, sys.stdout, a.csv)
            sys.stdout.flush()
    except BrokenPipeError:  # reader of the pipe gone (e.g. head): stop quietly
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as e:
        print("bbtune: %s" % e, file=sys.stderr)
        return 2
    return 0
