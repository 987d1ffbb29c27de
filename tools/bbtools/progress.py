"""How far a run or a study has got, read from its progress lines and its
checkpoint, and estimates of the time left (``bbscan status``, bbscan's
console, bbrun's progress bar).

A study (``diff2wirenew dynap``) prints on standard error "dynap: turn T of
N" (one batch) and "dynap: K of M particles tracked" (after each batch);
stopped, it names the turn reached; its checkpoint holds the batch's first
particle and the turns done in it, and ".dynap.csv.partial" one row per
particle done. A run prints " i = T" on standard output every 500 turns.

Standard library only.
"""

import os
import re
import struct

from . import params, point_script

__all__ = ["point_progress", "describe", "fraction", "duration"]

_TURN = re.compile(r"dynap: turn (\d+) of (\d+)")
_BATCH = re.compile(r"dynap: (\d+) of (\d+) particles tracked")
_STOPPED = re.compile(r"at turn (\d+) of the batch")
_RESUMED = re.compile(r"resumed at batch[^,]*, turn (\d+)")
# the checkpoint's head: 8 bytes of magic, its length and checksum, then the
# identity, the sequence number, the batch's first particle and its turn
_CHECKPOINT_MAGIC = b"BBDYNCK"
_CHECKPOINT_FIELDS = struct.Struct("<QQqq")
_CHECKPOINT_AT = 24


def _tail(path, size=1 << 16):
    try:
        with open(path, "rb") as fh:
            fh.seek(0, os.SEEK_END)
            fh.seek(max(0, fh.tell() - size))
            return fh.read().decode(errors="replace")
    except OSError:
        return ""


def _checkpoint(out):
    """(first, turn) of the newest readable checkpoint in ``out`` that was
    written in the current batch (after the last rows), or None."""
    best = None
    try:
        rows_written = os.stat(os.path.join(out, point_script.PARTIAL_ROWS)).st_mtime
    except OSError:
        rows_written = 0.0
    for name in point_script.CHECKPOINTS:
        path = os.path.join(out, name)
        try:
            if os.stat(path).st_mtime < rows_written:
                continue  # of a batch done since
            with open(path, "rb") as fh:
                head = fh.read(_CHECKPOINT_AT + _CHECKPOINT_FIELDS.size)
        except OSError:
            continue
        if (not head.startswith(_CHECKPOINT_MAGIC)
                or len(head) < _CHECKPOINT_AT + _CHECKPOINT_FIELDS.size):
            continue
        _, seq, first, turn = _CHECKPOINT_FIELDS.unpack_from(head, _CHECKPOINT_AT)
        if best is None or seq > best[0]:
            best = (seq, first, turn)
    return None if best is None else best[1:]


def _rows(path):
    try:
        with open(path, "rb") as fh:
            return max(0, sum(1 for _ in fh) - 1)
    except OSError:
        return None


def _option(study, name, default):
    value = default
    for i, a in enumerate(study):
        if a == name and i + 1 < len(study):
            value = study[i + 1]
        elif a.startswith(name + "="):
            value = a[len(name) + 1:]
    try:
        return int(value)
    except (TypeError, ValueError):
        return default


def study_progress(folder, study):
    """{turn, turns, done, total} of the study at a point folder, each None
    when nothing tells it."""
    out = os.path.join(folder, point_script.study_out(study))
    p = {"turn": None, "turns": _option(study, "--turns", 10000), "done": None,
         "total": None}
    for ln in _tail(os.path.join(folder, "stderr.txt")).splitlines():
        m = _TURN.search(ln)
        if m:
            p["turn"], p["turns"] = int(m.group(1)), int(m.group(2))
            continue
        m = _BATCH.search(ln)
        if m:
            p["done"], p["total"], p["turn"] = int(m.group(1)), int(m.group(2)), None
            continue
        m = _STOPPED.search(ln) or _RESUMED.search(ln)
        if m:
            p["turn"] = int(m.group(1))
    rows = _rows(os.path.join(out, point_script.PARTIAL_ROWS))
    if rows is not None and (p["done"] is None or rows > p["done"]):
        p["done"] = rows
    if p["turn"] is None:
        c = _checkpoint(out)
        if c is not None:
            p["turn"] = c[1]
    return p


def run_progress(folder):
    """{turn, turns} of a run at a point folder (its " i = T" lines)."""
    turn = None
    for ln in _tail(os.path.join(folder, "stdout.txt")).splitlines():
        s = ln.strip()
        if s.startswith("i =") and s[3:].strip().isdigit():
            turn = int(s[3:])
    try:
        p = params.read_params(os.path.join(folder, "diff.input"))
        turns = 500 if p["iopt"] == 1 else p["ntrack"]
    except (OSError, params.ParamError):
        turns = None
    return {"turn": turn, "turns": turns, "done": None, "total": None}


def point_progress(folder, study):
    return study_progress(folder, study) if study else run_progress(folder)


def describe(p):
    """"turn 1200 of 3000, 40 of 120 particles done", or "" when nothing is
    known."""
    parts = []
    if p["turn"] is not None:
        parts.append("turn %d%s" % (p["turn"], " of %d" % p["turns"] if p["turns"] else ""))
    if p["done"] is not None:
        parts.append("%d%s particles done" % (
            p["done"], " of %d" % p["total"] if p["total"] else ""))
    return ", ".join(parts)


def fraction(p):
    """The share of the work done, 0 ... 1 (0 when nothing is known)."""
    turns = p["turns"] or 0
    within = min(1.0, p["turn"] / turns) if p["turn"] is not None and turns > 0 else 0.0
    if p["total"]:
        done = p["done"] or 0
        batch = min(1000, p["total"] - done)
        return min(1.0, (done + within * batch) / p["total"])
    return within


def duration(seconds):
    """A time left in words: "40 s", "12 min", "3 h 5 min"."""
    s = int(round(max(0.0, seconds)))
    if s < 90:
        return "%d s" % s
    if s < 90 * 60:
        return "%d min" % round(s / 60)
    return "%d h %d min" % (s // 3600, (s % 3600) // 60)
