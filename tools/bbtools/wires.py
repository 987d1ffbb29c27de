"""The element files the tools edit by name: "wires.dat" (one record per
wire, ``k xw yw current length``, point, position in mm, current in A,
length in m, optionally ``a period phase sigma seed``: the current's ripple
and noise), "multipoles.dat" (``k n kn sn``) and "modulation.dat" (``plane
dq period phase``). A scan sets their values as ``wire1.current``,
``wire2.xw``, ``mult3.kn``, ``mod1.dq`` (``<kind><n>.<field>``, n counting the
records from 1), or ``wire*.<field>`` for the same value in every record.

Only the characters of the replaced values change. A record the tools edit
must stand on one line of its own with its values; lines whose first
non-blank character is ``#`` or ``!`` are comments, and so is the rest of a
line from such a character on. Setting a ripple value of a wire record of
five values first appends ``0 1000 0 0`` (no ripple, no noise).
"""

import re

from .readers import parse_real

__all__ = ["FIELDS", "KINDS", "is_wire_name", "canonical", "format_value", "read_wires",
           "set_values", "file_of", "count_records", "WireError"]

# field: (position in the record, kind, description)
FIELDS = {
    "k": (0, "i", "point 1 .. 73 where the wire acts"),
    "xw": (1, "r", "horizontal position [mm], the frame of the opposing bunch's centre"),
    "yw": (2, "r", "vertical position [mm]"),
    "current": (3, "r", "current [A], signed"),
    "length": (4, "r", "length [m]"),
    "a": (5, "r", "relative current ripple amplitude"),
    "period": (6, "r", "ripple period [turns]"),
    "phase": (7, "r", "ripple phase [rad]"),
    "sigma": (8, "r", "relative r.m.s. current noise per turn"),
    "seed": (9, "i", "seed of the noise"),
}
MULT_FIELDS = {
    "k": (0, "i", "point 1 .. 73 of the thin multipole"),
    "n": (1, "i", "order 1 (quadrupole) .. 10"),
    "kn": (2, "r", "integrated normal strength K_nL [m^-n]"),
    "sn": (3, "r", "integrated skew strength J_nL [m^-n]"),
}
MOD_FIELDS = {
    "plane": (0, "p", "x or y"),
    "dq": (1, "r", "tune modulation amplitude"),
    "period": (2, "r", "period [turns]"),
    "phase": (3, "r", "phase [rad]"),
}
# name prefix: (file, fields, values of a complete record)
KINDS = {
    "wire": ("wires.dat", FIELDS, 5),
    "mult": ("multipoles.dat", MULT_FIELDS, 4),
    "mod": ("modulation.dat", MOD_FIELDS, 4),
}
# Appended to a five-value wire record before a ripple value is set.
_NO_RIPPLE = ("0", "1000", "0", "0")

_NAME = re.compile(r"^(wire|mult|mod)(\d+|\*)\.(\w+)$")


class WireError(ValueError):
    """A wire name, value or record of "wires.dat" that cannot be used."""


def is_wire_name(name):
    return _NAME.match(name.strip().lower()) is not None


def canonical(name):
    """``<kind><n>.<field>`` as written by the tools (``wire01.xw`` -> ``wire1.xw``)."""
    m = _NAME.match(name.strip().lower())
    if not m or m.group(3) not in KINDS[m.group(1)][1]:
        raise WireError("unknown element value %r; write wire<n>.<field> (field one of %s), "
                        "mult<n>.<field> (%s) or mod<n>.<field> (%s), n or *"
                        % (name, ", ".join(FIELDS), ", ".join(MULT_FIELDS),
                           ", ".join(MOD_FIELDS)))
    n = m.group(2)
    if n != "*":
        if int(n) < 1:
            raise WireError("%s: records are counted from 1" % name)
        n = str(int(n))
    return "%s%s.%s" % (m.group(1), n, m.group(3))


def _split(name):
    m = _NAME.match(name)
    return m.group(1), (None if m.group(2) == "*" else int(m.group(2))), m.group(3)


