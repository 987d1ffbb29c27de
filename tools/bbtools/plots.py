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
import csv
import math
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

from . import argtypes, dynap, params, readers, tunes, wires  # noqa: E402
# shared with bbtune, which must not need matplotlib
from .tunefile import (diff_input_near as _diff_input_near,  # noqa: E402,F401
                       first_sample_scale, frequencymap_ntrack, load_frequencymap)

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


def _read(kind, reader, path):
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


def _save(fig, out):
    fig.savefig(out, dpi=DPI, bbox_inches="tight")
    plt.close(fig)
    print("wrote %s" % out)


def _legend_below(ax, ncol=2, handles=None, labels=None):
    """A legend under the axes, below their tick labels and x label, where it
    hides neither data nor a label."""
    fig = ax.figure
    box = ax.get_tightbbox(fig.canvas.get_renderer())
    below = ax.transAxes.inverted().transform((0.0, box.y0))[1]
    args = () if handles is None else (handles, labels)
    return ax.legend(*args, loc="upper center", bbox_to_anchor=(0.5, below - 0.02),
                     ncol=ncol, fontsize=8, frameon=False)


# ---------------------------------------------------------------- resonances

def resonances(order, window):
    """Resonance lines m Qx + n Qy = p up to |m| + |n| <= order that cross
    ``window`` = (qx0, qx1, qy0, qy1). Returns a list of (m, n, p, order,
    (qx_a, qx_b), (qy_a, qy_b)) segments clipped to the window."""
    qx0, qx1, qy0, qy1 = window
    found = []
    seen = set()
    for m in range(0, order + 1):
        for n in range(-order, order + 1):
            o = abs(m) + abs(n)
            if o == 0 or o > order or (m == 0 and n < 0):
                continue
            corners = [m * a + n * b for a in (qx0, qx1) for b in (qy0, qy1)]
            for p in range(math.floor(min(corners)), math.ceil(max(corners)) + 1):
                g = math.gcd(math.gcd(m, abs(n)), abs(p))
                key = (m // g, n // g, p // g) if g else (m, n, p)
                if key in seen:
                    continue
                seg = _clip_line(m, n, p, window)
                if seg is None:
                    continue
                seen.add(key)
                found.append((m, n, p, o) + seg)
    return found


def _clip_line(m, n, p, window):
    qx0, qx1, qy0, qy1 = window
    pts = []
    if n != 0:
        for qx in (qx0, qx1):
            qy = (p - m * qx) / n
            if qy0 - 1e-12 <= qy <= qy1 + 1e-12:
                pts.append((qx, qy))
    if m != 0:
        for qy in (qy0, qy1):
            qx = (p - n * qy) / m
            if qx0 - 1e-12 <= qx <= qx1 + 1e-12:
                pts.append((qx, qy))
    pts = sorted(set((round(a, 12), round(b, 12)) for a, b in pts))
    if len(pts) < 2:
        return None
    (xa, ya), (xb, yb) = pts[0], pts[-1]
    if abs(xa - xb) < 1e-12 and abs(ya - yb) < 1e-12:
        return None
    return ((xa, xb), (ya, yb))


def _draw_resonances(ax, order, window):
    colours = {1: "#d62728", 2: "#ff7f0e", 3: "#2ca02c", 4: "#1f77b4",
               5: "#9467bd", 6: "#8c564b", 7: "#e377c2", 8: "#7f7f7f"}
    labelled = set()
    for m, n, p, o, xs, ys in sorted(resonances(order, window), key=lambda r: -r[3]):
        lw = max(0.6, 2.4 - 0.35 * o)
        label = None
        if o not in labelled:
            label = "resonance order %d" % o
            labelled.add(o)
        ax.plot(xs, ys, color=colours.get(o, "#bbbbbb"), lw=lw, alpha=0.55,
                zorder=1, label=label)


# ---------------------------------------------------------------- footprint

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
    qx, qy, nodata = footprint_grid(_read("footprint", readers.read_footprint, path), axes)
    ok = np.isfinite(qx) & np.isfinite(qy)
    if not np.any(ok):
        raise DataError("%s: no grid point has finite tunes: nothing to draw" % path)

    if lattice is None:
        p = _diff_input_near(path)
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
    _draw_resonances(ax, order, window)
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
    ax.set_title(title or "Tune footprint, %s" % _short(path))
    ax.set_aspect("equal", adjustable="box")
    ax.grid(alpha=0.25)
    _legend_below(ax)
    _save(fig, out)


def _short(path):
    p = os.path.abspath(path)
    return os.path.join(os.path.basename(os.path.dirname(p)), os.path.basename(p))


# ---------------------------------------------------------------- diffusion

def plot_diffusion(paths, out, title=None):
    data = []
    for path in paths:
        recs = _read("diffusion", readers.read_diff, path)
        if not recs:
            raise DataError("%s holds no diffusion records (runs shorter than "
                            "1000 turns write none): nothing to draw" % path)
        cols = readers.columns(recs, "turn", "avx", "avy", "nlost")
        if not np.any(np.isfinite(cols[1]) | np.isfinite(cols[2])):
            raise DataError("%s: no record has a finite avx or avy: nothing to draw"
                            % path)
        data.append((path, cols, sum(r["turn_rebuilt"] for r in recs)))
    fig, ax = plt.subplots(figsize=(8, 5))
    any_lost = False
    ax2 = None
    rebuilt = 0
    for path, (turn, avx, avy, nlost), nrebuilt in data:
        rebuilt += nrebuilt
        tag = "" if len(paths) == 1 else " (%s)" % _short(path)
        line, = ax.plot(turn, avx, "-o", ms=3, label=r"$\langle$avx$\rangle$ horizontal" + tag)
        ax.plot(turn, avy, "--s", ms=3, color=line.get_color() if len(paths) > 1 else None,
                label=r"$\langle$avy$\rangle$ vertical" + tag)
        if np.any(nlost > 0):
            any_lost = True
            if ax2 is None:
                ax2 = ax.twinx()
                ax2.set_ylabel("lost particles")
            ax2.step(turn, nlost, where="post", color="0.4", lw=1,
                     label="lost particles" + tag)
    ax.set_xlabel("turn")
    ax.set_ylabel(r"spread of the actions, 1000-turn running mean [$\varepsilon$]")
    ax.set_title(title or "Running averages of the action spread, %s" % _short(paths[0]))
    ax.grid(alpha=0.3)
    if rebuilt:
        ax.plot([], [], ls="none", label="%d turn(s) from 1,000,000 on (beyond the "
                "file's 6 digits) rebuilt from the record order" % rebuilt)
    h, lab = ax.get_legend_handles_labels()
    if any_lost:
        h2, lab2 = ax2.get_legend_handles_labels()
        h, lab = h + h2, lab + lab2
    _legend_below(ax, 2, h, lab)
    _save(fig, out)


# ---------------------------------------------------------------- rates

def _num_key(text):
    try:
        return (0, float(text), "")
    except ValueError:
        return (1, 0.0, text)


def _rates_from_csv(path, xname):
    """(x name, {label: points}, rows left out, constant grid values)."""
    try:
        with open(path, newline="", encoding="utf-8") as fh:
            rows = list(csv.DictReader(fh))
    except (UnicodeDecodeError, csv.Error) as e:
        raise DataError("%s is not a CSV text file (%s)" % (path, e)) from None
    if not rows:
        raise DataError("%s holds no rows: nothing to draw" % path)
    cols = rows[0].keys()
    if "diffx" not in cols:
        raise DataError("%s is not what `bbplot rates` reads: expected the results.csv "
                        "of bbscan (columns grid:..., diffx, diffy) or resav.out files; "
                        "found the columns %s" % (path, ", ".join(map(str, cols))))
    grid = [c[len("grid:"):] for c in cols if c.startswith("grid:")]
    if xname is None:
        xname = "ampin" if "ampin" in cols and (not grid or "amp" in grid) else (
            grid[0] if grid else "ampin")
    usable = ["ampin"] + grid
    if xname not in usable:
        raise UsageError("--x %s: not a column of %s; use one of %s"
                         % (xname, path, ", ".join(usable)))
    others = [g for g in grid if g != xname and not (xname == "ampin" and g == "amp")]
    # values the same in every row go to the title, the others label the lines
    const = [g for g in others if len({r["grid:" + g] for r in rows}) == 1]
    varying = [g for g in others if g not in const]
    series = {}
    bad = 0
    for r in rows:
        xkey = xname if xname in r else "grid:" + xname
        if r.get("all_lost") == "1":
            bad += 1
            continue
        try:
            x = float(r[xkey])
            dx, dy = float(r["diffx"]), float(r["diffy"])
        except (KeyError, ValueError, TypeError):
            bad += 1
            continue
        if not all(math.isfinite(v) for v in (x, dx, dy)):
            bad += 1
            continue
        key = tuple(_num_key(r["grid:" + g]) for g in varying)
        label = ", ".join("%s=%s" % (g, r["grid:" + g]) for g in varying)
        series.setdefault((key, label), []).append((x, dx, dy))
    return xname, series, bad, ["%s=%s" % (g, rows[0]["grid:" + g]) for g in const]


def _rates_from_resav(paths):
    """Points of resav.out files, one line per ntrack (of the diff.input
    beside each file): rates measured over different numbers of turns are
    not one curve. Runs that lost every particle, or that wrote no diff.dat
    record (fewer than 1000 turns: rates 0 by construction), are left out."""
    series = {}
    bad = 0
    for p in paths:
        near = _diff_input_near(p)
        ntrack = near["ntrack"] if near is not None else None
        diff = readers.sibling(p, "diff.dat")
        lost_all = False  # or no rate at all: no diff.dat record
        if os.path.exists(diff):
            try:
                recs = readers.read_diff(diff)
                lost_all = not recs or recs[-1]["npart"] == 0
            except readers.ReaderError:
                pass
        for r in _read("rates", readers.read_resav, p):
            v = (r["ampin"], r["diffx"], r["diffy"])
            if not lost_all and all(x is not None and math.isfinite(x) for x in v):
                key = ((0, ntrack, "") if ntrack is not None else (1, 0, ""),)
                label = "ntrack=%d" % ntrack if ntrack is not None else "ntrack unknown"
                series.setdefault((key, label), []).append(v)
            else:
                bad += 1
    if len(series) == 1:  # one ntrack: it goes to the title
        (key, label), pts = series.popitem()
        return "ampin", {(key, ""): pts}, bad, [label]
    return "ampin", series, bad, []


def plot_rates(paths, out, xname=None, log=False, title=None, mark=None, mark_label=None):
    if len(paths) == 1 and paths[0].endswith(".csv"):
        xname, series, bad, const = _rates_from_csv(paths[0], xname)
    else:
        xname, series, bad, const = _rates_from_resav(paths)
    if not any(series.values()):
        raise DataError("no finite diffusion rates to plot in %s (%d rows without one: "
                        "failed runs, runs of another option, runs that lost every "
                        "particle, or nan rates of runs of 1000 turns or fewer)"
                        % (", ".join(paths), bad))
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.6), sharex=True)
    negative_marked = set()
    for (_, label), pts in sorted(series.items()):
        pts.sort()
        a = np.array(pts)
        for ax, col, plane in ((axes[0], 1, "horizontal"), (axes[1], 2, "vertical")):
            y = np.abs(a[:, col]) if log else a[:, col]
            line, = ax.plot(a[:, 0], y, "-o", ms=4, label=label or None)
            neg = a[:, col] < 0
            if log and np.any(neg):
                ax.plot(a[neg, 0], y[neg], "o", ms=9, mfc="none", color=line.get_color(),
                        label=None if ax in negative_marked else
                        "negative rate (|rate| drawn, open circle)")
                negative_marked.add(ax)
    xlabel = {"ampin": r"start amplitude [$\sigma$]"}.get(
        xname, "%s (%s)" % (xname, params.PARAMETERS.get(xname, (0, 0, 0, ""))[3])
        if xname in params.PARAMETERS else xname)
    if wires.is_wire_name(xname):
        xlabel = "%s (%s)" % (xname, wires.FIELDS[xname.split(".")[1]][2])
    for ax, plane, var in ((axes[0], "horizontal", "diffx"), (axes[1], "vertical", "diffy")):
        ax.set_xlabel(xlabel)
        ax.set_ylabel(("|%s|" if log else "%s") % var + r" [$\varepsilon$ / turn]")
        ax.set_title("%s diffusion rate" % plane)
        if log:
            ax.set_yscale("log")
        else:
            ax.axhline(0.0, color="0.5", lw=0.8)
            ax.ticklabel_format(axis="y", style="sci", scilimits=(-2, 3))
        ax.grid(alpha=0.3)
        if mark is not None:
            ax.axvline(mark, color="C3", ls="--", lw=1.0,
                       label=mark_label or "%s = %g" % (xname, mark))
    head = title or "Diffusion rates (growth per turn of the action spread)"
    notes = [", ".join(const)] if const else []
    if bad:
        notes.append("%d rows without a finite rate left out" % bad)
    fig.suptitle(head + ("\n" + "; ".join(notes) if notes else ""))
    fig.tight_layout()
    # one legend for both panels, right of them: it covers no label
    handles, labels = {}, []
    for ax in axes:
        for h, lab in zip(*ax.get_legend_handles_labels()):
            if lab not in handles:
                handles[lab] = h
                labels.append(lab)
    lines = [lab for (_, lab) in sorted(series) if lab in handles]
    labels = lines + [lab for lab in labels if lab not in lines]
    if labels:
        axes[1].legend([handles[lab] for lab in labels], labels, loc="upper left",
                       bbox_to_anchor=(1.02, 1.0), fontsize=8, frameon=False)
    _save(fig, out)


