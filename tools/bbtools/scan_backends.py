"""The back ends of a scan: ``local`` (one worker per core), ``slurm`` (job
arrays, ``sbatch --array ... --wait``, requeueable) and ``condor`` (a submit
file with ``queue folder from`` a list of the pending folders, to be given
to condor_submit in the scan folder). Every back end runs a point through
the scan's run_point.sh; the batch files name the scan's own files relative
to the scan folder, so its path may hold blanks and ``%``.

A stopped bbscan (SIGTERM, SIGINT, SIGHUP) stops its local points (each
ends its turn and records its status; a study writes its checkpoint) or
cancels its Slurm jobs, which Slurm stops alike.

Standard library only.
"""

import concurrent.futures
import ctypes
import os
import re
import signal
import subprocess
import sys
import threading

from .run_folder import this_host
from .scan_folder import ScanError

__all__ = ["Runner", "condor_submit_file"]

SLURM_MAX_ARRAY = 1000  # the default MaxArraySize of a Slurm cluster is 1001
# The states of a Slurm job that has ended for good (a requeued one has not).
_SLURM_ENDED = {"COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "PREEMPTED",
                "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "SPECIAL_EXIT"}


def _term_with_parent():
    """preexec_fn: the runner gets SIGTERM when bbscan dies, however it dies."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class Runner:
    """Runs the pending points of a scan folder on a back end, and stops
    them when bbscan is stopped."""

    def __init__(self, scan):
        self.scan = scan
        self._stop = threading.Event()
        self._children = []  # Popen of the local runs
        self._slurm_name = None  # job name of this scan's Slurm arrays
        self._slurm_env = None
        self.stopped_by = None

    # stopping

    def stop(self, signum):
        """Stop what runs: local points get SIGTERM (each ends its turn and
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

    @property
    def stopping(self):
        return self._stop.is_set()

    # local

    def run_local(self, folders, workers=None, log=print):
        workers = workers or os.cpu_count() or 1
        env = dict(os.environ)
        env.setdefault("OMP_NUM_THREADS", "1")
        env.pop("SLURM_JOB_ID", None)  # the runner passes stop signals on

        def one(folder):
            if self._stop.is_set():
                return folder
            # own session: a Ctrl-C on the terminal reaches bbscan, which
            # passes it on once; the runner gets SIGTERM if bbscan dies
            proc = subprocess.Popen([self.scan.runner, folder], env=env,
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
                log(folder)

    # Slurm

    def slurm_script(self, pending_file):
        """The job script: paths relative to the scan folder, the job's
        working folder, so that the scan's own path needs no quoting. A
        task that is requeued (preemption, node failure, scontrol requeue)
        runs its point again, which goes on from its checkpoint."""
        path = os.path.join(self.scan.root, "scan.sbatch")
        lines = ["#!/bin/sh",
                 "#SBATCH --job-name=bbscan",
                 "#SBATCH --cpus-per-task=1",
                 "#SBATCH --requeue",
                 "# the log of each task, written here: Slurm would expand a % in the",
                 "# scan folder's path in --output",
                 '[ -f scan.sbatch ] || { echo "not run in the scan folder" >&2; exit 96; }',
                 'exec >> "slurm/${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}.out" 2>&1',
                 'echo "task start ${SLURM_RESTART_COUNT:+(requeued ${SLURM_RESTART_COUNT})}"',
                 "# task k runs line OFFSET + k + 1 of the list of pending folders",
                 'line=$(( ${BBSCAN_OFFSET:-0} + SLURM_ARRAY_TASK_ID + 1 ))',
                 'folder=$(sed -n "${line}p" %s)' % os.path.basename(pending_file),
                 '[ -n "$folder" ] || { echo "no folder on line $line" >&2; exit 97; }',
                 'OMP_NUM_THREADS=1 exec ./%s "$folder"' % os.path.basename(self.scan.runner),
                 ""]
        with open(path, "w") as fh:
            fh.write("\n".join(lines))
        os.chmod(path, 0o755)
        return path

    def _wait_for_requeued(self, job, env, poll=2.0):
        """sbatch --wait may return while a requeued task waits to start
        again: wait until squeue lists no task of the job."""
        while not self._stop.is_set():
            proc = subprocess.run(["squeue", "-h", "-j", job, "-t", "all", "-o", "%T"],
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True)
            if proc.returncode != 0 or set(proc.stdout.split()) <= _SLURM_ENDED:
                return
            self._stop.wait(poll)

    def run_slurm(self, folders, sbatch="sbatch", sbatch_args=(), env=None, log=print):
        """Runs the folders as requeueable job arrays of at most
        SLURM_MAX_ARRAY tasks and waits for them. Returns the list of
        (array, problem) for submissions that sbatch refused or that ended
        in an error of Slurm's own."""
        self.scan.check_batch_paths(folders)
        pending_file = self.scan.write_pending(folders, relative=True)
        script = self.slurm_script(pending_file)
        os.makedirs(os.path.join(self.scan.root, "slurm"), exist_ok=True)
        problems = []
        self._slurm_env = env
        self._slurm_name = "bbscan-%s-%d" % (this_host(), os.getpid())

        def submit(offset):
            n = min(SLURM_MAX_ARRAY, len(folders) - offset)
            # the job script writes its own log: Slurm expands a % anywhere in
            # the path of --output, and the scan's path may hold one
            cmd = [sbatch, "--parsable", "--wait", "--requeue",
                   "--array=0-%d" % (n - 1), "--job-name=" + self._slurm_name,
                   "--output=/dev/null", "--export=ALL,BBSCAN_OFFSET=%d" % offset] + \
                list(sbatch_args) + [os.path.basename(script)]
            if self._stop.is_set():
                return offset, n, "", None
            proc = subprocess.Popen(cmd, env=env, cwd=self.scan.root,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)
            out, proc.stderr_text = proc.communicate()
            job = out.strip().split(";")[0]
            if job.isdigit():
                self._wait_for_requeued(job, env)
            return offset, n, job, proc

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


def condor_submit_file(scan, folders):
    """The submit file, every path in it relative to the scan folder (the
    folder condor_submit is run in) and free of blanks or quotes: the point
    folders are named by their grid values only. An evicted job is started
    again by HTCondor in the same folder and goes on from its checkpoint."""
    scan.check_batch_paths(folders)
    for f in folders:
        name = os.path.relpath(f, scan.root)
        if not re.match(r"^[A-Za-z0-9_.=+*/-]+$", name):
            raise ScanError("the point folder %s holds characters that an HTCondor "
                            "submit file cannot carry" % name)
    pending_file = scan.write_pending(folders, relative=True)
    path = os.path.join(scan.root, "scan.sub")
    os.makedirs(os.path.join(scan.root, "condor"), exist_ok=True)
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
        "# an evicted job gets SIGTERM, writes its checkpoint and goes on from it",
        "# when HTCondor starts it again",
        "kill_sig                = SIGTERM",
        "output                  = condor.out",
        "error                   = condor.err",
        "log                     = ../../condor/scan.log",
        "queue folder from %s" % os.path.basename(pending_file), ""])
    with open(path, "w") as fh:
        fh.write(text)
    return path
