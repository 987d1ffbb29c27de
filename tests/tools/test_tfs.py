"""The ring's input files from Twiss tables (make_ring.py --from-tfs) and the
model collider written as such tables (--tfs)."""

import contextlib
import io
import math
import os
import subprocess

import numpy as np
import pytest

from runs import TOOLS, binary_path  # noqa: F401  (puts tools/ on the path)
import make_ring  # noqa: E402
from bbtools import classic_folder as cf  # noqa: E402


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
