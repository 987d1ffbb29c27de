"""Runs of diff2wirenew for people (``bbrun``), and the state of a run folder
that ``bbrun`` and ``bbscan`` share.

``bbrun [DIR]`` runs the program in DIR (default: the current folder);
``bbrun --template T --set NAME=VALUE ... DIR`` first makes DIR a fresh copy
of the run folder T with the named values of diff.input set. The program's
standard output goes to DIR/stdout.txt, its standard error to
DIR/stderr.txt and, line by line, to bbrun's standard error; its exit status
to DIR/exit_status. On a terminal a progress bar follows the program's
progress lines. At the end bbrun prints a summary and returns the program's
exit status as its own. ``bbrun --summary DIR`` prints the summary of a run
folder without running anything.

The states of a run folder are those of ``run_folder``.

Standard library only: ``make run`` calls it where only the program's own
packages are installed.
"""

import argparse
import os
import shutil
import subprocess
import sys
import threading
import time

from . import grid, params, readers, wires
from . import progress
from .run_folder import (RESULT_FILES, RUN_FILES, RUNNING_FILE, FolderLocked, all_lost,
                         default_binary, diagnostics, exit_status, folder_lock, run_state,
                         running_marker, stdout_facts as _facts, stdout_text as _stdout_text,
                         write_marker)

__all__ = ["summary", "run_program", "main"]


# ---------------------------------------------------------------- summary

def wire_lines(f):
    """What the wire evaluation asks for, and what acts: the start-up
    evaluation prints the current a wire would need to stand for npar
    encounters (it acts nowhere); the wires of wires.dat are what acts."""
    out = []
    if f["wire"] is not None:
        out.append("wire current needed to compensate npar encounters (start-up "
                   "evaluation): %s A" % _g(readers.parse_real(f["wire"])))
    if f["wires"]:
        out.append("wires acting: %s" % ", ".join(
            "point %d %s A" % (k, _g(c)) for k, c in f["wires"]))
    else:
        out.append("wires acting: no wires")
    return out


def _g(v, digits=6):
    return "%.*g" % (digits, v)


def _rates(folder):
    try:
        recs = readers.read_resav(os.path.join(folder, "resav.out"))
    except (OSError, readers.ReaderError):
        return None
    if not recs:
        return None
    if all_lost(folder):
        return "diffusion rates: none (every particle was lost)"
    try:
        if not readers.read_diff(os.path.join(folder, "diff.dat")):
            return ("diffusion rates: none (fewer than 1000 turns tracked: diff.dat "
                    "holds no record)")
    except (OSError, readers.ReaderError):
        pass
    r = recs[-1]
    return "diffusion rates: x %s, y %s per turn (emittances), start amplitude %s sigma" % (
        _g(r["diffx"], 4), _g(r["diffy"], 4), _g(r["ampin"], 4))


def _extent(folder):
    try:
        recs = readers.read_footprint(os.path.join(folder, "footprint.dat"))
    except (OSError, readers.ReaderError):
        return None
    qx = [r["qx"] for r in recs if r["qx"] == r["qx"] and 0 < r["iang"] < 12]
    qy = [r["qy"] for r in recs if r["qy"] == r["qy"] and 0 < r["iang"] < 12]
    if not qx or not qy:
        return "footprint: no grid point has tunes"
    ntracked = sum(1 for r in recs if r["qx"] == r["qx"])
    return ("footprint: Qx %.4f ... %.4f, Qy %.4f ... %.4f (%d of %d points tracked; "
            "start angles 0 and pi/2 left out)" % (min(qx), max(qx), min(qy), max(qy),
                                                    ntracked, len(recs)))


def _count(n, word):
    return "%d %s%s" % (n, word, "" if n == 1 else "s")


def _records(path):
    with open(path, "rb") as fh:
        return sum(1 for _ in fh)


