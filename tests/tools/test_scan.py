"""bbscan: the grid, and small scans end to end on the local and Slurm back
ends, with one failing point, reruns and the HTCondor submit file."""

import csv
import math
import os
import random
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time

import pytest

from runs import EXAMPLE, TOOLS, binary_path

if TOOLS not in sys.path:
    sys.path.insert(0, TOOLS)
from bbtools import dynap, grid as bbgrid, params, readers, wires  # noqa: E402

BBSCAN = os.path.join(TOOLS, "bbscan")
SYSTEM_PYTHON = "/usr/bin/python3"


def test_grid_texts_ranges_and_errors():
    grid = bbgrid.parse_grid(["amp=0.5:2:0.5", "ntrack=1000,2000", "qx=64.31"])
    assert grid == [("amp", ["0.5", "1.0", "1.5", "2.0"]),
                    ("ntrack", ["1000", "2000"]), ("xtune", ["64.31"])]
    pts = bbgrid.grid_points(grid)
    assert len(pts) == 8 and pts[1] == {"amp": "0.5", "ntrack": "2000", "xtune": "64.31"}
    assert bbgrid.point_name(pts[1]) == "amp=0.5_ntrack=2000_xtune=64.31"
    assert bbgrid.parse_grid(["wcurrent=80:0:-40"]) == [("wcurrent", ["80", "40", "0"])]
    for bad in (["amp"], ["nosuch=1"], ["ntrack=1000.5"], ["amp=1:2:-1"],
                ["amp=1,1"], ["amp=2,2.0"], ["amp=1", "amp=2"], [], ["amp=x"]):
        with pytest.raises((bbgrid.GridError, params.ParamError)):
            bbgrid.parse_grid(bad)
    for bad in ("amp=a:b:c", "amp=4:8:2,10", "amp=x", "amp", "amp=", "ntrack=1.5"):
        with pytest.raises(bbgrid.GridError, match="name=start:stop:step"):
            bbgrid.parse_grid([bad])
    assert bbgrid.no_result_warnings(bbgrid.parse_grid(["xi=1,2", "amp=1,2", "ntrack=9"])) == [
        "warning: xi changes no result file (only its echo, standard output or a label "
        "column; see docs/inputs.md): every point gives the same results"]


def test_wire_values_in_grid_and_wire_file(binary, tmp_path):
    grid = bbgrid.parse_grid(["wire1.current=-90:-80:10", "wire*.length=1.5", "amp=4"])
    assert grid == [("wire1.current", ["-90", "-80"]), ("wire*.length", ["1.5"]),
                    ("amp", ["4"])]
    assert bbgrid.point_name(bbgrid.grid_points(grid)[0]) == \
        "wire1.current=-90_wireall.length=1.5_amp=4"
    for bad in (["wire1.nosuch=1"], ["wire0.xw=1"], ["wire1.k=2.5"], ["wire1.xw=x"]):
        with pytest.raises((wires.WireError, bbgrid.GridError)):
            bbgrid.parse_grid(bad)
    # a scan edits only the named values of the template's wire file
    t = tmp_path / "template"
    shutil.copytree(EXAMPLE, t)
    with open(t / "wires.dat", "w") as fh:
        fh.write("9 -8.5272 0.0 -86.9 1.0  ! IP1 right\n\n40, 0.0, -9.5931, -86.9, 1.0\n")
    root = tmp_path / "scan"
    proc = bbscan("run", t, root, "--binary", binary, "--set", "wire2.current=-50,-20",
                  "--set", "wire*.length=2.0", "--set", "ntrack=20", "--set", "itrip=0")
    assert proc.returncode == 0, proc.stderr
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert [r["grid:wire2.current"] for r in rows] == ["-50", "-20"]
    with open(root / rows[0]["folder"] / "wires.dat") as fh:
        assert fh.read() == "9 -8.5272 0.0 -86.9 2.0  ! IP1 right\n\n40, 0.0, -9.5931, -50, 2.0\n"
    assert wires.read_wires(str(root / rows[1]["folder"] / "wires.dat"))[1] == {
        "k": 40, "xw": 0.0, "yw": -9.5931, "current": -20.0, "length": 2.0}
    proc = bbscan("run", t, tmp_path / "scan3", "--binary", binary, "--set", "wire3.xw=1")
    assert proc.returncode == 2 and "holds 2 wire record(s)" in proc.stderr


