"""The tools as a package: installed offline into a fresh virtual
environment that sees Debian's numpy and matplotlib, every console entry
point runs."""

import os
import shutil
import subprocess

from runs import TOOLS


def test_offline_install_into_a_fresh_venv(tmp_path):
    src = tmp_path / "tools"
    shutil.copytree(TOOLS, src, ignore=shutil.ignore_patterns("build", "*.egg-info",
                                                               "__pycache__"))
    env = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", env],
                   check=True, timeout=120)
    pip = subprocess.run([env / "bin" / "pip", "install", "-q", "--no-index",
                          "--no-build-isolation", src], capture_output=True, text=True,
                         timeout=300, env=dict(os.environ, PIP_NO_INDEX="1"))
    assert pip.returncode == 0, pip.stderr
    for cmd in ("bbplot", "bbtune", "bbscan", "bbrun"):
        r = subprocess.run([env / "bin" / cmd, "--help"], capture_output=True, text=True,
                           timeout=60, cwd=tmp_path)
        assert r.returncode == 0 and r.stdout.startswith("usage: " + cmd), (cmd, r.stderr)
    r = subprocess.run([env / "bin" / "bbrun", "--summary", tmp_path], capture_output=True,
                       text=True, timeout=60)
    assert r.returncode == 1 and "has not run here" in r.stdout
