"""The general ring file of ``diff2wirenew dynap --ring FILE``: writing, reading
back, and the conversion of a classic folder (docs/inputs.md, "The general
ring").

A ring is a version line, one ``beam`` record, then the elements in ring
order from the observation point, one record each: ``keyword key=value ...``.
Numbers are written by repr(), the shortest text that reads back to the same
double; matrices in the units of "Matrices.dat" (positions and z in mm,
angles in rad, delta without unit).
"""

import math
import os

from bbtools import classic_folder as cf
from bbtools import params

VERSION = "bbtrack-ring 1"
KINDS = ("beam", "modulation", "matrix", "encounter", "wire", "multipole", "encounter6d")


def number(v):
    """Shortest text of a finite float or an int that reads back exactly."""
    if isinstance(v, int):
        return "%d" % v
    if not math.isfinite(v):
        raise ValueError("%r is not a finite number" % v)
    return repr(float(v))


def matrix_fields(m, name=None, file_units=False):
    """Fields of a matrix record from m (4x4 or 6x6) in SI units (m, rad) or
    already in the file's units."""
    n = len(m)
    vals = [m[i][j] * (1.0 if file_units else cf.UNIT[j] / cf.UNIT[i])
            for i in range(n) for j in range(n)]
    out = [] if name is None else [("name", name)]
    return out + [("m", ",".join(number(v) for v in vals))]


class Ring:
    """gamma, emitn, emitny of the tracked beam; modulation: field lists;
    elements: (keyword, [(key, value), ...]) in ring order."""

    def __init__(self, gamma, emitn, emitny=None):
        self.gamma, self.emitn, self.emitny = gamma, emitn, emitny
        self.modulation, self.elements = [], []

    def add(self, keyword, fields):
        self.elements.append((keyword, [(k, v) for k, v in fields if v is not None]))

    def count(self, keyword):
        return sum(1 for k, _ in self.elements if k == keyword)

    def text(self, comments=()):
        lines = ["# " + c for c in comments] + [VERSION]
        beam = [("gamma", self.gamma), ("emitn", self.emitn)]
        if self.emitny is not None and self.emitny != self.emitn:
            beam.append(("emitny", self.emitny))
        recs = [("beam", beam)] + [("modulation", f) for f in self.modulation]
        for keyword, fields in recs + self.elements:
            lines.append(" ".join([keyword] + ["%s=%s" % (k, v if isinstance(v, str)
                                                          else number(v))
                                               for k, v in fields]))
        return "\n".join(lines) + "\n"


def write(path, ring, comments=()):
    """Write ring to path (text made first, so a bad value writes nothing)."""
    text = ring.text(comments)
    with open(path, "w", newline="\n") as f:
        f.write(text)


def read(path):
    """(beam fields, [(keyword, fields)]) of a ring file; fields are dicts of
    text.  A reader for checks and tests: the program's reader is the judge."""
    beam, recs = None, []
    with open(path) as f:
        lines = [ln.split("#")[0].split("!")[0].strip() for ln in f]
    lines = [ln for ln in lines if ln]
    if not lines or lines[0] != VERSION:
        raise ValueError("%s: the first line is not %r" % (path, VERSION))
    for ln in lines[1:]:
        keyword, *pairs = ln.split()
        fields = dict(p.split("=", 1) for p in pairs)
        if keyword == "beam":
            beam = fields
        else:
            recs.append((keyword, fields))
    return beam, recs


def matrix_si(fields):
    """The SI matrix (list of rows) of a matrix record's fields."""
    vals = [float(v) for v in fields["m"].split(",")]
    n = int(round(math.sqrt(len(vals))))
    return [[vals[i * n + j] * (cf.UNIT[i] / cf.UNIT[j]) for j in range(n)]
            for i in range(n)]


# ---------------------------------------------------------------- classic folder

def from_folder(folder):
    """The general ring of a classic folder: section k becomes its encounter
    (unless excluded, or point 25), its wires, its multipoles, its matrix;
    the opposing population is diff.input's dnb at every encounter, the
    beam's gamma and emittance diff.input's."""
    p = params.read_params(os.path.join(folder, "diff.input"))
    mats = cf.read_matrices(os.path.join(folder, "Matrices.dat"), file_units=True)
    sig = cf.read_sigmas(os.path.join(folder, "Sigmas.dat"))
    excluded = set(cf.read_excluded(os.path.join(folder, "excluded.dat")))
    wires = cf.read_optional(os.path.join(folder, "wires.dat"), 5, 10)
    mults = cf.read_optional(os.path.join(folder, "multipoles.dat"), 4, 4)
    mods = cf.read_optional(os.path.join(folder, "modulation.dat"), 4, 4)
    ring = Ring(p["gamma"], p["emitn"])
    for _, (plane, dq, period, phase) in mods:
        ring.modulation.append([("plane", plane.lower()), ("dq", cf.num(dq)),
                                ("period", cf.num(period)), ("phase", cf.num(phase))])
    for k in range(1, cf.NPOINTS + 1):
        if k != cf.NOENC and k not in excluded:
            sx, sy, x, y = sig[k]
            ring.add("encounter", [("name", "P%d" % k), ("npart", p["dnb"]),
                                   ("sigx", sx), ("sigy", sy), ("sepx", x), ("sepy", y)])
        for no, w in wires:
            if int(w[0]) == k:
                keys = ("x", "y", "current", "length", "ripple", "period", "phase",
                        "noise", "seed")
                vals = [cf.num(v) for v in w[1:9]] + [int(v) for v in w[9:]]
                if len(w) == 9:
                    vals.append(no)           # the classic default seed
                ring.add("wire", list(zip(keys, vals)))
        for _, m in mults:
            if int(m[0]) == k:
                ring.add("multipole", [("n", int(m[1])), ("kn", cf.num(m[2])),
                                       ("sn", cf.num(m[3]))])
        ring.add("matrix", matrix_fields(mats[k - 1], "SEC%03d" % k, file_units=True))
    return ring
