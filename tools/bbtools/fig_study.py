"""Figures of the study run ``diff2wirenew dynap``: the frequency map
(``bbplot fma``) and the dynamic aperture (``bbplot da``) of "dynap.csv" and
"dynap_angles.csv"."""

import os

import numpy as np
from matplotlib.colors import LogNorm

from . import dynap, resonance
from .figure import DataError, UsageError, legend_below, plt, save


def _in(path, name):
    return os.path.join(path, name) if os.path.isdir(path) else path


def plot_fma(path, out, order=6, window=None, title=None):
    """The tune diagram of the first window coloured by the diffusion index,
    with resonance lines, beside the start amplitudes coloured alike."""
    path = _in(path, dynap.PARTICLES)
    d = dynap.read_csv(path, ("ax", "ay", "qx1", "qy1", "diffusion", "lost"))
    ok = np.isfinite(d["qx1"]) & np.isfinite(d["qy1"])
    if not np.any(ok):
        raise DataError("%s: no particle has tunes (a window of 0, or every "
                              "particle lost in the first window): nothing to draw" % path)
    dif = np.where(np.isfinite(d["diffusion"]), d["diffusion"], np.nan)
    finite = dif[np.isfinite(dif)]
    vmin, vmax = (-10.0, -2.0) if finite.size == 0 else (
        max(-12.0, float(np.floor(finite.min()))), max(-2.0, float(np.ceil(finite.max()))))
    qx, qy = d["qx1"][ok], d["qy1"][ok]
    if window is None:
        x0, x1, y0, y1 = qx.min(), qx.max(), qy.min(), qy.max()
        span = max(x1 - x0, y1 - y0, 0.005) * 1.15
        cx, cy = 0.5 * (x0 + x1), 0.5 * (y0 + y1)
        window = (cx - span / 2, cx + span / 2, cy - span / 2, cy + span / 2)
    elif not (window[0] < window[1] and window[2] < window[3]):
        raise UsageError("--window QX0 QX1 QY0 QY1 needs QX0 < QX1 and QY0 < QY1")

    fig, (a1, a2) = plt.subplots(1, 2, figsize=(13, 5.8))
    resonance.draw(a1, order, window)
    cmap = plt.get_cmap("jet")
    noidx = ok & ~np.isfinite(dif)
    sc = a1.scatter(qx, qy, c=dif[ok], cmap=cmap, vmin=vmin, vmax=vmax, s=6,
                    edgecolors="none", zorder=3, plotnonfinite=False)
    if np.any(noidx):
        a1.scatter(d["qx1"][noidx], d["qy1"][noidx], s=6, color="0.6", zorder=2,
                   label="lost in the second window (no index)")
    a1.set_xlim(window[0], window[1])
    a1.set_ylim(window[2], window[3])
    a1.set_xlabel(r"$Q_x$ (fractional, first window)")
    a1.set_ylabel(r"$Q_y$ (fractional, first window)")
    a1.set_aspect("equal", adjustable="box")
    a1.grid(alpha=0.25)
    legend_below(a1)

    lost = d["lost"] > 0.5
    a2.scatter(d["ax"][~lost], d["ay"][~lost], c=dif[~lost], cmap=cmap, vmin=vmin,
               vmax=vmax, s=12, edgecolors="none", plotnonfinite=True)
    if np.any(lost):
        a2.scatter(d["ax"][lost], d["ay"][lost], marker="x", s=14, color="k", lw=0.7,
                   label="lost (%d)" % int(lost.sum()))
        legend_below(a2, ncol=1)
    a2.set_xlabel(r"start amplitude $x/\sigma_x$")
    a2.set_ylabel(r"start amplitude $y/\sigma_y$")
    a2.set_aspect("equal", adjustable="box")
    a2.grid(alpha=0.25)
    cb = fig.colorbar(sc, ax=[a1, a2], pad=0.02)
    cb.set_label(r"diffusion index $\log_{10}\sqrt{\Delta Q_x^2+\Delta Q_y^2}$")
    fig.suptitle(title or "Frequency map, %s" % path)
    save(fig, out)


def plot_da(path, out, title=None):
    """Survival turns over the start amplitudes, and the aperture per angle."""
    ppath = _in(path, dynap.PARTICLES)
    d = dynap.read_csv(ppath, ("ax", "ay", "turns", "lost"))
    fig, (a1, a2) = plt.subplots(1, 2, figsize=(12.5, 5.6))
    turns = d["turns"]
    sc = a1.scatter(d["ax"], d["ay"], c=turns, cmap="viridis", s=14, edgecolors="none",
                    norm=LogNorm(vmin=max(1.0, turns.min()), vmax=max(2.0, turns.max())))
    cb = fig.colorbar(sc, ax=a1, pad=0.02)
    cb.set_label("turns survived")
    a1.set_xlabel(r"start amplitude $x/\sigma_x$")
    a1.set_ylabel(r"start amplitude $y/\sigma_y$")
    a1.set_aspect("equal", adjustable="box")
    a1.grid(alpha=0.25)

    apath = os.path.join(os.path.dirname(ppath) or ".", dynap.ANGLES)
    if os.path.exists(apath):
        g = dynap.read_csv(apath, ("angle", "aperture"))
        deg = np.degrees(g["angle"])
        a2.plot(deg, g["aperture"], "o-", label="dynamic aperture")
        m = float(np.min(g["aperture"]))
        a2.axhline(m, color="0.5", ls="--", lw=0.8, label="minimum %.3g" % m)
        a2.axhline(float(np.mean(g["aperture"])), color="0.5", ls=":", lw=0.8,
                   label="average %.3g" % float(np.mean(g["aperture"])))
        a1.plot(g["aperture"] * np.cos(g["angle"]), g["aperture"] * np.sin(g["angle"]),
                "r-", lw=1.2, label="aperture")
        a2.set_xlabel(r"start angle $\theta$ [degrees]")
        a2.set_ylabel(r"aperture [$\sigma$]")
        a2.set_xlim(0, 90)
        a2.set_ylim(bottom=0)
        a2.grid(alpha=0.25)
        legend_below(a2, ncol=3)
    else:
        a2.text(0.5, 0.5, "no %s (Cartesian grid)" % dynap.ANGLES, ha="center",
                transform=a2.transAxes)
        a2.set_axis_off()
    fig.suptitle(title or "Dynamic aperture, %s" % ppath)
    save(fig, out)
