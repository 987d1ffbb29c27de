"""The classic result files of a run as pandas DataFrames, with named
columns and their units in ``DataFrame.attrs["units"]``; and back to the
files' fixed-column text (``to_text``), as the tracker writes them.

    from bbtools import frames
    d = frames.read_diff("diff.dat")            # turn, time, avx, avy, lost, particles
    d.attrs["units"]["avx"]                     # 'emittances'

The layouts are those of docs/outputs.md: each reader uses the record
reader of ``readers`` (which knows the tracker's number forms) and renames
its fields.
"""

import math

from . import params, readers

# kind: (reader fields, {field: column}, {column: unit}, digits of its REAL fields)
LAYOUTS = {
    "diff": (readers.DIFF_FIELDS,
             {"turn": "turn", "tnow": "time", "avx": "avx", "avy": "avy", "nlost": "lost",
              "npart": "particles"},
             {"turn": "turns", "time": "s", "avx": "emittances", "avy": "emittances",
              "lost": "", "particles": ""}, 3),
    "resav": (readers.RESAV_FIELDS,
              {"ampin": "ampin", "diffx": "diffx", "diffy": "diffy", "ichoice": "ichoice",
               "phase1": "xtune", "phase2": "xfrac", "phase3": "ytune", "phase4": "yfrac"},
              {"ampin": "sigma", "diffx": "emittances/turn", "diffy": "emittances/turn",
               "ichoice": "", "xtune": "", "xfrac": "", "ytune": "", "yfrac": ""}, 4),
    "footprint": (readers.FOOTPRINT_FIELDS,
                  {"iang": "iang", "iamp": "iamp", "qx": "qx", "qy": "qy"},
                  {"iang": "", "iamp": "", "qx": "tune", "qy": "tune"}, 4),
    "frequencymap": (readers.FMAP_FIELDS,
                     {"x": "x", "px": "px", "y": "y", "py": "py"},
                     {"particle": "", "turn": "turns", "x": "sigma", "px": "sigma",
                      "y": "sigma", "py": "sigma"}, 12),
}


def _frame(records, kind):
    import pandas as pd

    fields, names, units, _ = LAYOUTS[kind]
    frame = pd.DataFrame([[r[f] for f, *_ in fields] for r in records],
                         columns=[names[f] for f, *_ in fields])
    for f, _, _, k in fields:  # whole numbers stay whole unless a field overflowed
        col = names[f]
        if k == "i" and len(frame) and frame[col].notna().all():
            frame[col] = frame[col].astype("int64")
    frame.attrs["units"] = dict(units)
    return frame


def read_diff(path):
    """diff.dat (or fort.20): turn, time [s], avx, avy [emittances], lost,
    particles. Turns past the I6 field are rebuilt from the record order."""
    return _frame(readers.read_diff(path), "diff")


def read_resav(path):
    """resav.out: ampin [sigma], diffx, diffy [emittances per turn], ichoice
    and the four values of the tunes lines of diff.input (labels)."""
    return _frame(readers.read_resav(path), "resav")


def read_footprint(path):
    """footprint.dat: iang, iamp (grid indices) and the tunes qx, qy
    (NaN where a point was not tracked)."""
    return _frame(readers.read_footprint(path), "footprint")


def read_frequencymap(path, ntrack=None):
    """frequencymap.dat: one row per record, particle (1, 2, ... in the
    file's order), turn (0 ... ntrack - 1: the coordinates after that turn)
    and x, px, y, py in beam sizes, except turn 0, which the tracker writes
    beta-scaled [sqrt(m)] (attrs["note"]). ``ntrack`` defaults to that of
    the diff.input beside the file."""
    import numpy as np
    import pandas as pd

    if ntrack is None:
        try:
            ntrack = params.read_params(readers.sibling(path, "diff.input"))["ntrack"]
        except (params.ParamError, OSError):
            raise readers.ReaderError("%s: give ntrack (no readable diff.input beside "
                                      "the file)" % path) from None
    data = readers.read_frequencymap(path, ntrack)
    n, t = data.shape[:2]
    frame = pd.DataFrame({"particle": np.repeat(np.arange(1, n + 1), t),
                          "turn": np.tile(np.arange(t), n)})
    for j, name in enumerate(("x", "px", "y", "py")):
        frame[name] = data[:, :, j].reshape(-1)
    frame.attrs["units"] = dict(LAYOUTS["frequencymap"][2])
    frame.attrs["note"] = "turn 0 is beta-scaled [sqrt(m)], later turns in beam sizes"
    return frame


def _real(v, width, digits):
    """A REAL in the tracker's Ew.d form: 0.1234E+03, -.1234E+03, 0.1000-119."""
    if math.isnan(v):
        s = "nan"
    elif math.isinf(v):
        s = "inf" if v > 0 else "-inf"
    elif v == 0:
        s = "0." + "0" * digits + "E+00"
    else:
        mant, exp = ("%.*e" % (digits - 1, abs(v))).split("e")
        e = int(exp) + 1
        s = ("0." if v > 0 else "-.") + mant.replace(".", "")
        s += "E%+03d" % e if abs(e) < 100 else "%+04d" % e
    return s.rjust(width) if len(s) <= width else "*" * width


def to_text(frame, kind):
    """The file text of a DataFrame of ``read_<kind>``: the inverse of the
    reader for what the tracker writes."""
    fields, names, _, digits = LAYOUTS[kind]
    lines = []
    for row in frame[[names[f] for f, *_ in fields]].itertuples(index=False):
        line = ""
        for (name, c0, c1, k), v in zip(fields, row):
            w = c1 - c0 + 1
            if k == "i":
                s = "*" * w if v is None or v != v else "%*d" % (w, v)
                s = s if len(s) <= w else "*" * w
            else:
                s = _real(float(v), w, digits)
            line = line.ljust(c0 - 1) + s
        lines.append(line + "\n")
    return "".join(lines)
