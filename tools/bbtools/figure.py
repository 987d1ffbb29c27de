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
from matplotlib.backend_bases import FigureCanvasBase  # noqa: E402

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


def out_path(out, default="figure.png"):
    """The file a figure named ``out`` goes to: ``out`` itself when its
    ending names a format the figures are written in, else ``out`` + ".png".
    A folder is refused (UsageError)."""
    if os.path.isdir(out):
        raise UsageError("-o %s is a folder: give the file to write, e.g. %s"
                         % (out, os.path.join(out, default)))
    ext = os.path.splitext(out)[1][1:].lower()
    return out if ext in FigureCanvasBase.get_supported_filetypes() else out + ".png"


def save(fig, out):
    """Writes ``fig`` to ``out`` (see ``out_path``) and says where."""
    out = out_path(out)
    fig.savefig(out, dpi=DPI, bbox_inches="tight")
    plt.close(fig)
    print("wrote %s" % out)


def legend_below(ax, ncol=2, handles=None, labels=None):
    """A legend under the axes, below their tick labels and x label, where it
    hides neither data nor a label; none when nothing has a label."""
    if handles is None:
        handles, labels = ax.get_legend_handles_labels()
    if not handles:
        return None
    fig = ax.figure
    box = ax.get_tightbbox(fig.canvas.get_renderer())
    below = ax.transAxes.inverted().transform((0.0, box.y0))[1]
    return ax.legend(handles, labels, loc="upper center", bbox_to_anchor=(0.5, below - 0.02),
                     ncol=ncol, fontsize=8, frameon=False)


def title_above(fig, text):
    """The figure's title, above everything the axes and colour bars draw
    (their tick labels included), whatever its length."""
    fig.canvas.draw()
    r = fig.canvas.get_renderer()
    top = max(ax.get_tightbbox(r).y1 for ax in fig.axes)
    return fig.suptitle(text, y=fig.transFigure.inverted().transform((0, top))[1] + 0.02,
                        va="bottom")


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
