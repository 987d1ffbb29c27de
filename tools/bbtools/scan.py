"""Parameter scans of diff2wirenew (``bbscan``).

A scan is a folder made from a template run folder and a grid over named
values of "diff.input" and of the element files "wires.dat", "multipoles.dat"
and "modulation.dat" (``wire1.current``, ``wire2.xw``, ``wire*.current`` for
every wire, ``mult3.kn``, ``mod1.dq``; see ``wires``):

    SCAN/scan.json        the grid, the template and the binary
    SCAN/run_point.sh     runs one point in its folder (every back end uses it)
    SCAN/points/<name>/   one run folder per grid point, e.g. amp=2_wcurrent=80
    SCAN/results.csv      one row per grid point (``collect``)

A point has finished when its file "exit_status" holds 0. The file is written
only after the tracker has ended, so a run that was killed leaves none and is
run again; a rerun of the scan skips the points that finished. Points that
failed are run again too, and every failed point is reported with its folder
and the end of its standard error. While a point runs, its folder holds the
marker "running" (host and process, refreshed every minute): such a point is
"running", never rebuilt or started twice.

One ``bbscan run`` at a time: it locks SCAN/scan.lock and a second one is
refused with the process and host of the first. Stopped (SIGTERM, SIGINT,
SIGHUP), it stops its trackers (each finishes its turn and records its
status) or cancels its Slurm jobs. The grid, the template and the binary
(by content hash) are recorded; a run that asks for another is refused, and
``--extend`` adds values to the recorded grid.

Back ends: ``local`` (one worker per core, the default), ``slurm`` (one job
array, ``sbatch --array ... --wait``) and ``condor`` (writes a submit file
with ``queue folder from`` a list of the pending folders, to be given to
condor_submit in the scan folder; ``collect`` afterwards). The batch files
name the scan's own files relative to the scan folder, so its path may hold
blanks and ``%``; a path with a line break is refused.

Only the standard library is needed, except for ``--plot``.
"""

import argparse
import concurrent.futures
import csv
import ctypes
import fcntl
import hashlib
import itertools
import json
import math
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import threading

from . import argtypes, dynap, params, readers, wires
from .run import (HEARTBEAT, RUNNING_FILE, STATES, all_lost, diagnostics, run_state,
                  this_host)

__all__ = ["parse_grid", "grid_points", "point_name", "Scan", "main"]

# Files the tracker writes; they are not copied from a template folder.
RESULT_FILES = {"diff.dat", "resav.out", "footprint.dat", "phasespace.dat",
                "frequencymap.dat", "imageoflrbb.dat", "test.dat",
                "stdout.txt", "stderr.txt", "exit_status", "exit_status.tmp",
                RUNNING_FILE} | dynap.RESULT_FILES

SLURM_MAX_ARRAY = 1000  # the default MaxArraySize of a Slurm cluster is 1001


class ScanError(RuntimeError):
    """A scan that cannot be made or run as asked."""


# ---------------------------------------------------------------- the grid

_RANGE = re.compile(r"^([^:]+):([^:]+):([^:]+)$")


FORMS = ("name=v1,v2,... (a list of values) or name=start:stop:step (a range, "
         "stop included when the steps reach it), e.g. amp=4,6,8 or amp=4:16:2")


def _range_values(text):
    """Values of start:stop:step, stop included when the steps reach it."""
    m = _RANGE.match(text)
    try:
        start, stop, step = (readers.parse_real(g) for g in m.groups())
    except ValueError:
        raise ScanError("range %r: start, stop and step must be numbers; write %s"
                        % (text, FORMS)) from None
    if step == 0 or (stop - start) * step < 0:
        raise ScanError("range %r: the step does not lead from start to stop" % text)
    n = int(math.floor((stop - start) / step + 1e-9)) + 1
    if n > 100000:
        raise ScanError("range %r gives %d values" % (text, n))
    # exact decimal steps where possible: 0.1 + 2 * 0.2 is written 0.5
    digits = max(_decimals(g) for g in m.groups())
    return ["%.*f" % (digits, start + i * step) if digits is not None
            else repr(start + i * step) for i in range(n)]


def _decimals(text):
    t = text.strip().lower()
    if "e" in t or "d" in t:
        return None
    return len(t.split(".")[1]) if "." in t else 0


