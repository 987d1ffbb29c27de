"""The study run diff2wirenew dynap with the tools: its refined tunes agree
with bbtune's on the turn-by-turn record of the same particles (two codes,
one method); bbplot draws its figures and bbscan collects its summary."""

import csv
import math
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

from runs import EXAMPLE, TOOLS, binary_path

if TOOLS not in sys.path:
    sys.path.insert(0, TOOLS)
from bbtools import dynap, plots, scan, tunes  # noqa: E402

STUDY = ["--amplitudes", "2:8:3", "--angles", "2", "--turns", "2100", "--window", "1024"]


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    exe = binary_path()
    if not os.access(exe, os.X_OK):
        if os.environ.get("CI") == "true":
            pytest.fail("tracker binary %s not found" % exe, pytrace=False)
        pytest.skip("tracker binary %s not found" % exe)
    d = str(tmp_path_factory.mktemp("dynap"))
    for f in os.listdir(EXAMPLE):
        shutil.copy(os.path.join(EXAMPLE, f), d)
    env = dict(os.environ, OMP_NUM_THREADS="2", OMP_WAIT_POLICY="passive")
    proc = subprocess.run([exe, "dynap", "--quiet", "--tbt", "3", "--out", "res"] + STUDY,
                          cwd=d, capture_output=True, text=True, env=env, timeout=300)
    assert proc.returncode == 0, proc.stderr
    return os.path.join(d, "res"), proc.stdout


def test_tunes_agree_with_bbtune_and_figures_are_drawn(study, tmp_path):
    res, out = study
    with open(os.path.join(res, dynap.SUMMARY)) as fh:
        assert fh.read() == out
    parts = dynap.read_csv(os.path.join(res, dynap.PARTICLES), ("qx1", "diffusion"))
    tbt = np.genfromtxt(os.path.join(res, dynap.TBT), delimiter=",", names=True)
    for i in range(3):
        rec = tbt[tbt["index"] == i]
        assert len(rec) == 2048
        for w in (0, 1):
            r = rec[w * 1024:(w + 1) * 1024]
            for plane, (x, px) in (("x", ("x", "px")), ("y", ("y", "py"))):
                q = tunes.tune_naff(r[x] - 1j * r[px])
                assert abs(q - parts["q%s%d" % (plane, w + 1)][i]) < 1e-9
    for kind in ("fma", "da"):
        png = str(tmp_path / (kind + ".png"))
        assert plots.main([kind, res, "-o", png]) == 0 and os.path.getsize(png) > 0
    assert plots.main(["fma", os.path.join(res, dynap.ANGLES), "-o", png]) == 1


def test_scan_collects_the_aperture_and_chaotic_share(study, tmp_path):
    root = str(tmp_path / "scan")
    rc = scan.main(["run", EXAMPLE, root, "--set", "ichoice=1,2", "--workers", "2",
                    "--binary", binary_path(), "--dynap=" + " ".join(STUDY[:4] + [
                        "--turns", "300", "--window", "100", "--quiet"])])
    assert rc == 0
    with open(os.path.join(root, "results.csv")) as fh:
        rows = list(csv.DictReader(fh))
    assert len(rows) == 2
    for r in rows:
        summary = dynap.read_summary(os.path.join(root, r["folder"], dynap.SUMMARY))
        for c in dynap.SCAN_COLUMNS:
            assert float(r[c]) == summary[c] and math.isfinite(float(r[c]))


SHARDED = ["--amplitudes", "2:8:3", "--angles", "3", "--turns", "240", "--window", "100",
           "--tbt", "2", "--quiet"]
SHARD_FILES = (dynap.PARTICLES, dynap.ANGLES, dynap.SUMMARY, dynap.TBT)


