"""Text layer of the reference model: units, formatted and list-directed
records, reads, opens, the stop and the fatal error exit.

Every number-to-text conversion goes through the correctly rounded decimal
expansions of CPython ('%.15e' / '%.16e'), followed by the half-up field
rounding of the edit descriptor.
"""

import math
import os
import re

INF = float("inf")


class RunEnd(Exception):
    """Raised to end the run; carries the exit status."""

    def __init__(self, status):
        Exception.__init__(self, status)
        self.status = status


# ---------------------------------------------------------------------------
# Number to text
# ---------------------------------------------------------------------------

def _nonfinite_text(v):
    t = "nan" if v != v else "inf"
    if math.copysign(1.0, v) < 0.0:
        t = "-" + t
    return t


def fmt_i(v, w):
    s = str(int(v))
    if len(s) > w:
        return "*" * w
    return s.rjust(w)


def fmt_f(v, w, d):
    if v != v or v in (INF, -INF):
        return _nonfinite_text(v).rjust(w)
    r = "%.15e" % v
    neg = r[0] == "-"
    if neg:
        r = r[1:]
    mant, ex = r.split("e")
    n16 = int(mant[0] + mant[2:])
    k = int(ex) + 1
    e = k - 16 + d
    if e >= 0:
        m = n16 * 10 ** e
    else:
        p = 10 ** (-e)
        m = (n16 + p // 2) // p
    ip, fpart = divmod(m, 10 ** d)
    ips = str(ip)
    if len(ips) > w - d - 1:
        return "*" * w
    text = ips + "." + (str(fpart).zfill(d) if d > 0 else "")
    if m == 0:
        neg = False
    if neg:
        text = "-" + text
    if len(text) > w:
        off = 1 if neg else 0
        if text[off:off + 2] == "0.":
            text = text[:off] + text[off + 1:]
        if len(text) > w:
            return "*" * w
    return text.rjust(w)


def _e_parts(v, d):
    """Mantissa digits (d of them) and exponent k of 0.D1..Dd x 10**k."""
    r = "%.16e" % v
    if r[0] == "-":
        r = r[1:]
    mant, ex = r.split("e")
    digits = mant[0] + mant[2:]
    k = int(ex) + 1
    if d < 17:
        if digits[d] >= "5":
            kept = int(digits[:d]) + 1
            if kept == 10 ** d:
                kept = 10 ** (d - 1)
                k += 1
            ds = str(kept).zfill(d)
        else:
            ds = digits[:d]
    else:
        ds = digits + "0" * (d - 17)
    return ds, k


def fmt_e(v, w, d):
    if v != v or v in (INF, -INF):
        return _nonfinite_text(v).rjust(w)
    if v == 0.0:
        text = "0." + "0" * d + "E+00"
        neg = False
    else:
        neg = v < 0.0
        ds, k = _e_parts(v, d)
        ak = abs(k)
        sg = "-" if k < 0 else "+"
        if ak <= 99:
            ext = "E" + sg + "%02d" % ak
        else:
            ext = sg + "%03d" % ak
        text = "0." + ds + ext
    if neg:
        text = "-" + text
    if len(text) > w:
        off = 1 if neg else 0
        if text[off:off + 2] == "0.":
            text = text[:off] + text[off + 1:]
        if len(text) > w:
            return "*" * w
    return text.rjust(w)


def ld_real(v):
    """List-directed text of a REAL*8 (25 columns)."""
    if v != v or v in (INF, -INF):
        return _nonfinite_text(v).rjust(25)
    if v == 0.0:
        return "  0.0000000000000000E+000"
    r = "%.16e" % v
    ie = r.index("e")
    ex = int(r[ie + 1:])
    k = ex + 1
    if k < 0 or k > 16:
        s = r[:ie] + "E" + ("-" if ex < 0 else "+") + "%03d" % abs(ex)
        return s.rjust(25)
    return fmt_f(v, 20, 16 - k) + "     "


def ld_item(it):
    if isinstance(it, str):
        return it
    if isinstance(it, bool):
        raise TypeError("bool item")
    if isinstance(it, int):
        return fmt_i(it, 12)
    if isinstance(it, float):
        return ld_real(it)
    raise TypeError("unsupported item %r" % (it,))


def ld_lines(items):
    """Lines (with their line ends) of one list-directed write."""
    out = []
    line = " "
    n_on_line = 0
    for it in items:
        t = ld_item(it)
        if n_on_line > 0 and len(line) + len(t) >= 80:
            out.append(line + "\n")
            line = " "
            n_on_line = 0
        line += t
        n_on_line += 1
    out.append(line + "\n")
    return "".join(out)


# ---------------------------------------------------------------------------
# Formats
# ---------------------------------------------------------------------------

_fmt_cache = {}


def parse_format(s):
    """Expand a format text into a flat list of descriptors."""
    if s in _fmt_cache:
        return _fmt_cache[s]
    s2 = s.replace(" ", "")
    pos = [0]

    def parse_list():
        res = []
        while True:
            res.extend(parse_item())
            if pos[0] < len(s2) and s2[pos[0]] == ",":
                pos[0] += 1
                continue
            break
        return res

    def parse_item():
        m = re.compile(r"\d*").match(s2, pos[0])
        cnt = m.group(0)
        pos[0] = m.end()
        c = s2[pos[0]]
        if c == "(":
            pos[0] += 1
            inner = parse_list()
            assert s2[pos[0]] == ")"
            pos[0] += 1
            return inner * (int(cnt) if cnt else 1)
        if c in "Xx":
            pos[0] += 1
            return [("X", int(cnt) if cnt else 1)]
        m = re.compile(r"([IFEAifea])(\d*)(?:\.(\d+))?").match(s2, pos[0])
        pos[0] = m.end()
        kind = m.group(1).upper()
        w = int(m.group(2)) if m.group(2) else 0
        d = int(m.group(3)) if m.group(3) else 0
        return [(kind, w, d)] * (int(cnt) if cnt else 1)

    assert s2[0] == "(" and s2[-1] == ")"
    pos[0] = 1
    lst = parse_list()
    assert pos[0] == len(s2) - 1
    _fmt_cache[s] = lst
    return lst


def format_record(fmt, items):
    """Text of one formatted record (with its line end)."""
    desc = parse_format(fmt)
    parts = []
    pending = 0
    it = iter(items)
    for dd in desc:
        if dd[0] == "X":
            pending += dd[1]
            continue
        v = next(it)
        kind, w, d = dd
        if kind == "I":
            t = fmt_i(v, w)
        elif kind == "F":
            t = fmt_f(v, w, d)
        elif kind == "E":
            t = fmt_e(v, w, d)
        else:
            t = v if w == 0 else v[:w].ljust(w)
        if pending:
            parts.append(" " * pending)
            pending = 0
        parts.append(t)
    return "".join(parts) + "\n"


# ---------------------------------------------------------------------------
# List-directed input conversion
# ---------------------------------------------------------------------------

_NUM_RE = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[EeDd][+-]?\d+)?\Z")
_REP_RE = re.compile(r"[1-9][0-9]*\*")
_SEP_WS = " \t\r"
_TOK_END = " \t\r,/"


