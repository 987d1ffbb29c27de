"""The tune footprint of "footprint.dat" (``bbplot footprint``): the tracked
grid joined along constant amplitude and constant start angle, over the
resonance lines."""

import numpy as np

from . import readers, resonance, tunes
from .figure import DataError, UsageError, legend_below, plt, read, save, short
from .tunefile import diff_input_near


def footprint_grid(recs, axes=False):
    """Tunes of the tracked footprint grid as two nside x nside arrays
    (indexed [iang, iamp]) and the number of grid points without data.

    The tracked grid is indices 0 .. nside-1; the file also holds the records
    of index nside, which are never tracked (always nan) and are not counted.
    Start angle 0 puts y = 0 and start angle pi/2 puts x = 0: on those two
    rows one plane is not excited, and its spectral peak is whatever the
    coupling leaves there. They are set to nan unless ``axes`` is true.
    """
    nside = readers.FOOTPRINT_NSIDE
    qx = np.full((nside, nside), np.nan)
    qy = np.full((nside, nside), np.nan)
    for r in recs:
        if 0 <= r["iang"] < nside and 0 <= r["iamp"] < nside:
            qx[r["iang"], r["iamp"]] = r["qx"]
            qy[r["iang"], r["iamp"]] = r["qy"]
    nodata = int(np.sum(~(np.isfinite(qx) & np.isfinite(qy))))
    if not axes:
        for row in (0, nside - 1):
            qx[row, :] = np.nan
            qy[row, :] = np.nan
    return qx, qy, nodata


def plot_footprint(path, out, order=5, window=None, lattice=None, title=None,
                   axes=False):
    nside = readers.FOOTPRINT_NSIDE
    if window is not None and not (window[0] < window[1] and window[2] < window[3]):
        raise UsageError("--window QX0 QX1 QY0 QY1 needs QX0 < QX1 and QY0 < QY1, got %s"
                         % " ".join("%g" % w for w in window))
    qx, qy, nodata = footprint_grid(read("footprint", readers.read_footprint, path), axes)
    ok = np.isfinite(qx) & np.isfinite(qy)
    if not np.any(ok):
        raise DataError("%s: no grid point has finite tunes: nothing to draw" % path)

    if lattice is None:
        p = diff_input_near(path)
        if p is not None:
            lattice = (tunes.fold(p["xfrac"]), tunes.fold(p["yfrac"]))

    if window is None:
        xs, ys = list(qx[ok]), list(qy[ok])
        if lattice is not None:
            xs.append(lattice[0])
            ys.append(lattice[1])
        x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
        span = max(x1 - x0, y1 - y0, 0.01)
        cx, cy = 0.5 * (x0 + x1), 0.5 * (y0 + y1)
        half = 0.5 * span * 1.15
        window = (cx - half, cx + half, cy - half, cy + half)

    fig, ax = plt.subplots(figsize=(7.6, 6.6))
    resonance.draw(ax, order, window)
    cmap = plt.get_cmap("viridis")
    amps = np.array([readers.footprint_amplitude(j) for j in range(nside)])
    # constant angle: along the amplitude index
    first = True
    for i in range(nside):
        ax.plot(qx[i, :], qy[i, :], color="0.55", lw=0.7, zorder=2,
                label="constant start angle" if first else None)
        first = False
    # constant amplitude: along the angle index
    for j in range(nside):
        if not np.any(ok[:, j]):
            continue
        ax.plot(qx[:, j], qy[:, j], color=cmap(j / (nside - 1)), lw=1.3, zorder=3)
    ii, jj = np.nonzero(ok)
    sc = ax.scatter(qx[ok], qy[ok], c=amps[jj], cmap=cmap, vmin=amps[0],
                    vmax=amps[nside - 1], s=14, zorder=4, edgecolors="none",
                    label="grid point (constant amplitude joined)")
    cb = fig.colorbar(sc, ax=ax, pad=0.02)
    cb.set_label(r"start amplitude $\sqrt{x^2+y^2}$ [$\sigma_x$]")
    if lattice is not None:
        ax.plot([lattice[0]], [lattice[1]], marker="*", ms=15, color="k",
                ls="none", zorder=5,
                label="lattice tunes (%.4g, %.4g)" % tuple(lattice))
    ax.plot([], [], ls="none", marker="x", color="0.4",
            label="%d of %d grid points without tracking data (nan): not drawn"
            % (nodata, nside * nside))
    if not axes:
        ax.plot([], [], ls="none",
                label="start angles 0 and $\\pi/2$ left out (one plane not excited)")
    ax.set_xlim(window[0], window[1])
    ax.set_ylim(window[2], window[3])
    ax.set_xlabel(r"horizontal tune $Q_x$ (fractional, folded into [0.5, 1])")
    ax.set_ylabel(r"vertical tune $Q_y$ (fractional, folded into [0.5, 1])")
    ax.set_title(title or "Tune footprint, %s" % short(path))
    ax.set_aspect("equal", adjustable="box")
    ax.grid(alpha=0.25)
    legend_below(ax)
    save(fig, out)