def file_of(name):
    """The file that holds the value ``name``."""
    return KINDS[_split(canonical(name))[0]][0]


def format_value(name, value):
    """Text written for ``value`` of the element value ``name``."""
    kind_name, _, field = _split(canonical(name))
    kind = KINDS[kind_name][1][field][1]
    text = value.strip() if isinstance(value, str) else repr(float(value))
    if kind == "p":
        if text.lower() not in ("x", "y"):
            raise WireError("%s: %r is neither x nor y" % (name, value))
        return text.lower()
    try:
        num = parse_real(text)
    except ValueError:
        raise WireError("%s: %r is not a number" % (name, value)) from None
    if num != num or num in (float("inf"), float("-inf")):
        raise WireError("%s: %r is not a finite number" % (name, value))
    if kind == "i":
        if num != int(num):
            raise WireError("%s is an integer, %r is not whole" % (name, value))
        return str(int(num))
    return text


def _records(lines):
    """(line index, spans of the values) of every line holding a record."""
    out = []
    for i, line in enumerate(lines):
        spans = []
        for m in re.finditer(r"[^\s,]+", line):
            if m.group()[0] in "#!":
                break
            cut = min((m.group().find(c) for c in "#!" if c in m.group()), default=-1)
            spans.append((m.start(), m.start() + cut if cut > 0 else m.end()))
            if cut > 0:
                break
        if spans:
            out.append((i, spans))
    return out


def _read_text(path):
    try:
        with open(path, encoding="utf-8") as fh:
            return fh.read()
    except UnicodeDecodeError:
        raise WireError("%s is not a text file" % path) from None


def count_records(path):
    return len(_records(_read_text(path).split("\n")))


def read_wires(path):
    """The records of a wire file: list of dicts field -> value (the ripple
    fields only where the record has them)."""
    lines = _read_text(path).split("\n")
    wires = []
    for i, spans in _records(lines):
        if len(spans) < 5:
            raise WireError("%s line %d: a wire record needs 5 values on its line"
                            % (path, i + 1))
        vals = [lines[i][s:e] for s, e in spans[:10]]
        rec = {}
        for f, (pos, kind, _) in FIELDS.items():
            if pos < len(vals):
                try:
                    v = parse_real(vals[pos])
                except ValueError:
                    raise WireError("%s line %d: %s is %r, not a number"
                                    % (path, i + 1, f, vals[pos])) from None
                rec[f] = int(v) if kind == "i" else v
        wires.append(rec)
    return wires


def set_values(src, dst, values):
    """Copy the element file ``src`` to ``dst`` with the named values
    replaced (all of one file)."""
    text = _read_text(src)
    lines = text.split("\n")
    recs = _records(lines)
    edits = {}
    need = 0
    for name, value in values.items():
        key = canonical(name)
        kind, n, field = _split(key)
        need, fields = KINDS[kind][2], KINDS[kind][1]
        targets = range(1, len(recs) + 1) if n is None else [n]
        if n is not None and n > len(recs):
            raise WireError("%s: %s holds %d %s record(s)"
                            % (key, src, len(recs), kind))
        for r in targets:
            edits.setdefault(r, {})[fields[field][0]] = format_value(key, value)
    for r, items in edits.items():
        i, spans = recs[r - 1]
        if len(spans) < need:
            raise WireError("%s line %d: a record the tools edit needs its %d values "
                            "on one line" % (src, i + 1, need))
        line = lines[i]
        if max(items) >= len(spans):
            # A wire without ripple: the ripple values first, then the seed.
            extra = list(_NO_RIPPLE[len(spans) - 5:]) if len(spans) < 9 else []
            if max(items) == 9 and len(spans) + len(extra) < 10:
                extra.append(str(r))
            end = spans[-1][1]
            line = line[:end] + "".join(" " + e for e in extra) + line[end:]
            spans = _records([line])[0][1]
        for pos in sorted(items, reverse=True):
            s, e = spans[pos]
            line = line[:s] + items[pos] + line[e:]
        lines[i] = line
    with open(dst, "w") as fh:
        fh.write("\n".join(lines))
