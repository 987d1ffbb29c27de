"""Readers of the files that diff2wirenew writes.

Every result file is a fixed-column text file. Numbers follow the tracker's
output conventions, which a plain ``float()`` does not always accept:

- E fields may lack the leading zero: ``-.1235E+03``;
- exponents of three digits carry no letter: ``0.1000-119`` is 0.1e-119 and
  ``0.1234+100`` is 0.1234e100;
- non-finite values are written ``nan``, ``-nan``, ``inf`` or ``-inf``;
- a value too wide for its field is a run of asterisks (read as NaN here).

Fields are cut at their columns, never split at blanks, so that a reader does
not depend on a blank between two fields.

Only ``read_frequencymap`` and ``columns`` need numpy; the rest
uses the standard library, so that ``bbscan`` runs without numpy.
"""

import math
import os
import re

__all__ = [
    "parse_real", "parse_int", "read_fixed",
    "read_footprint", "read_diff", "read_resav", "read_phasespace",
    "read_frequencymap", "read_stdout", "ReaderError",
]


class ReaderError(ValueError):
    """A file does not have the layout its reader expects."""


_REAL = re.compile(
    r"""^([+-]?)               # sign
        (\d+\.?\d*|\.\d+)      # mantissa: 12, 12., 1.5, .5
        (?:[EeDdQq]([+-]?\d+)  # exponent with a letter
         |([+-]\d+))?$         # or a signed exponent without letter
    """, re.X)

_NONFINITE = {
    "nan": math.nan, "+nan": math.nan, "-nan": -math.nan,
    "inf": math.inf, "+inf": math.inf, "-inf": -math.inf,
    "infinity": math.inf, "+infinity": math.inf, "-infinity": -math.inf,
}


def parse_real(text):
    """Value of one REAL field as the tracker writes it (see module doc)."""
    s = text.strip()
    try:
        return float(s)
    except ValueError:
        pass
    low = s.lower()
    if low in _NONFINITE:
        return _NONFINITE[low]
    if s and set(s) == {"*"}:
        return math.nan
    m = _REAL.match(s)
    if not m:
        raise ValueError("not a number: %r" % text)
    sign, mant, exp1, exp2 = m.groups()
    exp = exp1 if exp1 is not None else (exp2 if exp2 is not None else "0")
    return float("%s%se%s" % (sign, mant, exp))


def parse_int(text):
    """Value of one INTEGER field; None for a field of asterisks."""
    s = text.strip()
    if s and set(s) == {"*"}:
        return None
    return int(s)


def _text_lines(path):
    """The lines of a text file without their line feeds; a file that is
    not text (bytes that are not UTF-8, or NUL) raises ReaderError."""
    try:
        with open(path, "r", encoding="utf-8", errors="strict") as fh:
            text = fh.read()
    except UnicodeDecodeError:
        raise ReaderError("%s is not a text file" % path) from None
    if "\0" in text:
        raise ReaderError("%s is not a text file (it holds NUL bytes)" % path)
    lines = text.split("\n")
    return lines[:-1] if lines and lines[-1] == "" else lines


def read_fixed(path, fields, min_fields=None):
    """Records of a fixed-column file.

    ``fields`` is a list of ``(name, first_column, last_column, kind)`` with
    columns counted from 1 and kind ``"i"`` or ``"r"``. Returns a list of
    dicts. Empty lines are skipped; a line too short for its fields or with a
    field that is not a number raises ReaderError naming file and line.
    """
    need = min_fields if min_fields is not None else len(fields)
    width = fields[need - 1][2] if need else 0
    records = []
    for lineno, line in enumerate(_text_lines(path), 1):
        if not line.strip():
            continue
        if len(line) < width:
            raise ReaderError("%s:%d: record cut short: %d characters, a record of "
                              "this file has %d (a file cut in the middle of a record?)"
                              % (path, lineno, len(line), width))
        rec = {}
        for idx, (name, c0, c1, kind) in enumerate(fields):
            cell = line[c0 - 1:c1]
            if not cell.strip():
                if idx < need:
                    raise ReaderError("%s:%d: column %d-%d (%s) is empty"
                                      % (path, lineno, c0, c1, name))
                rec[name] = None
                continue
            try:
                rec[name] = parse_int(cell) if kind == "i" else parse_real(cell)
            except ValueError:
                raise ReaderError("%s:%d: column %d-%d (%s) holds %r"
                                  % (path, lineno, c0, c1, name, cell)) from None
        records.append(rec)
    return records


