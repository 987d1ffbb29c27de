"""bbrun: a run in a fresh copy of a template, its summary and exit status,
for a finished and a failed run, and the summary of a finished folder; wire
values, refusals that leave nothing behind, and a rerun in place."""

import fcntl
import io
import os
import shutil
import subprocess

from runs import EXAMPLE, REPO, TOOLS, binary_path
from bbtools import params, wires
from bbtools import run as run_mod

BBRUN = os.path.join(TOOLS, "bbrun")


def bbrun(*args):
    return subprocess.run(["/usr/bin/python3", BBRUN] + [str(a) for a in args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          env=dict(os.environ, BBTRACK_BINARY=binary_path(),
                                   OMP_NUM_THREADS="2"), timeout=300)


def test_summary_and_status_of_a_finished_and_a_failed_run(tmp_path):
    ok = tmp_path / "ok"
    p = bbrun("--template", EXAMPLE, "--set", "iopt=3", "--set", "ntrack=1024", ok)
    assert p.returncode == 0, p.stderr
    lines = p.stdout.splitlines()
    assert "lattice tunes: 0.690000 0.700000" in lines
    assert "betas at point 1: 0.55 0.55 m" in lines
    # what the start-up evaluation asks for, apart from what acts
    assert ("wire current needed to compensate npar encounters (start-up evaluation): "
            "-86.8828 A") in lines
    assert "wires acting: no wires" in lines
    assert "lost particles: 0 (tracking ended after turn 1024)" in lines
    assert any(ln.startswith("footprint: Qx 0.68") and "157 of 196" in ln for ln in lines)
    assert any(ln.startswith("files written: footprint.dat (196 records)") for ln in lines)
    assert lines[-1] == "exit status: 0 (finished)"
    again = bbrun("--summary", ok)
    assert (again.returncode, again.stdout) == (0, p.stdout)

    bad = tmp_path / "template"
    shutil.copytree(EXAMPLE, bad)
    os.remove(bad / "Matrices.dat")
    p = bbrun("--template", bad, tmp_path / "bad")
    assert p.returncode == 1
    assert "Matrices.dat" in p.stderr  # the program's message, passed through
    assert p.stdout.splitlines()[-1] == "exit status: 1 (failed)"
    assert bbrun("--summary", tmp_path / "bad").returncode == 1

    for args in (("--set", "amp=1,2"), ("--set", "amp=a:b:c"), ("--set", "nosuch=1")):
        p = bbrun("--template", EXAMPLE, *args, tmp_path / "never")
        assert p.returncode == 2 and p.stderr.startswith("bbrun: ")


def test_wire_names_clean_refusals_and_a_rerun_in_place(tmp_path):
    t = tmp_path / "template"
    shutil.copytree(EXAMPLE, t)
    (t / "wires.dat").write_text("9 -8.5272 0.0 -86.9 1.0\n40 0.0 -9.5931 -86.9 1.0\n")
    run = tmp_path / "run"
    p = bbrun("--template", t, "--set", "wire*.current=50", "--set", "wire2.xw=1.5",
              "--set", "iopt=3", "--set", "ntrack=100", run)
    assert p.returncode == 0, p.stderr
    assert wires.read_wires(str(run / "wires.dat"))[1] == {
        "k": 40, "xw": 1.5, "yw": -9.5931, "current": 50.0, "length": 1.0}
    assert "wires acting: point 9 50 A, point 40 50 A" in p.stdout.splitlines()
    # make run's summary without Python says the same
    p = subprocess.run([os.path.join(REPO, "scripts", "run_summary.sh"), str(run)],
                       capture_output=True, text=True)
    assert "wires acting: point 9 50 A, point 40 50 A" in p.stdout.splitlines()
    assert ("wire current needed to compensate npar encounters (start-up evaluation): "
            "-86.88281256626694 A") in p.stdout.splitlines()

    # a refused call leaves no folder, and an empty folder empty
    empty = tmp_path / "empty"
    empty.mkdir()
    for folder in (tmp_path / "never", empty):
        for args in (("--set", "wire3.current=1"), ("--set", "wire1.nosuch=1"),
                     ("--set", "amp=1,2"), ("--binary", tmp_path / "nosuch")):
            p = bbrun("--template", t, *args, folder)
            assert p.returncode == 2 and p.stderr.startswith("bbrun: "), args
            assert "Traceback" not in p.stderr
        p = bbrun("--template", EXAMPLE, "--set", "wire1.current=1", folder)
        assert p.returncode == 2 and "holds no wires.dat" in p.stderr
    assert not (tmp_path / "never").exists() and os.listdir(empty) == []

    # in place after a diffusion run: a failing footprint run shows none of
    # the earlier results
    p = bbrun("--template", EXAMPLE, "--set", "ntrack=1200", "--set", "itrip=0", empty)
    assert p.returncode == 0 and "diffusion rates: x" in p.stdout
    assert "program warning: ntrack = 1200 measures" in p.stdout
    params.set_values(empty / "diff.input", empty / "diff.input", {"iopt": 3})
    os.remove(empty / "Matrices.dat")
    p = bbrun(empty)
    assert p.returncode == 1
    assert not (empty / "resav.out").exists() and not (empty / "diff.dat").exists()
    assert "diffusion rates" not in p.stdout and "program warning" not in p.stdout
    assert p.stdout.splitlines()[-1] == "exit status: 1 (failed)"


def test_element_values_go_to_their_files_a_locked_folder_and_the_time_left(tmp_path):
    t = tmp_path / "template"
    shutil.copytree(EXAMPLE, t)
    wires_text = "9 -8.5272 0.0 -86.9 1.0\n"
    (t / "wires.dat").write_text(wires_text)
    (t / "multipoles.dat").write_text("1 3 100.0 0.0\n")
    (t / "modulation.dat").write_text("x 1e-3 100 0\n")
    run = tmp_path / "run"
    p = bbrun("--template", t, "--set", "mult1.n=2", "--set", "mod1.dq=2e-3",
              "--set", "iopt=3", "--set", "ntrack=100", run)
    assert p.returncode == 0, p.stderr
    assert (run / "multipoles.dat").read_text() == "1 2 100.0 0.0\n"
    assert (run / "modulation.dat").read_text() == "x 2e-3 100 0\n"
    assert (run / "wires.dat").read_text() == wires_text
    os.remove(t / "modulation.dat")
    p = bbrun("--template", t, "--set", "mod1.dq=1", tmp_path / "never")
    assert p.returncode == 2 and "holds no modulation.dat" in p.stderr

    # a folder a run holds is refused before anything is removed
    before = sorted(os.listdir(run))
    fd = os.open(run, os.O_RDONLY)
    fcntl.flock(fd, fcntl.LOCK_EX)
    try:
        p = bbrun(run)
    finally:
        os.close(fd)
    assert p.returncode == 2 and "another run (process %d)" % os.getpid() in p.stderr
    assert sorted(os.listdir(run)) == before

    # the progress bar's time left, at the pace of the turns so far
    class Tty(io.StringIO):
        def isatty(self):
            return True
    clock = iter([0.0, 10.0])
    out = Tty()
    bar = run_mod._Bar(5000, out, clock=lambda: next(clock))
    bar.show(500)
    bar.show(1500)
    assert out.getvalue().endswith("turn 1500 of 5000, about 35 s left ")