def test_multipole_modulation_and_ripple_values_by_name(binary, tmp_path):
    for bad in (["mult1.nosuch=1"], ["mult1.n=2.5"], ["mod1.plane=z"], ["wire1.seed=1.5"]):
        with pytest.raises((wires.WireError, bbgrid.GridError)):
            bbgrid.parse_grid(bad)
    t = tmp_path / "template"
    shutil.copytree(EXAMPLE, t)
    files = {"multipoles.dat": "# k n kn sn\n1 3 100.0 0.0\n40 2 0.5 0.0 ! sext\n",
             "modulation.dat": "x 1e-3 100 0\n",
             "wires.dat": "9 -8.5272 0.0 -86.9 1.0\n"}
    for name, text in files.items():
        (t / name).write_text(text)
    root = tmp_path / "scan"
    proc = bbscan("run", t, root, "--binary", binary, "--set", "mult2.kn=-0.5,0.5",
                  "--set", "mod1.plane=Y", "--set", "mod*.dq=2e-3", "--set", "wire1.a=0.01",
                  "--set", "ntrack=5", "--set", "itrip=0")
    assert proc.returncode == 0, proc.stderr
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    folder = root / rows[0]["folder"]
    assert (folder / "multipoles.dat").read_text() == \
        "# k n kn sn\n1 3 100.0 0.0\n40 2 -0.5 0.0 ! sext\n"
    assert (folder / "modulation.dat").read_text() == "y 2e-3 100 0\n"
    assert (folder / "wires.dat").read_text() == "9 -8.5272 0.0 -86.9 1.0 0.01 1000 0 0\n"
    proc = bbscan("run", t, tmp_path / "scan2", "--binary", binary, "--set", "mult3.kn=1")
    assert proc.returncode == 2 and "holds 2 mult record(s)" in proc.stderr


@pytest.fixture
def binary():
    exe = binary_path()
    if not os.path.isfile(exe):
        if os.environ.get("CI") == "true":
            pytest.fail("tracker binary %s not found" % exe, pytrace=False)
        pytest.skip("tracker binary %s not found" % exe)
    return exe


@pytest.fixture
def template(tmp_path):
    """The bundled example without its multipole file: points with itrip=1
    fail on reading it, points with itrip=0 run."""
    t = tmp_path / "template"
    shutil.copytree(EXAMPLE, t)
    os.remove(t / "multdist.dat")
    return t


def bbscan(*args, env=None):
    return subprocess.run([SYSTEM_PYTHON, BBSCAN] + [str(a) for a in args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          env=env, timeout=600)


def results(root):
    with open(os.path.join(root, "results.csv"), newline="") as fh:
        return {(r["grid:amp"], r["grid:itrip"]): r for r in csv.DictReader(fh)}


def direct_run(binary, template, folder, values):
    """The tracker run by hand in a folder of its own, for comparison."""
    os.makedirs(folder)
    for f in os.listdir(template):
        shutil.copy(os.path.join(template, f), folder)
    params.set_values(os.path.join(template, "diff.input"),
                      os.path.join(folder, "diff.input"), values)
    with open(os.path.join(folder, "stdout.txt"), "w") as out:
        subprocess.run([binary], cwd=folder, stdout=out, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, OMP_NUM_THREADS="1"), check=True)


def check_scan(root, binary, template, tmp_path, proc):
    rows = results(root)
    assert set(rows) == {(a, i) for a in ("2", "6") for i in ("0", "1")}
    for (amp, itrip), r in rows.items():
        folder = os.path.join(root, r["folder"])
        if itrip == "1":
            assert (r["state"], r["exit_status"]) == ("failed", "1")
            assert "multdist.dat" in r["message"]
            assert "failed: %s (exit status 1)" % folder in proc.stderr
        else:
            assert (r["state"], r["exit_status"], r["lost"]) == ("finished", "0", "0")
            assert float(r["ampin"]) == float(amp) / 2
            assert math.isfinite(float(r["diffx"])) and math.isfinite(float(r["diffy"]))
    assert proc.stderr.count("failed: ") == 2
    assert proc.returncode == 1
    # a point's results are those of the same run made by hand
    ref = tmp_path / "direct"
    direct_run(binary, template, ref, {"amp": "6", "itrip": "0", "ntrack": "2000"})
    point = os.path.join(root, rows[("6", "0")]["folder"])
    for name in ("resav.out", "diff.dat", "stdout.txt"):
        with open(os.path.join(point, name)) as a, open(ref / name) as b:
            assert a.read() == b.read(), name


