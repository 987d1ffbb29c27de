"""Parameter scans of diff2wirenew (``bbscan``): the command line.

A scan is a folder made from a template run folder and a grid over named
values of "diff.input" and of the element files "wires.dat",
"multipoles.dat" and "modulation.dat" (``grid``), one run folder per point
(``scan_folder``), run by a back end (``scan_backends``: local, Slurm,
HTCondor) through SCAN/run_point.sh (``point_script``) and collected into
SCAN/results.csv (``scan_results``); ``--plot`` draws rates.png, or for a
study scan aperture.png (``scan_plots``).

A point has finished when its file "exit_status" holds 0. The file is
written only after the program has ended, so a run that was killed leaves
none and is run again; a rerun of the scan skips the points that finished.
Points that failed or were stopped are run again too (a study goes on from
its checkpoint), and every such point is reported with its folder and the
end of its standard error. While a point runs, its folder holds the marker
"running" (host and process, refreshed every minute): such a point is
"running", never rebuilt or started twice.

One ``bbscan run`` at a time: it locks SCAN/scan.lock and a second one is
refused with the process and host of the first. Stopped (SIGTERM, SIGINT,
SIGHUP), it stops its points (each finishes its turn and records its
status; a study writes its checkpoint) or cancels its Slurm jobs. The grid,
the template and the binary (by content hash) are recorded; a run that
asks for another is refused, and ``--extend`` adds values to the recorded
grid.

Only the standard library is needed, except for ``--plot``.
"""

import argparse
import os
import shlex
import shutil
import sys

from . import argtypes, dynap, params, progress, wires
from .grid import (GridError, grid_points, no_result_warnings, parse_grid,  # noqa: F401
                   point_name)
from .run_folder import STATES
from .scan_backends import Runner, condor_submit_file
from .scan_console import Console
from .scan_folder import MERGED, SHARD, ScanError, ScanFolder  # noqa: F401
from .scan_results import STUDY_COLUMNS, collect, counts, report

__all__ = ["parse_grid", "grid_points", "point_name", "ScanFolder", "ScanError", "main"]


def _parser():
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
    p = sub.add_parser("run", help="make the scan folder and run the points not yet "
                       "finished (a stopped study goes on from its checkpoint)")
    p.add_argument("template", help="run folder with diff.input and the optics files")
    p.add_argument("scan", help="scan folder (made if missing; not inside the template)")
    p.add_argument("--set", dest="grid", action="append", default=[], metavar="NAME=VALUES",
                   help="grid of one parameter: v1,v2,... or start:stop:step (repeatable)")
    p.add_argument("--backend", choices=("local", "slurm", "condor"), default="local",
                   help="local: one worker per core here; slurm: requeueable job arrays, "
                        "waited for; condor: write a submit file")
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
    p.add_argument("--plot", action="store_true", help="draw rates.png (a study scan: "
                   "aperture.png) from results.csv (needs numpy and matplotlib: bbscan "
                   "starts again under the system Python before any work when the first "
                   "python3 lacks them)")
    p.add_argument("--dynap", metavar="OPTIONS", type=shlex.split,
                   help="run the study 'diff2wirenew dynap OPTIONS' at every point instead "
                        "of a run; results.csv then has the columns " +
                        ", ".join(STUDY_COLUMNS) + " of each point's dynap_summary.txt "
                        "(write it with '=': --dynap='--amplitudes 2:12:1 --angles 5')")
    p.add_argument("--shards", type=argtypes.positive_int, metavar="N",
                   help="with --dynap and no --set: run the one study split into N "
                        "shards, one job each (points shard=1 ... shard=N); collect merges "
                        "them into SCAN/merged, the same files as the study in one go")
    p = sub.add_parser("collect", help="write results.csv of a scan folder (and merge "
                       "the shards of a split study into SCAN/merged)")
    p.add_argument("scan", help="scan folder")
    p.add_argument("--plot", action="store_true", help="draw rates.png (a study scan: "
                   "aperture.png) from results.csv")
    p = sub.add_parser("status", help="count the points by state (%s), with the turn "
                       "and particles done of each running or stopped point"
                       % ", ".join(STATES))
    p.add_argument("scan", help="scan folder")
    return ap


def status(scan, out=print):
    """Counts by state, then one line per running or stopped point with
    how far it has got."""
    study = scan.load().get("study") or []
    found = {}
    lines = []
    for pt in scan.points():
        folder = scan.folder(pt)
        s = scan.state(folder)[0]
        found[s] = found.get(s, 0) + 1
        if s in ("running", "stopped") or (s == "not run" and scan.resumable(folder, study)):
            how = progress.describe(progress.point_progress(folder, study))
            lines.append("%s: %s%s" % (s, os.path.relpath(folder, scan.root),
                                       ": " + how if how else ""))
    out(", ".join("%d %s" % (found[k], k) for k in STATES if k in found))
    for ln in lines:
        out(ln)


