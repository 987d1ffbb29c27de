"""Figures of the tracker's result files (``bbplot``).

Subcommands, each writing one PNG file:

  footprint   tune footprint of "footprint.dat" with resonance lines
  diffusion   running averages avx, avy of "diff.dat" against turn
  rates       diffusion rates of "resav.out" files or a bbscan CSV against amplitude
  phasespace  x-px and y-py portraits of "phasespace.dat"
  spectrum    amplitude spectra of chosen particles of "frequencymap.dat"
  fma         frequency map of "dynap.csv" (diff2wirenew dynap)
  da          dynamic aperture of "dynap.csv" and "dynap_angles.csv"
"""

import argparse
import sys

from . import argtypes, dynap, figure, params, readers, resonance
from .fig_diffusion import _rates_from_resav, plot_diffusion, plot_rates  # noqa: F401
from .fig_footprint import footprint_grid, plot_footprint  # noqa: F401
from .fig_study import plot_da, plot_fma  # noqa: F401
from .fig_tbt import plot_phasespace, plot_spectrum  # noqa: F401
from .figure import DataError, UsageError, finite  # noqa: F401
from .resonance import resonances  # noqa: F401


def _order(text):
    """argparse type: a resonance order the figures can draw."""
    n = argtypes.positive_int(text)
    try:
        resonance.check_order(n)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)[len("--order %d: " % n):]) from None
    return n


def _colour_map(name):
    """argparse type: a colour map of matplotlib."""
    if name not in figure.plt.colormaps():
        raise argparse.ArgumentTypeError("%r is not a colour map of matplotlib (e.g. "
                                         "viridis, cividis, magma)" % name)
    return name


