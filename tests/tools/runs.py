"""Runs of the real tracker for the tests of the companion tools.

``tracker`` is a session fixture: ``tracker.run(iopt=2, ntrack=200)`` copies
the bundled example input set into a fresh directory, sets the named values
of diff.input and runs the binary there once per set of values.

The binary is $BBTRACK_BINARY, by default build/diff2wirenew of the
repository. Without it the tests that need a run are skipped, except on CI
(CI=true), where that is a failure.
"""

import os
import shutil
import subprocess
import sys

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(REPO, "tools")
EXAMPLE = os.path.join(REPO, "examples", "ring")

if TOOLS not in sys.path:
    sys.path.insert(0, TOOLS)
from bbtools import params  # noqa: E402


def binary_path():
    return os.environ.get("BBTRACK_BINARY",
                          os.path.join(REPO, "build", "diff2wirenew"))


class Run:
    """One finished run: its directory, exit status and parameters."""

    def __init__(self, directory, returncode, stderr):
        self.dir = directory
        self.returncode = returncode
        self.stderr = stderr
        self.params = params.read_params(self.path("diff.input"))

    def path(self, name):
        return os.path.join(self.dir, name)


class Tracker:
    def __init__(self, binary, base):
        self.binary = binary
        self.base = str(base)
        self._done = {}

    def run(self, **values):
        key = tuple(sorted(values.items()))
        if key in self._done:
            return self._done[key]
        name = "_".join("%s%s" % kv for kv in key) or "example"
        d = os.path.join(self.base, name)
        os.makedirs(d)
        for f in os.listdir(EXAMPLE):
            shutil.copy(os.path.join(EXAMPLE, f), d)
        params.set_values(os.path.join(EXAMPLE, "diff.input"),
                          os.path.join(d, "diff.input"), values)
        env = dict(os.environ, OMP_NUM_THREADS="2", OMP_WAIT_POLICY="passive")
        env.pop("FOR020", None)
        with open(os.path.join(d, "stdout.txt"), "w") as out:
            proc = subprocess.run([self.binary], cwd=d, stdout=out,
                                  stderr=subprocess.PIPE, env=env, timeout=120)
        run = Run(d, proc.returncode, proc.stderr.decode(errors="replace"))
        self._done[key] = run
        return run


@pytest.fixture(scope="session")
def tracker(tmp_path_factory):
    exe = binary_path()
    if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
        why = "tracker binary %s not found (set BBTRACK_BINARY)" % exe
        if os.environ.get("CI") == "true":
            pytest.fail(why, pytrace=False)
        pytest.skip(why)
    return Tracker(exe, tmp_path_factory.mktemp("tracker"))