def parse_grid(specs):
    """Grid of ``name=v1,v2,...`` or ``name=start:stop:step`` texts, as an
    ordered list of (name, [value texts]). Values are checked against the
    kind of their parameter."""
    grid = []
    seen = set()
    for spec in specs:
        if "=" not in spec:
            raise ScanError("--set %r: write %s" % (spec, FORMS))
        name, _, rhs = spec.partition("=")
        wire = wires.is_wire_name(name)
        key = wires.canonical(name) if wire else params.canonical(name)
        if key in seen:
            raise ScanError("parameter %s appears twice in the grid" % key)
        seen.add(key)
        rhs = rhs.strip()
        if _RANGE.match(rhs):
            values = _range_values(rhs)
        elif ":" in rhs:
            raise ScanError("--set %r mixes a range and a list; write %s" % (spec, FORMS))
        else:
            values = [v.strip() for v in rhs.split(",") if v.strip()]
        if not values:
            raise ScanError("--set %r holds no values; write %s" % (spec, FORMS))
        fmt = wires.format_value if wire else params.format_value
        try:
            texts = [fmt(key, v) for v in values]
        except (params.ParamError, ValueError) as e:
            raise ScanError("--set %r: %s; write %s" % (spec, e, FORMS)) from None
        if len(set(texts)) != len(texts):
            raise ScanError("grid %r repeats a value" % spec)
        grid.append((key, texts))
    if not grid:
        raise ScanError("the grid is empty: give at least one --set name=values")
    return grid


def grid_points(grid):
    """Every combination, the last parameter varying fastest: list of dicts."""
    names = [n for n, _ in grid]
    return [dict(zip(names, combo)) for combo in itertools.product(*(v for _, v in grid))]


def point_name(point):
    """Folder name of a grid point: amp=2_wcurrent=80."""
    return "_".join("%s=%s" % (k.replace("*", "all"), v) for k, v in point.items())


# ---------------------------------------------------------------- the scan

# The grid name of a study split into shards (bbscan run --shards N), and
# the folder of the merged results.
SHARD = "shard"
MERGED = "merged"

RUN_POINT = """#!/bin/sh
# Runs the tracker in the folder given as argument. The exit status is kept
# in the file exit_status, written only once the tracker has ended; while it
# runs, the file %(marker)s holds host and process, touched every
# %(beat)d s. A stop signal is passed on to the tracker, which ends its turn
# and records what it has; under Slurm, which signals every process of the
# job itself, it is not passed on twice.
cd "$1" || exit 98
rm -f exit_status exit_status.tmp
echo "$(hostname | cut -d. -f1) $$" > %(marker)s
# the heartbeat sleeps a second at a time: it outlives this script by at
# most that, however it ends
( n=0
  while kill -0 $$ 2>/dev/null; do
    [ "$n" -gt 0 ] || touch -c %(marker)s
    n=$(( (n + 1) %% %(beat)d )); sleep 1
  done ) &
beat=$!
# a shard of a study has its share in the file shard_arg (--shard I/N)
OMP_NUM_THREADS="${OMP_NUM_THREADS:-1}" %(binary)s%(study)s $(cat shard_arg 2>/dev/null) > stdout.txt 2> stderr.txt &
pid=$!
stop() { [ -n "${SLURM_JOB_ID:-}" ] || kill -TERM "$pid" 2>/dev/null; }
trap stop TERM INT HUP
while :; do
  wait "$pid"
  rc=$?
  kill -0 "$pid" 2>/dev/null || break
done
kill "$beat" 2>/dev/null
echo "$rc" > exit_status.tmp && mv exit_status.tmp exit_status
rm -f %(marker)s
exit "$rc"
"""