def main(argv=None):
    ap = argparse.ArgumentParser(prog="bbplot", description=__doc__, formatter_class=argtypes.Help,
                                 epilog="Exit status: 0 figure written, 1 a file with "
                                 "nothing to draw or of another layout, 2 usage.")
    sub = ap.add_subparsers(dest="cmd", required=True)

    def cmd(name, help_text):
        q = sub.add_parser(name, help=help_text, description=help_text,
                           formatter_class=argtypes.Help)
        q.add_argument("--title", help="figure title (default: what and which file)")
        return q

    p = cmd("footprint", "tune footprint of footprint.dat with resonance lines")
    p.add_argument("file", nargs="?", default="footprint.dat", help="footprint file")
    p.add_argument("-o", "--out", default="footprint.png", help="PNG file to write")
    p.add_argument("--order", type=_order, default=5,
                   help="highest resonance order |m| + |n| drawn, at most %d"
                   % resonance.MAX_ORDER)
    p.add_argument("--window", type=finite, nargs=4, metavar=("QX0", "QX1", "QY0", "QY1"),
                   help="tune window (fractional tunes, QX0 < QX1, QY0 < QY1; default: "
                        "the footprint and the lattice tunes with a margin)")
    p.add_argument("--lattice", type=finite, nargs=2, metavar=("QX", "QY"),
                   help="fractional lattice tunes to mark (default: the x and y tunes "
                        "lines of the diff.input beside the file)")
    p.add_argument("--axes", action="store_true",
                   help="also draw the start angles 0 and pi/2, where the tune of the "
                        "plane without motion is not defined")

    p = cmd("diffusion", "running averages avx, avy of diff.dat against turn")
    p.add_argument("files", nargs="*", default=["diff.dat"], help="diff.dat or fort.20 files")
    p.add_argument("-o", "--out", default="diffusion.png", help="PNG file to write")

    p = cmd("rates", "diffusion rates [emittances per turn] against amplitude or a "
            "scanned parameter")
    p.add_argument("files", nargs="+", help="resav.out files, or one results.csv of bbscan")
    p.add_argument("-o", "--out", default="rates.png", help="PNG file to write")
    p.add_argument("--x", dest="xname", help="CSV column for the horizontal axis: ampin "
                   "[sigma] or a scanned parameter (default: ampin when amp is scanned, "
                   "else the first grid parameter)")
    p.add_argument("--log", action="store_true",
                   help="plot |rate| on a log scale; negative rates get an open circle")
    p.add_argument("--mark", type=finite, help="draw a vertical line at this x value "
                   "(e.g. the wire current printed at start-up) [unit of --x]")
    p.add_argument("--mark-label", help="legend text of the --mark line (default: x = value)")

    p = cmd("phasespace", "x-px and y-py portraits of phasespace.dat")
    p.add_argument("file", nargs="?", default="phasespace.dat", help="phase-space file")
    p.add_argument("-o", "--out", default="phasespace.png", help="PNG file to write")
    p.add_argument("--units", choices=("sigma", "beta"),
                   help="units of the file: sigma (option 1) or beta-scaled [sqrt(m)] "
                        "(option 3); default from the records per turn")
    p.add_argument("--emit", type=finite, help="geometric emittance [m rad], to show "
                   "beta-scaled records in beam sizes (default: not rescaled)")
    p.add_argument("--max-particles", type=argtypes.positive_int,
                   help="draw only the first N particles (default: all)")

    p = cmd("spectrum", "amplitude spectra of chosen particles of frequencymap.dat")
    p.add_argument("file", nargs="?", default="frequencymap.dat", help="turn-by-turn file")
    p.add_argument("-o", "--out", default="spectrum.png", help="PNG file to write")
    p.add_argument("--particles", type=argtypes.positive_int, nargs="+", default=[1],
                   help="particle numbers (1 = first particle in the file)")
    p.add_argument("--ntrack", type=argtypes.positive_int,
                   help="records per particle [turns] (default: "
                   "read from the file, checked against the diff.input beside it)")
    p.add_argument("--emit", type=finite, help="geometric emittance [m rad], to rescale "
                   "the beta-scaled first sample (default: emitn/gamma of diff.input; "
                   "without either the first sample is left out)")
    p.add_argument("--qrange", type=finite, nargs=2, metavar=("Q0", "Q1"), default=(0.0, 1.0),
                   help="range of fractional tunes shown, Q0 < Q1")
    p.add_argument("--no-window", action="store_true",
                   help="rectangular window instead of the Hann window")

    def colour_range(q, what, lower, upper):
        q.add_argument("--vmin", type=finite, help="lower end of the colour range of the "
                       "%s; give figures that are to be compared the same range "
                       "(default: %s)" % (what, lower))
        q.add_argument("--vmax", type=finite, help="upper end of the colour range of the "
                       "%s (default: %s)" % (what, upper))
        q.add_argument("--cmap", type=_colour_map, default="viridis",
                       help="colour map (perceptually uniform ones: viridis, cividis, "
                            "magma, plasma, inferno)")

    p = cmd("fma", "frequency map of dynap.csv: tunes coloured by the diffusion index, "
            "and the start amplitudes coloured alike")
    p.add_argument("file", nargs="?", default=".", help="dynap.csv, or its folder")
    p.add_argument("-o", "--out", default="fma.png", help="PNG file to write")
    p.add_argument("--order", type=_order, default=6,
                   help="highest resonance order |m| + |n| drawn, at most %d"
                   % resonance.MAX_ORDER)
    p.add_argument("--window", type=finite, nargs=4, metavar=("QX0", "QX1", "QY0", "QY1"),
                   help="tune window (default: the tunes with a margin)")
    p.add_argument("--lattice", type=finite, nargs=2, metavar=("QX", "QY"),
                   help="working point to mark, fractional tunes (default: the x and y "
                        "tunes lines of the diff.input of the ring folder)")
    colour_range(p, "diffusion index", "the smallest index rounded down, not below -12",
                 "the largest index rounded up, not below -2")
    p = cmd("da", "dynamic aperture of dynap.csv: turns survived over the start "
            "amplitudes, and the aperture per angle of dynap_angles.csv")
    p.add_argument("file", nargs="?", default=".", help="dynap.csv, or its folder")
    p.add_argument("-o", "--out", default="da.png", help="PNG file to write")
    colour_range(p, "turns survived (log scale)", "1", "the turns tracked")

    a = ap.parse_args(argv)
    try:
        a.out = figure.out_path(a.out, a.cmd + ".png")
        if a.cmd == "fma":
            plot_fma(a.file, a.out, a.order, tuple(a.window) if a.window else None, a.title,
                     a.vmin, a.vmax, tuple(a.lattice) if a.lattice else None, a.cmap)
        elif a.cmd == "da":
            plot_da(a.file, a.out, a.title, a.vmin, a.vmax, a.cmap)
        elif a.cmd == "footprint":
            plot_footprint(a.file, a.out, a.order, tuple(a.window) if a.window else None,
                           tuple(a.lattice) if a.lattice else None, a.title, a.axes)
        elif a.cmd == "diffusion":
            plot_diffusion(a.files, a.out, a.title)
        elif a.cmd == "rates":
            plot_rates(a.files, a.out, a.xname, a.log, a.title, a.mark, a.mark_label)
        elif a.cmd == "phasespace":
            plot_phasespace(a.file, a.out, a.units, a.emit, a.title, a.max_particles)
        elif a.cmd == "spectrum":
            plot_spectrum(a.file, a.out, a.particles, a.ntrack, a.emit,
                          not a.no_window, a.title, tuple(a.qrange))
    except UsageError as e:
        print("bbplot %s: %s" % (a.cmd, e), file=sys.stderr)
        return 2
    except (DataError, dynap.DynapError, readers.ReaderError, params.ParamError,
            OSError) as e:
        print("bbplot %s: %s" % (a.cmd, e), file=sys.stderr)
        return 1
    except (ValueError, ArithmeticError, IndexError, KeyError) as e:
        # a file of another kind than its reader expects, met too late
        print("bbplot %s: cannot draw from this file: %s" % (a.cmd, e), file=sys.stderr)
        return 1
    return 0