def written_files(folder):
    """Result files of the program in ``folder`` (sorted names)."""
    names = set(RESULT_FILES)
    names |= {f for f in os.listdir(folder) if f.startswith("fort.")}
    return sorted(f for f in names if os.path.isfile(os.path.join(folder, f)))


def summary(folder):
    """The lines of the summary of a run folder."""
    folder = os.path.abspath(folder)
    state, rc = run_state(folder)
    text = _stdout_text(folder)
    out = ["run folder: %s" % folder]
    try:
        p = params.read_params(os.path.join(folder, "diff.input"))
        out.append("run: iopt %d, ntrack %d, amp %s, dnb %s" % (
            p["iopt"], p["ntrack"], _g(p["amp"]), _g(p["dnb"])))
    except (OSError, params.ParamError):
        pass
    if text is None:
        out.append("no stdout.txt: the program has not run here")
    else:
        f = _facts(text)
        if f["tunes"]:
            out.append("lattice tunes: %.6f %.6f" % tuple(f["tunes"]))
        if f["betas"]:
            out.append("betas at point 1: %s %s m" % (_g(f["betas"][0]), _g(f["betas"][1])))
        out += wire_lines(f)
        if f["refused"]:
            out.append("refused: ntrack above 4096 for options 2 and 3; nothing tracked")
        if f["lost"] is not None:
            out.append("lost particles: %s (tracking ended after turn %s)"
                       % (f["lost"], int(f["turns"]) - 1 if f["turns"] else "?"))
        elif not f["refused"]:
            out.append("the run did not reach its end (no lost-particle line)")
        for extra in (_rates(folder), _extent(folder)):
            if extra:
                out.append(extra)
    out += ["program %s" % d for d in diagnostics(folder)]
    files = written_files(folder)
    if files:
        out.append("files written: " + ", ".join(
            "%s (%s)" % (f, _count(_records(os.path.join(folder, f)), "record"))
            for f in files))
    if state == "failed":
        try:
            with open(os.path.join(folder, "stderr.txt"), errors="replace") as fh:
                first = next((ln.strip() for ln in fh if ln.strip()), None)
        except OSError:
            first = None
        if first:
            out.append("standard error: %s" % first)
    if rc is None and text is not None:
        f = _facts(text)
        out.append("exit status: not recorded (%s)" % (
            "the run was refused: nothing tracked" if f["refused"] else
            "the run reached its end" if f["lost"] is not None else
            "the run did not reach its end"))
    elif rc is None:
        out.append("exit status: not recorded (state: %s)" % state)
    else:
        out.append("exit status: %d (%s)" % (rc, state))
    return out


def summary_status(folder):
    """The status ``bbrun --summary`` returns: the recorded exit status, or
    when none is recorded 0 for a run that reached its end and 1 otherwise."""
    rc = exit_status(folder)
    if rc is not None:
        return rc
    text = _stdout_text(folder)
    return 0 if text is not None and _facts(text)["lost"] is not None else 1


# ---------------------------------------------------------------- running

def _turns(folder):
    try:
        p = params.read_params(os.path.join(folder, "diff.input"))
    except (OSError, params.ParamError):
        return None
    return 500 if p["iopt"] == 1 else p["ntrack"]


class _Bar:
    """A progress bar on a terminal, drawn on standard error, with the time
    left at the pace of the turns since the first progress line."""

    def __init__(self, total, stream, clock=time.monotonic):
        self.total, self.stream, self.clock = total, stream, clock
        self.on = bool(total) and total > 0 and stream.isatty()
        self.start = None

    def show(self, turn):
        if not self.on:
            return
        frac = min(1.0, turn / self.total)
        n = int(40 * frac)
        now = self.clock()
        left = ""
        if self.start is None:
            self.start = (now, turn)
        elif turn > self.start[1] and now > self.start[0]:
            pace = (turn - self.start[1]) / (now - self.start[0])
            left = ", about %s left" % progress.duration((self.total - turn) / pace)
        self.stream.write("\r[%s%s] turn %d of %d%s " % ("#" * n, "." * (40 - n), turn,
                                                        self.total, left))
        self.stream.flush()

    def clear(self):
        if self.on:
            self.stream.write("\r" + " " * 79 + "\r")
            self.stream.flush()


