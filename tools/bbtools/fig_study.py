"""Figures of the study run ``diff2wirenew dynap``: the frequency map
(``bbplot fma``) and the dynamic aperture (``bbplot da``) of "dynap.csv" and
"dynap_angles.csv".

Both take a colour range (``vmin``, ``vmax``) so that two studies can be drawn
on the same scale; values outside it take the end colours, and the colour
bar shows an arrow at that end."""

import os

import numpy as np
from matplotlib.colors import LogNorm

from . import dynap, params, resonance
from .figure import DataError, UsageError, legend_below, plt, save, short, title_above

# A perceptually uniform colour map: equal steps of the value look equal.
CMAP = "viridis"


def _in(path, name):
    return os.path.join(path, name) if os.path.isdir(path) else path


def _range(values, vmin, vmax, default):
    """(vmin, vmax, extend) of a colour bar: the given ends, else ``default``
    of the finite values; ``extend`` marks the ends that values pass."""
    lo, hi = default(values) if vmin is None or vmax is None else (vmin, vmax)
    lo = lo if vmin is None else vmin
    hi = hi if vmax is None else vmax
    if not lo < hi:
        raise UsageError("--vmin %g is not below --vmax %g" % (lo, hi))
    below = values.size and np.nanmin(values) < lo
    above = values.size and np.nanmax(values) > hi
    extend = {(True, True): "both", (True, False): "min", (False, True): "max"}.get(
        (bool(below), bool(above)), "neither")
    return lo, hi, extend


def _index_range(finite):
    if finite.size == 0:
        return -10.0, -2.0
    return max(-12.0, float(np.floor(finite.min()))), max(-2.0, float(np.ceil(finite.max())))


def working_point(csv_path):
    """Fractional tunes of the x and y tunes lines of the diff.input of the
    ring folder: beside the results, or the folder above them; None when
    there is none."""
    here = os.path.dirname(os.path.abspath(csv_path))
    for folder in (here, os.path.dirname(here)):
        cand = os.path.join(folder, "diff.input")
        if os.path.isfile(cand):
            try:
                p = params.read_params(cand)
            except (params.ParamError, OSError):
                return None
            return (p["xfrac"] % 1.0, p["yfrac"] % 1.0)
    return None


def plot_fma(path, out, order=6, window=None, title=None, vmin=None, vmax=None,
             lattice=None, cmap=CMAP):
    """The tune diagram of the first window coloured by the diffusion index,
    with resonance lines labelled (m, n) and the working point, beside the
    start amplitudes coloured alike."""
    resonance.check_order(order)
    path = _in(path, dynap.PARTICLES)
    d = dynap.read_csv(path, ("ax", "ay", "qx1", "qy1", "diffusion", "lost"))
    ok = np.isfinite(d["qx1"]) & np.isfinite(d["qy1"])
    if not np.any(ok):
        raise DataError("%s: no particle has tunes (a window of 0, or every "
                        "particle lost in the first window): nothing to draw" % path)
    dif = np.where(np.isfinite(d["diffusion"]), d["diffusion"], np.nan)
    lo, hi, extend = _range(dif[np.isfinite(dif)], vmin, vmax, _index_range)
    qx, qy = d["qx1"][ok], d["qy1"][ok]
    if lattice is None:
        lattice = working_point(path)
    if window is None:
        x0, x1, y0, y1 = qx.min(), qx.max(), qy.min(), qy.max()
        span = max(x1 - x0, y1 - y0, 0.005) * 1.15
        cx, cy = 0.5 * (x0 + x1), 0.5 * (y0 + y1)
        window = (cx - span / 2, cx + span / 2, cy - span / 2, cy + span / 2)
    elif not (window[0] < window[1] and window[2] < window[3]):
        raise UsageError("--window QX0 QX1 QY0 QY1 needs QX0 < QX1 and QY0 < QY1")

    fig, (a1, a2) = plt.subplots(1, 2, figsize=(13, 5.8))
    lines = resonance.draw(a1, order, window)
    noidx = ok & ~np.isfinite(dif)
    sc = a1.scatter(qx, qy, c=dif[ok], cmap=cmap, vmin=lo, vmax=hi, s=6,
                    edgecolors="none", zorder=3, plotnonfinite=False)
    if np.any(noidx):
        a1.scatter(d["qx1"][noidx], d["qy1"][noidx], s=6, color="0.6", zorder=2,
                   label="lost in the second window (no index)")
    if lattice is not None:
        inside = window[0] <= lattice[0] <= window[1] and window[2] <= lattice[1] <= window[3]
        a1.plot([lattice[0]], [lattice[1]], marker="*", ms=16, mfc="none", mec="C3",
                mew=1.4, ls="none", zorder=5, clip_on=True,
                label="working point (%.4g, %.4g)%s" % (lattice[0], lattice[1],
                                                         "" if inside else ", outside"))
    a1.set_xlim(window[0], window[1])
    a1.set_ylim(window[2], window[3])
    a1.set_xlabel(r"$Q_x$ (fractional, first window)")
    a1.set_ylabel(r"$Q_y$ (fractional, first window)")
    a1.set_aspect("equal", adjustable="box")
    a1.grid(alpha=0.25)

    lost = d["lost"] > 0.5
    a2.scatter(d["ax"][~lost], d["ay"][~lost], c=dif[~lost], cmap=cmap, vmin=lo,
               vmax=hi, s=12, edgecolors="none", plotnonfinite=True)
    if np.any(lost):
        a2.scatter(d["ax"][lost], d["ay"][lost], marker="x", s=14, color="k", lw=0.7,
                   label="lost (%d)" % int(lost.sum()))
    a2.set_xlabel(r"start amplitude $x/\sigma_x$")
    a2.set_ylabel(r"start amplitude $y/\sigma_y$")
    a2.set_aspect("equal", adjustable="box")
    a2.grid(alpha=0.25)
    cb = fig.colorbar(sc, ax=[a1, a2], pad=0.02, extend=extend)
    cb.set_label(r"diffusion index $\log_{10}\sqrt{\Delta Q_x^2+\Delta Q_y^2}$")
    title_above(fig, title or "Frequency map, %s" % short(path))
    # legends and labels last: the colour bar moves the axes
    legend_below(a1)
    if np.any(lost):
        legend_below(a2, ncol=1)
    resonance.label(a1, lines)
    save(fig, out)


