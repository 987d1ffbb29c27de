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
and the end of its standard error.

Back ends: ``local`` (one worker per core, the default), ``slurm`` (one job
array, ``sbatch --array ... --wait``) and ``condor`` (writes a submit file
with ``queue folder from`` a list of the pending folders, to be given to
condor_submit; ``collect`` afterwards).

Only the standard library is needed, except for ``--plot``.
"""

import argparse
import concurrent.futures
import csv
import hashlib
import itertools
import json
import math
import os
import re
import shlex
import shutil
import subprocess
import sys

from . import params, readers, wires
from .run import STATES, run_state

__all__ = ["parse_grid", "grid_points", "point_name", "Scan", "main"]

# Files the tracker writes; they are not copied from a template folder.
RESULT_FILES = {"diff.dat", "resav.out", "footprint.dat", "phasespace.dat",
                "frequencymap.dat", "imageoflrbb.dat", "test.dat",
                "stdout.txt", "stderr.txt", "exit_status", "exit_status.tmp"}

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

RUN_POINT = """#!/bin/sh
# Runs the tracker in the folder given as argument. The exit status is kept
# in the file exit_status, written only once the tracker has ended.
cd "$1" || exit 98
rm -f exit_status exit_status.tmp
OMP_NUM_THREADS="${OMP_NUM_THREADS:-1}" %(binary)s > stdout.txt 2> stderr.txt
rc=$?
echo "$rc" > exit_status.tmp && mv exit_status.tmp exit_status
exit "$rc"
"""


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

    # making

    def create(self, template, grid, binary):
        """Make the scan folder and one folder per point that has not
        finished; keep the folders of finished points as they are."""
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
        binary = os.path.abspath(binary)
        if not (os.path.isfile(binary) and os.access(binary, os.X_OK)):
            raise ScanError("tracker binary %s not found or not executable "
                            "(give --binary or set BBTRACK_BINARY)" % binary)
        os.makedirs(self.points_dir, exist_ok=True)
        points = grid_points(grid)
        old = self.load() if os.path.exists(self.manifest) else None
        if old is not None and [n for n, _ in old["grid"]] != [n for n, _ in grid]:
            raise ScanError("%s was made for the parameters %s, not %s; use a new scan "
                            "folder" % (self.root, ", ".join(n for n, _ in old["grid"]),
                                        ", ".join(n for n, _ in grid)))
        if old is not None and old["template"] != template:
            raise ScanError("%s was made from the template %s, not %s"
                            % (self.root, old["template"], template))
        digest = template_hash(template)
        if old is not None and old.get("template_sha256", digest) != digest:
            raise ScanError("the template %s has changed since the scan %s was made "
                            "(its files no longer match the recorded content hash), so "
                            "new points would not be comparable with the finished ones; "
                            "start a new scan in a new folder, or restore the template"
                            % (template, self.root))
        if old is not None:  # an extended grid keeps the points it had
            merged = []
            for (name, vals), (_, new) in zip(old["grid"], grid):
                merged.append((name, vals + [v for v in new if v not in vals]))
            grid = merged
        data = {"template": template, "template_sha256": digest, "binary": binary,
                "grid": [[n, v] for n, v in grid]}
        with open(self.manifest + ".tmp", "w") as fh:
            json.dump(data, fh, indent=1)
        os.replace(self.manifest + ".tmp", self.manifest)
        with open(self.runner, "w") as fh:
            fh.write(RUN_POINT % {"binary": shlex.quote(binary)})
        os.chmod(self.runner, 0o755)
        for point in points:
            folder = self.folder(point)
            if self.state(folder)[0] == "finished":
                continue
            self._make_folder(template, folder, point)
        return self.points()

    def _make_folder(self, template, folder, point):
        if os.path.isdir(folder):
            shutil.rmtree(folder)
        os.makedirs(folder)
        wire_values = {k: v for k, v in point.items() if wires.is_wire_name(k)}
        run_values = {k: v for k, v in point.items() if k not in wire_values}
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
        with open(os.path.join(folder, "point.json"), "w") as fh:
            json.dump(point, fh)

    def load(self):
        with open(self.manifest) as fh:
            data = json.load(fh)
        data["grid"] = [(n, v) for n, v in data["grid"]]
        return data

    def folder(self, point):
        return os.path.join(self.points_dir, point_name(point))

    def points(self):
        return grid_points(self.load()["grid"])

    @staticmethod
    def state(folder):
        """(state, exit status), the states of ``bbtools.run``: "finished",
        "refused" (nothing tracked), "failed", "not run" (no exit status yet:
        never run, still running or killed)."""
        return run_state(folder)

    def pending(self):
        """Folders of the points that have not finished, in grid order."""
        return [self.folder(p) for p in self.points()
                if self.state(self.folder(p))[0] != "finished"]

    def write_pending(self, folders):
        path = os.path.join(self.root, "pending.txt")
        with open(path, "w") as fh:
            fh.write("".join(f + "\n" for f in folders))
        return path

    # running

    def run_local(self, folders, workers=None, log=print):
        workers = workers or os.cpu_count() or 1
        env = dict(os.environ)
        env.setdefault("OMP_NUM_THREADS", "1")
        done = 0

        def one(folder):
            subprocess.run([self.runner, folder], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return folder

        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            for folder in pool.map(one, folders):
                done += 1
                log("[%d/%d] %s: %s" % (done, len(folders), os.path.basename(folder),
                                        self.state(folder)[0]))

    def slurm_script(self, pending_file):
        path = os.path.join(self.root, "scan.sbatch")
        logs = os.path.join(self.root, "slurm")
        os.makedirs(logs, exist_ok=True)
        lines = ["#!/bin/sh",
                 "#SBATCH --job-name=bbscan",
                 "#SBATCH --cpus-per-task=1",
                 "#SBATCH --output=%s" % os.path.join(logs, "%A_%a.out")]
        lines += ["# task k runs line OFFSET + k + 1 of the list of pending folders",
                  'line=$(( ${BBSCAN_OFFSET:-0} + SLURM_ARRAY_TASK_ID + 1 ))',
                  'folder=$(sed -n "${line}p" %s)' % shlex.quote(pending_file),
                  '[ -n "$folder" ] || { echo "no folder on line $line" >&2; exit 97; }',
                  "OMP_NUM_THREADS=1 exec %s \"$folder\"" % shlex.quote(self.runner), ""]
        with open(path, "w") as fh:
            fh.write("\n".join(lines))
        os.chmod(path, 0o755)
        return path

    def run_slurm(self, folders, sbatch="sbatch", sbatch_args=(), env=None, log=print):
        """Runs the folders as job arrays of at most SLURM_MAX_ARRAY tasks and
        waits for them. Returns the list of (array, problem) for submissions
        that sbatch refused or that ended in an error of Slurm's own."""
        pending_file = self.write_pending(folders)
        script = self.slurm_script(pending_file)
        problems = []

        def submit(offset):
            n = min(SLURM_MAX_ARRAY, len(folders) - offset)
            cmd = [sbatch, "--parsable", "--wait", "--array=0-%d" % (n - 1),
                   "--export=ALL,BBSCAN_OFFSET=%d" % offset] + list(sbatch_args) + [script]
            proc = subprocess.run(cmd, env=env, cwd=self.root, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            job = proc.stdout.strip().split(";")[0]
            return offset, n, job, proc

        offsets = list(range(0, len(folders), SLURM_MAX_ARRAY))
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(offsets) or 1) as pool:
            for offset, n, job, proc in pool.map(submit, offsets):
                what = "array job %s (%d tasks)" % (job or "?", n)
                if not job.isdigit():
                    problems.append((what, "sbatch refused the job (status %d): %s"
                                     % (proc.returncode, proc.stderr.strip())))
                    continue
                log("%s ended, sbatch status %d" % (what, proc.returncode))
                noise = [ln for ln in proc.stderr.splitlines()
                         if ln.strip() and "Submitted batch job" not in ln]
                if proc.returncode != 0 and noise:
                    problems.append((what, "\n".join(noise)))
        return problems

    def condor_submit_file(self, folders):
        pending_file = self.write_pending(folders)
        path = os.path.join(self.root, "scan.sub")
        logs = os.path.join(self.root, "condor")
        os.makedirs(logs, exist_ok=True)
        text = "\n".join([
            "# one job per folder of pending.txt; submit with: condor_submit scan.sub",
            "universe                = vanilla",
            "executable              = %s" % self.runner,
            "arguments               = \"$(folder)\"",
            "initialdir              = $(folder)",
            "should_transfer_files   = NO",
            "request_cpus            = 1",
            "environment             = \"OMP_NUM_THREADS=1\"",
            "output                  = %s/$(Cluster).$(Process).out" % logs,
            "error                   = %s/$(Cluster).$(Process).err" % logs,
            "log                     = %s/scan.log" % logs,
            "queue folder from %s" % pending_file, ""])
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
                       exit_status="" if rc is None else rc, lost="", ampin="",
                       diffx="", diffy="", message="")
            out = os.path.join(folder, "stdout.txt")
            if state != "not run" and os.path.exists(out):
                facts = readers.read_stdout(out)
                if facts["lost"] is not None:
                    row["lost"] = facts["lost"]
            if state == "refused":
                row["message"] = "run refused (ntrack above 4096 for options 2 and 3): nothing tracked"
            resav = os.path.join(folder, "resav.out")
            if state == "finished" and os.path.exists(resav):
                try:
                    recs = readers.read_resav(resav)
                except readers.ReaderError as e:
                    recs, row["message"] = [], str(e)
                if recs:
                    r = recs[-1]
                    row.update(ampin=_num(r["ampin"]), diffx=_num(r["diffx"]),
                               diffy=_num(r["diffy"]))
            if state == "failed":
                row["message"] = " | ".join(
                    ln.strip() for ln in stderr_tail(folder, 3).split("\n"))
            rows.append(row)
        path = os.path.join(self.root, "results.csv")
        fields = ["grid:" + n for n in names] + ["state", "exit_status", "lost",
                                                   "ampin", "diffx", "diffy",
                                                   "folder", "message"]
        with open(path + ".tmp", "w", newline="") as fh:
            w = csv.DictWriter(fh, fieldnames=fields)
            w.writeheader()
            w.writerows(rows)
        os.replace(path + ".tmp", path)
        return rows, path


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
        else:
            out.write("not run: %s (no exit status)\n" % folder)
    return len(bad)


