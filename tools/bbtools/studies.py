"""The study run ``diff2wirenew dynap`` from Python: ``study`` runs one and
``read_study`` reads the results of one, both as pandas DataFrames (with the
units of their columns in ``DataFrame.attrs["units"]``) and the summary as a
dict of numbers.

    import bbtools
    s = bbtools.study("examples/ring", amplitudes="2:12:1", angles=5, out="da")
    s.particles[s.particles.lost == 1]      # the lost particles
    s.summary["da_min"]                     # in beam sizes
"""

import collections
import math
import os
import subprocess

from . import dynap

# Units of the columns of the study's CSV files.
PARTICLE_UNITS = {
    "index": "", "amplitude": "sigma", "angle": "rad", "ax": "sigma_x", "ay": "sigma_y",
    "x": "m", "px": "rad", "y": "m", "py": "rad", "turns": "turns", "lost": "",
    "qx1": "tune", "qy1": "tune", "qx2": "tune", "qy2": "tune", "diffusion": "log10 tune",
}
ANGLE_UNITS = {"k": "", "angle": "rad", "aperture": "sigma", "first_lost_amplitude": "sigma"}
TBT_UNITS = {"index": "", "turn": "turns", "x": "sigma_x", "px": "sigma_x", "y": "sigma_y",
             "py": "sigma_y"}

Study = collections.namedtuple("Study", "particles angles summary tbt folder")
Study.__doc__ = """Results of a study: ``particles`` (dynap.csv), ``angles``
(dynap_angles.csv; None on a Cartesian grid), ``summary`` (dynap_summary.txt
as a dict of numbers; NaN for an empty value), ``tbt`` (dynap_tbt.csv; None
unless asked for) and the results ``folder``."""


class StudyError(RuntimeError):
    """A study that did not end with exit status 0, or a folder without one."""


def _frame(path, units):
    import pandas as pd

    frame = pd.read_csv(path)
    frame.attrs["units"] = {c: units.get(c, "") for c in frame.columns}
    return frame


def _number(text):
    """A summary value: an int when written as one, else a float (NaN when empty)."""
    text = text.strip()
    if not text:
        return math.nan
    try:
        return int(text)
    except ValueError:
        return float(text)


def read_summary(path):
    """dynap_summary.txt as a dict of numbers (int or float, NaN when empty)."""
    out = {}
    with open(path) as fh:
        for line in fh:
            key, eq, value = line.partition("=")
            if not eq:
                continue
            try:
                out[key.strip()] = _number(value)
            except ValueError:
                raise StudyError("%s: %r is not a number" % (path, line.strip())) from None
    return out


def read_study(folder):
    """The results of the study in ``folder`` (its results folder): a
    ``Study`` of DataFrames and the summary."""
    parts = os.path.join(folder, dynap.PARTICLES)
    summary = os.path.join(folder, dynap.SUMMARY)
    if not (os.path.isfile(parts) and os.path.isfile(summary)):
        raise StudyError("%s holds no finished study (no %s and %s)"
                         % (folder, dynap.PARTICLES, dynap.SUMMARY))
    angles = os.path.join(folder, dynap.ANGLES)
    tbt = os.path.join(folder, dynap.TBT)
    return Study(_frame(parts, PARTICLE_UNITS),
                 _frame(angles, ANGLE_UNITS) if os.path.isfile(angles) else None,
                 read_summary(summary),
                 _frame(tbt, TBT_UNITS) if os.path.isfile(tbt) else None,
                 os.path.abspath(folder))


def options_to_args(options):
    """Keyword options as command-line options of ``diff2wirenew dynap``:
    ``checkpoint_interval=60`` is ``--checkpoint-interval 60``, ``quiet=True``
    is ``--quiet`` (False and None: left out), a tuple of amplitudes
    ``(2, 12, 1)`` is ``2:12:1``."""
    args = []
    for name, value in options.items():
        if value is None or value is False:
            continue
        flag = "--" + name.replace("_", "-")
        if value is True:
            args.append(flag)
        elif isinstance(value, (tuple, list)):
            args += [flag, ":".join(str(v) for v in value)]
        else:
            args += [flag, str(value)]
    return args


def study(ring, out=None, binary=None, threads=None, **options):
    """Runs ``diff2wirenew dynap`` and returns its results (``read_study``).

    ``ring`` is a run folder (the study runs in it and reads its input files)
    or a ring file, passed as ``--ring FILE`` (the study then runs in the
    file's folder). ``out`` is the results folder, relative to that folder
    (default: the folder itself, as for the program). The other keywords are
    the program's options (``amplitudes``, ``angles``, ``turns``, ``window``,
    ``grid``, ``aperture``, ``threshold``, ``tbt``, ``resume``, ...; see
    ``options_to_args``). ``binary``: the program (default: $BBTRACK_BINARY,
    else diff2wirenew on the PATH or of the source tree). A study that fails
    raises StudyError with the program's message.
    """
    from .run import default_binary

    ring = os.path.abspath(ring)
    if os.path.isdir(ring):
        cwd, args = ring, []
    elif os.path.isfile(ring):
        cwd, args = os.path.dirname(ring), ["--ring", ring]
    else:
        raise StudyError("%s: no such folder or file" % ring)
    options = dict(options, out=out, threads=threads)
    args += options_to_args(options)
    cmd = [binary or default_binary(), "dynap"] + args
    try:
        proc = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True)
    except OSError as e:
        raise StudyError("cannot run %s: %s" % (cmd[0], e)) from None
    if proc.returncode != 0:
        lines = [ln for ln in proc.stderr.splitlines() if ln.strip()]
        raise StudyError("%s ended with exit status %d: %s"
                         % (" ".join(cmd), proc.returncode,
                            lines[-1] if lines else "no message"))
    return read_study(os.path.join(cwd, out) if out else cwd)