GRID = ["--set", "amp=2,6", "--set", "itrip=0:1:1", "--set", "ntrack=2000"]


def mending_binary(tmp_path, binary):
    """The tracker behind a wrapper (one program for the whole scan, which
    records its hash) that supplies the multipole file the template lacks
    once the file "mend" exists: the failed points succeed on a rerun while
    the template (which the scan guards) stays as it was."""
    path = tmp_path / "mended.sh"
    path.write_text("#!/bin/sh\n[ -f %s ] && cp %s .\nexec %s\n"
                    % (shlex.quote(str(tmp_path / "mend")),
                       os.path.join(EXAMPLE, "multdist.dat"), binary))
    path.chmod(0o755)
    return path


def mend(tmp_path):
    (tmp_path / "mend").write_text("")


def test_local_scan_reports_failures_reruns_and_plots(binary, template, tmp_path):
    root = tmp_path / "scan"
    wrapper = mending_binary(tmp_path, binary)
    proc = bbscan("run", template, root, "--binary", wrapper, *GRID)
    check_scan(str(root), binary, template, tmp_path, proc)

    # a rerun leaves the finished points alone and runs the failed ones again
    rows = results(root)
    finished = os.path.join(root, rows[("2", "0")]["folder"], "stdout.txt")
    failed = os.path.join(root, rows[("2", "1")]["folder"], "stderr.txt")
    stamp = (os.stat(finished).st_mtime_ns, os.stat(failed).st_mtime_ns)
    mend(tmp_path)
    proc = bbscan("run", template, root, "--plot", *GRID)
    assert proc.returncode == 0, proc.stderr
    assert "4 points, 2 finished, 2 to run" in proc.stdout
    assert os.stat(finished).st_mtime_ns == stamp[0]
    assert os.stat(failed).st_mtime_ns != stamp[1]
    assert {r["state"] for r in results(root).values()} == {"finished"}
    with open(root / "rates.png", "rb") as fh:
        assert fh.read(8) == b"\x89PNG\r\n\x1a\n"
    proc = bbscan("run", template, root, *GRID)
    assert "4 points, 4 finished, 0 to run" in proc.stdout and proc.returncode == 0

    # another set of parameters, or a changed template, does not reuse the folder
    proc = bbscan("run", template, root, "--set", "amp=1")
    assert proc.returncode == 2 and "use a new scan folder" in proc.stderr
    params.set_values(template / "diff.input", template / "diff.input", {"ntrack": 2500})
    proc = bbscan("run", template, root, *GRID)
    assert proc.returncode == 2 and "the template %s has changed" % template in proc.stderr
    assert "start a new scan in a new folder" in proc.stderr


def test_states_agree_on_console_status_and_results(binary, tmp_path):
    root = tmp_path / "scan"
    proc = bbscan("run", EXAMPLE, root, "--binary", binary,
                  "--set", "iopt=2", "--set", "ntrack=1000,5000")
    assert proc.returncode == 1
    assert ": finished" in proc.stdout and ": refused" in proc.stdout
    assert "refused: %s" % (root / "points" / "iopt=2_ntrack=5000") in proc.stderr
    assert "(2 rows: 1 finished, 1 refused)" in proc.stdout
    assert bbscan("status", root).stdout == "1 finished, 1 refused\n"
    with open(root / "results.csv", newline="") as fh:
        assert [r["state"] for r in csv.DictReader(fh)] == ["finished", "refused"]
    proc = bbscan("status", tmp_path)
    assert proc.returncode == 2 and "is not a scan folder" in proc.stderr
    proc = bbscan("run", EXAMPLE, root, "--workers", "0", "--set", "iopt=2")
    assert proc.returncode == 2 and "at least 1" in proc.stderr


