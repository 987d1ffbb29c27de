"""Figures of turn-by-turn records: the phase-space portraits of
"phasespace.dat" (``bbplot phasespace``) and the amplitude spectra of
"frequencymap.dat" (``bbplot spectrum``)."""

import math

import numpy as np

from . import readers, tunes
from .figure import EXPECTED, DataError, UsageError, plt, read, save, short
from .tunefile import load_frequencymap


def plot_phasespace(path, out, units=None, emit=None, title=None, max_particles=None):
    recs = read("phasespace", readers.read_phasespace, path)
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
                 "coordinates" % (short(path), nslots, nturn))
    fig.tight_layout()
    save(fig, out)


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
                                                       short(path)))
    fig.tight_layout()
    save(fig, out)
