"""The readers (and bbtune) on files written by the real tracker.

Each run uses the bundled example ring with a small turn count; see runs.py
for the binary and when these tests are skipped.
"""

import io
import math
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from runs import TOOLS, tracker  # noqa: E402,F401  (tracker: fixture)
from bbtools import params, readers, tunefile, tunes  # noqa: E402

BBTUNE = os.path.join(TOOLS, "bbtune")
NTRACK = 200  # turn-by-turn and footprint runs
C_LIGHT = 299792458.0


@pytest.mark.parametrize("text, value", [
    ("-.1235E+03", -123.5), ("0.1000-119", 0.1e-119), ("0.1234+100", 0.1234e100),
    ("-.5000+101", -0.5e101), ("  0.1500D+02 ", 15.0), ("12", 12.0), ("3.", 3.0),
    ("nan", math.nan), ("-nan", math.nan), ("inf", math.inf), ("-inf", -math.inf),
    ("**********", math.nan), ("", ValueError), ("1.2.3", ValueError),
    ("E+03", ValueError), ("0.12-", ValueError),
])
def test_parse_real(text, value):
    if value is ValueError:
        with pytest.raises(ValueError):
            readers.parse_real(text)
    elif math.isnan(value):
        assert math.isnan(readers.parse_real(text))
    else:
        assert readers.parse_real(text) == value


def ok_run(tracker, **values):
    run = tracker.run(**values)
    assert run.returncode == 0, run.stderr
    out = readers.read_stdout(run.path("stdout.txt"))
    assert out["lost"] == 0 and not out["ntrack_stop"], out
    return run


def test_diffusion_run(tracker):
    run = ok_run(tracker, iopt=0, ntrack=1500)
    p = run.params
    recs = readers.read_diff(run.path("diff.dat"))
    # one record every 100 turns from turn 1000
    assert [r["turn"] for r in recs] == list(range(1000, 1501, 100))
    trev = p["circumference"] / C_LIGHT
    for r in recs:
        assert r["tnow"] == pytest.approx(r["turn"] * trev, rel=6e-3)
        assert r["avx"] > 0 and r["avy"] > 0
        assert (r["nlost"], r["npart"]) == (0, 169)
    (res,) = readers.read_resav(run.path("resav.out"))
    assert res["ampin"] == pytest.approx(p["amp"] / 2)
    assert res["ichoice"] == p["ichoice"]
    assert [res["phase%d" % k] for k in (1, 2, 3, 4)] == pytest.approx(
        [p["xtune"], p["xfrac"], p["ytune"], p["yfrac"]], rel=1e-4)
    # the rates are the growth of the running averages from turn 1000 on;
    # diff.dat shows those to three digits
    dt = recs[-1]["turn"] - recs[0]["turn"]
    for plane in "xy":
        a0, a1 = recs[0]["av" + plane], recs[-1]["av" + plane]
        assert abs(res["diff" + plane] - (a1 - a0) / dt) <= 5e-3 * (a0 + a1) / dt


def test_phasespace_run(tracker):
    # option 1 tracks its own 15 particles for 500 turns, in beam sizes
    run = ok_run(tracker, iopt=1, ntrack=100)
    recs = readers.read_phasespace(run.path("phasespace.dat"))
    assert len(recs) == 15 * 500
    turn, x, px, y, py = readers.columns(recs, "turn", "x", "px", "y", "py")
    assert np.array_equal(turn, np.repeat(np.arange(1, 501), 15))
    amp = np.hypot(x, px), np.hypot(y, py)
    assert all(np.all(np.isfinite(a) & (a < 20.0)) for a in amp)