def test_a_killed_point_runs_again(binary, template, tmp_path):
    root = tmp_path / "scan"
    assert bbscan("run", template, root, "--binary", binary,
                  "--set", "amp=2", "--set", "itrip=0", "--set", "ntrack=1000").returncode == 0
    point = root / "points" / "amp=2_itrip=0_ntrack=1000"
    os.remove(point / "exit_status")  # as if the job had been killed mid-run
    os.remove(point / "resav.out")
    proc = bbscan("collect", root)
    assert proc.returncode == 1 and "not run: %s" % point in proc.stderr
    # amp=2.0 is the point amp=2
    proc = bbscan("run", template, root, "--binary", binary,
                  "--set", "amp=2.0", "--set", "itrip=0", "--set", "ntrack=1000")
    assert proc.returncode == 0 and "1 to run" in proc.stdout
    assert readers.read_resav(str(point / "resav.out"))
    assert os.listdir(root / "points") == [point.name]
    # a scan folder in its template (or the template itself) is refused
    for inside in (template, template / "scans" / "a"):
        proc = bbscan("run", template, inside, "--set", "amp=2")
        assert proc.returncode == 2 and "lies in its template" in proc.stderr
    assert not (template / "scans").exists() and not (template / "scan.json").exists()


def test_condor_submit_file_queues_the_pending_folders(binary, template, tmp_path):
    # a scan folder whose path holds a blank, a % and a quote: the submit
    # file names only paths relative to the scan folder
    root = tmp_path / "my scan %j 'x'"
    proc = bbscan("run", template, root, "--binary", binary, "--backend", "condor", *GRID)
    assert proc.returncode == 0, proc.stderr
    assert "cd %s && condor_submit scan.sub" % shlex.quote(str(root)) in proc.stdout
    with open(root / "scan.sub") as fh:
        sub = fh.read()
    assert "queue folder from pending.txt\n" in sub
    assert "executable              = run_point.sh\n" in sub
    assert str(tmp_path) not in sub
    with open(root / "pending.txt") as fh:
        folders = fh.read().split()
    assert len(folders) == 4 and all(os.path.isdir(root / f) for f in folders)
    # what an execute node does with each queued folder (its initialdir)
    for f in folders:
        subprocess.run([str(root / "run_point.sh"), "."], cwd=root / f)
    proc = bbscan("collect", root)
    check_scan(str(root), binary, template, tmp_path, proc)


def test_slurm_scan_runs_one_job_array(binary, template, tmp_path, slurm):
    # the path of the scan folder holds a blank and a % that Slurm would expand
    root = tmp_path / "scan dir %j"
    wrapper = mending_binary(tmp_path, binary)
    proc = bbscan("run", template, root, "--binary", wrapper, "--backend", "slurm", *GRID,
                  env=slurm.env)
    assert "array job" in proc.stdout, proc.stdout + proc.stderr
    check_scan(str(root), binary, template, tmp_path, proc)
    logs = os.listdir(root / "slurm")
    assert len(logs) == 4 and len({name.split("_")[0] for name in logs}) == 1
    # the rerun submits only the two failed points, as an array of two
    mend(tmp_path)
    proc = bbscan("run", template, root, "--backend", "slurm", *GRID, env=slurm.env)
    assert proc.returncode == 0, proc.stderr
    assert "array job" in proc.stdout and "(2 tasks)" in proc.stdout
    assert {r["state"] for r in results(root).values()} == {"finished"}


def wait_for(cond, timeout=120):
    end = time.monotonic() + timeout
    while not cond():
        assert time.monotonic() < end, "timed out"
        time.sleep(0.1)


