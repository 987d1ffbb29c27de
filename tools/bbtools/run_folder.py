"""The state of a run folder, shared by ``bbrun`` and ``bbscan``: what the
program and the tools write there, the marker of a run in progress, the
recorded exit status, and the program's own diagnostic lines.

States of a run folder (one vocabulary for bbrun, bbscan's console, its
``status`` and results.csv):

- ``finished``: the program ended with status 0 after tracking;
- ``refused``: the program refused the run before tracking (the turn
  limit of options 2 and 3, FOR020 naming an input file, another run
  going on in the folder): nothing was tracked;
- ``failed``: any other exit status up to 128 (1 an input/output error);
- ``stopped``: ended by a signal (status 128 + n: a stop, a preemption, a
  requeue or an eviction); a study goes on from its checkpoint when run
  again;
- ``running``: no exit status yet, and the folder's marker ``running``
  (host and process of the run, refreshed every minute) shows a run in
  progress;
- ``not run``: no exit status recorded (never run, or killed).

Standard library only.
"""

import os
import shutil
import socket
import time

from . import params, readers

__all__ = ["STATES", "run_state", "exit_status", "diagnostics", "all_lost",
           "running_marker", "write_marker", "default_binary"]

STATES = ("finished", "refused", "failed", "stopped", "running", "not run")

# Files the program writes (fort.* and the file named by FOR020 aside).
RESULT_FILES = ("diff.dat", "resav.out", "phasespace.dat", "frequencymap.dat",
                "fort.20", "footprint.dat", "imageoflrbb.dat", "test.dat")
# What bbrun and bbscan add to a run folder.
RUN_FILES = ("stdout.txt", "stderr.txt", "exit_status", "exit_status.tmp", "running")
# The marker of a run in progress: "host pid", its time refreshed every
# HEARTBEAT seconds; on another host a marker older than STALE seconds is
# that of a run that was killed.
RUNNING_FILE = "running"
HEARTBEAT = 60
STALE = 3 * HEARTBEAT
# The program's own diagnostic lines on standard error; its progress lines
# carry the same name but are neither.
DIAGNOSTIC_PREFIX = "diff2wirenew: "
DIAGNOSTIC_KINDS = ("warning:", "error:")

REFUSED_TEXT = "ntrack>ntmapm"
STATUS_REFUSED = 2  # the program's status for a run it refuses
STATUS_SIGNAL = 128  # 128 + n: ended by signal n

# Particles of a diffusion run (option 0).
DIFFUSION_PARTICLES = 169


def exit_status(folder):
    """The recorded exit status of a run folder, None when there is none."""
    try:
        with open(os.path.join(folder, "exit_status")) as fh:
            return int(fh.read().strip())
    except (OSError, ValueError):
        return None


def stdout_text(folder):
    try:
        with open(os.path.join(folder, "stdout.txt"), errors="replace") as fh:
            return fh.read()
    except OSError:
        return None


def this_host():
    return socket.gethostname().split(".")[0]


def running_marker(folder):
    """(host, pid) of a run in progress in ``folder``, None when there is
    none: no marker, or the marker of a run that was killed."""
    path = os.path.join(folder, RUNNING_FILE)
    try:
        with open(path) as fh:
            host, pid = fh.read().split()[:2]
        pid = int(pid)
        age = time.time() - os.stat(path).st_mtime
    except (OSError, ValueError):
        return None
    if host == this_host():
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return None
        except OSError:
            pass  # another user's process: it exists
        return host, pid
    return (host, pid) if age < STALE else None


def write_marker(folder, pid=None):
    with open(os.path.join(folder, RUNNING_FILE), "w") as fh:
        fh.write("%s %d\n" % (this_host(), os.getpid() if pid is None else pid))


def run_state(folder):
    """(state, exit status) of a run folder; state is one of STATES."""
    rc = exit_status(folder)
    if rc is None:
        if os.path.exists(os.path.join(folder, "exit_status")):
            return "failed", None
        if running_marker(folder) is not None:
            return "running", None
        return "not run", None
    out = stdout_text(folder) or ""
    if rc == STATUS_REFUSED or (rc == 0 and REFUSED_TEXT in out):
        return "refused", rc
    if rc == 0:
        return "finished", rc
    if rc > STATUS_SIGNAL:
        return "stopped", rc
    return "failed", rc