# ---------------------------------------------------------------- phase space

def plot_phasespace(path, out, units=None, emit=None, title=None, max_particles=None):
    recs = _read("phasespace", readers.read_phasespace, path)
    if not recs:
        raise DataError("%s holds no records: nothing to draw" % path)
    turn, x, px, y, py = readers.columns(recs, "turn", "x", "px", "y", "py")
    if not np.any(np.isfinite(x) & np.isfinite(px) | np.isfinite(y) & np.isfinite(py)):
        raise DataError("%s: no record has finite coordinates: nothing to draw" % path)
    # slot of each record: its place within the records of its turn
    slot = np.zeros(len(turn), dtype=int)
    for k in range(len(turn)):
        slot[k] = slot[k - 1] + 1 if k and turn[k] == turn[k - 1] else 0
    per_turn = int(np.sum(turn == turn[0]))
    nslots = int(slot.max()) + 1
    if units is None:
        units = "beta" if per_turn == 1 else "sigma"
    if units == "beta" and emit:
        x, px, y, py = (v / math.sqrt(emit) for v in (x, px, y, py))
        units = "sigma"
    unit = r"[$\sigma$]" if units == "sigma" else r"[$\sqrt{\mathrm{m}}$]"
    fig, axes = plt.subplots(1, 2, figsize=(11, 5.2))
    cmap = plt.get_cmap("tab20" if nslots > 10 else "tab10")
    show = range(nslots) if max_particles is None else range(min(nslots, max_particles))
    for s in show:
        sel = slot == s
        c = cmap(s % cmap.N)
        axes[0].plot(x[sel], px[sel], ".", ms=1.6, color=c)
        axes[1].plot(y[sel], py[sel], ".", ms=1.6, color=c, label="particle %d" % (s + 1))
    axes[0].set_xlabel(r"$\hat{x}$ " + unit)
    axes[0].set_ylabel(r"$\hat{p}_x$ " + unit)
    axes[0].set_title("horizontal")
    axes[1].set_xlabel(r"$\hat{y}$ " + unit)
    axes[1].set_ylabel(r"$\hat{p}_y$ " + unit)
    axes[1].set_title("vertical")
    for ax in axes:
        ax.set_aspect("equal", adjustable="datalim")
        ax.grid(alpha=0.3)
    if nslots > 1:
        axes[1].legend(fontsize=7, markerscale=6, loc="center left",
                       bbox_to_anchor=(1.01, 0.5), frameon=False)
    nturn = len(np.unique(turn))
    fig.suptitle(title or "Phase space, %s: %d particle(s), %d turns, normalised "
                 "coordinates" % (_short(path), nslots, nturn))
    fig.tight_layout()
    _save(fig, out)