# (2(1X,I5),2(1X,E10.4))
FOOTPRINT_FIELDS = [("iang", 2, 6, "i"), ("iamp", 8, 12, "i"),
                    ("qx", 14, 23, "r"), ("qy", 25, 34, "r")]
# (I6,3(1X,E10.3),1X,I3,1X,I3)
DIFF_FIELDS = [("turn", 1, 6, "i"), ("tnow", 8, 17, "r"), ("avx", 19, 28, "r"),
               ("avy", 30, 39, "r"), ("nlost", 41, 43, "i"), ("npart", 45, 47, "i")]
# (1X,3(1X,E10.4),1X,I2,1X,4(1X,E10.4))
RESAV_FIELDS = [("ampin", 3, 12, "r"), ("diffx", 14, 23, "r"), ("diffy", 25, 34, "r"),
                ("ichoice", 36, 37, "i"), ("phase1", 40, 49, "r"),
                ("phase2", 51, 60, "r"), ("phase3", 62, 71, "r"),
                ("phase4", 73, 82, "r")]
# (1X,I5,4(1X,E10.4))
PHASESPACE_FIELDS = [("turn", 2, 6, "i"), ("x", 8, 17, "r"), ("px", 19, 28, "r"),
                     ("y", 30, 39, "r"), ("py", 41, 50, "r")]
# (4(1X,E18.12))
FMAP_FIELDS = [("x", 2, 19, "r"), ("px", 21, 38, "r"), ("y", 40, 57, "r"),
               ("py", 59, 76, "r")]

# Footprint grid of the tracker: 13 x 13 points, amplitudes 0.01 ... 6.01
# sigma_x in steps of 0.5 sigma_x, angles 0 ... pi/2 in steps of pi/24.
FOOTPRINT_NSIDE = 13


def footprint_amplitude(iamp, nside=FOOTPRINT_NSIDE):
    """Start amplitude of amplitude index ``iamp``, in units of sigma_x."""
    return 0.01 + iamp * 6.0 / (nside - 1)


def footprint_angle(iang, nside=FOOTPRINT_NSIDE):
    """Start angle of angle index ``iang``, in radians (atan(y/x))."""
    return iang * math.pi / (2.0 * (nside - 1))


def read_footprint(path):
    """Records of "footprint.dat": dicts with iang, iamp, qx, qy.

    A grid point that received no tracking data has NaN tunes. A file with
    fewer than the (FOOTPRINT_NSIDE + 1)^2 records of a footprint, or with a
    finite tune outside [0, 1], is refused.
    """
    recs = read_fixed(path, FOOTPRINT_FIELDS)
    full = (FOOTPRINT_NSIDE + 1) ** 2
    if recs and len(recs) < full:
        raise ReaderError("%s holds %d records, a footprint has %d: the file is cut "
                          "short" % (path, len(recs), full))
    for k, r in enumerate(recs, 1):
        for q in ("qx", "qy"):
            if not math.isnan(r[q]) and not 0.0 <= r[q] <= 1.0:
                raise ReaderError("%s: record %d: %s = %r is not a fractional tune "
                                  "(0 ... 1)" % (path, k, q, r[q]))
    return recs


# Turns between two records of diff.dat (and of fort.20).
DIFF_STEP = 100


