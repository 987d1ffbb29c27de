"""The grid of a parameter scan: ``name=v1,v2,...`` and
``name=start:stop:step`` texts over the named values of "diff.input" and of
the element files (see ``params`` and ``wires``), their points and the
points' folder names. ``bbscan`` scans a grid; ``bbrun --set`` takes one
value per name in the same syntax.

A value is kept as the text the user gave (written as such into the run's
file) but compared by number: ``amp=2`` and ``amp=2.0`` are one point.

Standard library only.
"""

import itertools
import math
import re

from . import params, readers, wires

__all__ = ["GridError", "parse_grid", "grid_points", "point_name", "grid_text",
           "same_value", "no_result_warnings"]


class GridError(ValueError):
    """A grid text that cannot be read."""


_RANGE = re.compile(r"^([^:]+):([^:]+):([^:]+)$")

FORMS = ("name=v1,v2,... (a list of values) or name=start:stop:step (a range, "
         "stop included when the steps reach it), e.g. amp=4,6,8 or amp=4:16:2")


def _range_values(text):
    """Values of start:stop:step, stop included when the steps reach it."""
    m = _RANGE.match(text)
    try:
        start, stop, step = (readers.parse_real(g) for g in m.groups())
    except ValueError:
        raise GridError("range %r: start, stop and step must be numbers; write %s"
                        % (text, FORMS)) from None
    if step == 0 or (stop - start) * step < 0:
        raise GridError("range %r: the step does not lead from start to stop" % text)
    n = int(math.floor((stop - start) / step + 1e-9)) + 1
    if n > 100000:
        raise GridError("range %r gives %d values" % (text, n))
    # exact decimal steps where possible: 0.1 + 2 * 0.2 is written 0.5
    digits = max(_decimals(g) for g in m.groups())
    return ["%.*f" % (digits, start + i * step) if digits is not None
            else repr(start + i * step) for i in range(n)]


def _decimals(text):
    t = text.strip().lower()
    if "e" in t or "d" in t:
        return None
    return len(t.split(".")[1]) if "." in t else 0


def value_key(text):
    """What a value text is compared by: its number, or the text itself
    (a plane x or y)."""
    try:
        return readers.parse_real(text)
    except ValueError:
        return text.strip().lower()


def same_value(a, b):
    return value_key(a) == value_key(b)


def parse_grid(specs):
    """Grid of ``name=v1,v2,...`` or ``name=start:stop:step`` texts, as an
    ordered list of (name, [value texts]). Values are checked against the
    kind of their parameter."""
    grid = []
    seen = set()
    for spec in specs:
        if "=" not in spec:
            raise GridError("--set %r: write %s" % (spec, FORMS))
        name, _, rhs = spec.partition("=")
        wire = wires.is_wire_name(name)
        key = wires.canonical(name) if wire else params.canonical(name)
        if key in seen:
            raise GridError("parameter %s appears twice in the grid" % key)
        seen.add(key)
        rhs = rhs.strip()
        if _RANGE.match(rhs):
            values = _range_values(rhs)
        elif ":" in rhs:
            raise GridError("--set %r mixes a range and a list; write %s" % (spec, FORMS))
        else:
            values = [v.strip() for v in rhs.split(",") if v.strip()]
        if not values:
            raise GridError("--set %r holds no values; write %s" % (spec, FORMS))
        fmt = wires.format_value if wire else params.format_value
        try:
            texts = [fmt(key, v) for v in values]
        except (params.ParamError, ValueError) as e:
            raise GridError("--set %r: %s; write %s" % (spec, e, FORMS)) from None
        if len({value_key(t) for t in texts}) != len(texts):
            raise GridError("grid %r repeats a value" % spec)
        grid.append((key, texts))
    if not grid:
        raise GridError("the grid is empty: give at least one --set name=values")
    return grid


def grid_points(grid):
    """Every combination, the last parameter varying fastest: list of dicts."""
    names = [n for n, _ in grid]
    return [dict(zip(names, combo)) for combo in itertools.product(*(v for _, v in grid))]


def point_name(point):
    """Folder name of a grid point: amp=2_wcurrent=80."""
    return "_".join("%s=%s" % (k.replace("*", "all"), v) for k, v in point.items())


def grid_text(grid):
    return " ".join("%s=%s" % (n, ",".join(v)) for n, v in grid)


def no_result_warnings(grid):
    """Warnings for scanned parameters that change no result file."""
    return ["warning: %s changes no result file (only its echo, standard output or "
            "a label column; see docs/inputs.md): every point gives the same results"
            % name for name, vals in grid if name in params.NO_RESULT and len(vals) > 1]