# ---------------------------------------------------------------- spectrum

def plot_spectrum(path, out, particles, ntrack=None, emit=None, window=True, title=None,
                  qrange=(0.0, 1.0)):
    if not qrange[0] < qrange[1]:
        raise UsageError("--qrange Q0 Q1 needs Q0 < Q1, got %g %g" % tuple(qrange))
    try:
        data, _ = load_frequencymap(path, ntrack, emit)
    except readers.ReaderError as e:
        raise DataError("%s is not what `bbplot spectrum` reads: expected %s (%s)"
                        % (path, EXPECTED["spectrum"], e)) from None
    npart = data.shape[0]
    bad = [p for p in particles if not 1 <= p <= npart]
    if bad:
        raise UsageError("particles %s not in 1 ... %d (particles in the file)"
                         % (bad, npart))
    for p in particles:
        k = np.nonzero(~np.all(np.isfinite(data[p - 1]), axis=1))[0]
        if len(k):
            raise DataError("%s: particle %d has a sample that is not a finite number "
                            "(sample %d): no spectrum to draw" % (path, p, k[0] + 1))
    fig, axes = plt.subplots(2, 1, figsize=(9, 7), sharex=True)
    for p in particles:
        rec = data[p - 1]
        for ax, (ix, ip), plane in ((axes[0], (0, 1), "x"), (axes[1], (2, 3), "y")):
            z = tunes.strip_zero_tail(rec[:, ix] - 1j * rec[:, ip])
            n = len(z)
            w = tunes.hann(n) if window else np.ones(n)
            spec = np.abs(np.fft.fft((z - np.mean(z)) * w)) / np.sum(w)
            freq = np.arange(n) / n
            q = tunes.tune_naff(z)
            line, = ax.semilogy(freq, np.maximum(spec, 1e-300), lw=0.9,
                                label="particle %d, Q%s = %.6f" % (p, plane, q))
            ax.axvline(q, color=line.get_color(), lw=0.8, ls=":")
    for ax, plane, c in ((axes[0], "horizontal", "x"), (axes[1], "vertical", "y")):
        ax.set_ylabel(r"amplitude of $\hat{%s} - i\,\hat{p}_%s$ [$\sigma$]" % (c, c))
        ax.set_title("%s plane" % plane)
        ax.grid(alpha=0.3, which="both")
        freq = ax.get_lines()[0].get_xdata()
        inside = (freq >= qrange[0]) & (freq <= qrange[1])
        tops = [np.max(ln.get_ydata()[inside]) for ln in ax.get_lines()
                if len(ln.get_ydata()) > 2 and np.any(inside)]
        if tops:
            top = max(tops)
            ax.set_ylim(top * 1e-9, top * 3)
    for ax in axes:
        ax.legend(fontsize=8, loc="center left", bbox_to_anchor=(1.01, 0.5), frameon=False)
    axes[1].set_xlabel("tune (fractional, from the complex signal; lines at 1 - Q "
                       "would be the opposite sense of rotation)")
    axes[1].set_xlim(*qrange)
    fig.suptitle(title or "Amplitude spectrum%s, %s" % (" (Hann window)" if window else "",
                                                       _short(path)))
    fig.tight_layout()
    _save(fig, out)