def processes_in(folder):
    """Processes whose working folder lies in ``folder``."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/cwd" % pid).startswith(str(folder)):
                found.append(pid)
        except OSError:
            pass
    return found


def test_one_run_at_a_time_status_and_stop(binary, template, tmp_path):
    # a second run is refused while the first runs each point once
    log = tmp_path / "runs.log"
    slow = tmp_path / "slow.sh"
    slow.write_text('#!/bin/sh\necho "$PWD" >> %s\nsleep 2\nexec %s\n' % (log, binary))
    slow.chmod(0o755)
    root = tmp_path / "scan"
    grid = ["--set", "amp=2,4", "--set", "itrip=0", "--set", "ntrack=100"]
    first = subprocess.Popen([SYSTEM_PYTHON, BBSCAN, "run", str(template), str(root),
                              "--binary", str(slow), "--workers", "2"] + grid,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for(lambda: log.exists())
    second = bbscan("run", template, root, "--binary", slow, *grid)
    assert second.returncode == 2
    assert "in use by bbscan process %d on host" % first.pid in second.stderr
    out, err = first.communicate(timeout=300)
    assert first.returncode == 0, err
    assert "not run" not in out + err
    assert sorted(log.read_text().split()) == sorted(
        str(root / "points" / ("amp=%d_itrip=0_ntrack=100" % a)) for a in (2, 4))

    # running points are told from points not run; a stopped bbscan stops
    # its trackers, which end their turn and record their status
    root = tmp_path / "long"
    run = subprocess.Popen([SYSTEM_PYTHON, BBSCAN, "run", str(template), str(root),
                            "--binary", binary, "--set", "amp=2,4,6", "--set", "itrip=0",
                            "--set", "ntrack=900000", "--workers", "2"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    points = [root / "points" / ("amp=%d_itrip=0_ntrack=900000" % a) for a in (2, 4)]
    wait_for(lambda: all(os.path.getsize(p / "stdout.txt") > 0 for p in points
                         if (p / "stdout.txt").exists()) and
             all((p / "stdout.txt").exists() for p in points))
    lines = bbscan("status", root).stdout.splitlines()
    assert lines[0] == "2 running, 1 not run"
    assert [ln.split(":")[:2] for ln in lines[1:]] == [
        ["running", " points/" + p.name] for p in points]
    run.send_signal(signal.SIGTERM)
    out, err = run.communicate(timeout=120)
    assert run.returncode == 128 + signal.SIGTERM
    assert "Traceback" not in err
    for p in points:
        assert (p / "exit_status").read_text() == "143\n"
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert [r["state"] for r in rows] == ["stopped", "stopped", "not run"]
    assert all("error:" in r["warnings"] for r in rows[:2])  # the program's stop line
    wait_for(lambda: processes_in(root) == [], timeout=10)  # the heartbeat's last second


def test_grid_binary_warnings_and_lost_points(binary, template, tmp_path):
    root = tmp_path / "scan"
    # amp = 2e8 starts every particle far outside the aperture: all are lost
    grid = ["--set", "amp=2,2e8", "--set", "itrip=0", "--set", "ntrack=1500"]
    proc = bbscan("run", template, root, "--binary", binary, *grid)
    assert proc.returncode == 0, proc.stderr
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert [(r["lost"], r["all_lost"]) for r in rows] == [("0", "0"), ("169", "1")]
    assert math.isfinite(float(rows[0]["diffx"])) and rows[1]["diffx"] == ""
    assert rows[1]["message"] == "every particle was lost: no diffusion rate"
    # the program's warning (a run too short for its rates), in its column
    assert all(r["warnings"].startswith("warning: ntrack = 1500 measures") for r in rows)

    # another grid is refused with the way to extend it; nothing is made
    proc = bbscan("run", template, root, "--set", "amp=2,4", "--set", "itrip=0",
                  "--set", "ntrack=1500")
    assert proc.returncode == 2
    assert ("holds the grid amp=2,2e8 itrip=0 ntrack=1500; this run asks for amp=2,4 "
            "itrip=0 ntrack=1500. Start a new scan in a new folder, or give --extend"
            in proc.stderr)
    assert "amp=2,2e8,4 itrip=0 ntrack=1500 (3 points)" in proc.stderr
    assert sorted(os.listdir(root / "points")) == [
        "amp=2_itrip=0_ntrack=1500", "amp=2e8_itrip=0_ntrack=1500"]
    proc = bbscan("run", template, root)  # the recorded grid
    assert proc.returncode == 0 and "2 points, 2 finished, 0 to run" in proc.stdout
    proc = bbscan("run", template, root, "--extend", "--set", "amp=2,4", "--set",
                  "itrip=0", "--set", "ntrack=1500")
    assert proc.returncode == 0 and "3 points, 2 finished, 1 to run" in proc.stdout
    assert bbscan("status", root).stdout == "3 finished\n"

    # --plot without numpy: bbscan stops before any work (under the system
    # Python it would have started again instead)
    fake = tmp_path / "fake"
    (fake / "numpy").mkdir(parents=True)
    (fake / "numpy" / "__init__.py").write_text("raise ImportError('no numpy here')\n")
    proc = bbscan("run", template, tmp_path / "plotless", "--plot", "--set", "amp=2",
                  env=dict(os.environ, PYTHONPATH=str(fake)))
    assert proc.returncode == 2 and "needs the Python modules numpy" in proc.stderr
    assert not (tmp_path / "plotless").exists()

    # another binary is refused, and the recorded one named
    other = tmp_path / "other.sh"
    other.write_text("#!/bin/sh\nexec %s\n" % binary)
    other.chmod(0o755)
    proc = bbscan("run", template, root, "--binary", other)
    assert proc.returncode == 2 and "is another program" in proc.stderr
    assert "give --binary %s" % binary in proc.stderr
    with open(root / "scan.json") as fh:
        assert '"binary": "%s"' % binary in fh.read()


# A study of two shards, one batch each, long enough to be stopped in its
# tracking (a few seconds a shard on a quick machine); its progress lines
# come every tenth of the turns.
TURNS = 240000
STEP = TURNS // 10
STUDY = "--amplitudes 2:14:2 --angles 3 --turns %d --window 1024 --tbt 2" % TURNS


def study_files(root):
    """The bytes of the merged study and of each shard's rows."""
    files = {f: (root / "merged" / f).read_bytes() for f in os.listdir(root / "merged")}
    for k in (1, 2):
        files["shard%d" % k] = (root / "points" / ("shard=%d" % k) / "dynap.csv").read_bytes()
    return files