def read_diff(path):
    """Records of "diff.dat" (or fort.20): turn, tnow [s], avx, avy, nlost, npart.

    nlost and npart are None where the field overflowed (asterisks). The
    turn field (I6) overflows from turn 1,000,000 on; such turns are rebuilt
    from the record order (DIFF_STEP turns after the record before) and the
    record gets ``turn_rebuilt`` True.
    """
    recs = read_fixed(path, DIFF_FIELDS)
    prev = None
    for r in recs:
        r["turn_rebuilt"] = r["turn"] is None
        if r["turn"] is None:
            if prev is None:
                raise ReaderError("%s: the first record's turn is not readable (%s)"
                                  % (path, "*" * 6))
            r["turn"] = prev + DIFF_STEP
        prev = r["turn"]
    return recs


def read_resav(path):
    """The summary record(s) of "resav.out": ampin [sigma], diffx, diffy
    [spread per turn], ichoice and the four tune values of the parameter file.
    """
    return read_fixed(path, RESAV_FIELDS)


def read_phasespace(path):
    """Records of "phasespace.dat": turn, x, px, y, py."""
    return read_fixed(path, PHASESPACE_FIELDS)


_LOST = re.compile(r"^\s*lost particles\s*=\s*(\S+)")


def read_stdout(path):
    """Facts of a run's standard output: ``lost`` (final lost-particle count
    or None when the line is missing, i.e. the run did not end normally),
    ``ntrack_stop`` (True when the turn limit stopped the run) and the
    last line."""
    lost = None
    stop = False
    last = ""
    with open(path, "r", errors="replace") as fh:
        for line in fh:
            m = _LOST.match(line)
            if m:
                try:
                    lost = int(m.group(1))
                except ValueError:
                    lost = None
            if "ntrack>ntmapm" in line:
                stop = True
            if line.strip():
                last = line.rstrip("\n")
    return {"lost": lost, "ntrack_stop": stop, "last": last}


def read_frequencymap(path, ntrack):
    """Turn-by-turn records of "frequencymap.dat" as an array of shape
    (particles, ntrack, 4): x, px, y, py per sample.

    The file holds ``ntrack`` records per surviving particle (lost particles
    are not written), particle after particle. Sample 0 is in beta-scaled
    units [sqrt(m)], later samples in beam-size units (see
    ``first_sample_scale`` in ``bbtools.tunefile``).
    """
    import numpy as np

    ntrack = int(ntrack)
    if ntrack < 1:
        raise ReaderError("ntrack must be at least 1, got %d" % ntrack)
    lines = [ln for ln in _text_lines(path) if ln.strip()]
    text = "\n".join(lines)
    data = None
    tokens = text.split()
    if len(tokens) == 4 * len(lines):
        try:  # fast path: every field is something float() reads
            data = np.array(tokens, dtype=float).reshape(len(lines), 4)
        except ValueError:
            data = None
    if data is None:
        data = np.empty((len(lines), 4))
        for i, line in enumerate(lines):
            for j, (name, c0, c1, _) in enumerate(FMAP_FIELDS):
                cell = line[c0 - 1:c1]
                try:
                    data[i, j] = parse_real(cell)
                except ValueError:
                    raise ReaderError("%s: record %d, column %d-%d (%s) holds %r"
                                      % (path, i + 1, c0, c1, name, cell)) from None
    if len(data) % ntrack:
        raise ReaderError("%s holds %d records, not a multiple of ntrack = %d"
                          % (path, len(data), ntrack))
    return data.reshape(len(data) // ntrack, ntrack, 4)


def columns(records, *names):
    """numpy arrays of the named fields of a list of records (None -> NaN)."""
    import numpy as np

    out = []
    for name in names:
        out.append(np.array([math.nan if r[name] is None else r[name]
                             for r in records], dtype=float))
    return out if len(out) != 1 else out[0]


def sibling(path, name):
    """Path of file ``name`` in the folder of ``path``."""
    return os.path.join(os.path.dirname(os.path.abspath(path)), name)