class ConvError(Exception):
    def __init__(self, code):
        Exception.__init__(self, code)
        self.code = code


def _to_float(tok):
    return float(tok.replace("D", "E").replace("d", "e"))


def convert_token(tok, kind):
    """kind 'I', 'R' or ('C', length)."""
    if isinstance(kind, tuple):
        return tok[:kind[1]].ljust(kind[1])
    if not _NUM_RE.match(tok):
        raise ConvError(225)
    is_int = ("." not in tok) and not any(c in tok for c in "EeDd")
    if kind == "I":
        if is_int:
            # More than ten digits never fit (and int() refuses very long
            # digit strings).
            if len(tok.lstrip("+-").lstrip("0")) > 10:
                raise ConvError(231)
            v = int(tok)
        else:
            f = _to_float(tok)
            if f in (INF, -INF):
                raise ConvError(231)
            v = int(f)
        if v < -2147483648 or v > 2147483647:
            raise ConvError(231)
        return v
    f = _to_float(tok)
    if f in (INF, -INF):
        raise ConvError(231)
    return f


# ---------------------------------------------------------------------------
# Units
# ---------------------------------------------------------------------------

class Unit(object):
    def __init__(self, number, name, path):
        self.number = number
        self.name = name
        self.path = path
        self.rec = 0          # ordinal of the record being read / written
        self.lines = None     # input lines (loaded lazily)
        self.pos = 0          # next input line
        self.out = None       # written text (list of chunks), None if never written


