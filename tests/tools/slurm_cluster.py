"""A throw-away one-node Slurm cluster for the tests of the scan tools.

Everything lives in a fresh temporary directory: a munge key and its own
munged, a slurm.conf on ports picked at run time, and slurmctld/slurmd
running in the foreground as children of the test process.  Nothing under
/etc, /run or /var is read or written, so it can run next to a system munged
or Slurm installation without touching it.

    with SlurmCluster() as cluster:
        subprocess.run(["sbatch", "--wait", "job.sh"], env=cluster.env)

Needs root (the daemons run as root and jobs are submitted as root) and the
Debian slurm-wlm and munge packages.
"""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

DAEMONS = ("munged", "slurmctld", "slurmd")
CLIENTS = ("sbatch", "sinfo", "squeue", "scancel")
SBIN_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def _which(name):
    return shutil.which(name, path=os.environ.get("PATH", "") + os.pathsep + SBIN_PATH)


def available():
    """(True, "") when a cluster can be started here, else (False, why not)."""
    if os.geteuid() != 0:
        return False, "a private Slurm cluster needs root"
    missing = [name for name in DAEMONS + CLIENTS if _which(name) is None]
    if missing:
        return False, "missing Slurm/munge programs: " + " ".join(missing)
    return True, ""


def _die_with_parent():
    """preexec_fn: SIGTERM the daemon if the test process dies unexpectedly."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def _free_ports(count):
    """Ports that are free on loopback right now (the kernel picks them)."""
    socks = []
    try:
        for _ in range(count):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind(("127.0.0.1", 0))
            socks.append(s)
        return [s.getsockname()[1] for s in socks]
    finally:
        for s in socks:
            s.close()


def _mem_total_mb():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) // 1024
    return 1024


def _tail(path, lines=25):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError as e:
        return "(%s)" % e


class SlurmError(RuntimeError):
    pass


class SlurmCluster:
    """One controller + one compute node on this machine, until exit."""

    def __init__(self, start_timeout=60.0, stop_timeout=10.0):
        self.start_timeout = start_timeout
        self.stop_timeout = stop_timeout
        self.dir = None
        self.env = None
        self.node = socket.gethostname().split(".")[0]
        self._procs = []  # (name, Popen), in start order

    # -- life cycle --------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        ok, why = available()
        if not ok:
            raise SlurmError(why)
        try:
            self._start()
        except BaseException:
            self.stop()
            raise

    def _start(self):
        # munged's socket path must fit in sun_path (108 bytes)
        base = tempfile.gettempdir()
        if len(base) > 40:
            base = "/tmp"
        self.dir = tempfile.mkdtemp(prefix="slurm-", dir=base)
        self.conf = self._path("slurm.conf")
        self.munge_socket = self._path("munge", "munge.socket")
        # drop what a surrounding Slurm job or the user's shell would pass on
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("SLURM_", "SBATCH_", "SQUEUE_", "SINFO_"))}
        self.env["SLURM_CONF"] = self.conf
        self.env["PATH"] = self.env.get("PATH", "") + os.pathsep + SBIN_PATH

        self._start_munged()
        self._write_config()
        self._spawn("slurmctld", [_which("slurmctld"), "-D"])
        self._spawn("slurmd", [_which("slurmd"), "-D"])
        self._wait_idle()

    def stop(self):
        try:
            if self._running("slurmctld"):
                self._cancel_jobs()
        finally:
            # slurmd first so that no step is launched while we go down
            for name, proc in reversed(self._procs):
                self._terminate(name, proc)
            self._procs = []
            self._kill_strays()
            if self.dir:
                shutil.rmtree(self.dir, ignore_errors=True)
                self.dir = None

    # -- helpers for tests -------------------------------------------------

    def run(self, *args, check=True, timeout=120, **kw):
        """subprocess.run of a Slurm client against this cluster."""
        return subprocess.run(list(args), env=self.env, check=check, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              universal_newlines=True, **kw)

    def logs(self):
        """Tails of the daemon logs, for failure messages."""
        if not self.dir:
            return ""
        parts = []
        for name in sorted(os.listdir(self._path("log"))):
            parts.append("---- %s ----\n%s" % (name, _tail(self._path("log", name))))
        return "\n".join(parts)

    # -- internals ---------------------------------------------------------

    def _path(self, *parts):
        path = os.path.join(self.dir, *parts)
        os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
        return path

    def _spawn(self, name, argv):
        out = open(self._path("log", name + ".out"), "wb")
        try:
            proc = subprocess.Popen(argv, env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT,
                                    cwd=self.dir, start_new_session=True,
                                    preexec_fn=_die_with_parent)
        finally:
            out.close()
        self._procs.append((name, proc))
        return proc

    def _running(self, name):
        return any(n == name and p.poll() is None for n, p in self._procs)

    def _check_alive(self):
        for name, proc in self._procs:
            if proc.poll() is not None:
                raise SlurmError("%s exited with status %s during start-up\n%s"
                                 % (name, proc.returncode, self.logs()))

    def _start_munged(self):
        key = self._path("munge", "munge.key")
        fd = os.open(key, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o400)
        with os.fdopen(fd, "wb") as f:
            f.write(os.urandom(1024))
        self._spawn("munged", [
            _which("munged"), "--foreground", "--force",
            "--socket=" + self.munge_socket,
            "--key-file=" + key,
            "--pid-file=" + self._path("munge", "munged.pid"),
            "--log-file=" + self._path("log", "munged.log"),
            "--seed-file=" + self._path("munge", "munged.seed"),
        ])
        deadline = time.monotonic() + self.start_timeout
        while not os.path.exists(self.munge_socket):
            self._check_alive()
            if time.monotonic() > deadline:
                raise SlurmError("munged did not create its socket\n" + self.logs())
            time.sleep(0.05)

    def _write_config(self):
        ctld_port, slurmd_port = _free_ports(2)
        cpus = os.cpu_count() or 1
        memory = max(256, min(2048, _mem_total_mb() // 4))
        auth = "socket=" + self.munge_socket
        conf = [
            "ClusterName=scantest",
            # fixed loopback addresses: no name service is needed
            "SlurmctldHost=%s(127.0.0.1)" % self.node,
            "SlurmctldPort=%d" % ctld_port,
            "SlurmdPort=%d" % slurmd_port,
            "SlurmUser=root",
            "SlurmdUser=root",
            "AuthType=auth/munge",
            "AuthInfo=" + auth,
            "CredType=cred/munge",
            "StateSaveLocation=" + self._path("state", ""),
            "SlurmdSpoolDir=" + self._path("spool", ""),
            "SlurmctldPidFile=" + self._path("run", "slurmctld.pid"),
            "SlurmdPidFile=" + self._path("run", "slurmd.pid"),
            "SlurmctldLogFile=" + self._path("log", "slurmctld.log"),
            "SlurmdLogFile=" + self._path("log", "slurmd.log"),
            "SlurmctldDebug=info",
            "SlurmdDebug=info",
            "PlugStackConfig=" + self._path("plugstack.conf"),
            "MailProg=/bin/true",
            # no cgroups: works in containers and sandboxes
            "ProctrackType=proctrack/linuxproc",
            "TaskPlugin=task/none",
            "JobAcctGatherType=jobacct_gather/none",
            "AccountingStorageType=accounting_storage/none",
            "JobCompType=jobcomp/none",
            "MpiDefault=none",
            "SwitchType=switch/none",
            "SelectType=select/cons_tres",
            "SelectTypeParameters=CR_Core",
            # start queued array tasks as soon as CPUs free up (default: ~3 s)
            "SchedulerType=sched/backfill",
            "SchedulerParameters=batch_sched_delay=0,sched_min_interval=100000",
            # sbatch --wait polls every 2 s only while that is under
            # MinJobAge/2, otherwise after 2, 8, 32 s...; finished jobs stay
            # visible to squeue/scontrol for at least this long
            "MinJobAge=5",
            "ReturnToService=2",
            "KillWait=5",
            "NodeName=%s NodeAddr=127.0.0.1 CPUs=%d RealMemory=%d State=UNKNOWN"
            % (self.node, cpus, memory),
            "PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP",
        ]
        with open(self.conf, "w") as f:
            f.write("\n".join(conf) + "\n")
        with open(self._path("plugstack.conf"), "w"):
            pass

    def _wait_idle(self):
        deadline = time.monotonic() + self.start_timeout
        state = ""
        while True:
            self._check_alive()
            try:
                res = subprocess.run([_which("sinfo"), "-h", "-o", "%T"], env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     universal_newlines=True, timeout=10)
                state = res.stdout.strip()
            except subprocess.TimeoutExpired:
                state = "(sinfo timed out)"
            if state == "idle":
                return
            if time.monotonic() > deadline:
                raise SlurmError("node %s not idle after %.0f s (sinfo: %r)\n%s"
                                 % (self.node, self.start_timeout, state, self.logs()))
            time.sleep(0.2)

    def _cancel_jobs(self):
        try:
            subprocess.run([_which("scancel"), "--full", "--user=root"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)
            deadline = time.monotonic() + self.stop_timeout
            while time.monotonic() < deadline:
                res = subprocess.run([_which("squeue"), "-h", "-o", "%i"], env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     universal_newlines=True, timeout=10)
                if res.returncode == 0 and not res.stdout.strip():
                    return
                time.sleep(0.2)
        except (OSError, subprocess.SubprocessError):
            pass  # the strays are killed below anyway

    def _terminate(self, name, proc):
        if proc.poll() is not None:
            return
        proc.terminate()
        try:
            proc.wait(self.stop_timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()

    def _kill_strays(self):
        """Kill what the daemons left behind (slurmstepd, job scripts).

        They all carry our SLURM_CONF in their environment, which names this
        cluster's private directory, so nothing else can match.
        """
        if not self.dir:
            return
        marker = ("SLURM_CONF=" + self.conf).encode()
        for _ in range(2):
            found = False
            for pid in os.listdir("/proc"):
                if not pid.isdigit() or int(pid) == os.getpid():
                    continue
                try:
                    with open("/proc/%s/environ" % pid, "rb") as f:
                        environ = f.read().split(b"\0")
                except OSError:
                    continue
                if marker in environ:
                    found = True
                    try:
                        os.kill(int(pid), signal.SIGKILL)
                    except OSError:
                        pass
            if not found:
                return
            time.sleep(0.2)