# ---------------------------------------------------------------- command line

from .run import default_binary  # noqa: E402  (one rule for bbrun and bbscan)


def _positive(text):
    try:
        n = int(text)
    except ValueError:
        n = 0
    if n < 1:
        raise argparse.ArgumentTypeError("%r is not a whole number of at least 1" % text)
    return n


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
        "point finished, 1 a point did not, 2 usage or a scan that cannot be made.")
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("run", help="make the scan folder and run the points not yet finished")
    p.add_argument("template", help="run folder with diff.input and the optics files")
    p.add_argument("scan", help="scan folder (made if missing)")
    p.add_argument("--set", dest="grid", action="append", default=[], metavar="NAME=VALUES",
                   help="grid of one parameter: v1,v2,... or start:stop:step (repeatable)")
    p.add_argument("--backend", choices=("local", "slurm", "condor"), default="local",
                   help="local: one worker per core here; slurm: one job array, waited "
                        "for; condor: write a submit file (default: local)")
    p.add_argument("--workers", type=_positive, help="local workers (default: one per core)")
    p.add_argument("--binary", default=default_binary(),
                   help="tracker binary (default: $BBTRACK_BINARY, build/diff2wirenew or "
                        "diff2wirenew on PATH)")
    p.add_argument("--sbatch-arg", action="append", default=[], metavar="ARG",
                   help="extra sbatch option, e.g. --sbatch-arg=--partition=short")
    p.add_argument("--plot", action="store_true", help="draw rates.png from results.csv")
    p = sub.add_parser("collect", help="write results.csv of a scan folder")
    p.add_argument("scan", help="scan folder")
    p.add_argument("--plot", action="store_true", help="draw rates.png from results.csv")
    p = sub.add_parser("status", help="count the points by state (finished, refused, "
                       "failed, not run)")
    p.add_argument("scan", help="scan folder")
    a = ap.parse_args(argv)

    try:
        scan = Scan(a.scan)
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
            grid = parse_grid(a.grid)
            for w in no_result_warnings(grid):
                sys.stderr.write("bbscan: %s\n" % w)
            points = scan.create(a.template, grid, a.binary)
            todo = scan.pending()
            print("%s: %d points, %d finished, %d to run (%s)"
                  % (scan.root, len(points), len(points) - len(todo), len(todo), a.backend))
            if a.backend == "condor":
                sub_file = scan.condor_submit_file(todo)
                print("wrote %s\nsubmit it with: condor_submit %s\n"
                      "when the jobs are done: bbscan collect %s"
                      % (sub_file, sub_file, scan.root))
                return 0
            if todo and a.backend == "local":
                scan.run_local(todo, a.workers)
            elif todo:
                if not shutil.which("sbatch"):
                    raise ScanError("sbatch not found: the slurm back end needs Slurm's "
                                    "client commands")
                problems = scan.run_slurm(todo, sbatch_args=a.sbatch_arg)
                for what, msg in problems:
                    sys.stderr.write("slurm: %s: %s\n" % (what, msg))
        rows, path = scan.collect()
        nbad = report(rows, scan.root)
        print("wrote %s (%d rows: %s)" % (path, len(rows), ", ".join(
            "%d %s" % (n, k) for k in STATES
            for n in [sum(r["state"] == k for r in rows)] if n)))
        if a.plot:
            from . import _launch
            _launch.need("numpy", "matplotlib")
            from . import plots
            plots.plot_rates([path], os.path.join(scan.root, "rates.png"))
        return 1 if nbad else 0
    except (ScanError, params.ParamError, wires.WireError, OSError) as e:
        sys.stderr.write("bbscan: %s\n" % e)
        return 2