def test_footprint_run(tracker):
    run = ok_run(tracker, iopt=3, ntrack=NTRACK)
    recs = readers.read_footprint(run.path("footprint.dat"))
    nside = readers.FOOTPRINT_NSIDE
    grid = {(r["iang"], r["iamp"]): (r["qx"], r["qy"]) for r in recs}
    assert len(grid) == len(recs)
    inside = [k for k in grid if max(k) < nside]
    assert len(inside) == nside * nside == 169
    finite = {k: q for k, q in grid.items() if all(map(math.isfinite, q))}
    assert set(finite) <= set(inside)  # points off the grid have no data
    assert len(finite) >= nside * (nside - 1)
    for q in finite.values():  # peak tunes: multiples of 1/ntrack in [0.5, 1]
        for v in q:
            assert 0.5 <= v <= 1.0 and abs(v * NTRACK - round(v * NTRACK)) < 0.02
    # small amplitudes (both planes moving): lattice tunes plus the
    # beam-beam shift of two head-on collisions and the long-range ones
    lattice = tunes.fold(run.params["xfrac"]), tunes.fold(run.params["yfrac"])
    for iang in range(1, nside - 1):
        for iamp in (0, 1):
            for v, q0 in zip(finite[iang, iamp], lattice):
                assert abs(v - q0) < 0.03, (iang, iamp, v, q0)
    # the phase-space record of this run is grid point (0, 0), in beta-scaled
    # units; the footprint rule on it gives that point's tunes
    ps = readers.read_phasespace(run.path("phasespace.dat"))
    assert [r["turn"] for r in ps] == list(range(1, NTRACK + 1))
    x, y = readers.columns(ps, "x", "y")
    assert (tunes.tune_peak(x), tunes.tune_peak(y)) == pytest.approx(grid[0, 0], abs=1e-4)


def test_stdout_of_a_run_stopped_at_the_turn_limit(tracker):
    # the turn-by-turn store holds 4096 turns; more stops the run at once
    run = tracker.run(iopt=2, ntrack=5000)
    out = readers.read_stdout(run.path("stdout.txt"))
    assert out["ntrack_stop"] and out["lost"] is None
    assert not os.path.exists(run.path("frequencymap.dat"))


@pytest.fixture(scope="module")
def fmap_run(tracker):
    return ok_run(tracker, iopt=2, ntrack=NTRACK)


def test_frequencymap_run(fmap_run):
    path = fmap_run.path("frequencymap.dat")
    raw = readers.read_frequencymap(path, NTRACK)
    assert raw.shape == (169, NTRACK, 4) and np.all(np.isfinite(raw))
    with pytest.raises(readers.ReaderError):
        readers.read_frequencymap(path, NTRACK + 1)
    # the start is beta-scaled, the rest in beam sizes; rescaled, the start
    # amplitude matches the next turn's (the action changes little per turn)
    data, kept = tunefile.load_frequencymap(path)
    assert kept
    moving = np.hypot(raw[:, 1, 0], raw[:, 1, 1]) > 0
    a0 = np.hypot(data[moving, 0, 0], data[moving, 0, 1])
    a1 = np.hypot(data[moving, 1, 0], data[moving, 1, 1])
    assert np.all(np.abs(a1 / a0 - 1.0) < 0.1)

    rows = np.array(tunefile.tune_table(data))
    assert np.array_equal(rows[:, 0], np.arange(1, 170))
    # below 4 sigma the motion is regular, one narrow line per plane, and
    # the three estimators agree to the resolution of the peak; further out
    # the lines broaden and the peak of the raw spectrum may stray by a few
    # bins, but every tune stays near the lattice tunes
    regular = np.hypot(data[:, 0, 0], data[:, 0, 2]) < 4.0
    lattice = tunes.fold(fmap_run.params["xfrac"]), tunes.fold(fmap_run.params["yfrac"])
    for c0, cols, q0 in ((1, [0, 1], lattice[0]), (4, [2, 3], lattice[1])):
        q = rows[:, c0:c0 + 3]
        silent = np.all(raw[:, :, cols] == 0.0, axis=(1, 2))  # zero amplitude
        assert np.all(np.isnan(q[silent])) and np.all(np.isfinite(q[~silent]))
        assert np.all(np.abs(q[~silent] - q0) < 0.03)
        near = regular & ~silent
        assert np.count_nonzero(near) >= 10
        assert np.all(np.abs(q[near, 1:] - q[near, :1]) <= 1.0 / NTRACK)


def bbtune(*args, cwd=None):
    return subprocess.run([BBTUNE] + list(args), cwd=cwd, capture_output=True,
                          text=True, timeout=60)