# ---------------------------------------------------------------- command line

class _Help(argparse.ArgumentDefaultsHelpFormatter, argparse.RawDescriptionHelpFormatter):
    """Help with the description as written and every default shown."""


def finite(text):
    """argparse type: a finite real number."""
    try:
        v = float(text)
    except ValueError:
        v = math.nan
    if not math.isfinite(v):
        raise argparse.ArgumentTypeError("%r is not a finite number" % text)
    return v




def main(argv=None):
    ap = argparse.ArgumentParser(prog="bbplot", description=__doc__, formatter_class=_Help,
                                 epilog="Exit status: 0 figure written, 1 a file with "
                                 "nothing to draw or of another layout, 2 usage.")
    sub = ap.add_subparsers(dest="cmd", required=True)

    def cmd(name, help_text):
        q = sub.add_parser(name, help=help_text, description=help_text, formatter_class=_Help)
        q.add_argument("--title", help="figure title (default: what and which file)")
        return q

    p = cmd("footprint", "tune footprint of footprint.dat with resonance lines")
    p.add_argument("file", nargs="?", default="footprint.dat", help="footprint file")
    p.add_argument("-o", "--out", default="footprint.png", help="PNG file to write")
    p.add_argument("--order", type=argtypes.positive_int, default=5,
                   help="highest resonance order |m| + |n| drawn")
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

    dynap.add_commands(cmd)

    a = ap.parse_args(argv)
    try:
        if a.cmd in dynap.COMMANDS:
            dynap.run_command(a)
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
    except (DataError, readers.ReaderError, params.ParamError, OSError) as e:
        print("bbplot %s: %s" % (a.cmd, e), file=sys.stderr)
        return 1
    except (ValueError, ArithmeticError, IndexError, KeyError) as e:
        # a file of another kind than its reader expects, met too late
        print("bbplot %s: cannot draw from this file: %s" % (a.cmd, e), file=sys.stderr)
        return 1
    return 0
