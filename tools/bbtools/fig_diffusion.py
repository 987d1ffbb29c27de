"""Figures of the diffusion runs: the running averages of "diff.dat" against
turn (``bbplot diffusion``) and the diffusion rates of "resav.out" files or
a bbscan results.csv (``bbplot rates``)."""

import csv
import io
import math
import os

import numpy as np

from . import params, readers, wires
from .figure import DataError, UsageError, legend_below, plt, read, save, short
from .tunefile import diff_input_near


def plot_diffusion(paths, out, title=None):
    data = []
    for path in paths:
        recs = read("diffusion", readers.read_diff, path)
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
        tag = "" if len(paths) == 1 else " (%s)" % short(path)
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
    ax.set_title(title or "Running averages of the action spread, %s" % short(paths[0]))
    ax.grid(alpha=0.3)
    if rebuilt:
        ax.plot([], [], ls="none", label="%d turn(s) from 1,000,000 on (beyond the "
                "file's 6 digits) rebuilt from the record order" % rebuilt)
    h, lab = ax.get_legend_handles_labels()
    if any_lost:
        h2, lab2 = ax2.get_legend_handles_labels()
        h, lab = h + h2, lab + lab2
    legend_below(ax, 2, h, lab)
    save(fig, out)


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
            text = fh.read()
        rows = list(csv.DictReader(io.StringIO(text, newline="")))
    except (UnicodeDecodeError, csv.Error) as e:
        raise DataError("%s is not a CSV text file (%s)" % (path, e)) from None
    if not rows:
        raise DataError("%s holds no rows: nothing to draw" % path)
    if not text.endswith("\n"):
        raise DataError("%s ends in the middle of a row: the file is cut" % path)
    for k, r in enumerate(rows, 2):
        if None in r or None in r.values():
            raise DataError("%s: row %d has %s fields than the header: the file is cut or "
                            "damaged" % (path, k, "more" if None in r else "fewer"))
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
        near = diff_input_near(p)
        ntrack = near["ntrack"] if near is not None else None
        diff = readers.sibling(p, "diff.dat")
        lost_all = False  # or no rate at all: no diff.dat record
        if os.path.exists(diff):
            try:
                recs = readers.read_diff(diff)
                lost_all = not recs or recs[-1]["npart"] == 0
            except readers.ReaderError:
                pass
        for r in read("rates", readers.read_resav, p):
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
    save(fig, out)
