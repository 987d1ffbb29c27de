"""The folder of a parameter scan and the markers in it.

    SCAN/scan.json        the grid, the template and the binary (by content
                          hash), the study's arguments
    SCAN/scan.lock        held by the one bbscan run working on the folder
    SCAN/run_point.sh     runs one point in its folder (``point_script``)
    SCAN/points/<name>/   one run folder per grid point, e.g. amp=2_wcurrent=80
    SCAN/merged/          the merged results of a study split into shards

A point's state is that of its run folder (``run_folder``). A point that
has neither finished nor is running is made again from the template before
it runs, unless its study left a checkpoint: then it goes on from there.

Standard library only.
"""

import fcntl
import hashlib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys

from . import dynap, params, point_script, wires
from .grid import grid_points, grid_text, point_name, same_value
from .run_folder import RUNNING_FILE, default_binary, run_state, this_host

__all__ = ["ScanError", "ScanFolder", "SHARD", "MERGED"]

# Files the program writes; they are not copied from a template folder.
RESULT_FILES = {"diff.dat", "resav.out", "footprint.dat", "phasespace.dat",
                "frequencymap.dat", "imageoflrbb.dat", "test.dat",
                "stdout.txt", "stderr.txt", "exit_status", "exit_status.tmp",
                RUNNING_FILE, point_script.EARLIER_STDERR} | dynap.RESULT_FILES

# The grid name of a study split into shards (bbscan run --shards N), and
# the folder of the merged results.
SHARD = "shard"
MERGED = "merged"


class ScanError(RuntimeError):
    """A scan that cannot be made or run as asked."""


def file_hash(path):
    """sha256 of a file's content."""
    h = hashlib.sha256()
    with open(path, "rb") as fh:
        for block in iter(lambda: fh.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


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


def _inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


class ScanFolder:
    """A scan folder: its record, lock, points and their folders."""

    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.manifest = os.path.join(self.root, "scan.json")
        self.runner = os.path.join(self.root, "run_point.sh")
        self.points_dir = os.path.join(self.root, "points")
        self.lock_file = os.path.join(self.root, "scan.lock")
        self._lock_fd = None

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

    def check_template(self, template):
        """A template the scan folder lies in (or is) is refused: the scan
        would copy itself, and change the template's content hash."""
        if template is not None and _inside(self.root, template):
            raise ScanError("the scan folder %s lies in its template %s: give a scan "
                            "folder outside the template" % (self.root, template))

    def create(self, template, grid, binary, extend=False, study=None):
        """Make the scan folder and one folder per point that has neither
        finished nor is running nor holds a study's checkpoint; keep those
        as they are. ``grid`` None takes the recorded one; ``study`` (the
        arguments of a study run, None: the recorded ones) runs at every
        point in place of a run. Returns the points of the scan."""
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
        self.check_template(template)
        tfile = os.path.join(template, "diff.input")
        if not os.path.isfile(tfile):
            raise ScanError("template folder %s holds no diff.input" % template)
        params.read_params(tfile)  # the template must be readable as it is
        self._check_element_files(template, grid)
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
            fh.write(point_script.script(binary, study))
        os.chmod(self.runner + ".tmp", 0o755)
        os.replace(self.runner + ".tmp", self.runner)
        points = grid_points(grid)
        for point in points:
            folder = self.folder(point)
            if (self.state(folder)[0] in ("finished", "running")
                    or self.resumable(folder, study)):
                continue
            self._make_folder(template, folder, point)
        return points

    @staticmethod
    def _check_element_files(template, grid):
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

    def study_folder(self, folder, study=None):
        """The results folder of the study run at the point ``folder``."""
        if study is None:
            study = self.load().get("study") or []
        return os.path.normpath(os.path.join(folder, point_script.study_out(study)))

    def resumable(self, folder, study=None):
        """True when the point's study left a checkpoint to go on from."""
        if study is None:
            study = self.load().get("study") or []
        if not study:
            return False
        out = self.study_folder(folder, study)
        return any(os.path.isfile(os.path.join(out, c)) for c in point_script.CHECKPOINTS)

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
        if [n for n, _ in grid] != names:
            raise ScanError("%s was made for the parameters %s, not %s; use a new scan "
                            "folder" % (self.root, ", ".join(names),
                                        ", ".join(n for n, _ in grid)))
        if SHARD in names and grid != old["grid"]:
            raise ScanError("%s holds a study split into %d shards; another shard count "
                            "would split the grid otherwise: keep --shards %d, or start "
                            "a new scan in a new folder" % (self.root, len(old["grid"][0][1]),
                                                            len(old["grid"][0][1])))
        # a value given again, in whatever form (2 or 2.0), is the recorded one
        merged = [(n, vals + [v for v in new if not any(same_value(v, o) for o in vals)])
                  for (n, vals), (_, new) in zip(old["grid"], grid)]
        same = all(len(vals) == len(new) and all(
            any(same_value(v, o) for o in vals) for v in new)
            for (_, vals), (_, new) in zip(old["grid"], grid))
        if same:
            return old["grid"]
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
        its exit status (1: a shard missing or failed, named). A complete
        merge is replaced only by another complete one: the merge is made
        beside it and renamed into place."""
        data = self.load()
        out = os.path.join(self.root, MERGED)
        new = out + ".new"
        if os.path.isdir(new):
            shutil.rmtree(new)
        folders = [self.study_folder(self.folder(p), data.get("study") or [])
                   for p in self.points()]
        cmd = [data["binary"]] + list(data["study"]) + ["--out", new]
        for f in folders:
            cmd += ["--merge", f]
        proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True)
        (log or sys.stderr).write(proc.stderr)
        complete = os.path.isfile(os.path.join(out, dynap.PARTICLES))
        if proc.returncode != 0 and complete:
            shutil.rmtree(new, ignore_errors=True)
            (log or sys.stderr).write("bbscan: %s kept: the merge of these shards is not "
                                      "complete\n" % out)
            return proc.returncode
        if os.path.isdir(new):
            old = out + ".old"
            if os.path.isdir(out):
                os.replace(out, old)
            os.replace(new, out)
            if os.path.isdir(old):
                shutil.rmtree(old)
        return proc.returncode

    def folder(self, point):
        return os.path.join(self.points_dir, point_name(point))

    def points(self):
        return grid_points(self.load()["grid"])

    @staticmethod
    def state(folder):
        """(state, exit status), the states of ``run_folder``."""
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