ERR_TEXT = {
    207: "file is already connected to another unit",
    210: "dynamic memory allocation failed",
    211: "invalid file name",
    217: "attempt to read past end of file",
    225: "lexical error-- unknown token type",
    231: "error on data conversion",
}


class TextIO(object):
    def __init__(self, env=None):
        self.env = dict(os.environ) if env is None else env
        self.stdout = []
        self.stderr = []
        self.units = {}

    # -- plain streams ------------------------------------------------------
    def err_line(self, text):
        self.stderr.append(text + "\n")

    # -- error exit ---------------------------------------------------------
    def fatal(self, code, kind, unit):
        self.stderr.append("RTFIO-F-%d/%s/unit=%d/%s.\n"
                           % (code, kind, unit, ERR_TEXT[code]))
        u = self.units.get(unit)
        if u is not None:
            self.stderr.append(" File name = %s    formatted, sequential access  "
                               " record = %d\n" % (u.name, u.rec))
        self.stderr.append(" In source file SOURCE, at line number LINE\n")
        raise RunEnd(1)

    # -- open / close -------------------------------------------------------
    def open(self, unit, name, kind="OPEN"):
        name = name.strip()
        if name == "":
            self.fatal(211, kind, unit)
        name = name[:255]
        for n, u in self.units.items():
            if n != unit and u.name == name:
                self.fatal(207, kind, unit)
        cur = self.units.get(unit)
        if cur is not None:
            if cur.name == name:
                return
            self.close(unit)
        path = name
        if not os.path.exists(path):
            with open(path, "a"):
                pass
        self.units[unit] = Unit(unit, name, path)

    def open_result(self, unit, name):
        """A result file: connected as by open, and emptied at once."""
        self.open(unit, name)
        u = self.units[unit]
        if u.out is None:
            u.out = []
            with open(u.path, "w", newline=""):
                pass

    def default_name(self, unit):
        """The file of a unit written without an open: $FORnnn or fort.n."""
        name = self.env.get("FOR%03d" % unit)
        return "fort.%d" % unit if name is None else name

    def _flush_unit(self, u):
        if u.out is not None:
            with open(u.path, "w", newline="") as f:
                f.write("".join(u.out))

    def close(self, unit):
        u = self.units.pop(unit, None)
        if u is not None:
            self._flush_unit(u)

    def close_all(self):
        for n in list(self.units.keys()):
            self.close(n)

    # -- writes -------------------------------------------------------------
    def _out_unit(self, unit, kind):
        u = self.units.get(unit)
        if u is None:
            var = "FOR%03d" % unit
            name = self.env.get(var)
            if name is None:
                name = "fort.%d" % unit
            self.open(unit, name, kind)
            u = self.units[unit]
        if u.out is None:
            u.out = []   # truncation at the first write
        return u

    def write_fmt(self, unit, fmt, items):
        text = format_record(fmt, items)
        if unit == 6:
            self.stdout.append(text)
            return
        u = self._out_unit(unit, "formatted write")
        u.rec += 1
        u.out.append(text)

    def write_ld(self, unit, items):
        text = ld_lines(items)
        if unit == 6:
            self.stdout.append(text)
            return
        u = self._out_unit(unit, "list-directed write")
        u.rec += text.count("\n")
        u.out.append(text)

    def write_text_line(self, unit, text):
        """A record written with (A)."""
        if unit == 6:
            self.stdout.append(text + "\n")
            return
        u = self._out_unit(unit, "formatted write")
        u.rec += 1
        u.out.append(text + "\n")

    # -- reads --------------------------------------------------------------
    def _load(self, u):
        if u.lines is None:
            with open(u.path, "rb") as f:
                data = f.read().decode("latin-1")
            lines = data.split("\n")
            if lines and lines[-1] == "":
                lines.pop()
            u.lines = lines
            u.pos = 0

    def _next_line(self, u, kind, eof_ok):
        self._load(u)
        if u.pos >= len(u.lines):
            if eof_ok:
                return None
            u.rec += 1
            self.fatal(217, kind, u.number)
        line = u.lines[u.pos]
        u.pos += 1
        u.rec += 1
        return line

    def read_a80(self, unit):
        u = self.units[unit]
        line = self._next_line(u, "formatted read", False)
        return line[:80].ljust(80)

    def read_ld(self, unit, kinds, values, eof_ok=False):
        """List-directed read of len(kinds) items.

        kinds: 'I', 'R' or ('C', length).  values: current values (a null
        value or an early end leaves them).  Returns (values, eof) where eof
        is True when the end of the file was met (only with eof_ok)."""
        kind_s = "list-directed read"
        u = self.units[unit]
        vals = list(values)
        n = len(kinds)
        line = self._next_line(u, kind_s, eof_ok)
        if line is None:
            return vals, True
        if n == 0:
            return vals, False
        ci = 0
        need_sep = False
        idx = 0
        while idx < n:
            # skip blanks and line ends
            while True:
                ll = len(line)
                while ci < ll and line[ci] in _SEP_WS:
                    ci += 1
                if ci < ll:
                    break
                line = self._next_line(u, kind_s, eof_ok)
                if line is None:
                    return vals, True
                ci = 0
            c = line[ci]
            if c == ",":
                ci += 1
                if need_sep:
                    need_sep = False
                    continue
                idx += 1          # null value
                continue
            if c == "/":
                break
            need_sep = True
            rep = 1
            m = _REP_RE.match(line, ci)
            if m:
                rep = int(m.group(0)[:-1])
                ci = m.end()
                if ci >= len(line) or line[ci] in _TOK_END:
                    idx += rep    # r* : r null values
                    continue
            c = line[ci]
            if c in "'\"":
                if not isinstance(kinds[idx], tuple):
                    self.fatal(231, kind_s, unit)
                delim = c
                ci += 1
                buf = []
                while True:
                    if ci >= len(line):
                        line = self._next_line(u, kind_s, eof_ok)
                        if line is None:
                            return vals, True
                        ci = 0
                        continue
                    ch = line[ci]
                    if ch == delim:
                        if ci + 1 < len(line) and line[ci + 1] == delim:
                            buf.append(delim)
                            ci += 2
                            continue
                        ci += 1
                        break
                    buf.append(ch)
                    ci += 1
                tok = "".join(buf)
                for r in range(rep):
                    if idx >= n:
                        break
                    kd = kinds[idx]
                    if not isinstance(kd, tuple):
                        self.fatal(231, kind_s, unit)
                    vals[idx] = tok[:kd[1]].ljust(kd[1])
                    idx += 1
                continue
            j = ci
            ll = len(line)
            while j < ll and line[j] not in _TOK_END:
                j += 1
            tok = line[ci:j]
            ci = j
            for r in range(rep):
                if idx >= n:
                    break
                try:
                    vals[idx] = convert_token(tok, kinds[idx])
                except ConvError as e:
                    self.fatal(e.code, kind_s, unit)
                idx += 1
        return vals, False

    # -- end of run ---------------------------------------------------------
    def terminate(self, status):
        raise RunEnd(status)

    def stop(self, status=0):
        if "NO_STOP_MESSAGE" not in self.env:
            self.stderr.append("FORTRAN STOP\n")
        raise RunEnd(status)