def _turns_range(turns):
    return 1.0, max(2.0, float(np.max(turns)) if turns.size else 2.0)


def plot_da(path, out, title=None, vmin=None, vmax=None, cmap=CMAP):
    """Survival turns over the start amplitudes, and the aperture per angle;
    an aperture at the grid's largest amplitude is drawn as a lower bound."""
    ppath = _in(path, dynap.PARTICLES)
    d = dynap.read_csv(ppath, ("amplitude", "ax", "ay", "turns", "lost"))
    turns = d["turns"]
    summary = os.path.join(os.path.dirname(ppath) or ".", dynap.SUMMARY)
    tracked = None
    if os.path.isfile(summary):
        tracked = dynap.read_summary(summary).get("turns")

    def default(t):  # 1 ... the turns tracked: studies of as many turns compare
        return (1.0, float(tracked)) if tracked and tracked > 1 else _turns_range(t)

    lo, hi, extend = _range(turns, vmin, vmax, default)
    if lo <= 0:
        raise UsageError("--vmin %g: the turns are drawn on a log scale, give 1 or more" % lo)
    fig, (a1, a2) = plt.subplots(1, 2, figsize=(13, 5.6), gridspec_kw={"wspace": 0.3})
    sc = a1.scatter(d["ax"], d["ay"], c=turns, cmap=cmap, s=14, edgecolors="none",
                    norm=LogNorm(vmin=lo, vmax=hi))
    cb = fig.colorbar(sc, ax=a1, pad=0.02, extend=extend)
    cb.set_label("turns survived")
    a1.set_xlabel(r"start amplitude $x/\sigma_x$")
    a1.set_ylabel(r"start amplitude $y/\sigma_y$")
    a1.set_aspect("equal", adjustable="box")
    a1.grid(alpha=0.25)

    apath = os.path.join(os.path.dirname(ppath) or ".", dynap.ANGLES)
    if os.path.exists(apath):
        g = dynap.read_csv(apath, ("angle", "aperture"))
        deg, ap = np.degrees(g["angle"]), g["aperture"]
        edge = ap >= np.max(d["amplitude"])  # no particle of the ray was lost
        a2.plot(deg, ap, "-", color="C0")
        if not np.all(edge):
            a2.plot(deg[~edge], ap[~edge], "o", color="C0", label="dynamic aperture")
        if np.any(edge):
            a2.plot(deg[edge], ap[edge], "^", color="C1", ms=8,
                    label="at the grid's largest amplitude: a lower bound")
        m, avg = float(np.min(ap)), float(np.mean(ap))
        bound = " (lower bound)" if np.any(edge) else ""
        a2.axhline(m, color="0.5", ls="--", lw=0.8,
                   label="minimum %.3g%s" % (m, bound if np.all(edge) else ""))
        a2.axhline(avg, color="0.5", ls=":", lw=0.8, label="average %.3g%s" % (avg, bound))
        a1.plot(ap * np.cos(g["angle"]), ap * np.sin(g["angle"]), "r-", lw=1.2)
        if np.any(edge):
            a1.plot((ap * np.cos(g["angle"]))[edge], (ap * np.sin(g["angle"]))[edge], "^",
                    color="C1", ms=6)
        a2.set_xlabel(r"start angle $\theta$ [degrees]")
        a2.set_ylabel(r"aperture [$\sigma$]")
        a2.set_xlim(0, 90)
        a2.set_ylim(bottom=0, top=max(1.0, float(np.max(ap))) * 1.08)
        a2.grid(alpha=0.25)
        legend_below(a2, ncol=2)
    else:
        a2.text(0.5, 0.5, "no %s (Cartesian grid)" % dynap.ANGLES, ha="center",
                transform=a2.transAxes)
        a2.set_axis_off()
    title_above(fig, title or "Dynamic aperture, %s" % short(ppath))
    save(fig, out)