def _run(a, scan):
    grid = parse_grid(a.grid) if a.grid else None
    if a.shards is not None:
        if a.dynap is None or a.grid:
            raise ScanError("--shards splits one study: give --dynap and no --set")
        grid = [(SHARD, [str(k) for k in range(1, a.shards + 1)])]
    if grid is None and not os.path.exists(scan.manifest):
        parse_grid(a.grid)  # the message of an empty grid
    scan.check_template(os.path.abspath(a.template))
    if a.backend != "local":
        scan.check_batch_paths([])
    if a.backend == "slurm" and not shutil.which("sbatch"):
        raise ScanError("sbatch not found: the slurm back end needs Slurm's "
                        "client commands")
    scan.lock()
    runner = Runner(scan)
    runner.handle_signals()
    for w in no_result_warnings(grid or []):
        sys.stderr.write("bbscan: %s\n" % w)
    points = scan.create(a.template, grid, a.binary, a.extend,
                         ["dynap"] + a.dynap if a.dynap is not None else None)
    todo = scan.pending()
    busy = scan.running()
    resumed = sum(scan.resumable(f) for f in todo)
    print("%s: %d points, %d finished, %d to run%s%s (%s)"
          % (scan.root, len(points), len(points) - len(todo) - len(busy), len(todo),
             " (%d from a checkpoint)" % resumed if resumed else "",
             ", %d running elsewhere (left alone)" % len(busy) if busy else "", a.backend))
    if a.backend == "condor":
        sub_file = condor_submit_file(scan, todo)
        print("wrote %s\nsubmit it in the scan folder: cd %s && condor_submit %s\n"
              "when the jobs are done: bbscan collect %s"
              % (sub_file, shlex.quote(scan.root), os.path.basename(sub_file),
                 shlex.quote(scan.root)))
        return runner, True
    if todo:
        console = Console(scan)
        console.start(watch=a.backend != "local")
        try:
            if a.backend == "local":
                runner.run_local(todo, a.workers, log=console.point_ended)
            else:
                for what, msg in runner.run_slurm(todo, sbatch_args=a.sbatch_arg):
                    sys.stderr.write("slurm: %s: %s\n" % (what, msg))
        finally:
            console.stop()
    return runner, False


def _plot(scan, path):
    if scan.load().get("study"):
        from . import scan_plots
        png, draw, error = (os.path.join(scan.root, "aperture.png"),
                            lambda: scan_plots.plot_study_scan(path, png),
                            scan_plots.PlotError)
    else:
        from . import plots
        png, draw, error = (os.path.join(scan.root, "rates.png"),
                            lambda: plots.plot_rates([path], png),
                            (plots.DataError, plots.UsageError))
    try:
        draw()
    except error as e:
        if os.path.exists(png):  # no figure of an earlier state
            os.remove(png)
        sys.stderr.write("bbscan: no %s: %s\n" % (os.path.basename(png), e))


def main(argv=None):
    a = _parser().parse_args(argv)
    if getattr(a, "plot", False):  # before any work, so that no point runs twice
        from . import _launch
        _launch.need("numpy", "matplotlib")

    scan = ScanFolder(a.scan)
    fresh = not os.path.exists(scan.root)
    try:
        if a.cmd != "run" and not os.path.exists(scan.manifest):
            raise ScanError("%s is not a scan folder (no scan.json); make one with "
                            "bbscan run TEMPLATE %s --set NAME=VALUES" % (scan.root, a.scan))
        if a.cmd == "status":
            status(scan)
            return 0
        runner = None
        if a.cmd == "run":
            runner, submitted = _run(a, scan)
            if submitted:
                return 0
        nbad = 0
        stopped = runner is not None and runner.stopped_by is not None
        if scan.shards() and not stopped:  # a stopped scan's shards did not finish
            if scan.merge():
                nbad = 1
            print("merged the shards into %s" % os.path.join(scan.root, MERGED))
        rows, path = collect(scan)
        nbad = report(rows, scan.root) or nbad
        never = sum(r["state"] == "not run" for r in rows)
        if a.cmd == "run" and a.backend == "slurm" and never:
            sys.stderr.write("slurm: %d point(s) have no exit status: their tasks' logs are "
                             "in %s\n" % (never, os.path.join(scan.root, "slurm")))
        print("wrote %s (%d rows: %s)" % (path, len(rows), counts(rows)))
        if stopped:
            return 128 + runner.stopped_by
        if a.plot:
            _plot(scan, path)
        return 1 if nbad else 0
    except (ScanError, GridError, params.ParamError, wires.WireError, dynap.DynapError,
            OSError) as e:
        sys.stderr.write("bbscan: %s\n" % e)
        if fresh and scan.holds_only_its_lock():  # a refused new scan leaves nothing
            os.remove(scan.lock_file)
            os.rmdir(scan.root)
        return 2
