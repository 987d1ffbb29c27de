"""The ring's input files from Twiss tables (make_ring.py --from-tfs) and the
model collider written as such tables (--tfs)."""

import contextlib
import io
import math
import os
import subprocess

import numpy as np
import pytest

from runs import REPO, binary_path  # (puts tools/ on the path)
import make_ring  # noqa: E402
from bbtools import classic_folder as cf  # noqa: E402
from bbtools import params, tfs  # noqa: E402


def run(*argv):
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        rc = make_ring.main([str(a) for a in argv])
    return rc, out.getvalue() + err.getvalue()


def optics(folder):
    """One-turn tunes, betas at the observation point and the Sigmas.dat
    rows, as the tracker derives them."""
    cum = np.eye(6)
    for t in cf.read_matrices(os.path.join(folder, "Matrices.dat")):
        cum = np.array(t) @ cum
    q = [1.0 - math.acos((cum[o, o] + cum[o + 1, o + 1]) / 2.0) / (2 * math.pi)
         for o in (0, 2, 4)]
    betas = [cum[o, o + 1] / math.sin(2 * math.pi * q[o // 2]) for o in (0, 2)]
    sig = np.loadtxt(os.path.join(folder, "Sigmas.dat"))
    return np.array(q), np.array(betas), sig


def track(folder):
    """A short diffusion run in folder; returns diff.dat."""
    exe = binary_path()
    if not os.access(exe, os.X_OK):
        pytest.skip("tracker binary %s not found" % exe)
    subprocess.run([exe], cwd=folder, check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, OMP_NUM_THREADS="2"), timeout=300)
    with open(os.path.join(folder, "diff.dat")) as f:
        return f.read()


def ring_binary():
    """The tracker if it tracks general rings (dynap --ring), else None."""
    exe = binary_path()
    if not os.access(exe, os.X_OK):
        return None
    usage = subprocess.run([exe, "dynap", "--help"], capture_output=True, text=True,
                           timeout=60)
    return exe if "--ring" in usage.stdout + usage.stderr else None


def test_model_round_trip(tmp_path):
    a, b, m = tmp_path / "model", tmp_path / "tfs", tmp_path / "mirror"
    short = ["--ntrack", "1100"]
    b1, b2 = tmp_path / "b1.tfs", tmp_path / "b2.tfs"
    assert run("--out", a, "--tfs", b1, b2, *short)[0] == 0
    # the model's excluded points and triplet errors only when asked for
    rc, said = run("--out", b, "--from-tfs", b1, "--opposing", b2, *short,
                   "--excluded", 23, 24, "--itrip", 1)
    assert rc == 0 and "mirror" not in said, said
    qa, ba, sa = optics(a)
    qb, bb, sb = optics(b)
    np.testing.assert_allclose(qb, qa, rtol=0, atol=1e-10)
    np.testing.assert_allclose(bb, ba, rtol=1e-9)
    np.testing.assert_allclose(sb[:, 1:3], sa[:, 1:3], rtol=1e-9)
    # normalised separations, the positions in units of the sizes
    np.testing.assert_allclose(sb[:, 3:] / sb[:, 1:3], sa[:, 3:] / sa[:, 1:3],
                               rtol=1e-9, atol=1e-12)
    for name in ("diff.input", "excluded.dat", "multdist.dat"):
        assert (a / name).read_text() == (b / name).read_text(), name
    assert track(a) == track(b)
    # Without the opposing table: its mirror image, and said so.
    rc, said = run("--out", m, "--from-tfs", b1, *short)
    assert rc == 0 and "mirror" in said
    assert (m / "excluded.dat").read_text() == "" and not (m / "multdist.dat").exists()
    np.testing.assert_allclose(optics(m)[2][:, 2], sa[:, 1], rtol=1e-9)


BEAM = ("@ GAMMA %le 1000\n@ EX %le 3e-9\n@ EY %le 2e-9\n@ NPART %le 1.5e11\n"
        "@ LENGTH %le 720\n@ PARTICLE %s PROTON\n")


def simple_ring(path, rows, header="@ Q1 %le 3.72\n@ Q2 %le 2.61\n" + BEAM, cols=None):
    cols = cols or "NAME S BETX ALFX MUX BETY ALFY MUY X"
    with open(path, "w") as f:
        f.write(header + "* " + cols + "\n$ %s" + " %le" * (len(cols.split()) - 1)
                + "\n")
        for r in rows:
            f.write(" ".join(str(v) for v in r) + "\n")


def ring_rows(n=72):
    """n markers of a ring with tunes 3.72, 2.61: betas and alphas of a
    simple alternating pattern, uneven phase advances, IP1 in the middle."""
    rows = []
    for k in range(n):
        name = "IP1" if k == 40 else "BB%02d" % k
        mux, muy = 3.72 * (k + 0.3 * math.sin(k)) / n, 2.61 * k / n
        rows.append((name, 10.0 * k, 20.0 + 5.0 * (k % 3), 0.4 * (k % 2) - 0.1,
                     mux, 15.0 - 3.0 * (k % 2), -0.2 * (k % 3), muy,
                     0.0 if name == "IP1" else 1e-3))
    return rows


def test_simple_ring_matrices(tmp_path):
    rows = ring_rows()
    simple_ring(tmp_path / "r.tfs", rows)
    rc, said = run("--out", tmp_path / "o", "--from-tfs", tmp_path / "r.tfs",
                   "--observation", "IP1", "--qx", "3.72", "--qy", "2.61")
    assert rc == 0, said
    mats = cf.read_matrices(str(tmp_path / "o" / "Matrices.dat"))
    ring = rows[40:] + rows[:40]
    ring.insert(24, ring[24])          # point 25: no marker, no section
    tunes = (3.72, 2.61)

    def norm(b, a):                    # normalised coordinates -> physical
        return np.array([[math.sqrt(b), 0.0], [-a / math.sqrt(b), 1 / math.sqrt(b)]])

    for k in range(73):
        r1, r2 = ring[k], ring[(k + 1) % 73]
        for o, (ib, ia, im) in zip((0, 2), ((2, 3, 4), (5, 6, 7))):
            dmu = 2 * math.pi * (r2[im] - r1[im] + (tunes[o // 2] if r2[0] == "BB00" else 0))
            c, s = math.cos(dmu), math.sin(dmu)
            want = (norm(r2[ib], r2[ia]) @ np.array([[c, s], [-s, c]])
                    @ np.linalg.inv(norm(r1[ib], r1[ia])))
            got = np.array(mats[k])[o:o + 2, o:o + 2]
            np.testing.assert_allclose(got, want, rtol=1e-12, atol=1e-12)
    q, betas, _ = optics(tmp_path / "o")
    np.testing.assert_allclose(q[:2], [0.72, 0.61], atol=1e-12)
    np.testing.assert_allclose(betas, [rows[40][2], rows[40][5]], rtol=1e-12)


def test_bad_tables(tmp_path):
    def without(col):
        return lambda r: r[:col] + r[col + 1:]

    def betx(r):
        return r[:2] + [str(r[2]) + ("x" if r[0] == "BB03" else "")] + r[3:]

    def s_back(r):
        return [r[0], 5.0 if r[0] == "BB10" else r[1]] + r[2:]

    cases = [   # table options, row change, message
        (dict(cols="NAME S BETX ALFX MUX BETY ALFY X"), without(7),
         "r.tfs:9: column MUY: missing column"),
        (dict(), betx, "r.tfs:14: column BETX: '20.0x' is not a number"),
        (dict(), s_back, "r.tfs:21: column S: S decreases"),
        (dict(header="@ Q1 %zz 3.72\n"), None,
         "r.tfs:1: column Q1: unknown header type %zz"),
        (dict(), "drop", "71 encounters found"),
        (dict(cols="NAME S BETX ALFX MUX BETY ALFY MUY"), without(8),
         "no crossing orbit"),
    ]
    for opts, change, message in cases:
        rows = [list(r) for r in ring_rows()]
        if change == "drop":
            rows = rows[1:]
        elif change is not None:
            rows = [change(r) for r in rows]
        simple_ring(tmp_path / "r.tfs", rows, **opts)
        rc, said = run("--out", tmp_path / "o", "--force", "--from-tfs",
                       tmp_path / "r.tfs", "--qx", "3.72", "--qy", "2.61")
        assert rc == 2 and message in said, (message, said)


# ---------------------------------------------------------------- general ring

def ring_records(path):
    """(keyword, {key: text}) of a ring file, read here independently."""
    recs = []
    with open(path) as f:
        lines = [ln.split("#")[0].strip() for ln in f]
    lines = [ln for ln in lines if ln]
    assert lines[0] == "bbtrack-ring 1"
    for ln in lines[1:]:
        kw, *pairs = ln.split()
        recs.append((kw, dict(p.split("=", 1) for p in pairs)))
    return recs


def ring_optics(path):
    """Fractional tunes (sign of each phase advance from m12) and betas of the
    bare lattice's one-turn matrix at the observation point, with numpy."""
    turn = np.eye(4)
    scale = np.array([1e-3, 1.0, 1e-3, 1.0])
    for kw, f in ring_records(path):
        if kw == "matrix":
            v = np.array([float(x) for x in f["m"].split(",")])
            n = int(round(math.sqrt(v.size)))
            m = v.reshape(n, n)[:4, :4] * scale[:, None] / scale[None, :]
            turn = m @ turn
    q, b = [], []
    for o in (0, 2):
        c = np.trace(turn[o:o + 2, o:o + 2]) / 2
        s = math.copysign(math.sqrt(1 - c * c), turn[o, o + 1])
        q.append(math.atan2(s, c) / (2 * math.pi) % 1.0)
        b.append(turn[o, o + 1] / s)
    return np.array(q), np.array(b)


def two_tables(tmp_path, n=9, b2_header=None, b2_cols="NAME S BETX ALFX MUX BETY ALFY MUY X Y",
               b1_header=None, tunes=(3.31, 2.32)):
    """A small ring of n markers (START, IP1 in the middle, long-range BBn
    markers) at fractional tunes below the half integer, and an opposing
    beam of other betas, orbit, emittances and population."""
    rows1, rows2 = [], []
    for k in range(n):
        name = "START" if k == 0 else "IP1" if k == n // 2 else "BB%d" % k
        s = k - n // 2
        rows1.append([name, 10.0 * k, 2.0 + 0.1 * k, 0.1 * s, tunes[0] * k / n,
                      3.0 + 0.1 * k, -0.1 * s, tunes[1] * (k + 0.2 * math.sin(k)) / n,
                      1e-4 * s, 2e-5 * s])
        rows2.append([name, 10.0 * k, 4.0 + 0.2 * k, 0.2 * s, 0.0, 5.0 - 0.1 * k, 0.3,
                      0.0, -1e-4 * s, 5e-6])
    head1 = b1_header if b1_header is not None else (
        "@ Q1 %%le %r\n@ Q2 %%le %r\n@ FLAG %%b true\n" % tunes + BEAM)
    head2 = b2_header if b2_header is not None else (
        "@ GAMMA %le 1000\n@ EX %le 4e-9\n@ EY %le 1e-9\n@ NPART %le 0.9e11\n"
        "@ PARTICLE %s PROTON\n")
    cols2 = b2_cols.split()
    simple_ring(tmp_path / "b1.tfs", rows1, header=head1,
                cols="NAME S BETX ALFX MUX BETY ALFY MUY X Y")
    simple_ring(tmp_path / "b2.tfs", [r[:len(cols2)] for r in rows2], header=head2,
                cols=b2_cols)
    return rows1, rows2


def test_general_ring_from_tables(tmp_path):
    rows1, rows2 = two_tables(tmp_path)
    ring = tmp_path / "ring.txt"
    base = ("--from-tfs", tmp_path / "b1.tfs", "--opposing", tmp_path / "b2.tfs",
            "--ring-out", ring, "--force")
    # the observation point on a marker that is no encounter; tunes below
    # the half integer; %b header values taken
    rc, said = run(*base, "--observation", "START", "--check")
    assert rc == 0 and "check: all passed" in said, said
    recs = ring_records(ring)
    assert recs[0][0] == "beam" and float(recs[0][1]["emitn"]) == 3e-9 * 1000
    assert float(recs[0][1]["emitny"]) == 2e-9 * 1000
    assert [k for k, _ in recs[1:3]] == ["matrix", "encounter"]
    enc = [f for k, f in recs if k == "encounter"]
    assert [e["name"] for e in enc] == [r[0] for r in rows1[1:]]
    by_name = {r[0]: (r1, r) for r1, r in zip(rows1, rows2)}
    for e in enc:
        r1, r2 = by_name[e["name"]]
        # each encounter carries the opposing table's population (same charge)
        assert float(e["npart"]) == -0.9e11
        assert float(e["sigx"]) == pytest.approx(1e3 * math.sqrt(r2[2] * 4e-9), rel=1e-15)
        assert float(e["sigy"]) == pytest.approx(1e3 * math.sqrt(r2[5] * 1e-9), rel=1e-15)
        assert float(e["sepx"]) == pytest.approx(1e3 * (r1[8] - r2[8]), rel=1e-13)
        assert float(e["sepy"]) == pytest.approx(1e3 * (r1[9] - r2[9]), rel=1e-13)
    q, b = ring_optics(ring)
    np.testing.assert_allclose(q, [0.31, 0.32], atol=1e-12)
    np.testing.assert_allclose(b, [rows1[0][2], rows1[0][5]], rtol=1e-12)
    # no excluded encounter unless asked; an excluded point is left out
    assert run(*base, "--excluded", 2)[0] == 0
    assert [f["name"] for k, f in ring_records(ring) if k == "encounter"][:2] == ["BB1", "BB3"]
    assert len([1 for k, _ in ring_records(ring) if k == "encounter"]) == len(enc) - 1
    # zero encounters: the bare lattice, one matrix of the whole turn
    assert run(*base, "--encounters", "^NONE$", "--observation", "BB3")[0] == 0
    assert [k for k, _ in ring_records(ring)] == ["beam", "matrix"]
    q, b = ring_optics(ring)
    np.testing.assert_allclose(q, [0.31, 0.32], atol=1e-12)
    np.testing.assert_allclose(b, [rows1[3][2], rows1[3][5]], rtol=1e-12)


def test_converted_values_come_from_tables_or_options(tmp_path):
    out, ring = tmp_path / "o", tmp_path / "ring.txt"

    def conv(*opts, b2=True, classic=False):
        args = ["--from-tfs", tmp_path / "b1.tfs", "--force"]
        args += ["--opposing", tmp_path / "b2.tfs"] if b2 else []
        args += ["--out", out] if classic else ["--ring-out", ring]
        return run(*args, *opts)

    # each missing beam value refused by name, then taken from its option
    for b2_header, b1_extra, message, option in (
            ("@ GAMMA %le 1000\n@ EX %le 4e-9\n@ EY %le 1e-9\n@ PARTICLE %s PROTON\n",
             "", "NPART of the opposing beam", ["--dnb=-1e11"]),
            ("@ GAMMA %le 1000\n@ EY %le 1e-9\n@ NPART %le 1e11\n@ PARTICLE %s PROTON\n",
             "", "EX of the opposing beam: not in the header; give --opp-emitn-x", ["--opp-emitn-x", "2e-6"]),
            (None, "NOEX", "EX: not in the header; give --emitn", ["--emitn", "2e-6"])):
        b1_header = None
        if b1_extra:
            b1_header = "@ Q1 %le 3.31\n@ Q2 %le 2.32\n" + BEAM.replace("@ EX %le 3e-9\n", "")
        two_tables(tmp_path, b2_header=b2_header, b1_header=b1_header)
        rc, said = conv()
        assert rc == 2 and message in said, (message, said)
        assert conv(*option)[0] == 0
    # the opposing table without an orbit is refused, naming the columns
    two_tables(tmp_path, b2_cols="NAME S BETX ALFX MUX BETY ALFY MUY")
    rc, said = conv()
    assert rc == 2 and "b2.tfs:6: columns X Y: missing columns: the separations" in said, said
    # a classic folder: dnb from the opposing table's NPART, LENGTH needed,
    # no model exclusions
    rows = [r + (0.0,) for r in ring_rows()]
    xy = "NAME S BETX ALFX MUX BETY ALFY MUY X Y"
    opp = "@ GAMMA %le 1000\n@ EX %le 3e-9\n@ EY %le 2e-9\n@ NPART %le 0.7e11\n" \
          "@ PARTICLE %s PROTON\n"
    simple_ring(tmp_path / "b1.tfs", rows, cols=xy)
    simple_ring(tmp_path / "b2.tfs", [r[:8] + (-r[8], 0.0) for r in rows], header=opp, cols=xy)
    rc, said = conv(classic=True)
    assert rc == 0, said
    assert params.read_params(str(out / "diff.input"))["dnb"] == -0.7e11
    assert (out / "excluded.dat").read_text() == ""
    simple_ring(tmp_path / "b1.tfs", rows, header="@ Q1 %le 3.72\n@ Q2 %le 2.61\n"
                + BEAM.replace("@ LENGTH %le 720\n", ""), cols=xy)
    rc, said = conv("--excluded", 23, 24, classic=True)
    assert rc == 2 and "LENGTH is not in the header; give --circumference" in said
    assert conv("--circumference", 720, classic=True)[0] == 0
    # a long-range separation at rounding level is warned about by name
    simple_ring(tmp_path / "b1.tfs", [r[:8] + (1e-19 if r[0] == "BB07" else r[8], 0.0)
                                      for r in rows], cols=xy)
    rc, said = conv(b2=False, classic=True)
    assert rc == 0 and "warning: long-range encounter BB07 (point" in said, said


def test_bad_values_refused_before_anything_is_written(tmp_path):
    rows = ring_rows()
    out = tmp_path / "o"
    cases = (   # header change, message
        (("@ GAMMA %le 1000", "@ GAMMA %le -7460"), "r.tfs:3: column GAMMA: -7460.0 is not "
         "a Lorentz factor"),
        (("@ EX %le 3e-9", "@ EX %le 0"), "r.tfs:4: column EX: 0.0 is not positive"),
        (("@ EY %le 2e-9", "@ EY %le nan"), "r.tfs:5: column EY: nan is not a finite"),
        (("@ NPART %le 1.5e11", "@ NPART %le -1"), "r.tfs:6: column NPART: -1.0 is not"),
    )
    for (old, new), message in cases:
        header = ("@ Q1 %le 3.72\n@ Q2 %le 2.61\n" + BEAM).replace(old, new)
        simple_ring(tmp_path / "r.tfs", rows, header=header)
        for target in (("--out", out), ("--ring-out", tmp_path / "ring.txt")):
            rc, said = run("--from-tfs", tmp_path / "r.tfs", *target)
            assert rc == 2 and message in said, (message, said)
            assert said.count("\n") == 1, said
            assert not out.exists() and not (tmp_path / "ring.txt").exists()
    # option errors: one line, exit 2, nothing written
    simple_ring(tmp_path / "r.tfs", rows)
    for opts, message in (
            (("--encounters", "(["), "--encounters '([' is not a regular expression"),
            (("--head-on", "*"), "--head-on '*' is not a regular expression"),
            (("--wires", "npar"), "--wires places elements by the model collider's"),
            (("--triplet-errors", "multdist.dat"), "--triplet-errors places elements"),
            (("--head-on-6d", "--ring-out", tmp_path / "ring.txt"), "needs --sigma-z")):
        with pytest.raises(SystemExit) as stop, \
                contextlib.redirect_stderr(io.StringIO()) as err:
            make_ring.main(["--out", str(out), "--from-tfs", str(tmp_path / "r.tfs")]
                           + [str(o) for o in opts])
        assert stop.value.code == 2 and message in err.getvalue(), err.getvalue()
        assert err.getvalue().count("\n") == 1 and not out.exists()
    with pytest.raises(SystemExit) as stop, contextlib.redirect_stderr(io.StringIO()) as err:
        make_ring.main(["--out", str(out), "--tfs", str(tmp_path / "no" / "b1.tfs")])
    assert stop.value.code == 2 and "--tfs" in err.getvalue() and not out.exists()
    # --check acts on a converted folder
    rc, said = run("--out", out, "--from-tfs", tmp_path / "r.tfs", "--check")
    assert rc == 0 and "check: plane y: one-turn tune 0.610000000000" in said, said


def test_madx_ring():
    """Tables written by MAD-X: two IPs, 26 long-range encounters per side,
    tunes 20.31 / 19.32; beam 2 in beam 1's frame."""
    data = os.path.join(REPO, "..", "shared", "data", "madx-106")
    if not os.path.isdir(data):
        pytest.skip("MAD-X tables %s not found" % data)
    import tempfile
    with tempfile.TemporaryDirectory() as tmp:
        ring = os.path.join(tmp, "ring.txt")
        b1, b2 = os.path.join(data, "b1.tfs"), os.path.join(data, "b2.tfs")
        rc, said = run("--from-tfs", b1, "--opposing", b2, "--ring-out", ring)
        assert rc == 0, said
        t1, t2 = tfs.read(b1), tfs.read(b2)
        q, _ = ring_optics(ring)
        np.testing.assert_allclose(q, [t1.header["Q1"] % 1, t1.header["Q2"] % 1],
                                   rtol=0, atol=1e-9)
        enc = [f for k, f in ring_records(ring) if k == "encounter"]
        assert len(enc) == 106 and enc[0]["name"] == "IP1"
        opp = {r["NAME"]: r for r in t2.rows}
        for e, r in zip(enc, [r for r in t1.rows if r["NAME"] != "NOBB"]):
            o = opp[r["NAME"]]
            assert e["name"] == r["NAME"]
            assert float(e["npart"]) == -t2.header["NPART"]
            want = (1e3 * math.sqrt(o["BETX"] * t2.header["EX"]),
                    1e3 * math.sqrt(o["BETY"] * t2.header["EY"]),
                    1e3 * (r["X"] - o["X"]), 1e3 * (r["Y"] - o["Y"]))
            got = [float(e[k]) for k in ("sigx", "sigy", "sepx", "sepy")]
            np.testing.assert_allclose(got[:2], want[:2], rtol=1e-12)
            # separations: relative to the larger of the two planes' (the
            # other holds only the rounding of a zero orbit)
            big = max(abs(want[2]), abs(want[3]))
            np.testing.assert_allclose(got[2:], want[2:], rtol=0, atol=1e-12 * big)
        # and the study runs on it
        exe = ring_binary()
        if exe is not None:
            subprocess.run([exe, "dynap", "--ring", ring, "--amplitudes", "1:4:1", "--angles",
                            "2", "--turns", "2048", "--quiet", "--out", os.path.join(tmp, "s")],
                           check=True, timeout=300, stdout=subprocess.DEVNULL)
            with open(os.path.join(tmp, "s", "dynap_summary.txt")) as f:
                assert "lost = 0" in f.read()


def test_head_on_6d(tmp_path):
    rows1, rows2 = [], []
    for k, name in enumerate(("IP1", "BB1", "IP2", "BB2")):
        px, py = (1.5e-4, 1e-6) if name == "IP1" else (2e-6, -1e-4)
        rows1.append([name, 10.0 * k, 0.5 + k, 0.1 * k, 0.2 * k, 0.6 + k, -0.1 * k,
                      0.2 * k, 1e-3 * (k % 2), 0.0, px, py])
        rows2.append([name, 10.0 * k, 0.4 + k, 0.3 * k, 0.0, 0.7 + k, 0.2, 0.0,
                      -1e-3 * (k % 2), 0.0, -px, -py])
    cols = "NAME S BETX ALFX MUX BETY ALFY MUY X Y PX PY"
    simple_ring(tmp_path / "b1.tfs", rows1, header="@ Q1 %le 1.31\n@ Q2 %le 1.32\n" + BEAM,
                cols=cols)
    simple_ring(tmp_path / "b2.tfs", rows2, header=BEAM, cols=cols)
    ring = tmp_path / "ring.txt"
    rc, said = run("--from-tfs", tmp_path / "b1.tfs", "--opposing", tmp_path / "b2.tfs",
                   "--ring-out", ring, "--head-on-6d", "--slices", 5, "--sigma-z", 0.075)
    assert rc == 0, said
    six = [f for k, f in ring_records(ring) if k == "encounter6d"]
    assert [f["name"] for f in six] == ["IP1", "IP2"]
    assert len([1 for k, _ in ring_records(ring) if k == "encounter"]) == 2
    for f, r2, phi, plane in ((six[0], rows2[0], 1.5e-4, "x"), (six[1], rows2[2], -1e-4, "y")):
        assert (float(f["phi"]), f["plane"]) == (pytest.approx(phi, rel=1e-15), plane)
        assert [float(f[k]) for k in ("betx", "bety", "alfx", "alfy")] == \
            [r2[2], r2[5], r2[3], r2[6]]
        assert (float(f["sigz"]), f["slices"]) == (0.075, "5")
        assert float(f["sigx"]) == pytest.approx(1e3 * math.sqrt(r2[2] * 3e-9), rel=1e-15)
    # without the slopes: refused, naming them
    simple_ring(tmp_path / "b1.tfs", [r[:10] for r in rows1], cols=cols[:-6],
                header="@ Q1 %le 1.31\n@ Q2 %le 1.32\n" + BEAM)
    rc, said = run("--from-tfs", tmp_path / "b1.tfs", "--opposing", tmp_path / "b2.tfs",
                   "--ring-out", ring, "--force", "--head-on-6d", "--slices", 5,
                   "--sigma-z", 0.075)
    assert rc == 2 and "columns PX PY: missing columns: the 6D" in said, said
