"""bbplot: the resonance lines, the footprint grid and every subcommand on
files written by the real tracker."""

import math
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runs import TOOLS, tracker  # noqa: E402,F401  (tracker: fixture)
from bbtools import readers  # noqa: E402

plots = pytest.importorskip("bbtools.plots")
from bbtools import fig_diffusion  # noqa: E402
BBPLOT = os.path.join(TOOLS, "bbplot")
PNG = b"\x89PNG\r\n\x1a\n"


def test_resonance_lines_in_a_window():
    window = (0.60, 0.75, 0.60, 0.75)
    lines = plots.resonances(5, window)
    keys = set()
    for m, n, p, o, (xa, xb), (ya, yb) in lines:
        assert o == abs(m) + abs(n) <= 5
        for qx, qy in ((xa, ya), (xb, yb)):  # both ends on the line, in the window
            assert abs(m * qx + n * qy - p) < 1e-9
            assert 0.60 - 1e-9 <= qx <= 0.75 + 1e-9 and 0.60 - 1e-9 <= qy <= 0.75 + 1e-9
        g = math.gcd(math.gcd(m, abs(n)), abs(p))
        keys.add((m // g, n // g, p // g))
    assert len(keys) == len(lines)  # 6 Qx = 4 is 3 Qx = 2, drawn once
    # the third-order lines through (2/3, 2/3) and the coupling diagonal
    for key in ((3, 0, 2), (0, 3, 2), (1, -1, 0), (2, 1, 2), (1, 2, 2)):
        assert key in keys, key
    assert (1, 1, 1) not in keys  # Qx + Qy = 1 runs below the window
    assert all(o <= 3 for *_, o, _x, _y in plots.resonances(3, window))


def test_footprint_grid_leaves_out_untracked_points_and_the_axes(tracker):
    run = tracker.run(iopt=3, ntrack=200)
    assert run.returncode == 0, run.stderr
    recs = readers.read_footprint(run.path("footprint.dat"))
    nside = readers.FOOTPRINT_NSIDE
    inside = [r for r in recs if r["iang"] < nside and r["iamp"] < nside]
    missing = sum(1 for r in inside if not (math.isfinite(r["qx"]) and math.isfinite(r["qy"])))
    assert len(recs) > len(inside) == nside * nside

    qx, qy, nodata = plots.footprint_grid(recs, axes=True)
    assert qx.shape == qy.shape == (nside, nside)
    assert nodata == missing  # the never-tracked records of index nside do not count
    for r in inside:
        assert np.array_equal(qx[r["iang"], r["iamp"]], r["qx"], equal_nan=True)

    qx2, qy2, nodata2 = plots.footprint_grid(recs)
    assert nodata2 == nodata
    for q, q2 in ((qx, qx2), (qy, qy2)):
        assert np.all(np.isnan(q2[[0, nside - 1], :]))
        assert np.array_equal(q2[1:nside - 1], q[1:nside - 1], equal_nan=True)


def bbplot(*args, cwd=None):
    return subprocess.run([BBPLOT] + [str(a) for a in args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)


def test_every_figure_from_real_runs(tracker, tmp_path):
    runs = {o: tracker.run(iopt=o, ntrack=n) for o, n in ((0, 1500), (1, 100), (2, 200), (3, 200))}
    for run in runs.values():
        assert run.returncode == 0, run.stderr
    jobs = [
        ("footprint", runs[3].path("footprint.dat"), "--order", 4),
        ("footprint", runs[3].path("footprint.dat"), "--axes", "--window",
         0.6, 0.75, 0.6, 0.75),
        ("diffusion", runs[0].path("diff.dat")),
        ("rates", runs[0].path("resav.out")),
        ("phasespace", runs[1].path("phasespace.dat")),
        ("phasespace", runs[3].path("phasespace.dat")),  # beta-scaled grid point
        ("spectrum", runs[2].path("frequencymap.dat"), "--particles", 1, 20, 169),
        ("spectrum", runs[2].path("frequencymap.dat"), "--qrange", 0.6, 0.75),
        ("rates", runs[0].path("resav.out"), "--log"),  # negative rates marked
    ]
    for k, job in enumerate(jobs):
        out = tmp_path / ("%d_%s.png" % (k, job[0]))
        r = bbplot(*job, "-o", out)
        assert r.returncode == 0, (job, r.stderr)
        assert out.read_bytes()[:8] == PNG and out.stat().st_size > 10000, job


def test_unusable_inputs_are_reported(tracker, tmp_path):
    run = tracker.run(iopt=3, ntrack=200)
    lines = open(run.path("footprint.dat")).read().splitlines()
    out = tmp_path / "f.png"
    # every tune nan: nothing to draw, said so, no figure
    nan = "nan".rjust(10)
    (tmp_path / "footprint.dat").write_text(
        "".join(ln[:13] + nan + " " + nan + ln[34:] + "\n" for ln in lines))
    r = bbplot("footprint", tmp_path / "footprint.dat", "-o", out)
    assert r.returncode != 0 and "no grid point has finite tunes" in r.stderr
    # a damaged record names its file and line
    lines[7] = lines[7][:16] + "x" + lines[7][17:]
    (tmp_path / "footprint.dat").write_text("\n".join(lines) + "\n")
    r = bbplot("footprint", tmp_path / "footprint.dat", "-o", out)
    assert r.returncode == 1 and "footprint.dat:8:" in r.stderr
    r = bbplot("diffusion", tmp_path / "missing.dat", "-o", out)
    assert r.returncode == 1 and "missing.dat" in r.stderr
    # another file than the subcommand reads: what was expected, what was found
    r = bbplot("footprint", run.path("phasespace.dat"), "-o", out)
    assert r.returncode == 1 and "expected footprint.dat of a footprint run" in r.stderr
    # usage (status 2): a reversed window, an unknown column
    r = bbplot("footprint", run.path("footprint.dat"), "--window", 0.7, 0.6, 0.6, 0.7,
               "-o", out)
    assert r.returncode == 2 and "QX0 < QX1" in r.stderr
    csv_path = tmp_path / "results.csv"
    csv_path.write_text("grid:amp,state,ampin,diffx,diffy\n4,finished,2.0,nan,nan\n")
    r = bbplot("rates", csv_path, "--x", "foo", "-o", out)
    assert r.returncode == 2 and "use one of ampin, amp" in r.stderr
    # only nan rates: nothing to draw (status 1)
    r = bbplot("rates", csv_path, "-o", out)
    assert r.returncode == 1 and "no finite diffusion rates" in r.stderr
    assert not out.exists()


def test_plots_refuse_what_they_cannot_draw(tracker, tmp_path, monkeypatch):
    out = tmp_path / "f.png"
    fp = tracker.run(iopt=3, ntrack=200)
    lines = open(fp.path("footprint.dat")).read().splitlines(True)
    cases = {
        "cut.dat": ("".join(lines)[:-20], "record cut short"),
        "short.dat": ("".join(lines[:-14]), "holds 182 records, a footprint has 196"),
        "huge.dat": ("".join(lines[:40]) + lines[40][:13] + "0.1000+300" + lines[40][23:]
                     + "".join(lines[41:]), "is not a fractional tune"),
    }
    for name, (text, why) in cases.items():
        (tmp_path / name).write_text(text)
        r = bbplot("footprint", tmp_path / name, "-o", out)
        assert r.returncode == 1 and why in r.stderr, (name, r.stderr)
    # diffusion: nothing finite to draw; turns past the I6 field rebuilt
    rec = "%6s  0.100E+00 %10s %10s   0 169\n"
    (tmp_path / "nan.dat").write_text("".join(rec % (t, "nan", "-nan") for t in
                                              ("1000", "1100")))
    r = bbplot("diffusion", tmp_path / "nan.dat", "-o", out)
    assert r.returncode == 1 and "nothing to draw" in r.stderr
    (tmp_path / "big.dat").write_text("".join(rec % (t, "0.100E+01", "0.200E+01") for t in
                                              ("999900", "******", "******")))
    assert [r["turn"] for r in readers.read_diff(str(tmp_path / "big.dat"))] == [
        999900, 1000000, 1000100]
    assert bbplot("diffusion", tmp_path / "big.dat", "-o", out).returncode == 0
    # a sample that is not a number: no spectrum, no traceback
    fm = tracker.run(iopt=2, ntrack=200)
    text = open(fm.path("frequencymap.dat")).read().split("\n")
    text[5] = text[5][:1] + "nan".rjust(18) + text[5][19:]
    (tmp_path / "frequencymap.dat").write_text("\n".join(text))
    r = bbplot("spectrum", tmp_path / "frequencymap.dat", "--ntrack", 200, "-o", out)
    assert r.returncode == 1 and "particle 1 has a sample that is not a finite number" \
        in r.stderr

    # rates of different ntrack are separate lines
    runs = [tracker.run(iopt=0, ntrack=n) for n in (1500, 2000)]
    _, series, _, const = plots._rates_from_resav([r.path("resav.out") for r in runs])
    assert sorted(label for _, label in series) == ["ntrack=1500", "ntrack=2000"]
    assert const == []
    # a scan's legend: values in numeric order, constants in the title, and
    # no label covering another
    csv_path = tmp_path / "results.csv"
    csv_path.write_text("grid:amp,grid:wcurrent,grid:ntrack,all_lost,ampin,diffx,diffy\n" + "".join(
        "%s,%s,3000,0,%g,%g,%g\n" % (a, w, float(a) / 2, 1e-6 * float(a), -2e-6)
        for w in ("0", "120", "150", "30") for a in ("4", "6")) +
        "8,0,3000,1,4,0,0\n")
    figs = []
    monkeypatch.setattr(fig_diffusion, "save", lambda fig, _out: figs.append(fig))
    plots.plot_rates([str(csv_path)], str(out))
    fig = figs[0]
    legend = fig.axes[1].get_legend()
    assert [t.get_text() for t in legend.get_texts()] == [
        "wcurrent=0", "wcurrent=30", "wcurrent=120", "wcurrent=150"]
    assert "ntrack=3000" in fig._suptitle.get_text()
    assert "1 rows without a finite rate left out" in fig._suptitle.get_text()
    renderer = fig.canvas.get_renderer()
    boxes = [legend.get_window_extent(renderer), fig._suptitle.get_window_extent(renderer)]
    for ax in fig.axes:
        boxes += [ax.xaxis.label.get_window_extent(renderer),
                  ax.yaxis.label.get_window_extent(renderer),
                  ax.title.get_window_extent(renderer)]
    for i, a in enumerate(boxes):
        for b in boxes[i + 1:]:
            assert not a.overlaps(b)


def test_no_traceback_for_hostile_files_or_options(tmp_path):
    binary = tmp_path / "binary.dat"
    binary.write_bytes(bytes(range(256)) * 8)
    empty = tmp_path / "empty.dat"
    empty.write_text("")
    tools = {"bbplot": [BBPLOT], "bbtune": [os.path.join(TOOLS, "bbtune")]}
    calls = [(1, "bbplot", cmd, f) for cmd in ("footprint", "diffusion", "rates",
                                               "phasespace", "spectrum")
             for f in (binary, empty, tmp_path / "missing")]
    calls += [(1, "bbtune", f) for f in (binary, empty)]
    calls += [(2, "bbplot", "footprint", "--window", "nan", 1, 0, 1),
              (2, "bbplot", "spectrum", "--particles", 0), (2, "bbtune", "--emit", "nan"),
              (2, "bbplot", "rates", binary, "--mark", "inf")]
    # study files empty, header only or cut; a cut results.csv of a scan
    header = "index,amplitude,angle,ax,ay,x,px,y,py,turns,lost,qx1,qy1,qx2,qy2,diffusion\n"
    row = "0,2,0.5,1.7,0.9,1e-4,0,5e-5,0,2100,0,0.68,0.69,0.68,0.69,-8.5\n"
    for name, text in (("empty", ""), ("header", header), ("cut", header + row[:-9])):
        (tmp_path / name).mkdir()
        (tmp_path / name / "dynap.csv").write_text(text)
        calls += [(1, "bbplot", cmd, tmp_path / name) for cmd in ("fma", "da")]
    (tmp_path / "angles").mkdir()
    (tmp_path / "angles" / "dynap.csv").write_text(header + row)
    (tmp_path / "angles" / "dynap_angles.csv").write_text("k,angle,aperture\n")
    calls += [(1, "bbplot", "da", tmp_path / "angles"), (0, "bbplot", "fma", tmp_path / "angles")]
    (tmp_path / "results.csv").write_text("grid:amp,ampin,diffx,diffy\n4,2,1e-6,2e-6\n6,3,1e")
    calls += [(1, "bbplot", "rates", tmp_path / "results.csv")]
    for status, tool, *args in calls:
        r = subprocess.run(tools[tool] + [str(a) for a in args] + ["-o", tmp_path / "o"],
                           capture_output=True, text=True, timeout=120, cwd=tmp_path)
        assert r.returncode == status and "Traceback" not in r.stderr, (tool, args, r.stderr)
        lines = r.stderr.strip().splitlines()
        assert len(lines) == (status != 0) or status == 2 and lines[0].startswith("usage:"), \
            (tool, args, r.stderr)


def _text_boxes(fig):
    """Window extents of every piece of text of a drawn figure, with the
    axis each tick label belongs to (None for the rest)."""
    fig.canvas.draw()
    r = fig.canvas.get_renderer()
    boxes = []
    if fig._suptitle is not None:
        boxes.append((None, fig._suptitle.get_window_extent(r)))
    for ax in fig.axes:
        for t in (ax.title, ax.xaxis.label, ax.yaxis.label) + tuple(ax.texts):
            if t.get_visible() and t.get_text():
                boxes.append((None, t.get_window_extent(r)))
        if ax.get_legend() is not None:
            boxes.append((None, ax.get_legend().get_window_extent(r)))
        for axis in (ax.xaxis, ax.yaxis):
            for tick in axis._update_ticks():  # the ticks drawn, inside the view
                for t in (tick.label1, tick.label2):
                    if t.get_visible() and t.get_text():
                        boxes.append((axis, t.get_window_extent(r)))
    return boxes


def test_figures_compare_and_no_text_covers_another(tracker, tmp_path, monkeypatch):
    """fma, da, footprint and rates: no two labels overlap; fma and da take a
    fixed colour range, mark the working point, label resonance lines (m, n),
    and draw apertures at the grid's edge as lower bounds."""
    from bbtools import fig_footprint, fig_study
    from runs import EXAMPLE, binary_path

    figs = []
    for mod in (fig_study, fig_footprint, fig_diffusion):
        monkeypatch.setattr(mod, "save", lambda fig, _out: figs.append(fig))
    ring = tmp_path / "ring"
    shutil.copytree(EXAMPLE, ring)
    proc = subprocess.run([binary_path(), "dynap", "--amplitudes", "2:14:4", "--angles", "3",
                           "--turns", "2100", "--window", "1024", "--aperture", "13", "--quiet",
                           "--out", "res"],
                          cwd=ring, capture_output=True, text=True, timeout=300,
                          env=dict(os.environ, OMP_NUM_THREADS="2"))
    assert proc.returncode == 0, proc.stderr
    res = str(ring / "res")
    plots.plot_fma(res, "f", order=8, vmin=-11, vmax=-1)
    plots.plot_da(res, "d", vmin=10, vmax=1e5)
    plots.plot_footprint(tracker.run(iopt=3, ntrack=200).path("footprint.dat"), "p")
    plots.plot_rates([tracker.run(iopt=0, ntrack=1500).path("resav.out")], "r")
    for fig in figs:
        boxes = _text_boxes(fig)
        for i, (axis_a, a) in enumerate(boxes):
            for axis_b, b in boxes[i + 1:]:
                if axis_a is None or axis_a is not axis_b:
                    assert not a.overlaps(b), (fig._suptitle.get_text(), a, b)
    fma, da = figs[0], figs[1]
    assert fma.axes[0].collections[0].get_clim() == (-11, -1)
    assert da.axes[0].collections[0].get_clim() == (10, 1e5)
    labels = [t.get_text() for t in fma.axes[0].texts]
    assert labels and all(re.fullmatch(r"\(\d+, -?\d+\)", t) for t in labels)
    legend = [t.get_text() for t in fma.axes[0].get_legend().get_texts()]
    assert "working point (0.69, 0.7)" in legend
    # two particles lost at 14 sigma (aperture 13), whose legend stays off the
    # x label; the ray at 45 degrees keeps all: an aperture of 14, a lower bound
    assert [t.get_text() for t in fma.axes[1].get_legend().get_texts()] == ["lost (2)"]
    edge = [ln for ln in da.axes[1].get_lines() if ln.get_marker() == "^"]
    assert len(edge) == 1 and list(edge[0].get_ydata()) == [14]
    # the order is bounded, -o a folder is refused, a name without ending gets .png
    r = bbplot("fma", res, "--order", 100000, "-o", tmp_path / "x.png")
    assert r.returncode == 2 and "1 ... 30" in r.stderr
    r = bbplot("da", res, "-o", tmp_path)
    assert r.returncode == 2 and "is a folder" in r.stderr
    r = bbplot("da", res, "-o", tmp_path / "da")
    assert r.returncode == 0 and r.stdout.strip() == "wrote %s.png" % (tmp_path / "da")