def clear_results(folder):
    """Remove the files an earlier run left in ``folder`` (results, fort.*,
    what bbrun and bbscan add), so that nothing of it is read as this run's.
    Links are removed, never followed; folders are left alone."""
    names = set(RESULT_FILES) | set(RUN_FILES)
    for f in os.listdir(folder):
        path = os.path.join(folder, f)
        if (f in names or f.startswith("fort.")) and (
                os.path.islink(path) or os.path.isfile(path)):
            os.remove(path)


def run_program(folder, binary, err=sys.stderr):
    """Runs the program in ``folder``; returns its exit status (128 + n after
    signal n). Clears the results of an earlier run first, holding the
    folder's lock (a folder a run holds is refused with FolderLocked before
    anything is removed); writes stdout.txt, stderr.txt and exit_status."""
    with folder_lock(folder):
        clear_results(folder)
    write_marker(folder)
    bar = _Bar(_turns(folder), err)
    lock = threading.Lock()
    with open(os.path.join(folder, "stdout.txt"), "w") as out, \
            open(os.path.join(folder, "stderr.txt"), "w") as errfile:
        proc = subprocess.Popen([binary], cwd=folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, errors="replace", bufsize=1)

        def pass_stderr():
            for line in proc.stderr:
                if not line.endswith("\n"):
                    line += "\n"
                errfile.write(line)
                with lock:
                    bar.clear()
                    err.write(line)
                    err.flush()

        t = threading.Thread(target=pass_stderr, daemon=True)
        t.start()
        try:
            for line in proc.stdout:
                out.write(line)
                s = line.strip()
                if s.startswith("i =") and s[3:].strip().isdigit():
                    with lock:
                        bar.show(int(s[3:]))
            rc = proc.wait()
        except KeyboardInterrupt:  # the program got the signal too
            rc = proc.wait()
        t.join()
    bar.clear()
    if rc < 0:
        rc = 128 - rc
    with open(os.path.join(folder, "exit_status.tmp"), "w") as fh:
        fh.write("%d\n" % rc)
    os.replace(os.path.join(folder, "exit_status.tmp"), os.path.join(folder, "exit_status"))
    try:
        os.remove(os.path.join(folder, RUNNING_FILE))
    except FileNotFoundError:
        pass
    return rc


def fresh_copy(template, folder, values):
    """Make ``folder`` (absent or empty) a copy of the run folder ``template``
    with the named values of diff.input and wires.dat set; results of the
    template stay out. A copy that cannot be made leaves nothing behind."""
    tfile = os.path.join(template, "diff.input")
    if not os.path.isfile(tfile):
        raise RunError("template folder %s holds no diff.input" % template)
    if os.path.exists(folder) and (not os.path.isdir(folder) or os.listdir(folder)):
        raise RunError("%s already holds files; give a new folder for the copy" % folder)
    wire_values = {k: v for k, v in values.items() if wires.is_wire_name(k)}
    run_values = {k: v for k, v in values.items() if k not in wire_values}
    # each element value in the file it belongs to: wires.dat, multipoles.dat,
    # modulation.dat
    element_files = {}
    for k, v in wire_values.items():
        element_files.setdefault(wires.file_of(k), {})[k] = v
    for fname, named in sorted(element_files.items()):
        if not os.path.isfile(os.path.join(template, fname)):
            raise RunError("--set %s: template folder %s holds no %s"
                           % (", ".join(named), template, fname))
    params.read_params(tfile)  # the template must be readable as it is
    created = not os.path.exists(folder)
    try:
        os.makedirs(folder, exist_ok=True)
        skip = set(RESULT_FILES) | set(RUN_FILES) | {"diff.input"} | set(element_files)
        for f in sorted(os.listdir(template)):
            src = os.path.join(template, f)
            if os.path.isfile(src) and f not in skip and not f.startswith("fort."):
                shutil.copy2(src, folder)
        params.set_values(tfile, os.path.join(folder, "diff.input"), run_values)
        for fname, named in sorted(element_files.items()):
            wires.set_values(os.path.join(template, fname), os.path.join(folder, fname), named)
    except BaseException:
        if created:
            shutil.rmtree(folder, ignore_errors=True)
        else:  # it was empty: empty it again
            for f in os.listdir(folder):
                path = os.path.join(folder, f)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path, ignore_errors=True)
                else:
                    os.remove(path)
        raise


