"""The wire file "wires.dat": one record per wire, ``k xw yw current
length`` (point, position in mm, current in A, length in m), and the names
under which a scan sets its values: ``wire1.current``, ``wire2.xw``, ...
(``wire<n>.<field>``, n counting the records from 1), or ``wire*.<field>``
for the same value in every record.

Only the characters of the replaced values change. A record the tools edit
must stand on one line of its own with its five values.
"""

import re

from .readers import parse_real

__all__ = ["FIELDS", "is_wire_name", "canonical", "format_value", "read_wires",
           "set_values", "WireError"]

# field: (position in the record, kind, description)
FIELDS = {
    "k": (0, "i", "point 1 .. 73 where the wire acts"),
    "xw": (1, "r", "horizontal position [mm], the frame of the opposing bunch's centre"),
    "yw": (2, "r", "vertical position [mm]"),
    "current": (3, "r", "current [A], signed"),
    "length": (4, "r", "length [m]"),
}

_NAME = re.compile(r"^wire(\d+|\*)\.(\w+)$")


class WireError(ValueError):
    """A wire name, value or record of "wires.dat" that cannot be used."""


def is_wire_name(name):
    return _NAME.match(name.strip().lower()) is not None


def canonical(name):
    """``wire<n>.<field>`` as written by the tools (``wire01.xw`` -> ``wire1.xw``)."""
    m = _NAME.match(name.strip().lower())
    if not m or m.group(2) not in FIELDS:
        raise WireError("unknown wire value %r; write wire<n>.<field> or wire*.<field>, "
                        "field one of %s" % (name, ", ".join(FIELDS)))
    n = m.group(1)
    if n != "*":
        if int(n) < 1:
            raise WireError("%s: wires are counted from 1" % name)
        n = str(int(n))
    return "wire%s.%s" % (n, m.group(2))


def _split(name):
    m = _NAME.match(name)
    return (None if m.group(1) == "*" else int(m.group(1))), m.group(2)


def format_value(name, value):
    """Text written for ``value`` of the wire value ``name``."""
    _, field = _split(canonical(name))
    kind = FIELDS[field][1]
    text = value.strip() if isinstance(value, str) else repr(float(value))
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
    """(line index, spans of the values) of every non-empty line."""
    out = []
    for i, line in enumerate(lines):
        spans = [(m.start(), m.end()) for m in re.finditer(r"[^\s,]+", line)]
        if spans:
            out.append((i, spans))
    return out


def _read_text(path):
    try:
        with open(path, encoding="utf-8") as fh:
            return fh.read()
    except UnicodeDecodeError:
        raise WireError("%s is not a text file" % path) from None


def read_wires(path):
    """The records of a wire file: list of dicts field -> value."""
    lines = _read_text(path).split("\n")
    wires = []
    for i, spans in _records(lines):
        if len(spans) < 5:
            raise WireError("%s line %d: a wire record needs 5 values on its line"
                            % (path, i + 1))
        vals = [lines[i][s:e] for s, e in spans[:5]]
        rec = {}
        for f, (pos, kind, _) in FIELDS.items():
            try:
                v = parse_real(vals[pos])
            except ValueError:
                raise WireError("%s line %d: %s is %r, not a number"
                                % (path, i + 1, f, vals[pos])) from None
            rec[f] = int(v) if kind == "i" else v
        wires.append(rec)
    return wires


def set_values(src, dst, values):
    """Copy the wire file ``src`` to ``dst`` with the named values replaced."""
    text = _read_text(src)
    lines = text.split("\n")
    recs = _records(lines)
    edits = {}
    for name, value in values.items():
        key = canonical(name)
        n, field = _split(key)
        targets = range(1, len(recs) + 1) if n is None else [n]
        if n is not None and n > len(recs):
            raise WireError("%s: %s holds %d wire record(s)" % (key, src, len(recs)))
        for r in targets:
            edits.setdefault(r, {})[FIELDS[field][0]] = format_value(key, value)
    for r, items in edits.items():
        i, spans = recs[r - 1]
        if len(spans) < 5:
            raise WireError("%s line %d: a wire record the tools edit needs its 5 values "
                            "on one line" % (src, i + 1))
        line = lines[i]
        for pos in sorted(items, reverse=True):
            s, e = spans[pos]
            line = line[:s] + items[pos] + line[e:]
        lines[i] = line
    with open(dst, "w") as fh:
        fh.write("\n".join(lines))