def file_hash(path):
    """sha256 of a file's content."""
    h = hashlib.sha256()
    with open(path, "rb") as fh:
        for block in iter(lambda: fh.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def grid_text(grid):
    return " ".join("%s=%s" % (n, ",".join(v)) for n, v in grid)


def template_hash(template):
    """Content hash of the files a scan copies from its template folder."""
    h = hashlib.sha256()
    for f in sorted(os.listdir(template)):
        src = os.path.join(template, f)
        if os.path.isfile(src) and f not in RESULT_FILES and not f.startswith("fort."):
            with open(src, "rb") as fh:
                data = fh.read()
            h.update(b"%d:%s:%d:" % (len(f), f.encode(), len(data)) + data)
    return h.hexdigest()


def no_result_warnings(grid):
    """Warnings for scanned parameters that change no result file."""
    return ["warning: %s changes no result file (only its echo, standard output or "
            "a label column; see docs/inputs.md): every point gives the same results"
            % name for name, vals in grid if name in params.NO_RESULT and len(vals) > 1]


class Scan:
    """A scan folder: its points, their state and the results table."""

    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.manifest = os.path.join(self.root, "scan.json")
        self.runner = os.path.join(self.root, "run_point.sh")
        self.points_dir = os.path.join(self.root, "points")
        self.lock_file = os.path.join(self.root, "scan.lock")
        self._lock_fd = None
        self._stop = threading.Event()
        self._children = []  # Popen of the local runs
        self._slurm_name = None  # job name of this scan's Slurm arrays
        self._slurm_env = None
        self.stopped_by = None

    # locking

    def lock(self):
        """Hold the scan folder for this process until it ends; a folder
        held by another bbscan is refused with its process and host."""
        os.makedirs(self.root, exist_ok=True)
        fd = os.open(self.lock_file, os.O_RDWR | os.O_CREAT, 0o644)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            holder = os.read(fd, 200).decode(errors="replace").split()
            os.close(fd)
            who = ("process %s on host %s" % (holder[1], holder[0])
                   if len(holder) >= 2 else "another process")
            raise ScanError("%s is in use by bbscan %s: wait until it has ended, or "
                            "stop it, then run again" % (self.root, who)) from None
        os.ftruncate(fd, 0)
        os.write(fd, ("%s %d\n" % (this_host(), os.getpid())).encode())
        self._lock_fd = fd

    def holds_only_its_lock(self):
        try:
            return self._lock_fd is not None and os.listdir(self.root) == ["scan.lock"]
        except OSError:
            return False

    # making

    def create(self, template, grid, binary, extend=False, study=None):
        """Make the scan folder and one folder per point that has neither
        finished nor is running; keep those as they are. ``grid`` None
        takes the recorded one; ``study`` (the arguments of a study run, None:
        the recorded ones) runs at every point in place of a run. Returns the
        points of the scan."""
        old = self.load() if os.path.exists(self.manifest) else None
        if grid is None:
            if old is None:
                raise ScanError("the grid is empty: give at least one --set name=values")
            grid = old["grid"]
        if template is None:
            if old is None:
                raise ScanError("give the template folder of the new scan %s" % self.root)
            template = old["template"]
        template = os.path.abspath(template)
        tfile = os.path.join(template, "diff.input")
        if not os.path.isfile(tfile):
            raise ScanError("template folder %s holds no diff.input" % template)
        params.read_params(tfile)  # the template must be readable as it is
        for fname in sorted({wires.file_of(n) for n, _ in grid if wires.is_wire_name(n)}):
            names = [n for n, _ in grid if wires.is_wire_name(n) and wires.file_of(n) == fname]
            wfile = os.path.join(template, fname)
            if not os.path.isfile(wfile):
                raise ScanError("the grid sets %s, but template folder %s holds no %s"
                                % (", ".join(names), template, fname))
            if fname == "wires.dat":
                wires.read_wires(wfile)  # readable as it is
            count = wires.count_records(wfile)
            for n in names:
                kind, num = re.match(r"([a-z]+)(\d+|\*)\.", n).groups()
                if num != "*" and int(num) > count:
                    raise ScanError("%s: %s holds %d %s record(s)" % (n, wfile, count, kind))
        if binary is None:
            binary = old["binary"] if old is not None else default_binary()
        binary = os.path.abspath(binary)
        if not (os.path.isfile(binary) and os.access(binary, os.X_OK)):
            raise ScanError("tracker binary %s not found or not executable "
                            "(give --binary or set BBTRACK_BINARY)" % binary)
        bin_digest = file_hash(binary)
        digest = template_hash(template)
        if old is not None:
            grid = self._check_against(old, template, digest, binary, bin_digest, grid,
                                       extend)
            recorded = old.get("study")
            if study is None:
                study = recorded
            elif list(study) != (recorded or []):
                raise ScanError("%s was made to run %s; mixing its points with those of "
                                "%s would compare two studies: start a new scan in a new "
                                "folder" % (self.root, " ".join(recorded) if recorded
                                            else "plain runs", " ".join(study)))
        study = list(study or [])
        os.makedirs(self.points_dir, exist_ok=True)
        data = {"template": template, "template_sha256": digest, "binary": binary,
                "binary_sha256": bin_digest, "grid": [[n, v] for n, v in grid]}
        if study:  # every point runs the study run diff2wirenew dynap ...
            data["study"] = study
        with open(self.manifest + ".tmp", "w") as fh:
            json.dump(data, fh, indent=1)
        os.replace(self.manifest + ".tmp", self.manifest)
        with open(self.runner + ".tmp", "w") as fh:
            fh.write(RUN_POINT % {"binary": shlex.quote(binary), "marker": RUNNING_FILE,
                                  "beat": HEARTBEAT,
                                  "study": "".join(" " + shlex.quote(a) for a in study)})
        os.chmod(self.runner + ".tmp", 0o755)
        os.replace(self.runner + ".tmp", self.runner)
        points = grid_points(grid)
        for point in points:
            folder = self.folder(point)
            if self.state(folder)[0] in ("finished", "running"):
                continue
            self._make_folder(template, folder, point)
        return points

    def _check_against(self, old, template, digest, binary, bin_digest, grid, extend):
        """The grid to run on a scan folder made before; refuses a run that
        would mix points of another template, binary or grid."""
        if old["template"] != template:
            raise ScanError("%s was made from the template %s, not %s"
                            % (self.root, old["template"], template))
        if old.get("template_sha256", digest) != digest:
            raise ScanError("the template %s has changed since the scan %s was made "
                            "(its files no longer match the recorded content hash), so "
                            "new points would not be comparable with the finished ones; "
                            "start a new scan in a new folder, or restore the template"
                            % (template, self.root))
        if old.get("binary_sha256", bin_digest) != bin_digest:
            same = (os.path.isfile(old["binary"])
                    and file_hash(old["binary"]) == old["binary_sha256"])
            raise ScanError(
                "%s was run with the binary %s (sha256 %s); %s (sha256 %s) is another "
                "program, and the results of two programs would be mixed: start a new "
                "scan in a new folder%s" % (
                    self.root, old["binary"], old["binary_sha256"][:16], binary,
                    bin_digest[:16], ", or give --binary %s" % shlex.quote(old["binary"])
                    if same else " (the recorded binary has changed or is gone)"))
        names = [n for n, _ in old["grid"]]
        if grid == old["grid"]:
            return grid
        if [n for n, _ in grid] != names:
            raise ScanError("%s was made for the parameters %s, not %s; use a new scan "
                            "folder" % (self.root, ", ".join(names),
                                        ", ".join(n for n, _ in grid)))
        merged = [(n, vals + [v for v in new if v not in vals])
                  for (n, vals), (_, new) in zip(old["grid"], grid)]
        if not extend:
            raise ScanError(
                "%s holds the grid %s; this run asks for %s. Start a new scan in a new "
                "folder, or give --extend to add the values to this scan: it then holds "
                "every combination, %s (%d points), and runs each one that has not "
                "finished" % (self.root, grid_text(old["grid"]), grid_text(grid),
                              grid_text(merged), len(grid_points(merged))))
        return merged

    def _make_folder(self, template, folder, point):
        if os.path.isdir(folder):
            shutil.rmtree(folder)
        os.makedirs(folder)
        wire_values = {k: v for k, v in point.items() if wires.is_wire_name(k)}
        run_values = {k: v for k, v in point.items() if k not in wire_values and k != SHARD}
        edited = {"diff.input"} | {wires.file_of(k) for k in wire_values}
        for f in sorted(os.listdir(template)):
            src = os.path.join(template, f)
            if (os.path.isfile(src) and f not in RESULT_FILES
                    and not f.startswith("fort.") and f not in edited):
                shutil.copy2(src, folder)
        params.set_values(os.path.join(template, "diff.input"),
                          os.path.join(folder, "diff.input"), run_values)
        for fname in sorted(edited - {"diff.input"}):
            wires.set_values(os.path.join(template, fname), os.path.join(folder, fname),
                             {k: v for k, v in wire_values.items() if wires.file_of(k) == fname})
        if SHARD in point:
            with open(os.path.join(folder, "shard_arg"), "w") as fh:
                fh.write("--shard %s/%d\n" % (point[SHARD], self.shards()))
        with open(os.path.join(folder, "point.json"), "w") as fh:
            json.dump(point, fh)

    def load(self):
        try:
            with open(self.manifest, encoding="utf-8") as fh:
                data = json.load(fh)
            data["grid"] = [(n, list(v)) for n, v in data["grid"]]
            data["template"], data["binary"]  # noqa: B018  (both must be there)
        except (ValueError, KeyError, TypeError):
            raise ScanError("%s is damaged: it is not the record of a scan that bbscan "
                            "wrote; start a new scan in a new folder" % self.manifest) \
                from None
        return data

    def shards(self):
        """The shard count of a study split into shards, 0 for a scan."""
        grid = self.load()["grid"]
        return len(grid[0][1]) if grid and grid[0][0] == SHARD else 0

    def merge(self, log=None):
        """Merges the shards of a split study into SCAN/merged with the
        study's own merge (the same files as the study in one go); returns
        its exit status (1: a shard missing or failed, named)."""
        data = self.load()
        out = os.path.join(self.root, MERGED)
        folders = [self.folder(p) for p in self.points()]
        cmd = [data["binary"]] + list(data["study"]) + ["--out", out]
        for f in folders:
            cmd += ["--merge", f]
        proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True)
        (log or sys.stderr).write(proc.stderr)
        return proc.returncode

    def folder(self, point):
        return os.path.join(self.points_dir, point_name(point))

    def points(self):
        return grid_points(self.load()["grid"])

    @staticmethod
    def state(folder):
        """(state, exit status), the states of ``bbtools.run``: "finished",
        "refused" (nothing tracked), "failed", "running" (a live marker),
        "not run" (no exit status yet: never run or killed)."""
        return run_state(folder)

    def pending(self):
        """Folders of the points that have neither finished nor are
        running, in grid order."""
        return [self.folder(p) for p in self.points()
                if self.state(self.folder(p))[0] not in ("finished", "running")]

    def running(self):
        return [self.folder(p) for p in self.points()
                if self.state(self.folder(p))[0] == "running"]

    def write_pending(self, folders, relative=False):
        path = os.path.join(self.root, "pending.txt")
        with open(path, "w") as fh:
            fh.write("".join((os.path.relpath(f, self.root) if relative else f) + "\n"
                             for f in folders))
        return path

    def check_batch_paths(self, folders):
        """Paths a batch back end cannot pass on are refused before anything
        is submitted: the list of folders is read line by line."""
        for path in [self.root] + list(folders):
            if "\n" in path or "\r" in path:
                raise ScanError("the path %r holds a line break, which the batch list of "
                                "folders cannot carry: choose another scan folder" % path)

    # stopping

    def stop(self, signum):
        """Stop what runs: local trackers get SIGTERM (each ends its turn and
        records its status), Slurm jobs are cancelled; nothing new starts."""
        self.stopped_by = signum
        self._stop.set()
        for proc in list(self._children):
            if proc.poll() is None:
                try:
                    proc.send_signal(signal.SIGTERM)
                except OSError:
                    pass
        if self._slurm_name:
            subprocess.run(["scancel", "--name=" + self._slurm_name],
                           env=self._slurm_env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def handle_signals(self):
        def on_signal(signum, _frame):
            sys.stderr.write("bbscan: %s: stopping the running points\n"
                             % signal.Signals(signum).name)
            self.stop(signum)
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, on_signal)

    # running

    def run_local(self, folders, workers=None, log=print):
        workers = workers or os.cpu_count() or 1
        env = dict(os.environ)
        env.setdefault("OMP_NUM_THREADS", "1")
        env.pop("SLURM_JOB_ID", None)  # the runner passes stop signals on
        done = 0

        def one(folder):
            if self._stop.is_set():
                return folder
            # own session: a Ctrl-C on the terminal reaches bbscan, which
            # passes it on once; the runner gets SIGTERM if bbscan dies
            proc = subprocess.Popen([self.runner, folder], env=env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True,
                                    preexec_fn=_term_with_parent)
            self._children.append(proc)
            if self._stop.is_set():
                proc.send_signal(signal.SIGTERM)
            proc.wait()
            self._children.remove(proc)
            return folder

        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            for folder in pool.map(one, folders):
                done += 1
                log("[%d/%d] %s: %s" % (done, len(folders), os.path.basename(folder),
                                        self.state(folder)[0]))

    def slurm_script(self, pending_file):
        """The job script: paths relative to the scan folder, the job's
        working folder, so that the scan's own path needs no quoting."""
        path = os.path.join(self.root, "scan.sbatch")
        lines = ["#!/bin/sh",
                 "#SBATCH --job-name=bbscan",
                 "#SBATCH --cpus-per-task=1",
                 "# the log of each task, written here: Slurm would expand a % in the",
                 "# scan folder's path in --output",
                 '[ -f scan.sbatch ] || { echo "not run in the scan folder" >&2; exit 96; }',
                 'exec > "slurm/${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}.out" 2>&1',
                 "# task k runs line OFFSET + k + 1 of the list of pending folders",
                 'line=$(( ${BBSCAN_OFFSET:-0} + SLURM_ARRAY_TASK_ID + 1 ))',
                 'folder=$(sed -n "${line}p" %s)' % os.path.basename(pending_file),
                 '[ -n "$folder" ] || { echo "no folder on line $line" >&2; exit 97; }',
                 'OMP_NUM_THREADS=1 exec ./%s "$folder"' % os.path.basename(self.runner),
                 ""]
        with open(path, "w") as fh:
            fh.write("\n".join(lines))
        os.chmod(path, 0o755)
        return path

    def run_slurm(self, folders, sbatch="sbatch", sbatch_args=(), env=None, log=print):
        """Runs the folders as job arrays of at most SLURM_MAX_ARRAY tasks and
        waits for them. Returns the list of (array, problem) for submissions
        that sbatch refused or that ended in an error of Slurm's own."""
        self.check_batch_paths(folders)
        pending_file = self.write_pending(folders, relative=True)
        script = self.slurm_script(pending_file)
        os.makedirs(os.path.join(self.root, "slurm"), exist_ok=True)
        problems = []
        self._slurm_env = env
        self._slurm_name = "bbscan-%s-%d" % (this_host(), os.getpid())

        def submit(offset):
            n = min(SLURM_MAX_ARRAY, len(folders) - offset)
            # the job script writes its own log: Slurm expands a % anywhere in
            # the path of --output, and the scan's path may hold one
            cmd = [sbatch, "--parsable", "--wait", "--array=0-%d" % (n - 1),
                   "--job-name=" + self._slurm_name, "--output=/dev/null",
                   "--export=ALL,BBSCAN_OFFSET=%d" % offset] + list(sbatch_args) + [
                       os.path.basename(script)]
            if self._stop.is_set():
                return offset, n, "", None
            proc = subprocess.Popen(cmd, env=env, cwd=self.root, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    text=True)
            out, proc.stderr_text = proc.communicate()
            return offset, n, out.strip().split(";")[0], proc

        offsets = list(range(0, len(folders), SLURM_MAX_ARRAY))
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(offsets) or 1) as pool:
            for offset, n, job, proc in pool.map(submit, offsets):
                if proc is None:
                    continue
                what = "array job %s (%d tasks)" % (job or "?", n)
                if not job.isdigit():
                    problems.append((what, "sbatch refused the job (status %d): %s"
                                     % (proc.returncode, proc.stderr_text.strip())))
                    continue
                log("%s ended, sbatch status %d" % (what, proc.returncode))
                noise = [ln for ln in proc.stderr_text.splitlines()
                         if ln.strip() and "Submitted batch job" not in ln]
                if proc.returncode != 0 and noise:
                    problems.append((what, "\n".join(noise)))
        return problems

    def condor_submit_file(self, folders):
        """The submit file, every path in it relative to the scan folder (the
        folder condor_submit is run in) and free of blanks or quotes: the
        point folders are named by their grid values only."""
        self.check_batch_paths(folders)
        for f in folders:
            name = os.path.relpath(f, self.root)
            if not re.match(r"^[A-Za-z0-9_.=+*/-]+$", name):
                raise ScanError("the point folder %s holds characters that an HTCondor "
                                "submit file cannot carry" % name)
        pending_file = self.write_pending(folders, relative=True)
        path = os.path.join(self.root, "scan.sub")
        os.makedirs(os.path.join(self.root, "condor"), exist_ok=True)
        text = "\n".join([
            "# one job per folder of pending.txt; submit it in this folder:",
            "#   condor_submit scan.sub",
            "# initialdir is relative to this folder, output, error and log to initialdir",
            "universe                = vanilla",
            "executable              = run_point.sh",
            "arguments               = \".\"",
            "initialdir              = $(folder)",
            "should_transfer_files   = NO",
            "request_cpus            = 1",
            "environment             = \"OMP_NUM_THREADS=1\"",
            "output                  = condor.out",
            "error                   = condor.err",
            "log                     = ../../condor/scan.log",
            "queue folder from %s" % os.path.basename(pending_file), ""])
        with open(path, "w") as fh:
            fh.write(text)
        return path

    # results

    def collect(self):
        """Rows of the results table, one per grid point, and the CSV path."""
        grid = self.load()["grid"]
        names = [n for n, _ in grid]
        rows = []
        for point in grid_points(grid):
            folder = self.folder(point)
            state, rc = self.state(folder)
            row = {"grid:" + n: point[n] for n in names}
            row.update(folder=os.path.relpath(folder, self.root), state=state,
                       exit_status="" if rc is None else rc, lost="", all_lost="",
                       ampin="", diffx="", diffy="", message="", warnings="")
            if state not in ("not run", "running"):
                # the program's warning and error lines, whatever they say
                row["warnings"] = " | ".join(diagnostics(folder))
            out = os.path.join(folder, "stdout.txt")
            if state != "not run" and os.path.exists(out):
                facts = readers.read_stdout(out)
                if facts["lost"] is not None:
                    row["lost"] = facts["lost"]
            if state == "refused":  # exit status 2: the program's error line says why
                why = [d[len("error: "):] for d in diagnostics(folder) if d.startswith("error: ")]
                row["message"] = "run refused (%s): nothing tracked" % (
                    why[-1] if why else "ntrack above 4096 for options 2 and 3")
            resav = os.path.join(folder, "resav.out")
            if state == "finished" and os.path.exists(resav):
                try:
                    recs = readers.read_resav(resav)
                except readers.ReaderError as e:
                    recs, row["message"] = [], str(e)
                gone = all_lost(folder)
                row["all_lost"] = "" if gone is None else int(gone)
                if recs and gone:
                    row.update(ampin=_num(recs[-1]["ampin"]),
                               message="every particle was lost: no diffusion rate")
                elif recs and _diff_records(folder) == 0:
                    row.update(ampin=_num(recs[-1]["ampin"]),
                               message="no diffusion rate: fewer than 1000 turns tracked "
                               "(diff.dat holds no record)")
                elif recs:
                    r = recs[-1]
                    row.update(ampin=_num(r["ampin"]), diffx=_num(r["diffx"]),
                               diffy=_num(r["diffy"]))
            extra = dynap.scan_columns(folder) if state == "finished" else None
            if extra is not None:
                row.update(extra)
            if state == "failed":
                row["message"] = " | ".join(
                    ln.strip() for ln in stderr_tail(folder, 3).split("\n"))
            rows.append(row)
        path = os.path.join(self.root, "results.csv")
        fields = ["grid:" + n for n in names] + ["state", "exit_status", "lost",
                                                   "all_lost", "ampin", "diffx", "diffy",
                                                   "folder", "message", "warnings"]
        if any(c in r for r in rows for c in dynap.SCAN_COLUMNS):  # a study scan
            fields[-3:-3] = list(dynap.SCAN_COLUMNS)
        with open(path + ".tmp", "w", newline="") as fh:
            w = csv.DictWriter(fh, fieldnames=fields, restval="")
            w.writeheader()
            w.writerows(rows)
        os.replace(path + ".tmp", path)
        return rows, path