def turn_lines(text):
    return [int(m) for m in re.findall(r"dynap: turn (\d+) of %d" % TURNS, text)]


def stop_turn(text):
    return int(re.search(r"stopped by signal 15 at turn (\d+)", text).group(1))


def check_resumed(point, files, ref):
    """The point went on from where it stopped: its last run tracked only
    the turns left, and its files are those of the scan never stopped."""
    stopped = stop_turn((point / "stderr.stopped.txt").read_text())
    assert 0 < stopped < TURNS
    again = turn_lines((point / "stderr.txt").read_text())
    assert again == list(range((stopped // STEP + 1) * STEP, TURNS, STEP)), (stopped, again)
    assert files == ref


def test_a_stopped_study_scan_goes_on_from_its_checkpoints(binary, tmp_path):
    ref_root = tmp_path / "ref"
    args = ["--binary", binary, "--shards", "2", "--workers", "2", "--dynap=" + STUDY]
    assert bbscan("run", EXAMPLE, ref_root, *args).returncode == 0
    ref = study_files(ref_root)

    root = tmp_path / "scan"
    run = subprocess.Popen([SYSTEM_PYTHON, BBSCAN, "run", EXAMPLE, str(root)] + args,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    points = [root / "points" / ("shard=%d" % k) for k in (1, 2)]
    wait_for(lambda: all(turn_lines(p.joinpath("stderr.txt").read_text())
                         for p in points if p.joinpath("stderr.txt").exists())
             and all(p.joinpath("stderr.txt").exists() for p in points))
    time.sleep(random.uniform(0.0, 0.5))
    run.send_signal(signal.SIGTERM)
    out, err = run.communicate(timeout=120)
    assert run.returncode == 128 + signal.SIGTERM, err
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert [r["state"] for r in rows[:2]] == ["stopped", "stopped"]
    assert all("progress" not in r["warnings"] and "turn %d of" % STEP not in r["warnings"]
               for r in rows)
    status = bbscan("status", root).stdout.splitlines()
    assert status[0] == "2 stopped"
    for p, line in zip(points, status[1:]):
        turn = stop_turn((p / "stderr.txt").read_text())
        assert line.startswith("stopped: points/%s: turn %d of %d" % (p.name, turn, TURNS))

    proc = bbscan("run", EXAMPLE, root, *args)
    assert proc.returncode == 0, proc.stderr
    assert "2 to run (2 from a checkpoint)" in proc.stdout
    # each point's end tells the points done, running and left, and the time left
    assert len(re.findall(r"^shard=\d: finished; \d done, \d running, 0 left; "
                          r"(about \d+ s|nothing) left$", proc.stdout, re.M)) == 2
    files = study_files(root)
    for p in points:
        check_resumed(p, files, ref)
    # the shards' rows and the merged study's, with the same columns
    summary = dynap.read_summary(str(root / "merged" / dynap.SUMMARY))
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert [(r["grid:shard"], r["particles"], r["state"]) for r in rows] == [
        ("1", "10", "finished"), ("2", "11", "finished"), ("merged", "21", "finished")]
    assert int(rows[0]["lost"]) + int(rows[1]["lost"]) == int(rows[2]["lost"])
    for c in ("lost", "da_min", "da_average", "chaotic_share"):
        assert float(rows[2][c]) == summary[c]
    # a changed shard count is refused; the complete merge stays
    proc = bbscan("run", EXAMPLE, root, "--binary", binary, "--shards", "3",
                  "--dynap=" + STUDY)
    assert proc.returncode == 2 and "keep --shards 2" in proc.stderr
    assert study_files(root) == ref


def test_a_requeued_slurm_task_goes_on_from_its_checkpoint(binary, tmp_path, slurm):
    args = ["--binary", binary, "--shards", "2", "--dynap=" + STUDY]
    assert bbscan("run", EXAMPLE, tmp_path / "ref", *args).returncode == 0
    ref = study_files(tmp_path / "ref")
    root = tmp_path / "scan"
    run = subprocess.Popen([SYSTEM_PYTHON, BBSCAN, "run", EXAMPLE, str(root), "--backend",
                            "slurm"] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           text=True, env=slurm.env)
    point = root / "points" / "shard=1"  # task 0 of the array
    wait_for(lambda: (point / "stderr.txt").exists()
             and turn_lines((point / "stderr.txt").read_text()))
    time.sleep(random.uniform(0.0, 1.0))
    job = os.listdir(root / "slurm")[0].split("_")[0]
    slurm.run("scontrol", "requeue", job + "_0")
    # Slurm holds a requeued task back for the lifetime of a credential
    # (minutes): let it start again once the stopped one has ended
    wait_for(lambda: "Reason=BeginTime" in slurm.run("scontrol", "show", "job", job + "_0",
                                                     check=False).stdout, timeout=30)
    wait_for(lambda: (point / "exit_status").exists(), timeout=30)
    slurm.run("scontrol", "update", "JobId=%s_0" % job, "StartTime=now+2")
    out, err = run.communicate(timeout=300)
    assert run.returncode == 0, out + err + slurm.logs()
    assert "requeued" in (root / "slurm" / ("%s_0.out" % job)).read_text()
    assert re.search(r"^\d done, \d running, \d left; ", out, re.M), out
    check_resumed(point, study_files(root), ref)


def test_study_scan_figure_one_line_per_other_value(binary, tmp_path):
    root = tmp_path / "scan"
    proc = bbscan("run", EXAMPLE, root, "--binary", binary, "--set", "itrip=0,1",
                  "--set", "dnb=-0.6E+11,-1.15E+11,-1.5E+11", "--plot", "--dynap="
                  "--amplitudes 2:8:3 --angles 2 --turns 300 --window 100 --quiet")
    assert proc.returncode == 0, proc.stderr
    assert (root / "aperture.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    with open(root / "results.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert len(rows) == 6 and all(r["particles"] == "6" for r in rows)
    from bbtools import scan_plots
    labels = scan_plots.plot_study_scan(str(root / "results.csv"), str(tmp_path / "a.png"))
    assert labels == ["dnb = -1.5E+11", "dnb = -1.15E+11", "dnb = -0.6E+11"]


def test_a_point_without_a_valid_checkpoint_starts_afresh(tmp_path):
    # a program that refuses --resume as the study does when neither
    # checkpoint will do, and otherwise records its arguments
    fake = tmp_path / "fake.sh"
    fake.write_text('#!/bin/sh\necho "$*" >> args.txt\ncase "$*" in *--resume*)\n'
                    '  echo "diff2wirenew: error: dynap: --resume: no valid checkpoint" >&2'
                    '; exit 2;; esac\necho "diff2wirenew: warning: fresh" >&2\n')
    fake.chmod(0o755)
    from bbtools import point_script
    runner = tmp_path / "run_point.sh"
    runner.write_text(point_script.script(str(fake), ["dynap", "--turns", "10"]))
    runner.chmod(0o755)
    point = tmp_path / "point"
    point.mkdir()
    (point / ".dynap_checkpoint.1").write_bytes(b"torn")
    (point / "stderr.txt").write_text("diff2wirenew: error: dynap: stopped by signal 15\n")
    assert subprocess.run([str(runner), str(point)]).returncode == 0
    assert (point / "args.txt").read_text() == "dynap --turns 10 --resume\ndynap --turns 10\n"
    assert (point / "exit_status").read_text() == "0\n"
    assert "stopped by signal 15" in (point / "stderr.stopped.txt").read_text()
    assert (point / "stderr.txt").read_text() == (
        "diff2wirenew: error: dynap: --resume: no valid checkpoint\n"
        "diff2wirenew: warning: fresh\n")
