"""The results of a scan: SCAN/results.csv, one row per grid point (and, for
a study split into shards, one for the merged study), and the report of
the points that did not finish.

Columns: the grid values, state, exit status, lost particles, all_lost,
the rates ampin, diffx, diffy of a run; for a study the columns
STUDY_COLUMNS of its summary (a shard: its particles and lost, counted from
its rows); the folder, a message and the program's own warnings.

Standard library only.
"""

import csv
import os
import sys

from . import dynap, readers
from .grid import grid_points
from .run_folder import STATES, all_lost, diagnostics
from .scan_folder import MERGED, SHARD

__all__ = ["collect", "report", "STUDY_COLUMNS"]

STUDY_COLUMNS = ("particles", "lost", "da_min", "da_average", "chaotic_share")


def _num(v):
    return "" if v is None else repr(v)


def _diff_records(folder):
    """Records of the folder's diff.dat, None when it cannot be read."""
    try:
        return len(readers.read_diff(os.path.join(folder, "diff.dat")))
    except (OSError, readers.ReaderError):
        return None


def stderr_tail(folder, lines=5):
    """Last lines of a point's standard error (or a note that it is empty)."""
    try:
        with open(os.path.join(folder, "stderr.txt"), errors="replace") as fh:
            text = [ln.rstrip("\n") for ln in fh if ln.strip()]
    except OSError:
        return "(no stderr.txt)"
    return "\n".join(text[-lines:]) if text else "(standard error is empty)"


def _summary_columns(out):
    """The study columns of a results folder with a summary, else None."""
    path = os.path.join(out, dynap.SUMMARY)
    if not os.path.isfile(path):
        return None
    try:
        s = dynap.read_summary(path)
    except (OSError, dynap.DynapError):
        return None
    if s.get("complete") == 0:
        return None
    return {k: "" if s.get(k) is None else (
        str(int(s[k])) if k in ("particles", "lost") else repr(s[k])) for k in STUDY_COLUMNS}


def _shard_columns(out):
    """particles and lost of a shard, counted from its rows."""
    try:
        with open(os.path.join(out, dynap.PARTICLES), newline="") as fh:
            rows = list(csv.DictReader(fh))
        lost = sum(1 for r in rows if r["lost"].strip() == "1")
    except (OSError, KeyError, csv.Error):
        return None
    return {"particles": str(len(rows)), "lost": str(lost)}


def _run_columns(row, folder, state):
    out = os.path.join(folder, "stdout.txt")
    if state != "not run" and os.path.exists(out):
        facts = readers.read_stdout(out)
        if facts["lost"] is not None:
            row["lost"] = facts["lost"]
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


def collect(scan):
    """Rows of the results table, one per grid point (and one for a merged
    study), and the CSV path."""
    data = scan.load()
    grid, study = data["grid"], data.get("study") or []
    names = [n for n, _ in grid]
    rows = []
    for point in grid_points(grid):
        folder = scan.folder(point)
        state, rc = scan.state(folder)
        row = {"grid:" + n: point[n] for n in names}
        row.update(folder=os.path.relpath(folder, scan.root), state=state,
                   exit_status="" if rc is None else rc, lost="", all_lost="",
                   ampin="", diffx="", diffy="", message="", warnings="")
        if state not in ("not run", "running"):
            # the program's warning and error lines, whatever they say
            row["warnings"] = " | ".join(diagnostics(folder))
        if state == "refused":  # exit status 2: the program's error line says why
            why = [d[len("error: "):] for d in diagnostics(folder) if d.startswith("error: ")]
            row["message"] = "run refused (%s): nothing tracked" % (
                why[-1] if why else "ntrack above 4096 for options 2 and 3")
        if study:
            out = scan.study_folder(folder, study)
            extra = None
            if state == "finished":
                extra = _shard_columns(out) if SHARD in point else _summary_columns(out)
            row.update(extra or {})
        else:
            _run_columns(row, folder, state)
        if state in ("failed", "stopped"):
            row["message"] = " | ".join(
                ln.strip() for ln in stderr_tail(folder, 3).split("\n"))
        rows.append(row)
    merged = os.path.join(scan.root, MERGED)
    if SHARD in names and os.path.isdir(merged):
        row = {"grid:" + SHARD: MERGED, "folder": MERGED}
        extra = _summary_columns(merged)
        row.update(extra or {}, state="finished" if extra else "failed",
                   message="" if extra else "the merge is not complete")
        rows.append(row)
    path = os.path.join(scan.root, "results.csv")
    fields = ["grid:" + n for n in names] + ["state", "exit_status", "lost",
                                             "all_lost", "ampin", "diffx", "diffy",
                                             "folder", "message", "warnings"]
    if study:
        fields = ["grid:" + n for n in names] + ["state", "exit_status"] + \
            list(STUDY_COLUMNS) + ["folder", "message", "warnings"]
    with open(path + ".tmp", "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=fields, restval="", extrasaction="ignore")
        w.writeheader()
        w.writerows(rows)
    os.replace(path + ".tmp", path)
    return rows, path


def report(rows, root, out=sys.stderr):
    """Tells of every point that did not finish; returns their count."""
    bad = [r for r in rows if r["state"] != "finished" and r["folder"] != MERGED]
    for r in bad:
        folder = os.path.join(root, r["folder"])
        if r["state"] in ("failed", "stopped"):
            out.write("%s: %s (exit status %s)\n" % (r["state"], folder, r["exit_status"]))
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


def counts(rows):
    """"3 finished, 1 stopped" of the grid points' rows."""
    pts = [r for r in rows if r["folder"] != MERGED]
    return ", ".join("%d %s" % (n, k) for k in STATES
                     for n in [sum(r["state"] == k for r in pts)] if n)