def _term_with_parent():
    """preexec_fn: the runner gets SIGTERM when bbscan dies, however it dies."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def _diff_records(folder):
    """Records of the folder's diff.dat, None when it cannot be read."""
    try:
        return len(readers.read_diff(os.path.join(folder, "diff.dat")))
    except (OSError, readers.ReaderError):
        return None


def _num(v):
    return "" if v is None else repr(v)


def stderr_tail(folder, lines=5):
    """Last lines of a point's standard error (or a note that it is empty)."""
    try:
        with open(os.path.join(folder, "stderr.txt"), errors="replace") as fh:
            text = [ln.rstrip("\n") for ln in fh if ln.strip()]
    except OSError:
        return "(no stderr.txt)"
    return "\n".join(text[-lines:]) if text else "(standard error is empty)"


def report(rows, root, out=sys.stderr):
    """Tells of every point that did not finish; returns their count."""
    bad = [r for r in rows if r["state"] != "finished"]
    for r in bad:
        folder = os.path.join(root, r["folder"])
        if r["state"] == "failed":
            out.write("failed: %s (exit status %s)\n" % (folder, r["exit_status"]))
            for ln in stderr_tail(folder).split("\n"):
                out.write("    %s\n" % ln)
        elif r["state"] == "refused":
            out.write("refused: %s (exit status %s): %s\n" % (folder, r["exit_status"],
                                                              r["message"]))
        elif r["state"] == "running":
            out.write("running: %s (no exit status yet)\n" % folder)
        else:
            out.write("not run: %s (no exit status)\n" % folder)
    return len(bad)


