"""Results of the study run ``diff2wirenew dynap``: their files, the readers
of the CSV files and of the summary, and the columns that ``bbscan collect``
takes from a point's summary (its figures are in ``fig_study``).

Files of a study (in its results folder):

  dynap.csv          one row per particle: index, amplitude, angle, ax, ay,
                     x, px, y, py, turns, lost, qx1, qy1, qx2, qy2, diffusion
  dynap_angles.csv   one row per angle: k, angle, aperture, first_lost_amplitude
  dynap_summary.txt  lines "key = value": da_min, da_average, chaotic_share, ...
"""

import os

PARTICLES = "dynap.csv"
ANGLES = "dynap_angles.csv"
SUMMARY = "dynap_summary.txt"
TBT = "dynap_tbt.csv"
RESULT_FILES = {PARTICLES, ANGLES, SUMMARY, TBT}

# Columns of bbscan's results.csv, from each point's summary.
SCAN_COLUMNS = ("da_min", "da_average", "chaotic_share")


class DynapError(ValueError):
    """A file that is not a result of the study run."""


def read_summary(path):
    """The summary as a dict of floats (None for an empty value)."""
    out = {}
    with open(path) as fh:
        for line in fh:
            if "=" not in line:
                continue
            key, _, value = line.partition("=")
            value = value.strip()
            try:
                out[key.strip()] = float(value) if value else None
            except ValueError:
                raise DynapError("%s: %r is not a number in %r" % (path, value, line.strip())) \
                    from None
    return out


def scan_columns(folder):
    """The bbscan columns of a point folder, or None when it holds no summary."""
    path = os.path.join(folder, SUMMARY)
    if not os.path.exists(path):
        return None
    s = read_summary(path)
    return {k: ("" if s.get(k) is None else repr(s[k])) for k in SCAN_COLUMNS}


def read_csv(path, needed):
    """A result CSV as a dict of numpy columns (empty fields are NaN). A file
    that is empty, holds only its header or ends in the middle of a row is
    refused (DynapError) with one message."""
    import io
    import warnings

    import numpy as np
    try:
        with open(path, encoding="utf-8") as fh:
            text = fh.read()
    except UnicodeDecodeError:
        raise DynapError("%s: not a text file, not a result of diff2wirenew dynap" % path) \
            from None
    if not text.strip():
        raise DynapError("%s is empty: not a result of diff2wirenew dynap (a study "
                         "that was stopped or failed writes none)" % path)
    if not text.endswith("\n"):
        raise DynapError("%s ends in the middle of a row: the file is cut" % path)
    if len(text.strip().splitlines()) < 2:
        raise DynapError("%s holds its header only, no rows: nothing to draw" % path)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            data = np.genfromtxt(io.StringIO(text), delimiter=",", names=True, dtype=float,
                                 ndmin=1)
    except (ValueError, IndexError, Warning) as e:
        raise DynapError("%s: not a result of diff2wirenew dynap (%s)" % (path, e)) from None
    names = data.dtype.names or ()
    missing = [n for n in needed if n not in names]
    if missing:
        raise DynapError("%s: no column %s; expected the %s of diff2wirenew dynap"
                         % (path, ", ".join(missing), os.path.basename(path)))
    return {n: np.atleast_1d(data[n]) for n in names}