"""The script that runs one point of a scan in its folder
(SCAN/run_point.sh), the same for every back end.

The exit status is kept in the file exit_status, written only once the
program has ended; while it runs, the marker ``running`` holds host and
process, touched every minute. A stop signal is passed on to the program,
which ends its turn and records what it has (a study writes its
checkpoint). A study whose results folder holds a checkpoint goes on from
it (``--resume``): a point stopped by a signal, a preemption, a Slurm
requeue or an HTCondor eviction loses no turn. Only when no checkpoint will
do (torn, damaged) does the study start afresh, saying so.

Standard library only.
"""

import shlex

from .run_folder import HEARTBEAT, RUNNING_FILE

# The study's checkpoints in its results folder (see docs/usage.md).
CHECKPOINTS = (".dynap_checkpoint.0", ".dynap_checkpoint.1")
PARTIAL_ROWS = ".dynap.csv.partial"
# The standard error of the earlier runs of a point that was resumed.
EARLIER_STDERR = "stderr.stopped.txt"

_SCRIPT = """#!/bin/sh
# Runs one point of the scan in the folder given as argument; see
# bbtools/point_script.py. Under Slurm, which signals every process of the
# job itself, a stop signal is not passed on twice.
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
pid=
stop() { [ -n "${SLURM_JOB_ID:-}" ] || [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null; }
trap stop TERM INT HUP
track() {
  # a shard of a study has its share in the file shard_arg (--shard I/N)
  OMP_NUM_THREADS="${OMP_NUM_THREADS:-1}" %(binary)s%(study)s "$@" $(cat shard_arg 2>/dev/null) > stdout.txt 2> stderr.txt &
  pid=$!
  while :; do
    wait "$pid"
    rc=$?
    kill -0 "$pid" 2>/dev/null || break
  done
  pid=
}
%(resume)s
kill "$beat" 2>/dev/null
echo "$rc" > exit_status.tmp && mv exit_status.tmp exit_status
rm -f %(marker)s
exit "$rc"
"""

_PLAIN = "track"

# A study goes on from its checkpoint; a resume refused for want of a
# valid one (status 2, the line "--resume: no valid checkpoint") starts
# afresh, its reason kept in stderr.txt.
_RESUME = """out=%(out)s
if [ -f "$out/%(c0)s" ] || [ -f "$out/%(c1)s" ]; then
  # the standard error of the runs that stopped, for the record
  [ -f stderr.txt ] && cat stderr.txt >> %(earlier)s
  track --resume
  if [ "$rc" = 2 ] && grep -q -e "--resume: " stderr.txt; then
    mv stderr.txt stderr.resume.txt
    track
    cat stderr.resume.txt stderr.txt > stderr.both && mv stderr.both stderr.txt
    rm -f stderr.resume.txt
  fi
else
  track
fi"""


def study_out(study):
    """The results folder of a study's arguments (--out DIR or --out=DIR,
    the last one), relative to the point folder; "." by default."""
    out = "."
    for i, a in enumerate(study):
        if a == "--out" and i + 1 < len(study):
            out = study[i + 1]
        elif a.startswith("--out="):
            out = a[len("--out="):]
    return out


def script(binary, study):
    """The text of run_point.sh for ``binary`` and the study arguments
    ``study`` (empty: a plain run)."""
    resume = _RESUME % {"out": shlex.quote(study_out(study)), "c0": CHECKPOINTS[0],
                        "c1": CHECKPOINTS[1],
                        "earlier": EARLIER_STDERR} if study else _PLAIN
    return _SCRIPT % {"binary": shlex.quote(binary), "marker": RUNNING_FILE,
                      "beat": HEARTBEAT, "resume": resume,
                      "study": "".join(" " + shlex.quote(a) for a in study)}
