"""What every figure of ``bbplot`` shares: the errors that set its exit
status, the reading of a file with a message naming what was expected, the
file it writes, a legend that covers nothing, short file names,
and the argparse type of a finite number."""

import argparse
import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

from . import readers  # noqa: E402

DPI = 130


class DataError(ValueError):
    """A file that holds nothing to draw (status 1)."""


class UsageError(ValueError):
    """Options that cannot be used together or with this file (status 2)."""


# What each subcommand expects to find, for the messages about a wrong file.
EXPECTED = {
    "footprint": "footprint.dat of a footprint run (iopt 3): records of iang, iamp, Qx, Qy",
    "diffusion": "diff.dat or fort.20: records of turn, time, avx, avy, lost, particles",
    "rates": "resav.out of a diffusion run (iopt 0): ampin, diffx, diffy, ichoice, 4 tunes",
    "phasespace": "phasespace.dat (iopt 1 or 3): records of turn, x, px, y, py",
    "spectrum": "frequencymap.dat of a turn-by-turn run (iopt 2): records of x, px, y, py",
}


def read(kind, reader, path):
    """Records of ``path`` read by ``reader``; a file of another layout is
    reported with what was expected and what its first line holds."""
    try:
        return reader(path)
    except readers.ReaderError as e:
        if "not a text file" in str(e):
            raise DataError("%s; `bbplot %s` reads %s" % (e, kind, EXPECTED[kind])) \
                from None
        try:
            with open(path, errors="replace") as fh:
                first = fh.readline().rstrip("\n")
        except OSError:
            first = ""
        raise DataError("%s is not what `bbplot %s` reads: expected %s; found %r on its "
                        "first line (%s)" % (path, kind, EXPECTED[kind], first[:60], e)) \
            from None


def save(fig, out):
    """Writes ``fig`` to ``out`` and says where."""
    fig.savefig(out, dpi=DPI, bbox_inches="tight")
    plt.close(fig)
    print("wrote %s" % out)


def legend_below(ax, ncol=2, handles=None, labels=None):
    """A legend under the axes, below their tick labels and x label, where it
    hides neither data nor a label."""
    fig = ax.figure
    box = ax.get_tightbbox(fig.canvas.get_renderer())
    below = ax.transAxes.inverted().transform((0.0, box.y0))[1]
    args = () if handles is None else (handles, labels)
    return ax.legend(*args, loc="upper center", bbox_to_anchor=(0.5, below - 0.02),
                     ncol=ncol, fontsize=8, frameon=False)


def short(path):
    """The file name with its folder's name, for titles."""
    p = os.path.abspath(path)
    return os.path.join(os.path.basename(os.path.dirname(p)), os.path.basename(p))


def finite(text):
    """argparse type: a finite real number."""
    try:
        v = float(text)
    except ValueError:
        v = math.nan
    if not math.isfinite(v):
        raise argparse.ArgumentTypeError("%r is not a finite number" % text)
    return v
