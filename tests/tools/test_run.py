"""bbrun: a run in a fresh copy of a template, its summary and exit status,
for a finished and a failed run, and the summary of a finished folder."""

import os
import shutil
import subprocess

from runs import EXAMPLE, TOOLS, binary_path

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
    assert "wire current: -86.8828 A" in lines
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
