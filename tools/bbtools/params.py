"""The run parameter file "diff.input": its positional layout, reading and
editing of single values.

The file has 51 lines. Comment lines stand between the value lines; a value
is known only by its line and its place on the line. Value lines are read in
free format: values separated by blanks, tabs or a comma; text after the last
value is ignored (and kept by ``set_values``).

Parameter names are those of the tracker's echo lines. The two-value and
three-value lines get one name per value.
"""

import re

from .readers import parse_real

__all__ = ["PARAMETERS", "COMMENTS", "layout", "line_names", "NO_RESULT", "ALIASES", "NLINES", "canonical", "read_params",
           "set_values", "format_value", "ParamError"]

NLINES = 51

# name: (line, position on the line from 0, kind, description)
PARAMETERS = {
    "amp": (2, 0, "r", "amplitude parameter [sigma]; diffusion start amplitude is amp/2"),
    "iopt": (5, 0, "i", "run option: 0 diffusion, 1 phase space, 2 turn by turn, 3 footprint"),
    "itrip": (7, 0, "i", "1 reads the triplet multipole errors"),
    "ichoice": (9, 0, "i", "choice number (label in resav.out)"),
    "ntrack": (11, 0, "i", "number of turns"),
    "npart": (13, 0, "i", "number of particles (the tracker uses its own count)"),
    "xtune": (15, 0, "r", "first value of the x tunes line (total tune, label only)"),
    "xfrac": (15, 1, "r", "second value of the x tunes line (fractional tune, label only)"),
    "ytune": (17, 0, "r", "first value of the y tunes line (total tune, label only)"),
    "yfrac": (17, 1, "r", "second value of the y tunes line (fractional tune, label only)"),
    "circumference": (19, 0, "r", "ring circumference [m]"),
    "dnb": (21, 0, "r", "bunch population"),
    "spacing": (23, 0, "r", "bunch spacing [m] (echoed only)"),
    "betastar": (25, 0, "r", "beta at the interaction points [m] (echoed only)"),
    "emitn": (27, 0, "r", "normalised emittance [m rad]"),
    "gamma": (29, 0, "r", "Lorentz factor"),
    "xi": (31, 0, "r", "beam-beam parameter (echoed only)"),
    "sstar": (33, 0, "r", "beam size at the IP [m] (echoed only)"),
    "divstar": (35, 0, "r", "beam divergence at the IP [rad] (echoed only)"),
    "thetac": (37, 0, "r", "crossing angle [rad] (echoed only)"),
    "npar": (39, 0, "i", "long-range encounters the wire compensates"),
    "dpxm": (41, 0, "r", "tune modulation depth x (echoed only)"),
    "dpym": (41, 1, "r", "tune modulation depth y (echoed only)"),
    "fx": (42, 0, "r", "tune modulation frequency x (echoed only)"),
    "fy": (42, 1, "r", "tune modulation frequency y (echoed only)"),
    "iwire": (44, 0, "i", "1 evaluates the wire compensator"),
    "wstrerr": (46, 0, "r", "wire strength error [%]"),
    "werr2": (46, 1, "r", "second wire error [mrad] (echoed only)"),
    "wranerr": (46, 2, "r", "wire random error (echoed only)"),
    "disterr": (47, 0, "r", "wire distance error [%] (echoed only)"),
    "iwswitch": (48, 0, "i", "wire switch (echoed only)"),
    "wcurrent": (50, 0, "r", "wire current [A] (enters the printed wire coefficient only)"),
    "wlength": (50, 1, "r", "wire length [m]"),
    "wdist": (51, 0, "r", "wire distance"),
    "wbetax": (51, 1, "r", "horizontal beta at the wire [m]"),
    "wbetay": (51, 2, "r", "vertical beta at the wire [m]"),
}

# The comment lines of the file, as tools/make_ring.py writes them; every
# other line of the 51 holds the values of PARAMETERS on that line.
COMMENTS = {
    1: "Beam-beam tracking, model two-IP collider, 25 ns. amp [sigma]:",
    3: "Run control",
    4: "iopt: 0 diffusion, 1 phase space, 2 turn by turn, 3 tune footprint",
    6: "itrip: 1 reads the triplet multipole errors of multdist.dat",
    8: "ichoice: choice number",
    10: "ntrack: number of turns",
    12: "npart: number of particles (the tracker fixes its own count)",
    14: "x tunes: total and fractional horizontal tune",
    16: "y tunes: total and fractional vertical tune",
    18: "circumference [m]",
    20: "dnb: bunch population [particles]; negative: beams of the same charge",
    22: "spacing: bunch spacing [m]",
    24: "betastar: beta function at the interaction points [m]",
    26: "emitn: normalised emittance [m rad]",
    28: "gamma: Lorentz factor",
    30: "xi: beam-beam parameter per interaction point (echoed only)",
    32: "sstar: r.m.s. beam size at the interaction point [m]",
    34: "divstar: r.m.s. beam divergence at the interaction point [rad]",
    36: "thetac: full crossing angle [rad]",
    38: "npar: number of long-range encounters the wire compensates",
    40: "dpxm dpym: tune modulation depths; next line fx fy: frequencies",
    43: "iwire: 1 evaluates the wire compensator",
    45: "wire errors: strength [%], angle [mrad], random; distance [%]; iwswitch",
    49: "wire current [A], length [m]; next line distance [sigma], betx, bety [m]",
}


def line_names(lineno):
    """Names of the values of line ``lineno``, in their order on the line."""
    return [n for n, (ln, pos, _, _) in sorted(PARAMETERS.items(), key=lambda kv: kv[1][1])
            if ln == lineno]


def layout():
    """The 51 lines: (line, comment text or None, names of its values)."""
    return [(no, COMMENTS.get(no), [] if no in COMMENTS else line_names(no))
            for no in range(1, NLINES + 1)]