class RunError(RuntimeError):
    """A run that cannot be made as asked."""


def parse_sets(specs):
    """``--set NAME=VALUE`` texts (the syntax of bbscan, one value each) as a
    dict name -> value text."""
    values = {}
    if not specs:
        return values
    try:
        parsed = grid.parse_grid(specs)
    except grid.GridError as e:
        raise RunError(str(e)) from None
    for name, texts in parsed:
        if len(texts) != 1:
            raise RunError("--set %s: bbrun runs one point; give one value (bbscan "
                           "runs a grid)" % name)
        values[name] = texts[0]
    return values


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="bbrun", description="Run diff2wirenew in a folder and summarise the run; "
        "or (--summary) summarise a finished run folder.",
        epilog="Exit status: the program's own (0 results, 1 input/output error, "
        "2 run refused, 128+n signal n); 2 also for a usage error of bbrun.")
    ap.add_argument("folder", nargs="?", default=".",
                    help="run folder (default: the current folder)")
    ap.add_argument("--summary", action="store_true",
                    help="only print the summary of the run folder")
    ap.add_argument("--template", metavar="DIR",
                    help="make FOLDER a fresh copy of this run folder first")
    ap.add_argument("--set", dest="sets", action="append", default=[],
                    metavar="NAME=VALUE",
                    help="a value of diff.input or of an element file (wire1.current, mult1.kn, "
                         "mod1.dq: wires.dat, multipoles.dat, modulation.dat) in the copy "
                         "(needs --template; repeatable)")
    ap.add_argument("--binary", default=default_binary(),
                    help="program (default: $BBTRACK_BINARY or build/diff2wirenew)")
    a = ap.parse_args(argv)
    folder = os.path.abspath(a.folder)
    try:
        if a.summary:
            if a.template or a.sets:
                raise RunError("--summary runs nothing: --template and --set do not apply")
            if not os.path.isdir(folder):
                raise RunError("%s is not a folder" % folder)
            print("\n".join(summary(folder)))
            return summary_status(folder)
        if a.sets and not a.template:
            raise RunError("--set needs --template (bbrun does not edit a folder's "
                           "own diff.input)")
        values = parse_sets(a.sets)
        binary = os.path.abspath(a.binary)
        if not (os.path.isfile(binary) and os.access(binary, os.X_OK)):
            raise RunError("program %s not found or not executable (give --binary or "
                           "set BBTRACK_BINARY)" % binary)
        if a.template:
            fresh_copy(os.path.abspath(a.template), folder, values)
        if not os.path.isfile(os.path.join(folder, "diff.input")):
            raise RunError("%s holds no diff.input" % folder)
        marker = running_marker(folder)
        if marker is not None:
            raise RunError("%s: a run is in progress there (process %d on %s)"
                           % (folder, marker[1], marker[0]))
    except (RunError, params.ParamError, wires.WireError, OSError) as e:
        sys.stderr.write("bbrun: %s\n" % e)
        return 2
    try:
        rc = run_program(folder, binary)
    except FolderLocked as e:
        sys.stderr.write("bbrun: %s\n" % e)
        return 2
    except OSError as e:
        sys.stderr.write("bbrun: %s\n" % e)
        return 1
    print("\n".join(summary(folder)))
    sys.stdout.flush()
    return rc
