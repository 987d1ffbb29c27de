"""Twiss tables in the TFS format: reading with line-and-column diagnostics,
and writing.

A table is a header of ``@ NAME %type value`` lines, one ``*`` line of column
names, one ``$`` line of column types and one row per element.  Comment lines
start with ``#``.
"""

import math
import shlex

# Header and column types: %le reals, %d integers, %s strings, %b booleans
# (tfs-pandas writes them: true/false or 1/0); %lf and %hd are other
# spellings of the same kinds, %<n>s a string of declared width.
REAL_TYPES = ("%le", "%lf", "%f", "%e")
INT_TYPES = ("%d", "%hd", "%ld", "%lu", "%i")


class TfsError(ValueError):
    """A fault of a table, named by file, line and (when known) column."""

    def __init__(self, path, line, what, column=None):
        where = "%s:%d" % (path, line)
        if column is not None:
            where += ": column%s %s" % ("s" if " " in column else "", column)
        super().__init__("%s: %s" % (where, what))


def _kind(t):
    t = t.lower()
    if t in REAL_TYPES:
        return "real"
    if t in INT_TYPES:
        return "int"
    if t == "%b":
        return "bool"
    if t.startswith("%") and t.endswith("s") and t[1:-1].isdigit() or t == "%s":
        return "str"
    return None


def _value(kind, text):
    if kind == "str":
        return text
    if kind == "bool":
        b = {"true": True, "1": True, "false": False, "0": False}.get(text.strip('"').lower())
        if b is None:
            raise ValueError(text)
        return b
    return float(text) if kind == "real" else int(text)


class Table:
    """header: name -> value; columns: names in order; rows: dicts; lines:
    the file line of each row (for messages)."""

    def __init__(self, path):
        self.path, self.header, self.columns, self.types = path, {}, [], []
        self.rows, self.lines = [], []
        self.header_lines = {}

    def column(self, name):
        return [r[name] for r in self.rows]

    def need(self, *names, why=""):
        """Refuse a table that lacks one of the named columns, naming all
        that are missing."""
        missing = [n for n in names if n not in self.columns]
        if missing:
            raise TfsError(self.path, self.column_line,
                           "missing column%s%s (the table has %s)"
                           % ("s" if len(missing) > 1 else "", why,
                              " ".join(self.columns)), " ".join(missing))


def read(path):
    t = Table(path)
    t.column_line = 0
    with open(path) as f:
        text = f.read().splitlines()
    for no, line in enumerate(text, 1):
        s = line.strip()
        if not s or s.startswith("#"):
            continue
        if s.startswith("@"):
            if t.columns:
                raise TfsError(path, no, "header line after the column names")
            parts = s[1:].split(None, 2)
            if len(parts) < 2:
                raise TfsError(path, no, "header line needs a name and a type")
            name, typ = parts[0], parts[1]
            kind = _kind(typ)
            if kind is None:
                raise TfsError(path, no, "unknown header type %s" % typ, name)
            raw = parts[2].strip() if len(parts) > 2 else ""
            t.header_lines[name] = no
            if kind == "str":
                t.header[name] = raw.strip('"')
            else:
                try:
                    t.header[name] = _value(kind, raw)
                except ValueError:
                    raise TfsError(path, no, "%r is not a number of type %s"
                                   % (raw, typ), name) from None
        elif s.startswith("*"):
            t.columns = s[1:].split()
            t.column_line = no
        elif s.startswith("$"):
            t.types = s[1:].split()
            if len(t.types) != len(t.columns):
                raise TfsError(path, no, "%d column types for %d columns"
                               % (len(t.types), len(t.columns)))
            for n, typ in zip(t.columns, t.types):
                if _kind(typ) is None:
                    raise TfsError(path, no, "unknown column type %s" % typ, n)
        else:
            if not t.types:
                raise TfsError(path, no, "row before the * and $ lines")
            vals = shlex.split(s)
            if len(vals) != len(t.columns):
                raise TfsError(path, no, "%d values for %d columns"
                               % (len(vals), len(t.columns)))
            row = {}
            for n, typ, v in zip(t.columns, t.types, vals):
                try:
                    row[n] = _value(_kind(typ), v)
                except ValueError:
                    raise TfsError(path, no, "%r is not a number" % v,
                                   n) from None
                if isinstance(row[n], float) and not math.isfinite(row[n]):
                    raise TfsError(path, no, "%r is not a finite number" % v, n)
            t.rows.append(row)
            t.lines.append(no)
    if not t.types:
        raise TfsError(path, len(text), "no * line of column names and $ line "
                       "of column types")
    if "S" in t.columns:
        for i in range(1, len(t.rows)):
            if t.rows[i]["S"] < t.rows[i - 1]["S"]:
                raise TfsError(path, t.lines[i], "S decreases (%r after %r)"
                               % (t.rows[i]["S"], t.rows[i - 1]["S"]), "S")
    return t


def _text(v):
    if isinstance(v, str):
        return '"%s"' % v
    if isinstance(v, int):
        return "%d" % v
    return "%24.16E" % v


def write(path, header, columns, rows):
    """header: list of (name, value); columns: list of (name, type); rows:
    lists of values in column order."""
    with open(path, "w", newline="\n") as f:
        for name, v in header:
            typ = "%s" if isinstance(v, str) else "%d" if isinstance(v, int) else "%le"
            f.write("@ %-16s %-4s %s\n" % (name, typ, _text(v)))
        f.write("* " + " ".join("%24s" % n for n, _ in columns) + "\n")
        f.write("$ " + " ".join("%24s" % t for _, t in columns) + "\n")
        for r in rows:
            f.write("  " + " ".join("%24s" % _text(v) for v in r) + "\n")