def one_go(tmp_path):
    """The binary and the result files of the sharded study run in one go."""
    exe = binary_path()
    if not os.access(exe, os.X_OK):
        pytest.skip("tracker binary %s not found" % exe)
    one = tmp_path / "one"
    shutil.copytree(EXAMPLE, one)
    env = dict(os.environ, OMP_NUM_THREADS="1")
    proc = subprocess.run([exe, "dynap", "--out", "res"] + SHARDED, cwd=one, env=env,
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    return exe, {f: (one / "res" / f).read_bytes() for f in SHARD_FILES}


def test_shards_merged_by_bbscan_are_the_study_in_one_go(tmp_path, capsys):
    exe, want = one_go(tmp_path)
    opts, files = SHARDED, SHARD_FILES
    for n in (1, 3, 7):
        root = str(tmp_path / ("scan%d" % n))
        assert scan.main(["run", EXAMPLE, root, "--shards", str(n), "--workers", "2",
                          "--binary", exe, "--dynap=" + " ".join(opts)]) == 0
        merged = os.path.join(root, scan.MERGED)
        assert {f: open(os.path.join(merged, f), "rb").read() for f in files} == want, n
    # a shard whose result is gone: named, and no aperture of part of the grid
    os.remove(os.path.join(root, "points", "shard=2", "dynap_shard.txt"))
    capsys.readouterr()
    assert scan.main(["collect", root]) == 1
    assert "shard 2/7" in capsys.readouterr().err
    # the complete merge stays; an incomplete one never replaces it
    assert {f: open(os.path.join(merged, f), "rb").read() for f in files} == want


def test_resume_after_kills_gives_the_same_bytes_and_bad_checkpoints_are_refused(tmp_path):
    import hashlib
    import random
    import signal
    import time

    exe = binary_path()
    if not os.access(exe, os.X_OK):
        pytest.skip("tracker binary %s not found" % exe)
    work = tmp_path / "ring"
    shutil.copytree(EXAMPLE, work)
    # A tune modulation makes every turn's map depend on the turn number,
    # which a resumed batch must take up where it stopped.
    (work / "modulation.dat").write_text("x 0.001 50 0.3\n")
    opts = ["dynap", "--amplitudes", "2:14:2", "--angles", "3", "--turns", "30000",
            "--window", "1024", "--tbt", "2", "--quiet", "--checkpoint-interval", "0.02"]
    files = (dynap.PARTICLES, dynap.ANGLES, dynap.SUMMARY, dynap.TBT)
    rng = random.Random(27)

    def run(out, env, extra=(), kill_after=None, sig=signal.SIGKILL):
        proc = subprocess.Popen([exe] + opts + ["--out", out] + list(extra), cwd=work, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if kill_after is not None:
            time.sleep(kill_after)
            proc.send_signal(sig)
        err = proc.communicate(timeout=300)[1]
        return proc.returncode, err

    def digests(out):
        return {f: hashlib.sha256((work / out / f).read_bytes()).hexdigest() for f in files}

    def checkpoints(out):
        return sorted((work / out).glob(".dynap_checkpoint.[01]"), key=os.path.getmtime)

    for threads in ("1", "2"):
        for errf in ("exact", "fast"):
            env = dict(os.environ, OMP_NUM_THREADS=threads, BBTRACK_ERRF=errf,
                       OMP_WAIT_POLICY="passive")
            ref = "ref%s%s" % (threads, errf)
            start = time.monotonic()
            assert run(ref, env)[0] == 0
            length = time.monotonic() - start
            out, resumed = "cut%s%s" % (threads, errf), 0
            for _ in range(3):
                extra = ["--resume"] if checkpoints(out) else []
                resumed += bool(extra)
                run(out, env, extra, kill_after=rng.uniform(0.1, 0.3) * length)
            assert run(out, env, ["--resume"] if checkpoints(out) else [])[0] == 0
            assert resumed >= 1 and digests(out) == digests(ref), (threads, errf)
            assert not checkpoints(out)

    # a study stopped by SIGTERM keeps both checkpoints; each damage is caught
    rc, err = run("stop", env, kill_after=0.3 * length, sig=signal.SIGTERM)
    assert rc == 128 + signal.SIGTERM and "--resume" in err and len(checkpoints("stop")) == 2
    shutil.copytree(work / "stop", work / "saved")

    def restored():
        shutil.rmtree(work / "stop")
        shutil.copytree(work / "saved", work / "stop")
        return checkpoints("stop")

    older, newer = restored()
    size = os.path.getsize(newer)
    with open(newer, "r+b") as fh:
        fh.truncate(rng.randrange(size))
    assert run("stop", env, ["--resume"])[0] == 0 and digests("stop") == digests(ref)
    restored()
    for target in (older, newer):
        with open(target, "r+b") as fh:
            at = rng.randrange(size)
            fh.seek(at)
            byte = fh.read(1)
            fh.seek(at)
            fh.write(bytes([byte[0] ^ 0x10]))
    rc, err = run("stop", env, ["--resume"])
    assert rc == 2 and ("damaged" in err or "torn" in err) and not (work / "stop" / dynap.SUMMARY).exists()
    restored()
    rc, err = run("stop", env, ["--resume", "--threshold", "-4"])
    assert rc == 2 and "another study" in err and not (work / "stop" / dynap.SUMMARY).exists()


def test_shards_run_as_a_slurm_array_merge_to_the_study_in_one_go(tmp_path, slurm, monkeypatch):
    exe, want = one_go(tmp_path)
    for k, v in slurm.env.items():
        monkeypatch.setenv(k, v)
    for n in (3, 7):
        root = str(tmp_path / ("scan%d" % n))
        assert scan.main(["run", EXAMPLE, root, "--shards", str(n), "--backend", "slurm",
                          "--binary", exe, "--dynap=" + " ".join(SHARDED)]) == 0
        merged = os.path.join(root, scan.MERGED)
        assert {f: open(os.path.join(merged, f), "rb").read() for f in SHARD_FILES} == want


def test_python_interface_runs_and_reads_a_study(tmp_path):
    """bbtools.study on the bundled example: its particles are pandas'
    reading of dynap.csv, its summary a dict of numbers; read_study reads the
    same folder alike; a refused option raises with the program's message."""
    pd = pytest.importorskip("pandas")
    import bbtools

    exe = binary_path()
    if not os.access(exe, os.X_OK):
        pytest.skip("tracker binary %s not found" % exe)
    ring = tmp_path / "ring"
    shutil.copytree(EXAMPLE, ring)
    s = bbtools.study(str(ring), out="res", binary=exe, threads=2, amplitudes=(2, 8, 3),
                      angles=2, turns=2100, window=1024, tbt=2, quiet=True)
    res = ring / "res"
    assert s.particles.equals(pd.read_csv(res / dynap.PARTICLES))
    assert s.angles.equals(pd.read_csv(res / dynap.ANGLES))
    assert s.tbt.equals(pd.read_csv(res / dynap.TBT))
    assert s.particles.attrs["units"]["amplitude"] == "sigma"
    assert s.summary["particles"] == 6 and isinstance(s.summary["particles"], int)
    assert all(isinstance(v, (int, float)) for v in s.summary.values())
    assert s.summary == {k: (int(v) if float(v).is_integer() and k in (
        "particles", "lost", "turns", "window", "loss_aperture", "diffusion_threshold",
        "diffusion_particles", "chaotic") else v) for k, v in
        dynap.read_summary(res / dynap.SUMMARY).items()}
    again = bbtools.read_study(str(res))
    assert again.particles.equals(s.particles) and again.summary == s.summary
    with pytest.raises(bbtools.studies.StudyError, match="--angles"):
        bbtools.study(str(ring), out="bad", binary=exe, angles=0)
    with pytest.raises(bbtools.studies.StudyError, match="no finished study"):
        bbtools.read_study(str(tmp_path))
    # a ring file goes to the program as --ring FILE, the study in its folder
    fake = tmp_path / "fake"
    fake.write_text("#!/bin/sh\necho \"$PWD $*\" > args.txt\nmkdir -p r\n"
                    "cp %s/dynap.csv %s/dynap_summary.txt r/\n" % (res, res))
    fake.chmod(0o755)
    (tmp_path / "lattice.ring").write_text("")
    s = bbtools.study(str(tmp_path / "lattice.ring"), out="r", binary=str(fake), angles=2,
                      quiet=True, resume=False)
    assert (tmp_path / "args.txt").read_text().split() == [
        str(tmp_path), "dynap", "--ring", str(tmp_path / "lattice.ring"), "--angles", "2",
        "--quiet", "--out", "r"]
    assert s.particles.equals(again.particles) and s.angles is None


def test_resume_with_synchrotron_motion_gives_the_same_bytes(tmp_path):
    """A study with synchrotron motion stopped (SIGTERM) and resumed, once
    within the first window and once after it, gives the bytes of one never
    stopped: its checkpoints hold z, delta and the synchrotron signals."""
    import signal
    import time

    exe = binary_path()
    if not os.access(exe, os.X_OK):
        pytest.skip("tracker binary %s not found" % exe)
    rows = []
    for q, beta in ((0.31, 550.0), (0.32, 550.0), (0.0021, 668e3)):  # beta in mm
        c, s = math.cos(2 * math.pi * q), math.sin(2 * math.pi * q)
        rows.append([(c, beta * s), (-s / beta, c)])
    m = [[0.0] * 6 for _ in range(6)]
    for k, block in enumerate(rows):
        for i in range(2):
            for j in range(2):
                m[2 * k + i][2 * k + j] = block[i][j]
    (tmp_path / "ring.txt").write_text(
        "bbtrack-ring 1\nbeam gamma=7461 emitn=3.75e-6\n"
        "encounter6d npart=1.15e11 sigx=0.0167 sigy=0.0167 betx=0.55 bety=0.55 sigz=0.0755 "
        "slices=7 phi=150e-6\nmatrix m=" + ",".join(repr(v) for r in m for v in r) + "\n")
    opts = [exe, "dynap", "--ring", "ring.txt", "--amplitudes", "1:12:1", "--angles", "4",
            "--turns", "6000", "--window", "2000", "--delta", "2.7e-4", "--z", "0.03",
            "--tbt", "2", "--quiet", "--checkpoint-interval", "0.01"]
    env = dict(os.environ, OMP_NUM_THREADS="2", OMP_WAIT_POLICY="passive")
    start = time.monotonic()
    subprocess.run(opts + ["--out", "ref"], cwd=tmp_path, env=env, check=True,
                   capture_output=True, timeout=300)
    length = time.monotonic() - start
    def resume():
        return ["--resume"] if list((tmp_path / "cut").glob(".dynap_checkpoint.[01]")) else []

    resumed = 0
    for share in (0.15, 0.3):
        extra = resume()
        resumed += bool(extra)
        proc = subprocess.Popen(opts + ["--out", "cut"] + extra, cwd=tmp_path, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        time.sleep(share * length)
        proc.send_signal(signal.SIGTERM)
        proc.communicate(timeout=300)
    extra = resume()
    resumed += bool(extra)
    assert subprocess.run(opts + ["--out", "cut"] + extra, cwd=tmp_path, env=env,
                          capture_output=True, timeout=300).returncode == 0
    assert resumed >= 1
    for f in (dynap.PARTICLES, dynap.ANGLES, dynap.SUMMARY, dynap.TBT):
        assert (tmp_path / "cut" / f).read_bytes() == (tmp_path / "ref" / f).read_bytes(), f
