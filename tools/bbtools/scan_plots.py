"""The figure of a study scan (``bbscan --plot`` on a scan run with
``--dynap``): the minimum and the average dynamic aperture and the chaotic
share against the first scanned value, one line per combination of the
other scanned values, from SCAN/results.csv."""

import csv
import itertools
import math

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

__all__ = ["PlotError", "plot_study_scan"]

PANELS = (("da_min", r"minimum aperture [$\sigma$]"),
          ("da_average", r"average aperture [$\sigma$]"),
          ("chaotic_share", "chaotic share"))


class PlotError(ValueError):
    """A results table that does not make the figure."""


def _number(text):
    try:
        v = float(text)
    except (TypeError, ValueError):
        return None
    return v if math.isfinite(v) else None


def _read(path):
    try:
        with open(path, newline="") as fh:
            rows = list(csv.DictReader(fh))
    except (OSError, csv.Error) as e:
        raise PlotError("%s: %s" % (path, e)) from None
    if not rows or "da_min" not in rows[0]:
        raise PlotError("%s holds no study columns (da_min, ...): not a study scan" % path)
    names = [c for c in rows[0] if c.startswith("grid:") and c != "grid:shard"]
    if not names:
        raise PlotError("%s is a study split into shards: it has no scanned value; draw "
                        "its merged results with bbplot da SCAN/merged" % path)
    return names, [r for r in rows if r.get("state") == "finished"]


def _order(values):
    """The distinct values in numeric order where they are numbers."""
    distinct = list(dict.fromkeys(values))
    return sorted(distinct, key=lambda v: (_number(v) is None, _number(v) or 0.0, v))


def plot_study_scan(path, out, title=None):
    """Draws the figure of the results table ``path`` into ``out``; returns
    the labels of the lines (one per combination of the other values)."""
    names, rows = _read(path)
    scanned = [n for n in names if len({r[n] for r in rows}) > 1] or names[:1]
    x, others = scanned[0], scanned[1:]
    xs = _order(r[x] for r in rows)
    numeric = all(_number(v) is not None for v in xs)
    pos = {v: (_number(v) if numeric else i) for i, v in enumerate(xs)}
    fig, axes = plt.subplots(1, 3, figsize=(15, 4.6))
    drawn, labels = 0, []
    for combo in itertools.product(*(_order(r[n] for r in rows) for n in others)):
        sel = [r for r in rows if all(r[n] == v for n, v in zip(others, combo))]
        sel.sort(key=lambda r: pos[r[x]])
        label = ", ".join("%s = %s" % (n[5:], v) for n, v in zip(others, combo)) or None
        labels.append(label)
        for ax, (col, _) in zip(axes, PANELS):
            pts = [(pos[r[x]], _number(r[col])) for r in sel if _number(r[col]) is not None]
            if pts:
                ax.plot([p[0] for p in pts], [p[1] for p in pts], "o-", label=label)
                drawn += 1
    if not drawn:
        plt.close(fig)
        raise PlotError("%s: no finished point has an aperture or a chaotic share" % path)
    for ax, (_, ylabel) in zip(axes, PANELS):
        ax.set_xlabel(x[5:])
        ax.set_ylabel(ylabel)
        ax.grid(alpha=0.25)
        if not numeric:
            ax.set_xticks(range(len(xs)))
            ax.set_xticklabels(xs)
    axes[2].set_ylim(bottom=0)
    if others:
        axes[2].legend(fontsize="small", loc="best")
    fig.suptitle(title or "Study scan, %s" % path)
    fig.tight_layout()
    fig.savefig(out, dpi=120)
    plt.close(fig)
    print("wrote %s" % out)
    return labels