def stdout_facts(text):
    """What a run's standard output tells: tunes, betas, the wire current
    of the start-up evaluation, lost particles, turns, a refusal, wires."""
    lines = text.split("\n")
    f = {"tunes": _after(lines, "tunes", 2), "betas": _after(lines, "betas", 2),
         "wire": None, "lost": None, "turns": None, "refused": REFUSED_TEXT in text,
         "wires": _wires_acting(lines)}
    for ln in lines:
        s = ln.strip()
        if s.startswith("wire current =") and s.endswith(" A"):
            f["wire"] = s[len("wire current ="):-2].strip()
        elif s.startswith("lost particles ="):
            f["lost"] = s.split("=", 1)[1].strip()
        elif s.startswith("after tracking loop"):
            f["turns"] = s[len("after tracking loop"):].strip()
    return f


def _after(lines, label, count):
    """The numbers of the line after the line that reads ``label``."""
    for i, ln in enumerate(lines[:-1]):
        if ln.strip() == label:
            try:
                return [readers.parse_real(t) for t in lines[i + 1].split()[:count]]
            except ValueError:
                return None
    return None


def _wires_acting(lines):
    """(point, current) of every wire the run's echo lists: "wire k xw yw"
    and, on the same or the following lines, "current length kw"."""
    out = []
    for i, ln in enumerate(lines):
        tok = ln.split()
        if len(tok) < 2 or tok[0] != "wire" or not tok[1].isdigit():
            continue
        vals = tok[1:]
        j = i + 1
        while len(vals) < 6 and j < len(lines):
            vals += lines[j].split()
            j += 1
        try:
            out.append((int(vals[0]), readers.parse_real(vals[3])))
        except (IndexError, ValueError):
            continue
    return out


def diagnostics(folder):
    """The program's own warning and error lines in the folder's
    stderr.txt, without the program's name (its progress lines left out)."""
    try:
        with open(os.path.join(folder, "stderr.txt"), errors="replace") as fh:
            lines = [ln.strip()[len(DIAGNOSTIC_PREFIX):] for ln in fh
                     if ln.startswith(DIAGNOSTIC_PREFIX)]
    except OSError:
        return []
    return [ln for ln in lines if ln.startswith(DIAGNOSTIC_KINDS)]


def all_lost(folder):
    """True when the run lost every particle (the last record of diff.dat
    tracks none, or a diffusion run reports 169 lost), False when it did
    not, None when the folder does not tell."""
    try:
        recs = readers.read_diff(os.path.join(folder, "diff.dat"))
    except (OSError, readers.ReaderError):
        recs = []
    if recs and recs[-1]["npart"] is not None:
        return recs[-1]["npart"] == 0
    text = stdout_text(folder)
    if text is None:
        return None
    lost = stdout_facts(text)["lost"]
    try:
        p = params.read_params(os.path.join(folder, "diff.input"))
        n = int(lost)
    except (OSError, params.ParamError, TypeError, ValueError):
        return None
    if p["iopt"] not in (1, 2, 3):
        return n >= DIFFUSION_PARTICLES
    return None


def default_binary():
    """$BBTRACK_BINARY, else build/diff2wirenew of the source tree the tools
    sit in, else diff2wirenew on PATH (an installed program)."""
    if os.environ.get("BBTRACK_BINARY"):
        return os.environ["BBTRACK_BINARY"]
    here = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    built = os.path.join(here, "build", "diff2wirenew")
    if os.path.exists(built):
        return built
    return shutil.which("diff2wirenew") or built


class FolderLocked(RuntimeError):
    """The run folder is locked by a run of the program."""


def _lock_holder(st):
    """The process holding a flock on the file of ``st``, from /proc/locks."""
    want = ":%d" % st.st_ino
    try:
        with open("/proc/locks") as fh:
            for line in fh:
                f = line.split()
                if len(f) > 5 and f[1] == "FLOCK" and f[5].endswith(want):
                    return int(f[4])
    except (OSError, ValueError):
        pass
    return None


class folder_lock:
    """``with folder_lock(folder):`` holds the lock the program takes on its
    run folder (flock on the folder itself); a folder a run holds is
    refused with FolderLocked. A file system without locks is let be."""

    def __init__(self, folder):
        self.folder = folder
        self.fd = None

    def __enter__(self):
        import fcntl
        self.fd = os.open(self.folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            fcntl.flock(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            pid = _lock_holder(os.fstat(self.fd))
            os.close(self.fd)
            raise FolderLocked("another run (%s) is running in %s: wait for it to end, "
                               "or run in another folder" % (
                                   "process %d" % pid if pid else "another process",
                                   self.folder)) from None
        except OSError:
            pass  # no locks here: as the program, go on
        return self

    def __exit__(self, *exc):
        os.close(self.fd)  # the lock goes with the descriptor