def test_bbtune_command(fmap_run, tmp_path):
    out = tmp_path / "tunes.txt"
    r = bbtune("-o", str(out), cwd=fmap_run.dir)
    assert r.returncode == 0, r.stderr
    text = out.read_text()
    assert text.startswith("#") and text.split("\n")[0].split()[1:] == list(tunefile.COLUMNS)
    table = np.loadtxt(out)
    data, _ = tunefile.load_frequencymap(fmap_run.path("frequencymap.dat"))
    expect = np.array(tunefile.tune_table(data))
    assert np.allclose(table, expect, rtol=0, atol=1e-15, equal_nan=True)
    # CSV keeps every digit
    r = bbtune("--csv", fmap_run.path("frequencymap.dat"))
    assert r.returncode == 0
    assert r.stdout.startswith(",".join(tunefile.COLUMNS + ("moved",)) + "\n")
    csv_rows = np.loadtxt(io.StringIO(r.stdout), delimiter=",", skiprows=1)
    assert np.array_equal(csv_rows[:, :7], expect, equal_nan=True)
    # the 24 particles that start at the origin never move, and are marked
    assert list(np.nonzero(csv_rows[:, 7] == 0)[0] + 1) == list(range(146, 170))
    assert text.count("# never moved") == 24

    # a particle with a record that is not finite: nan in its plane only
    lines = open(fmap_run.path("frequencymap.dat")).read().split("\n")
    lines[NTRACK + 5] = lines[NTRACK + 5][:1] + "nan".rjust(18) + lines[NTRACK + 5][19:]
    (tmp_path / "frequencymap.dat").write_text("\n".join(lines))
    r = bbtune(str(tmp_path / "frequencymap.dat"), "--ntrack", str(NTRACK),
               "--emit", str(fmap_run.params["emitn"] / fmap_run.params["gamma"]))
    assert r.returncode == 0, r.stderr
    row = r.stdout.splitlines()[2].split()
    assert row[0] == "2" and row[1:4] == ["nan"] * 3
    assert np.allclose([float(v) for v in row[4:]], expect[1, 4:], rtol=0, atol=1e-15)

    # a record count that does not fit the file is refused, whatever the
    # diff.input beside it says; without --ntrack the file's own count is used
    for args, msg in (([str(tmp_path / "missing.dat")], "no such file"),
                      (["--ntrack", str(NTRACK + 1)], "not a multiple of ntrack"),
                      (["--ntrack", str(NTRACK // 2)], "written with ntrack = %d" % NTRACK)):
        r = bbtune(*args, cwd=fmap_run.dir)
        assert r.returncode == 1 and msg in r.stderr and not r.stdout
    shutil.copy(fmap_run.path("frequencymap.dat"), tmp_path / "frequencymap.dat")
    params.set_values(fmap_run.path("diff.input"), tmp_path / "diff.input",
                      {"ntrack": NTRACK // 2})
    r = bbtune(str(tmp_path / "frequencymap.dat"))
    assert r.returncode == 0 and "using %d" % NTRACK in r.stderr
    assert np.allclose(np.loadtxt(io.StringIO(r.stdout)), expect, atol=1e-15, equal_nan=True)
    assert bbtune("--ntrack").returncode == 2


def test_bbtune_needs_no_matplotlib():
    code = ("import sys; sys.path.insert(0, %r); import bbtools.tunefile; "
            "sys.exit('matplotlib' in sys.modules)" % TOOLS)
    assert subprocess.run([sys.executable, "-c", code], timeout=60).returncode == 0


def test_dataframes_of_the_classic_files_round_trip(tracker):
    """Each DataFrame reader gives named columns with units, and its frame
    written back in the file's layout is the file, byte for byte."""
    pd = pytest.importorskip("pandas")
    from bbtools import frames

    d, m, f = (ok_run(tracker, iopt=o, ntrack=n) for o, n in ((0, 1500), (2, NTRACK),
                                                            (3, NTRACK)))
    for kind, run, name, columns in (
            ("diff", d, "diff.dat", ["turn", "time", "avx", "avy", "lost", "particles"]),
            ("resav", d, "resav.out", ["ampin", "diffx", "diffy", "ichoice", "xtune",
                                       "xfrac", "ytune", "yfrac"]),
            ("footprint", f, "footprint.dat", ["iang", "iamp", "qx", "qy"]),
            ("frequencymap", m, "frequencymap.dat", ["particle", "turn", "x", "px", "y",
                                                     "py"])):
        frame = getattr(frames, "read_" + kind)(run.path(name))
        assert isinstance(frame, pd.DataFrame) and list(frame.columns) == columns
        assert set(frame.attrs["units"]) == set(columns)
        with open(run.path(name)) as fh:
            assert frames.to_text(frame, kind) == fh.read(), kind
    assert d.params["ntrack"] == 1500 and frame["turn"].max() == NTRACK - 1
    assert frames.read_diff(d.path("diff.dat")).attrs["units"]["time"] == "s"