# ---------------------------------------------------------------- command line

from .run import default_binary  # noqa: E402  (one rule for bbrun and bbscan)




def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="bbscan", description="Parameter scans of diff2wirenew: one run folder per "
        "grid point of named diff.input values, run locally, on Slurm or by HTCondor, "
        "collected into results.csv.",
        epilog="Parameters: " + ", ".join(sorted(params.PARAMETERS)) + ". Those that "
        "change results: " + ", ".join(sorted(set(params.PARAMETERS) - params.NO_RESULT))
        + " (docs/inputs.md); wire values of wires.dat: wire<n>.<field> or wire*.<field> "
        "(every wire), field one of " + ", ".join(wires.FIELDS) + "; multipoles.dat: "
        "mult<n>.<field>, " + ", ".join(wires.MULT_FIELDS) + "; modulation.dat: "
        "mod<n>.<field>, " + ", ".join(wires.MOD_FIELDS) + ". Exit status: 0 every "
        "point finished, 1 a point did not, 2 usage or a scan that cannot be made (or "
        "that another bbscan is running), 128 + n stopped by signal n.")
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("run", help="make the scan folder and run the points not yet finished")
    p.add_argument("template", help="run folder with diff.input and the optics files")
    p.add_argument("scan", help="scan folder (made if missing)")
    p.add_argument("--set", dest="grid", action="append", default=[], metavar="NAME=VALUES",
                   help="grid of one parameter: v1,v2,... or start:stop:step (repeatable)")
    p.add_argument("--backend", choices=("local", "slurm", "condor"), default="local",
                   help="local: one worker per core here; slurm: one job array, waited "
                        "for; condor: write a submit file (default: local)")
    p.add_argument("--workers", type=argtypes.positive_int,
                   help="local workers (default: one per core)")
    p.add_argument("--binary",
                   help="tracker binary (default: the one the scan was made with, else "
                        "$BBTRACK_BINARY, build/diff2wirenew or diff2wirenew on PATH); a "
                        "scan runs one binary, recorded by its content hash")
    p.add_argument("--extend", action="store_true",
                   help="add the values of --set to the grid of an existing scan and run "
                        "every point of the extended grid that has not finished")
    p.add_argument("--sbatch-arg", action="append", default=[], metavar="ARG",
                   help="extra sbatch option, e.g. --sbatch-arg=--partition=short")
    p.add_argument("--plot", action="store_true", help="draw rates.png from results.csv "
                   "(needs numpy and matplotlib: bbscan starts again under the system "
                   "Python before any work when the first python3 lacks them)")
    p.add_argument("--dynap", metavar="OPTIONS", type=shlex.split,
                   help="run the study 'diff2wirenew dynap OPTIONS' at every point instead "
                        "of a run; results.csv then has the columns " +
                        ", ".join(dynap.SCAN_COLUMNS) + " of each point's dynap_summary.txt "
                        "(write it with '=': --dynap='--amplitudes 2:12:1 --angles 5')")
    p.add_argument("--shards", type=argtypes.positive_int, metavar="N",
                   help="with --dynap and no --set: run the one study split into N "
                        "shards, one job each (points shard=1 ... shard=N); collect merges "
                        "them into SCAN/merged, the same files as the study in one go")
    p = sub.add_parser("collect", help="write results.csv of a scan folder (and merge "
                       "the shards of a split study into SCAN/merged)")
    p.add_argument("scan", help="scan folder")
    p.add_argument("--plot", action="store_true", help="draw rates.png from results.csv")
    p = sub.add_parser("status", help="count the points by state (finished, refused, "
                       "failed, running, not run)")
    p.add_argument("scan", help="scan folder")
    a = ap.parse_args(argv)
    if getattr(a, "plot", False):  # before any work, so that no point runs twice
        from . import _launch
        _launch.need("numpy", "matplotlib")

    scan = Scan(a.scan)
    fresh = not os.path.exists(scan.root)
    try:
        if a.cmd != "run" and not os.path.exists(scan.manifest):
            raise ScanError("%s is not a scan folder (no scan.json); make one with "
                            "bbscan run TEMPLATE %s --set NAME=VALUES" % (scan.root, a.scan))
        if a.cmd == "status":
            counts = {}
            for pt in scan.points():
                s = scan.state(scan.folder(pt))[0]
                counts[s] = counts.get(s, 0) + 1
            print(", ".join("%d %s" % (counts[k], k) for k in STATES if k in counts))
            return 0
        if a.cmd == "run":
            grid = parse_grid(a.grid) if a.grid else None
            if a.shards is not None:
                if a.dynap is None or a.grid:
                    raise ScanError("--shards splits one study: give --dynap and no --set")
                grid = [(SHARD, [str(k) for k in range(1, a.shards + 1)])]
            if grid is None and not os.path.exists(scan.manifest):
                parse_grid(a.grid)  # the message of an empty grid
            if a.backend != "local":
                scan.check_batch_paths([])
            if a.backend == "slurm" and not shutil.which("sbatch"):
                raise ScanError("sbatch not found: the slurm back end needs Slurm's "
                                "client commands")
            scan.lock()
            scan.handle_signals()
            for w in no_result_warnings(grid or []):
                sys.stderr.write("bbscan: %s\n" % w)
            points = scan.create(a.template, grid, a.binary, a.extend,
                                 ["dynap"] + a.dynap if a.dynap is not None else None)
            todo = scan.pending()
            busy = scan.running()
            print("%s: %d points, %d finished, %d to run%s (%s)"
                  % (scan.root, len(points), len(points) - len(todo) - len(busy), len(todo),
                     ", %d running elsewhere (left alone)" % len(busy) if busy else "",
                     a.backend))
            if a.backend == "condor":
                sub_file = scan.condor_submit_file(todo)
                print("wrote %s\nsubmit it in the scan folder: cd %s && condor_submit %s\n"
                      "when the jobs are done: bbscan collect %s"
                      % (sub_file, shlex.quote(scan.root), os.path.basename(sub_file),
                         shlex.quote(scan.root)))
                return 0
            if todo and a.backend == "local":
                scan.run_local(todo, a.workers)
            elif todo:
                problems = scan.run_slurm(todo, sbatch_args=a.sbatch_arg)
                for what, msg in problems:
                    sys.stderr.write("slurm: %s: %s\n" % (what, msg))
        rows, path = scan.collect()
        nbad = report(rows, scan.root)
        if scan.shards():
            if scan.merge():
                nbad = nbad or 1
            print("merged the shards into %s" % os.path.join(scan.root, MERGED))
        never = sum(r["state"] == "not run" for r in rows)
        if a.cmd == "run" and a.backend == "slurm" and never:
            sys.stderr.write("slurm: %d point(s) have no exit status: their tasks' logs are "
                             "in %s\n" % (never, os.path.join(scan.root, "slurm")))
        print("wrote %s (%d rows: %s)" % (path, len(rows), ", ".join(
            "%d %s" % (n, k) for k in STATES
            for n in [sum(r["state"] == k for r in rows)] if n)))
        if scan.stopped_by is not None:
            return 128 + scan.stopped_by
        if a.plot:
            from . import plots
            png = os.path.join(scan.root, "rates.png")
            try:
                plots.plot_rates([path], png)
            except (plots.DataError, plots.UsageError) as e:
                if os.path.exists(png):  # no figure of an earlier state
                    os.remove(png)
                sys.stderr.write("bbscan: no rates.png: %s\n" % e)
        return 1 if nbad else 0
    except (ScanError, params.ParamError, wires.WireError, OSError) as e:
        sys.stderr.write("bbscan: %s\n" % e)
        if fresh and scan.holds_only_its_lock():  # a refused new scan leaves nothing
            os.remove(scan.lock_file)
            os.rmdir(scan.root)
        return 2