# Parameters whose value changes no result file: only its echo, a line of
# standard output (the wire report) or the label columns of resav.out.
NO_RESULT = frozenset((
    "itrip", "ichoice", "npart", "xtune", "xfrac", "ytune", "yfrac", "spacing",
    "betastar", "xi", "sstar", "divstar", "thetac", "npar", "dpxm", "dpym", "fx",
    "fy", "iwire", "wstrerr", "werr2", "wranerr", "disterr", "iwswitch",
    "wcurrent", "wlength", "wdist", "wbetax", "wbetay"))

ALIASES = {"phase1": "xtune", "phase2": "xfrac", "phase3": "ytune", "phase4": "yfrac",
           "qx": "xtune", "qy": "ytune"}


class ParamError(ValueError):
    """A parameter name, value or line of "diff.input" that cannot be used."""


def canonical(name):
    """The parameter name for ``name`` (aliases resolved); ParamError if unknown."""
    key = name.strip().lower()
    key = ALIASES.get(key, key)
    if key not in PARAMETERS:
        raise ParamError("unknown parameter %r; known: %s"
                         % (name, ", ".join(sorted(PARAMETERS))))
    return key


def _tokens(line):
    """Spans (start, end, text) of the values of one free-format line.

    A null value (two commas with only blanks between them, or a comma first
    on the line) gives an empty span; a slash ends the values.
    """
    spans = []
    i, n = 0, len(line)
    seen_value = False  # a value since the last comma / line start
    while i < n:
        c = line[i]
        if c in " \t\r":
            i += 1
        elif c == ",":
            if not seen_value:
                spans.append((i, i, ""))
            seen_value = False
            i += 1
        elif c == "/":
            break
        elif c in "'\"":
            j = line.find(c, i + 1)
            j = n if j < 0 else j + 1
            spans.append((i, j, line[i:j]))
            seen_value = True
            i = j
        else:
            j = i
            while j < n and line[j] not in " \t\r,/":
                j += 1
            spans.append((i, j, line[i:j]))
            seen_value = True
            i = j
    return spans


_REPEAT = re.compile(r"^\d+\*")


def _check_token(name, lineno, spans, pos):
    if pos >= len(spans):
        raise ParamError("diff.input line %d holds %d value(s); %s is value %d of it"
                         % (lineno, len(spans), name, pos + 1))
    for s in spans[:pos + 1]:
        if s[2] == "" or _REPEAT.match(s[2]):
            raise ParamError("diff.input line %d uses a null value or a repeat count "
                             "(%r); write its values out one by one" % (lineno, s[2]))
    return spans[pos]


def _read_lines(path):
    try:
        with open(path, "r", encoding="utf-8") as fh:
            text = fh.read()
    except UnicodeDecodeError:
        raise ParamError("%s is not a text file" % path) from None
    lines = text.split("\n")
    trailing_newline = text.endswith("\n")
    if trailing_newline:
        lines = lines[:-1]
    if len(lines) < NLINES:
        raise ParamError("%s has %d lines, the run parameter file needs %d"
                         % (path, len(lines), NLINES))
    return lines, trailing_newline


def _convert(text, kind):
    v = parse_real(text)
    if kind == "i":
        return int(v)  # an integer item takes a real value truncated
    return v


def read_params(path):
    """All parameters of a "diff.input" file, as a dict name -> value."""
    lines, _ = _read_lines(path)
    out = {}
    for name, (lineno, pos, kind, _) in PARAMETERS.items():
        spans = _tokens(lines[lineno - 1])
        tok = _check_token(name, lineno, spans, pos)
        try:
            out[name] = _convert(tok[2], kind)
        except ValueError:
            raise ParamError("%s line %d: %s is %r, not a number"
                             % (path, lineno, name, tok[2])) from None
    return out


def format_value(name, value):
    """Text written for ``value`` of parameter ``name``.

    Integers must be whole numbers; reals are written with up to 15
    significant digits in a form the free-format read accepts.
    """
    kind = PARAMETERS[canonical(name)][2]
    if isinstance(value, str):
        text = value.strip()
        try:
            num = parse_real(text)
        except ValueError:
            raise ParamError("%s: %r is not a number" % (name, value)) from None
    else:
        num = float(value)
        text = None
    if num != num or num in (float("inf"), float("-inf")):
        raise ParamError("%s: %r is not a finite number" % (name, value))
    if kind == "i":
        if num != int(num):
            raise ParamError("%s is an integer parameter, %r is not whole" % (name, value))
        return str(int(num))
    if text is not None and re.match(r"^[+-]?(\d+\.?\d*|\.\d+)([EeDd][+-]?\d+)?$", text):
        return text
    return "%.15g" % num


def set_values(src, dst, values):
    """Copy "diff.input" ``src`` to ``dst`` with the named values replaced.

    Only the characters of the replaced values change: comment lines, other
    values on the same line and text after the values stay as they are.
    """
    lines, trailing_newline = _read_lines(src)
    edits = {}
    for name, value in values.items():
        key = canonical(name)
        lineno, pos, _, _ = PARAMETERS[key]
        edits.setdefault(lineno, []).append((pos, format_value(key, value), key))
    for lineno, items in edits.items():
        line = lines[lineno - 1]
        spans = _tokens(line)
        for pos, _, key in items:
            _check_token(key, lineno, spans, pos)
        # right to left, so earlier spans stay valid
        for pos, text, key in sorted(items, reverse=True):
            s, e, _ = spans[pos]
            line = line[:s] + text + line[e:]
        lines[lineno - 1] = line
    with open(dst, "w") as fh:
        fh.write("\n".join(lines) + ("\n" if trailing_newline else ""))
